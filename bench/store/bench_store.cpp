// On a database whose two rings are full (65500 rows each): the cost of a
// recorder tick when nothing is due and when a pv_data row is due, and the
// file's size before and after one more full round of the pv_data ring.
//   bench_store [folder]   (a temporary folder when none is given)
#include "clock.h"
#include "recorder.h"
#include "shared.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kTicks = 1000;
const QDateTime kStart(QDate(2026, 3, 14), QTime(8, 0, 0));

void fillRings(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
    db.setDatabaseName(path);
    db.open();
    {
        QSqlQuery query(db);
        db.transaction();
        for (const char *table : {"pv_data", "Lpv_wdjl"}) {
            query.prepare(
                QStringLiteral("INSERT OR REPLACE INTO %1 VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)")
                    .arg(QLatin1String(table)));
            for (int id = 1; id <= kRecordRingIds; ++id) {
                query.bindValue(0, id);
                query.bindValue(1, 46000.0);
                query.bindValue(2, id / 86400.0);
                for (int k = 0; k < 8; ++k)
                    query.bindValue(3 + k, 100.0 + k + id % 997 / 10.0);
                query.exec();
            }
        }
        // Each row's quality entry, as the recorder leaves them after a round.
        query.prepare(
            QStringLiteral("INSERT OR REPLACE INTO row_quality VALUES (?, ?, ?, ?, 8, ?)"));
        for (int ring = 1; ring <= 2; ++ring) {
            for (int id = 1; id <= kRecordRingIds; ++id) {
                query.bindValue(0, ring);
                query.bindValue(1, id);
                query.bindValue(2, 46000.0);
                query.bindValue(3, id / 86400.0);
                query.bindValue(4, 3600);
                query.exec();
            }
        }
        query.exec(QStringLiteral("UPDATE sl_void SET newest_pv = 65500, newest_pv_copy = 65500, "
                                  "newest_lpv = 65500, newest_lpv_copy = 65500"));
        db.commit();
        query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
    }
    db.close();
    db = {};
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

void checkpoint(const QString &path)
{
    {
        QSqlDatabase db =
            QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("checkpoint"));
        db.setDatabaseName(path);
        db.open();
        QSqlQuery(db).exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("checkpoint"));
}

qint64 fileSize(const QString &path)
{
    return QFileInfo(path).size();
}

// A full database whose row_quality is not the recorder's: rows are then
// recorded without their quality entry, as before there was one.
QString withoutQuality(const QString &folder)
{
    const QString path = folder + QStringLiteral("/without-quality.db");
    QFile::remove(path);
    {
        RecordingStore store(QStringLiteral("create-plain"));
        store.open(path);
        QSqlQuery(store.database()).exec(QStringLiteral("DROP TABLE row_quality"));
        QSqlQuery(store.database()).exec(QStringLiteral("CREATE TABLE row_quality (other TEXT)"));
    }
    fillRings(path);
    return path;
}

// The ticks that record a pv_data row (and each tenth also Lpv_wdjl) on `path`.
std::vector<qint64> recordingTicks(const QString &path, bool withQuality)
{
    SystemClock::setFixed(kStart);
    Recorder recorder(nullptr, QStringLiteral("bench-ticks"));
    if (withQuality)
        recorder.setQualitySource([] { return RowQuality::Good; });
    recorder.load(path);
    recorder.tick();
    QElapsedTimer timer;
    std::vector<qint64> ticks;
    for (int i = 1; i <= kTicks; ++i) {
        SystemClock::setFixed(kStart.addSecs(i));
        timer.start();
        recorder.tick();
        ticks.push_back(timer.nsecsElapsed());
    }
    return ticks;
}

void report(const char *what, std::vector<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const auto at = [&](double q) {
        return nanoseconds[static_cast<size_t>(q * (nanoseconds.size() - 1))] / 1000.0;
    };
    std::printf("%-34s n=%5zu  median %8.1f us  p99 %8.1f us  max %8.1f us\n", what,
                nanoseconds.size(), at(0.5), at(0.99), nanoseconds.back() / 1000.0);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QString path = folder + QStringLiteral("/Rdatabj.db");
    QFile::remove(path);
    {
        RecordingStore store(QStringLiteral("create"));
        if (!store.open(path)) {
            std::fprintf(stderr, "cannot open %s: %s\n", qPrintable(path),
                         qPrintable(store.lastError()));
            return 1;
        }
    }
    fillRings(path);
    const qint64 sizeFull = fileSize(path);
    {
        // The cost of the quality entry: the same ticks with and without it,
        // interleaved in rounds so that the machine's load falls on both.
        const QString plain = withoutQuality(folder);
        std::vector<qint64> with, without;
        for (int round = 0; round < 5; ++round) {
            const std::vector<qint64> a = recordingTicks(path, true);
            const std::vector<qint64> b = recordingTicks(plain, false);
            with.insert(with.end(), a.begin(), a.end());
            without.insert(without.end(), b.begin(), b.end());
        }
        report("tick recording, with quality", with);
        report("tick recording, without quality", without);
    }

    resetSharedState();
    for (int k = 0; k < 8; ++k)
        ProcessValues[k] = 250.5f + k;
    SystemClock::setFixed(kStart);
    Recorder recorder(nullptr, QStringLiteral("bench"));
    recorder.load(path);
    recorder.tick(); // the first tick records both rings
    QElapsedTimer timer;

    std::vector<qint64> idle, pvOnly, pvAndLpv;
    for (int i = 0; i < kTicks; ++i) {
        timer.start();
        recorder.tick();
        idle.push_back(timer.nsecsElapsed());
    }
    for (int i = 1; i <= kTicks; ++i) {
        SystemClock::setFixed(kStart.addSecs(i));
        timer.start();
        recorder.tick();
        (i % 10 == 0 ? pvAndLpv : pvOnly).push_back(timer.nsecsElapsed());
    }
    std::printf("database: %s, rings full (%d rows each)\n", qPrintable(path), kRecordRingIds);
    report("tick, nothing due", idle);
    report("tick, pv_data row due", pvOnly);
    report("tick, pv_data and Lpv_wdjl due", pvAndLpv);

    checkpoint(path);
    const qint64 sizeBefore = fileSize(path);
    qint64 largestWal = 0;
    timer.start();
    for (int i = 1; i <= kRecordRingIds; ++i) {
        SystemClock::setFixed(kStart.addSecs(kTicks + i));
        ProcessValues[0] =
            static_cast<float>(i % 1000) / 7.0f; // values that vary in their stored width
        recorder.tick();
        if (i % 1000 == 0)
            largestWal = std::max(largestWal, fileSize(path + QStringLiteral("-wal")));
    }
    const double roundSeconds = timer.elapsed() / 1000.0;
    const qint64 walAfter = fileSize(path + QStringLiteral("-wal"));
    checkpoint(path);
    std::printf("file after filling the rings:        %lld bytes\n",
                static_cast<long long>(sizeFull));
    std::printf("file before one more round of pv_data: %lld bytes\n",
                static_cast<long long>(sizeBefore));
    std::printf("file after that round (%d recordings, %.1f s): %lld bytes (WAL at most %lld, %lld "
                "at the end)\n",
                kRecordRingIds, roundSeconds, static_cast<long long>(fileSize(path)),
                static_cast<long long>(largestWal), static_cast<long long>(walAfter));
    std::printf("pv_data counter after the round: %d\n", recorder.pvCounter());
    return fileSize(path) > sizeBefore ? 2 : 0;
}
