// The recording database and the recorder on real SQLite files, with the
// clock set by each test.
#include "clock.h"
#include "daytime.h"
#include "events.h"
#include "filechangewatch.h"
#include "forwardsource.h"
#include "history.h"
#include "immutablefile.h"
#include "otherprogram.h"
#include "recorder.h"
#include "recordingfixture.h"
#include "recordingstate.h"
#include "ringquery.h"
#include "shared.h"
#include "sqliteresult.h"
#include "store.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace
{

const QDate kDay(2026, 3, 14);
const QDateTime kStart(kDay, QTime(12, 0, 0));

QVariantList counterRow(int pv, int lpv)
{
    return {pv, pv, lpv, lpv};
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

void setValues(std::initializer_list<float> values)
{
    int i = 0;
    for (float v : values)
        ProcessValues[i++] = v;
}

} // namespace

class TestStore : public QObject
{
    Q_OBJECT

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("Rdatabj.db")); }
    // A recorder loaded on `path` at `moment`.
    Recorder &startRecorder(const QString &path, const QDateTime &moment = kStart)
    {
        SystemClock::setFixed(moment);
        m_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("recorder"));
        m_recorder->load(path);
        return *m_recorder;
    }
    void tickAt(const QDateTime &moment)
    {
        SystemClock::setFixed(moment);
        m_recorder->tick();
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Recorder> m_recorder;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        resetSharedState();
        SystemClock::setFixed(kStart);
    }
    void cleanup()
    {
        m_recorder.reset();
        SystemClock::setSource({});
        m_dir.reset();
    }

    void secondsSinceRecording_data()
    {
        QTest::addColumn<double>("date");
        QTest::addColumn<double>("time");
        QTest::addColumn<double>("lastDate");
        QTest::addColumn<double>("lastTime");
        QTest::addColumn<qint64>("seconds");
        const double day = daySerial(kDay);
        const double noon = dayFraction(QTime(12, 0, 0));
        const double second = 1 / kSecondsPerDay;
        QTest::newRow("same second") << day << noon << day << noon << qint64(0);
        QTest::newRow("one second on") << day << noon + second << day << noon << qint64(1);
        QTest::newRow("clock set back a second")
            << day << noon - second << day << noon << qint64(1);
        QTest::newRow("clock set back a day") << day - 1 << noon << day << noon << qint64(86400);
        QTest::newRow("across midnight")
            << day + 1 << 0.0 << day << dayFraction(QTime(23, 59, 59)) << qint64(1);
        QTest::newRow("first tick after start")
            << day << noon << 0.0 << 0.0 << qint64((day + noon) * kSecondsPerDay);
        QTest::newRow("inexact day fractions round to whole seconds")
            << day << dayFraction(QTime(17, 23, 45)) << day << dayFraction(QTime(8, 0, 1))
            << qint64(33824);
    }
    void secondsSinceRecording()
    {
        QFETCH(double, date);
        QFETCH(double, time);
        QFETCH(double, lastDate);
        QFETCH(double, lastTime);
        QFETCH(qint64, seconds);
        QCOMPARE(::secondsSinceRecording(date, time, lastDate, lastTime), seconds);
    }

    void okitimeAndRec1TimeReadTheClock()
    {
        Recorder recorder(nullptr, QStringLiteral("unloaded"));
        PvLastDate = daySerial(kDay);
        PvLastTime = dayFraction(QTime(11, 59, 30));
        LpvLastDate = daySerial(kDay);
        LpvLastTime = dayFraction(QTime(12, 0, 5));
        QCOMPARE(recorder.okitime(), qint64(30));
        QCOMPARE(recorder.Rec1_time(), qint64(5));
    }

    void freshDatabaseNumbersFromOne()
    {
        // The folder does not exist yet either.
        const QString path = m_dir->filePath(QStringLiteral("new/folder/Rdatabj.db"));
        Recorder &recorder = startRecorder(path);
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        QCOMPARE(recorder.timer1().interval(), 100);
        QVERIFY(recorder.timer1().isActive());
        {
            OtherProgram other(path);
            QCOMPARE(other.counters(), counterRow(0, 0));
            QCOMPARE(other.value(QStringLiteral("PRAGMA journal_mode")).toString(),
                     QStringLiteral("wal"));
        }
        for (int s = 0; s <= 10; ++s)
            tickAt(kStart.addSecs(s));
        OtherProgram other(path);
        QCOMPARE(other.counters(), counterRow(11, 2));
        QCOMPARE(other.count(QStringLiteral("pv_data")), 11);
        QCOMPARE(other.count(QStringLiteral("Lpv_wdjl")), 2);
        QCOMPARE(other.value(QStringLiteral("SELECT MIN(w_id) FROM pv_data")).toInt(), 1);
        const QVariantList pv11 =
            other.row(QStringLiteral("SELECT w_id, w_date, w_time FROM pv_data WHERE w_id = 11"));
        QCOMPARE(pv11, (QVariantList{11, daySerial(kDay), dayFraction(QTime(12, 0, 10))}));
        const QVariantList lpv2 = other.row(
            QStringLiteral("SELECT lw_id, lw_date, lw_time FROM Lpv_wdjl WHERE lw_id = 2"));
        QCOMPARE(lpv2, (QVariantList{2, daySerial(kDay), dayFraction(QTime(12, 0, 10))}));
    }

    void stepsBackRoundTheRing_data()
    {
        QTest::addColumn<int>("id");
        QTest::addColumn<int>("steps");
        QTest::addColumn<int>("before");
        QTest::newRow("inside the ring") << 4000 << 60 << 3940;
        QTest::newRow("to 0, the id before the first") << 60 << 60 << 0;
        QTest::newRow("one past the start goes round") << 59 << 60 << 65499;
        QTest::newRow("a live window from id 1") << 1 << 241 << 65260;
        QTest::newRow("far below the ring stays within 32 bits")
            << std::numeric_limits<int>::min() << std::numeric_limits<int>::max()
            << std::numeric_limits<int>::min();
        QTest::newRow("far above the ring stays within 32 bits")
            << std::numeric_limits<int>::max() << std::numeric_limits<int>::min()
            << std::numeric_limits<int>::max();
    }
    void stepsBackRoundTheRing()
    {
        QFETCH(int, id);
        QFETCH(int, steps);
        QTEST(int(ringIdBefore(id, steps)), "before");
        QCOMPARE(pvWindowRange(id, steps).startId, ringIdBefore(id, steps));
    }

    void ringWraps_data()
    {
        QTest::addColumn<int>("newestBefore");
        QTest::addColumn<int>("firstId");
        QTest::addColumn<int>("secondId");
        QTest::newRow("65499: 65500 then row 1 again") << 65499 << 65500 << 1;
        QTest::newRow("65500 counts as 0") << 65500 << 1 << 2;
        QTest::newRow("beyond the ring counts as 0") << 70000 << 1 << 2;
        QTest::newRow("below the ring counts as 0") << -3 << 1 << 2;
        QTest::newRow("in the middle") << 4000 << 4001 << 4002;
    }
    void ringWraps()
    {
        QFETCH(int, newestBefore);
        QFETCH(int, firstId);
        QFETCH(int, secondId);
        startRecorder(dbPath());
        setValues({1, 1, 1, 1, 1, 1, 1, 1});
        tickAt(kStart); // writes row 1 of both rings
        OtherProgram other(dbPath());
        QVERIFY(other.exec(QStringLiteral("UPDATE sl_void SET newest_pv = %1, newest_pv_copy = %1")
                               .arg(newestBefore)));
        const qint64 rowsBefore = other.count(QStringLiteral("pv_data"));

        setValues({2, 2, 2, 2, 2, 2, 2, 2});
        tickAt(kStart.addSecs(1));
        QCOMPARE(other.counters(), counterRow(firstId, 1));
        tickAt(kStart.addSecs(2));
        QCOMPARE(other.counters(), counterRow(secondId, 1));

        // Row 1 is overwritten in place, never duplicated.
        const qint64 added = (firstId == 1 ? 0 : 1) + (secondId == 1 ? 0 : 1);
        QCOMPARE(other.count(QStringLiteral("pv_data")), rowsBefore + added);
        QCOMPARE(other.value(QStringLiteral("SELECT v0 FROM pv_data WHERE w_id = %1").arg(secondId))
                     .toDouble(),
                 2.0);
        QCOMPARE(
            other.value(QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = %1").arg(secondId))
                .toDouble(),
            dayFraction(QTime(12, 0, 2)));
    }

    void clockSteps_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("pvRows");
        QTest::addColumn<int>("lpvRows");
        QTest::newRow("same second") << 0 << 1 << 1;
        QTest::newRow("next second") << 1 << 2 << 1;
        QTest::newRow("nine seconds") << 9 << 2 << 1;
        QTest::newRow("ten seconds") << 10 << 2 << 2;
        QTest::newRow("set back one second") << -1 << 2 << 1;
        QTest::newRow("set back ten seconds") << -10 << 2 << 2;
        QTest::newRow("set back an hour") << -3600 << 2 << 2;
    }
    void clockSteps()
    {
        QFETCH(int, step);
        QFETCH(int, pvRows);
        QFETCH(int, lpvRows);
        startRecorder(dbPath());
        tickAt(kStart);
        tickAt(kStart.addSecs(step));
        OtherProgram other(dbPath());
        QCOMPARE(other.counters(), counterRow(pvRows, lpvRows));
        QCOMPARE(other.count(QStringLiteral("pv_data")), pvRows);
        QCOMPARE(other.count(QStringLiteral("Lpv_wdjl")), lpvRows);
        QCOMPARE(PvLastTime, dayFraction(kStart.addSecs(pvRows == 2 ? step : 0).time()));
    }

    void midnightTakesDateAndTimeFromOneReading()
    {
        startRecorder(dbPath());
        tickAt(QDateTime(kDay, QTime(23, 59, 59)));
        tickAt(QDateTime(kDay.addDays(1), QTime(0, 0, 0)));
        OtherProgram other(dbPath());
        QCOMPARE(other.row(QStringLiteral("SELECT w_date, w_time FROM pv_data WHERE w_id = 1")),
                 (QVariantList{daySerial(kDay), dayFraction(QTime(23, 59, 59))}));
        QCOMPARE(other.row(QStringLiteral("SELECT w_date, w_time FROM pv_data WHERE w_id = 2")),
                 (QVariantList{daySerial(kDay.addDays(1)), 0.0}));
        QCOMPARE(PvLastDate, daySerial(kDay.addDays(1)));
        QCOMPARE(PvLastTime, 0.0);
    }

    void recordsWhatProcessValuesHold_data()
    {
        QTest::addColumn<QList<float>>("values");
        QTest::newRow("port never opened") << QList<float>{0, 0, 0, 0, 0, 0, 0, 0};
        QTest::newRow("polled values") << QList<float>{123.5f, -20.25f, 0.1f, 1e6f, -0.5f, 7, 8, 9};
    }
    void recordsWhatProcessValuesHold()
    {
        QFETCH(QList<float>, values);
        for (int i = 0; i < 8; ++i)
            ProcessValues[i] = values[i];
        ProcessValues[8] = 99; // beyond the eight recorded values
        startRecorder(dbPath());
        tickAt(kStart);
        OtherProgram other(dbPath());
        for (const QString &sql : {QStringLiteral("SELECT * FROM pv_data WHERE w_id = 1"),
                                   QStringLiteral("SELECT * FROM Lpv_wdjl WHERE lw_id = 1")}) {
            const QVariantList row = other.row(sql);
            QCOMPARE(row.size(), 11);
            for (int i = 0; i < 8; ++i)
                QCOMPARE(row[3 + i].toFloat(), values[i]);
        }
    }

    void flagsOnlyWhileOverviewOpen_data()
    {
        QTest::addColumn<bool>("overviewOpen");
        QTest::newRow("overview not loaded") << false;
        QTest::newRow("overview loaded") << true;
    }
    void flagsOnlyWhileOverviewOpen()
    {
        QFETCH(bool, overviewOpen);
        OverviewOpen = overviewOpen;
        startRecorder(dbPath());
        tickAt(kStart);
        QCOMPARE(PvRecorded, overviewOpen);
        QCOMPARE(LpvRecorded, overviewOpen);
        // The overview clears its flag; a tick with nothing due leaves it clear.
        PvRecorded = LpvRecorded = false;
        tickAt(kStart);
        QCOMPARE(PvRecorded, false);
        tickAt(kStart.addSecs(1));
        QCOMPARE(PvRecorded, overviewOpen);
        QCOMPARE(LpvRecorded, false);
    }

    void countersFromAnotherProgramArePickedUp()
    {
        startRecorder(dbPath());
        tickAt(kStart);
        OtherProgram other(dbPath());
        QVERIFY(
            other.exec(QStringLiteral("UPDATE sl_void SET newest_pv = 500, newest_pv_copy = 500, "
                                      "newest_lpv = 7, newest_lpv_copy = 7")));
        tickAt(kStart.addSecs(10));
        QCOMPARE(other.counters(), counterRow(501, 8));
        QCOMPARE(m_recorder->pvCounter(), 501);
        QCOMPARE(m_recorder->lpvCounter(), 8);
        QCOMPARE(other.count(QStringLiteral("pv_data")), 2);
    }

    void failedRecordingIsRetriedWithTheSameId_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("mend");
        QTest::newRow("the row cannot be written")
            << "CREATE TRIGGER fault BEFORE INSERT ON pv_data BEGIN SELECT RAISE(ABORT, 'fault'); "
               "END"
            << "DROP TRIGGER fault";
        QTest::newRow("sl_void cannot be written")
            << "CREATE TRIGGER fault BEFORE UPDATE ON sl_void BEGIN SELECT RAISE(ABORT, 'fault'); "
               "END"
            << "DROP TRIGGER fault";
        QTest::newRow("locked by another program") << "BEGIN EXCLUSIVE"
                                                   << "ROLLBACK";
    }
    void failedRecordingIsRetriedWithTheSameId()
    {
        QFETCH(QString, fault);
        QFETCH(QString, mend);
        OverviewOpen = true;
        startRecorder(dbPath());
        tickAt(kStart);
        PvRecorded = false;
        OtherProgram other(dbPath());
        QVERIFY(other.exec(fault));

        setValues({5, 5, 5, 5, 5, 5, 5, 5});
        tickAt(kStart.addSecs(1));
        tickAt(kStart.addSecs(1));
        QVERIFY(m_recorder->store().isOpen());
        QCOMPARE(PvRecorded, false);
        QCOMPARE(PvLastTime, dayFraction(kStart.time()));
        QVERIFY(other.exec(mend));
        QCOMPARE(other.counters(), counterRow(1, 1));
        QCOMPARE(other.count(QStringLiteral("pv_data")),
                 1); // the half-done row went with its transaction

        tickAt(kStart.addSecs(1)); // same second: still due, same id
        QCOMPARE(other.counters(), counterRow(2, 1));
        QCOMPARE(other.value(QStringLiteral("SELECT v0 FROM pv_data WHERE w_id = 2")).toDouble(),
                 5.0);
        QCOMPARE(PvRecorded, true);
        QCOMPARE(PvLastTime, dayFraction(kStart.addSecs(1).time()));
    }

    void lockedAtStartUpRecordsOnceReleased()
    {
        {
            RecordingStore store(QStringLiteral("store"));
            QVERIFY(store.open(dbPath()));
        }
        OtherProgram other(dbPath());
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        Recorder &recorder = startRecorder(dbPath());
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        tickAt(kStart);
        QCOMPARE(PvLastDate, 0.0);
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        tickAt(kStart);
        QCOMPARE(other.counters(), counterRow(1, 1));
    }

    void databasePathFollowsTheEnvironment()
    {
        const QByteArray saved = qgetenv("ZELMAR_DB");
        qputenv("ZELMAR_DB", "/somewhere/else.db");
        const QString fromEnvironment = databasePath();
        qunsetenv("ZELMAR_DB");
        const QString fromDataFolder = databasePath();
        if (!saved.isEmpty())
            qputenv("ZELMAR_DB", saved);
        QCOMPARE(fromEnvironment, QStringLiteral("/somewhere/else.db"));
        QVERIFY(fromDataFolder.endsWith(QStringLiteral("/Rdatabj.db")));
        QVERIFY(QFileInfo(fromDataFolder).isAbsolute());
    }

    void existingDatabaseIsUsedAsItIs_data()
    {
        QTest::addColumn<QStringList>("setUp");
        QTest::addColumn<QVariantList>("countersAfterOpen");
        QTest::addColumn<int>("pvRowsAfterOpen");
        QTest::newRow("zero-length file") << QStringList{} << counterRow(0, 0) << 0;
        QTest::newRow("our own tables with rows")
            << QStringList{"CREATE TABLE sl_void (a INTEGER, b INTEGER, c INTEGER, d INTEGER)",
                           "INSERT INTO sl_void VALUES (3, 3, 1, 1)",
                           "CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, w_date REAL, w_time "
                           "REAL, "
                           "p0, p1, p2, p3, p4, p5, p6, p7, remark TEXT)",
                           "INSERT INTO pv_data (w_id, w_date, w_time) VALUES (1, 0, 0), (2, 0, "
                           "0), (3, 0, 0)",
                           "CREATE TABLE Lpv_wdjl (lw_id INTEGER PRIMARY KEY, d, t, q0, q1, q2, "
                           "q3, q4, q5, q6, q7)"}
            << counterRow(3, 1) << 3;
        QTest::newRow("tables present, counter row missing")
            << QStringList{"CREATE TABLE sl_void (a INTEGER, b INTEGER, c INTEGER, d INTEGER)"}
            << counterRow(0, 0) << 0;
    }
    void existingDatabaseIsUsedAsItIs()
    {
        QFETCH(QStringList, setUp);
        QFETCH(QVariantList, countersAfterOpen);
        QFETCH(int, pvRowsAfterOpen);
        writeFile(dbPath(), {});
        {
            OtherProgram other(dbPath());
            for (const QString &sql : setUp)
                QVERIFY(other.exec(sql));
        }
        RecordingStore store(QStringLiteral("store"));
        QVERIFY2(store.open(dbPath()), qPrintable(store.lastError()));
        const std::optional<SlVoid> counters = store.readCounters();
        QVERIFY(counters);
        QCOMPARE((QVariantList{counters->newestPv, counters->newestPvCopy, counters->newestLpv,
                               counters->newestLpvCopy}),
                 countersAfterOpen);
        OtherProgram other(dbPath());
        QCOMPARE(other.count(QStringLiteral("pv_data")), pvRowsAfterOpen);

        const std::array<float, 8> values{1, 2, 3, 4, 5, 6, 7, 8};
        const qint32 next = counters->newestPv + 1;
        QVERIFY2(recordRow(store, RecordTable::PvData, next, 1, 0.5, values),
                 qPrintable(store.lastError()));
        QCOMPARE(other.counters().mid(0, 2), (QVariantList{next, next}));
        QCOMPARE(
            other.value(QStringLiteral("SELECT COUNT(*) FROM pv_data WHERE w_id = %1").arg(next))
                .toInt(),
            1);
    }

    void unusableFileIsLeftAlone_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // written as the file when not empty
        QTest::addColumn<QStringList>("setUp"); // run by another program otherwise
        QTest::newRow("not a database")
            << QByteArray("ZELMAR readings, not a database\n") << QStringList{};
        QTest::newRow("a database header and garbage")
            << QByteArray("SQLite format 3\0garbage garbage garbage", 40) << QStringList{};
        QTest::newRow("pv_data lacks columns")
            << QByteArray()
            << QStringList{
                   "CREATE TABLE pv_data (w_id INTEGER PRIMARY KEY, w_date REAL, w_time REAL)"};
        QTest::newRow("sl_void lacks columns")
            << QByteArray()
            << QStringList{"CREATE TABLE sl_void (a INTEGER, b INTEGER)",
                           "INSERT INTO sl_void VALUES (1, 1)"};
        QTest::newRow("w_id not the key")
            << QByteArray()
            << QStringList{
                   "CREATE TABLE pv_data (w_id INTEGER, w_date, w_time, a, b, c, d, e, f, g, h)"};
        QTest::newRow("Lpv_wdjl without lw_id first")
            << QByteArray()
            << QStringList{
                   "CREATE TABLE Lpv_wdjl (id INTEGER PRIMARY KEY, a, b, c, d, e, f, g, h, i, j)"};
    }
    void unusableFileIsLeftAlone()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, setUp);
        if (!bytes.isEmpty()) {
            writeFile(dbPath(), bytes);
        } else {
            OtherProgram other(dbPath());
            for (const QString &sql : setUp)
                QVERIFY(other.exec(sql));
        }
        const QByteArray before = fileBytes(dbPath());
        QVERIFY(!before.isEmpty());

        Recorder &recorder = startRecorder(dbPath());
        QVERIFY(!recorder.store().isOpen());
        QVERIFY(!recorder.store().lastError().isEmpty());
        for (int s = 0; s <= 30; s += 5) // includes the reopen attempts
            tickAt(kStart.addSecs(s));
        QVERIFY(!recorder.store().isOpen());
        QCOMPARE(recorder.pvCounter(), 0);
        QCOMPARE(PvLastDate, 0.0);
        m_recorder.reset();

        QCOMPARE(fileBytes(dbPath()), before);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList{"Rdatabj.db"});
    }

    // A rollback journal beside the file (a writer that died mid-transaction,
    // or a journal that belongs to another file) would be played back into the
    // file by any connection that may write. Until the file has been read as
    // ours, neither is touched.
    void hotJournalIsNotPlayedBack_data()
    {
        QTest::addColumn<bool>("recordingTables");
        QTest::newRow("another program's file") << false;
        QTest::newRow("the recording tables and another") << true;
    }
    void hotJournalIsNotPlayedBack()
    {
        QFETCH(bool, recordingTables);
        const QString source = m_dir->filePath(QStringLiteral("source.db"));
        if (recordingTables)
            QVERIFY(RecordingStore(QStringLiteral("source")).open(source));
        {
            OtherProgram other(source);
            QVERIFY(other.exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
            QVERIFY(other.exec(QStringLiteral("PRAGMA cache_size=1")));
            QVERIFY(
                other.exec(QStringLiteral("CREATE TABLE notes (id INTEGER PRIMARY KEY, text)")));
            QVERIFY(other.exec(QStringLiteral("BEGIN")));
            QVERIFY(other.exec(
                QStringLiteral("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n "
                               "WHERE i < 2000) INSERT INTO notes SELECT i, hex(randomblob(100)) "
                               "FROM n")));
            // The file and its journal as a crash at this moment leaves them.
            QVERIFY(QFile::copy(source, dbPath()));
            QVERIFY(QFile::copy(source + QStringLiteral("-journal"),
                                dbPath() + QStringLiteral("-journal")));
            QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        }
        const QByteArray before = fileBytes(dbPath());
        const QByteArray journal = fileBytes(dbPath() + QStringLiteral("-journal"));
        QVERIFY(!before.isEmpty());
        QVERIFY(!journal.isEmpty());

        Recorder &recorder = startRecorder(dbPath());
        for (int s = 0; s <= 20; s += 5) // includes the reopen attempts
            tickAt(kStart.addSecs(s));
        QVERIFY(!recorder.store().isOpen());
        m_recorder.reset();
        QCOMPARE(fileBytes(dbPath()), before);
        QCOMPARE(fileBytes(dbPath() + QStringLiteral("-journal")), journal);
    }

    // The tool in rollback mode (WAL could not be set at its opening) dies
    // mid-recording: at the next start SQLite plays the file's own journal
    // back, the file is as before the transaction and recording resumes in WAL.
    void hotJournalOfTheRecordingIsPlayedBack_data()
    {
        QTest::addColumn<bool>("eventTables");
        QTest::newRow("the recording tables") << false;
        QTest::newRow("with the events ring beside them") << true;
    }
    void hotJournalOfTheRecordingIsPlayedBack()
    {
        QFETCH(bool, eventTables);
        {
            RecordingStore store(QStringLiteral("store"));
            QVERIFY(store.open(dbPath()));
            if (eventTables)
                QVERIFY(EventLog(QStringLiteral("events")).open(dbPath()));
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) "
                "INSERT INTO pv_data SELECT i, 46000, i / 86400.0, i, 1, 2, 3, 4, 5, 6, 7 FROM "
                "n")));
            QVERIFY(other.exec(
                QStringLiteral("UPDATE sl_void SET newest_pv = 2000, newest_pv_copy = 2000")));
        }
        const QByteArray before = fileBytes(dbPath());
        QProcess child;
        child.start(QStringLiteral(STORE_RECORDER_CHILD),
                    {dbPath(), QStringLiteral("--die-mid-transaction")});
        QVERIFY(child.waitForReadyRead(10000));
        QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("mid-transaction"));
        child.kill();
        QVERIFY(child.waitForFinished());
        QVERIFY(QFileInfo(dbPath() + QStringLiteral("-journal")).size() > 0);
        QVERIFY(fileBytes(dbPath()) != before); // changed pages reached the file

        Recorder &recorder = startRecorder(dbPath());
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        tickAt(kStart);
        m_recorder.reset();
        QVERIFY(!QFileInfo::exists(dbPath() + QStringLiteral("-journal")));
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
        QCOMPARE(other.counters(), counterRow(2001, 1));
        QCOMPARE(
            other.value(QStringLiteral("SELECT COUNT(*) FROM pv_data WHERE v0 = w_id")).toInt(),
            2000);
        QCOMPARE(other.value(QStringLiteral("PRAGMA journal_mode")).toString(),
                 QStringLiteral("wal"));
    }

    // Opened while another program read the file, the connection could not set
    // WAL; it asks again after each wait of 10 s.
    void rollbackJournalGivesWayToWal()
    {
        {
            RecordingStore store(QStringLiteral("store"));
            QVERIFY(store.open(dbPath()));
        }
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("PRAGMA journal_mode=DELETE")));
        }
        auto journalMode = [this] {
            OtherProgram probe(dbPath(), QStringLiteral("probe"));
            probe.value(QStringLiteral("SELECT COUNT(*) FROM sl_void"));
            return probe.value(QStringLiteral("PRAGMA journal_mode")).toString();
        };
        OtherProgram reader(dbPath(), QStringLiteral("reader"));
        QVERIFY(reader.exec(QStringLiteral("BEGIN")));
        QVERIFY(reader.value(QStringLiteral("SELECT COUNT(*) FROM sl_void")).isValid());
        Recorder &recorder = startRecorder(dbPath());
        QVERIFY(reader.exec(QStringLiteral("COMMIT")));
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        QCOMPARE(journalMode(), QStringLiteral("delete"));
        tickAt(kStart.addSecs(1));
        tickAt(kStart.addSecs(9));
        QCOMPARE(journalMode(), QStringLiteral("delete"));
        tickAt(kStart.addSecs(10));
        QCOMPARE(journalMode(), QStringLiteral("wal"));
        tickAt(kStart.addSecs(11));
        QCOMPARE(reader.counters(), counterRow(4, 2));
    }

    void folderThatCannotBeCreated()
    {
        writeFile(m_dir->filePath(QStringLiteral("blocker")), "a file where the folder should be");
        const QString path = m_dir->filePath(QStringLiteral("blocker/data/Rdatabj.db"));
        Recorder &recorder = startRecorder(path);
        QVERIFY(!recorder.store().isOpen());
        tickAt(kStart.addSecs(1));
        QCOMPARE(PvLastDate, 0.0);
        QCOMPARE(fileBytes(m_dir->filePath(QStringLiteral("blocker"))),
                 QByteArray("a file where the folder should be"));
    }

    void pathThatIsAFolder()
    {
        QVERIFY(QDir(m_dir->path()).mkdir(QStringLiteral("Rdatabj.db")));
        RecordingStore store(QStringLiteral("store"));
        QVERIFY(!store.open(dbPath()));
        QVERIFY(!store.readCounters());
        QVERIFY(!recordRow(store, RecordTable::PvData, 1, 0, 0, {}));
        QVERIFY(!store.database().isValid());
    }

    void readOnlyFileRecordsNothingUntilWritable()
    {
        {
            RecordingStore store(QStringLiteral("store"));
            QVERIFY(store.open(dbPath()));
        }
        // Permissions do not stop root; an immutable file does.
        const bool root = geteuid() == 0;
        auto makeWritable = [&] {
            if (root)
                QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("-i"), dbPath()});
            else
                QFile::setPermissions(dbPath(), QFile::ReadOwner | QFile::WriteOwner);
        };
        if (root) {
            if (QProcess::execute(QStringLiteral("chattr"), {QStringLiteral("+i"), dbPath()}) != 0)
                QSKIP("running as root on a file system without immutable files: no read-only file "
                      "to test");
        } else {
            QVERIFY(QFile::setPermissions(dbPath(), QFile::ReadOwner));
        }
        const QByteArray before = fileBytes(dbPath());
        Recorder &recorder = startRecorder(dbPath());
        const bool openedReadOnly = recorder.store().isOpen();
        tickAt(kStart.addSecs(1));
        tickAt(kStart.addSecs(2));
        const QByteArray after = fileBytes(dbPath());
        makeWritable();
        QVERIFY(!openedReadOnly);
        QCOMPARE(after, before);
        QCOMPARE(PvLastDate, 0.0);

        tickAt(kStart.addSecs(12)); // the reopen after the fault is gone
        QVERIFY(recorder.store().isOpen());
        OtherProgram other(dbPath());
        // The rows taken meanwhile waited and are written in order: +1, +2, +12.
        QCOMPARE(other.counters(), counterRow(3, 2));
        QCOMPARE(
            other.value(QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = 1")).toDouble(),
            dayFraction(kStart.addSecs(1).time()));
    }

    void reopensEveryTenSeconds_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("folder blocked at start-up") << "blocked";
        QTest::newRow("file deleted while recording") << "deleted";
        QTest::newRow("file replaced while recording") << "replaced";
        QTest::newRow("counter row deleted while recording") << "row";
    }
    void reopensEveryTenSeconds()
    {
        QFETCH(QString, fault);
        const QString blocker = m_dir->filePath(QStringLiteral("data"));
        const QString path = m_dir->filePath(QStringLiteral("data/Rdatabj.db"));
        if (fault == QLatin1String("blocked"))
            writeFile(blocker, "in the way");
        Recorder &recorder = startRecorder(path);
        QCOMPARE(recorder.store().isOpen(), fault != QLatin1String("blocked"));
        tickAt(kStart.addSecs(1));
        QDateTime faultTime = kStart.addSecs(1);
        if (fault == QLatin1String("blocked")) {
            QVERIFY(QFile::remove(blocker));
            faultTime = kStart;
        } else if (fault == QLatin1String("deleted")) {
            QDir(m_dir->filePath(QStringLiteral("data"))).removeRecursively();
            tickAt(faultTime);
        } else if (fault == QLatin1String("replaced")) {
            // Another connection finds the file gone and creates a new one.
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(path + QLatin1String(suffix));
            RecordingStore(QStringLiteral("replacer")).open(path);
            tickAt(faultTime);
        } else {
            OtherProgram other(path);
            QVERIFY(other.exec(QStringLiteral("DELETE FROM sl_void")));
            tickAt(faultTime);
        }
        QVERIFY(!recorder.store().isOpen());
        tickAt(faultTime.addSecs(9));
        QVERIFY(!recorder.store().isOpen());
        tickAt(faultTime.addSecs(10));
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        OtherProgram other(path);
        // The rows taken while the file was away waited for it: the first
        // row after start-up (folder blocked), or after the fault, comes first.
        const bool blocked = fault == QLatin1String("blocked");
        QCOMPARE(other.counters().at(0).toInt(), blocked ? 3 : 2);
        QCOMPARE(
            other.value(QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = 1")).toDouble(),
            dayFraction((blocked ? kStart.addSecs(1) : faultTime.addSecs(9)).time()));
    }

    // The counter row's table taken away by another program: the read fails
    // with SQLite's reason, the file is closed, and the reason stays to be read.
    void counterTableDroppedClosesWithTheReason()
    {
        Recorder &recorder = startRecorder(dbPath());
        tickAt(kStart.addSecs(1));
        QVERIFY(recorder.store().isOpen());
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("DROP TABLE sl_void")));
        }
        tickAt(kStart.addSecs(1));
        QVERIFY(!recorder.store().isOpen());
        QVERIFY2(recorder.store().lastError().startsWith(QStringLiteral("read sl_void: ")) &&
                     recorder.store().lastError().contains(QStringLiteral("no such table")),
                 qPrintable(recorder.store().lastError()));
        QCOMPARE(recorder.store().lastErrorCode(), SqliteCode::Error);
    }

    // SQLite writes the shared-memory file of a WAL database through a memory
    // mapping; once that file is immutable, such a write would end the process
    // with SIGBUS. The recorder stops recording instead and tries every 10 s.
    void unwritableSharedMemoryStopsRecording()
    {
        const QString shm = dbPath() + QStringLiteral("-shm");
        Recorder &recorder = startRecorder(dbPath());
        for (int s = 0; s < 3; ++s)
            tickAt(kStart.addSecs(s));
        QVERIFY(recorder.store().isOpen());
        QVERIFY(QFileInfo::exists(shm));
        ImmutableFile immutable(shm);
        if (!immutable.isImmutable())
            QSKIP("no immutable files here (chattr +i needs root and a file system that has them)");

        for (int s = 3; s <= 22; ++s)
            tickAt(kStart.addSecs(s));
        QVERIFY(!recorder.store().isOpen());
        QVERIFY(recorder.store().lastError().contains(QStringLiteral("-shm")));
        QCOMPARE(recorder.pvCounter(), 3);

        QVERIFY(immutable.release());
        tickAt(kStart.addSecs(32)); // the next attempt
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        m_recorder.reset();
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
        // Seconds 3 .. 22 waited in memory and follow, then second 32.
        QCOMPARE(other.counters(), counterRow(24, 4));
        QCOMPARE(
            other.value(QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = 3")).toDouble(),
            dayFraction(kStart.addSecs(2).time()));
        QCOMPARE(
            other.value(QStringLiteral("SELECT w_time FROM pv_data WHERE w_id = 23")).toDouble(),
            dayFraction(kStart.addSecs(22).time()));
    }

    // A database put in place of the open one (its file and WAL moved aside)
    // and in use by another program: the old connection closes without
    // removing the WAL and shared memory that now stand at the path (SQLite
    // skips the checkpoint of a file that has moved).
    void closingAfterTheFileWasReplacedLeavesTheNewWal()
    {
        RecordingStore store(QStringLiteral("store"));
        QVERIFY(store.open(dbPath()));
        QVERIFY(recordRow(store, RecordTable::PvData, 1, 1, 0.5, {}));
        const QString aside = m_dir->filePath(QStringLiteral("aside.db"));
        for (const char *suffix : {"", "-wal", "-shm"})
            QVERIFY(QFile::rename(dbPath() + QLatin1String(suffix), aside + QLatin1String(suffix)));
        OtherProgram newer(dbPath(), QStringLiteral("newer"));
        QVERIFY(newer.exec(QStringLiteral("PRAGMA journal_mode=WAL")));
        QVERIFY(newer.exec(QStringLiteral("CREATE TABLE notes (text)")));
        QVERIFY(newer.exec(QStringLiteral("INSERT INTO notes VALUES ('kept')")));

        QVERIFY(!store.keepOpen(kStart)); // closed: the path names another file
        QVERIFY(QFileInfo::exists(dbPath() + QStringLiteral("-wal")));
        QVERIFY(QFileInfo::exists(dbPath() + QStringLiteral("-shm")));
        OtherProgram third(dbPath(), QStringLiteral("third"));
        QCOMPARE(third.value(QStringLiteral("SELECT text FROM notes")).toString(),
                 QStringLiteral("kept"));
    }

    // Cut shorter by another program while mapped, the shared-memory file
    // would end the process with SIGBUS on the next access just the same.
    void shortenedSharedMemoryStopsRecording()
    {
        const QString shm = dbPath() + QStringLiteral("-shm");
        Recorder &recorder = startRecorder(dbPath());
        tickAt(kStart);
        QVERIFY(recorder.store().isOpen());
        QVERIFY(QFile::resize(shm, 0));
        tickAt(kStart.addSecs(1));
        QVERIFY(!recorder.store().isOpen());
        tickAt(kStart.addSecs(11)); // opened anew, SQLite rebuilds the file
        QVERIFY2(recorder.store().isOpen(), qPrintable(recorder.store().lastError()));
        m_recorder.reset();
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
        QCOMPARE(other.counters(), counterRow(3, 2)); // second 1 waited, then second 11
    }

    // The files of an open database are looked at only when the kernel says
    // something happened to them: each change that matters to a connection
    // is told at once, while the recorder's own writes and other files in the
    // folder tell nothing (else every recording would cost a look again).
    void fileChangeWatchTellsWhatMatters_data()
    {
        QTest::addColumn<QString>("change");
        QTest::addColumn<bool>("told");
        QTest::newRow("rows recorded") << "record" << false;
        QTest::newRow("another file in the folder") << "other file" << false;
        QTest::newRow("database replaced by rename") << "rename over" << true;
        QTest::newRow("database removed") << "remove" << true;
        QTest::newRow("database made read-only") << "chmod" << true;
        QTest::newRow("shared memory cut shorter") << "cut" << true;
        QTest::newRow("shared memory made immutable") << "immutable" << true;
        QTest::newRow("shared memory removed") << "remove shm" << true;
        QTest::newRow("folder renamed") << "rename folder" << true;
    }
    void fileChangeWatchTellsWhatMatters()
    {
        QFETCH(QString, change);
        QFETCH(bool, told);
        const QString folder = m_dir->filePath(QStringLiteral("data"));
        const QString path = folder + QStringLiteral("/Rdatabj.db");
        RecordingStore store(QStringLiteral("watched"));
        QVERIFY(store.open(path));
        QVERIFY(recordRow(store, RecordTable::PvData, 1, 1, 0.5, {}));
        const QString shm = path + QStringLiteral("-shm");
        QVERIFY(QFileInfo::exists(shm));
        FileChangeWatch watch;
        watch.watch(path);
        QVERIFY(!watch.mayHaveChanged());

        std::unique_ptr<ImmutableFile> immutable;
        if (change == "record") {
            for (int id = 2; id <= 20; ++id)
                QVERIFY(recordRow(store, RecordTable::PvData, id, 1, 0.5, {}));
        } else if (change == "other file") {
            writeFile(folder + QStringLiteral("/notes.txt"), "beside");
            QVERIFY(QFile::remove(folder + QStringLiteral("/notes.txt")));
        } else if (change == "rename over") {
            const QString newer = folder + QStringLiteral("/newer.db");
            writeFile(newer, QByteArray());
            QVERIFY(::rename(QFile::encodeName(newer).constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (change == "remove") {
            QVERIFY(QFile::remove(path));
        } else if (change == "chmod") {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
        } else if (change == "cut") {
            QVERIFY(QFile::resize(shm, 0));
        } else if (change == "immutable") {
            if (!spoilSharedMemory(shm, true, immutable))
                QSKIP("no immutable files here (chattr +i needs root)");
        } else if (change == "remove shm") {
            QVERIFY(QFile::remove(shm));
        } else {
            QVERIFY(QDir(m_dir->path()).rename(QStringLiteral("data"), QStringLiteral("moved")));
        }
        QCOMPARE(watch.mayHaveChanged(), told);
        QVERIFY(!watch.mayHaveChanged()); // told once
        if (immutable)
            QVERIFY(immutable->release());
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    }

    // A change no event tells of (the folder above the database's renamed,
    // and a new database made at the old path) is still found: every
    // connection looks at its files once per FileChangeWatch::kFallbackInterval.
    void unseenReplacementFoundByTheSlowLook()
    {
        const QString top = m_dir->filePath(QStringLiteral("top"));
        const QString path = top + QStringLiteral("/data/Rdatabj.db");
        RecordingStore store(QStringLiteral("watched"));
        QVERIFY(store.follow(path, kStart));
        QVERIFY(QDir(m_dir->path()).rename(QStringLiteral("top"), QStringLiteral("top-old")));
        RecordingStore other(QStringLiteral("other"));
        QVERIFY(other.open(path));
        other.close();
        const qint64 boundMs =
            std::chrono::milliseconds(FileChangeWatch::kFallbackInterval).count() + 2000;
        QTRY_VERIFY_WITH_TIMEOUT(!store.keepOpen(kStart), int(boundMs));
        QVERIFY2(store.lastError().contains(QStringLiteral("removed or replaced")),
                 qPrintable(store.lastError()));
    }

    // Every connection to the recording file runs no statement once the
    // shared-memory file is immutable or cut shorter (SQLite would end the
    // process with SIGBUS through its mapping): it closes, is refused while
    // the fault lasts and opens again once it is gone.
    void everyConnectionStopsAtABrokenSharedMemory_data()
    {
        QTest::addColumn<QString>("connection");
        QTest::addColumn<QString>("fault");
        for (const char *connection : {"ring reader", "forwarder's source", "chart's store"}) {
            QTest::addRow("%s, made immutable", connection) << connection << "immutable";
            QTest::addRow("%s, cut shorter", connection) << connection << "cut";
        }
    }
    void everyConnectionStopsAtABrokenSharedMemory()
    {
        QFETCH(QString, connection);
        QFETCH(QString, fault);
        const QString shm = dbPath() + QStringLiteral("-shm");
        startRecorder(dbPath());
        for (int s = 0; s < 3; ++s)
            tickAt(kStart.addSecs(s));
        RingReader reader(QStringLiteral("reader"));
        ForwardSource source(QStringLiteral("source"));
        RecordingStore chart(QStringLiteral("chart"));
        QVector<RingRow> rows;
        // Whether the connection reads, and whether it counts itself open.
        const auto reads = [&] {
            if (connection == "ring reader")
                return reader.readRows(RecordTable::PvData, 1, 3, rows) && reader.isOpen();
            if (connection == "forwarder's source")
                return source.readCounters().has_value() && source.isOpen();
            return chart.keepOpen(SystemClock::now()) && chart.readCounters().has_value();
        };
        const auto open = [&] {
            if (connection == "ring reader")
                return reader.open(dbPath()) == RingReader::OpenResult::Opened;
            if (connection == "forwarder's source")
                return source.open(dbPath());
            return chart.follow(dbPath(), SystemClock::now());
        };
        const auto error = [&] {
            return connection == "ring reader"          ? reader.lastError()
                   : connection == "forwarder's source" ? source.lastError()
                                                        : chart.lastError();
        };
        QVERIFY(open());
        QVERIFY(reads());

        std::unique_ptr<ImmutableFile> immutable;
        if (!spoilSharedMemory(shm, fault == "immutable", immutable))
            QSKIP("no immutable files here (chattr +i needs root)");
        QVERIFY(!reads());
        // (The chart's store gives its reason with the next attempt.)
        if (connection != "chart's store")
            QVERIFY2(error().contains(QStringLiteral("-shm")), qPrintable(error()));
        if (!immutable)
            return;
        SystemClock::setFixed(kStart.addSecs(20));
        QVERIFY(!open());
        QVERIFY2(error().contains(QStringLiteral("-shm")), qPrintable(error()));
        QVERIFY(immutable->release());
        QVERIFY(open());
        QVERIFY(reads());
    }

    // A SQLite file of another program, named as the database, is never
    // written: only an empty database or one of ours gets the tables.
    void foreignSqliteFileIsLeftUntouched_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<bool>("ours");
        QTest::newRow("a foreign table only")
            << QStringList{"CREATE TABLE foreign_t (a, b)", "INSERT INTO foreign_t VALUES (1, 2)"}
            << false;
        QTest::newRow("a foreign view only")
            << QStringList{"CREATE VIEW foreign_v AS SELECT 1"} << false;
        QTest::newRow("a foreign table in WAL mode")
            << QStringList{"PRAGMA journal_mode=WAL", "CREATE TABLE foreign_t (a)"} << false;
        QTest::newRow("no tables (an empty database)")
            << QStringList{"PRAGMA user_version = 7"} << true;
        QTest::newRow("ours, with a table of another program beside")
            << QStringList{"CREATE TABLE sl_void (a, b, c, d)",
                           "INSERT INTO sl_void VALUES "
                           "(0, 0, 0, 0)",
                           "CREATE TABLE foreign_t (a)"}
            << true;
    }
    void foreignSqliteFileIsLeftUntouched()
    {
        QFETCH(QStringList, statements);
        QFETCH(bool, ours);
        {
            OtherProgram other(dbPath());
            for (const QString &statement : statements)
                QVERIFY(other.exec(statement));
            other.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        }
        const QByteArray before = fileBytes(dbPath());
        QVERIFY(!before.isEmpty());

        ForwardSource source(QStringLiteral("source"));
        const bool sourceOpened = source.open(dbPath());
        Recorder &recorder = startRecorder(dbPath());
        for (int s = 0; s < 3; ++s)
            tickAt(kStart.addSecs(s));
        const bool recording = recorder.store().isOpen();
        const RecordingFault fault =
            classifyRecordingError(recorder.store().lastErrorCode(), recorder.store().lastError());
        m_recorder.reset();
        source.close();

        if (ours) {
            QVERIFY(recording);
            QCOMPARE(OtherProgram(dbPath()).count(QStringLiteral("pv_data")), qint64(3));
            return;
        }
        QVERIFY(!sourceOpened);
        QVERIFY(!recording);
        QCOMPARE(fault, RecordingFault::NotRecordingDatabase);
        QCOMPARE(fileBytes(dbPath()), before);
        OtherProgram other(dbPath());
        QCOMPARE(other
                     .value(QStringLiteral("SELECT COUNT(*) FROM sqlite_master WHERE lower(name) "
                                           "IN ('sl_void', 'pv_data', 'lpv_wdjl', "
                                           "'forward_position', 'events')"))
                     .toInt(),
                 0);
    }

    // The overview and the recorder hold two connections in one process; a
    // reading program that comes and goes must still see every recording.
    void anotherProgramSeesEachRecording()
    {
        RecordingStore overview(QStringLiteral("overview"));
        QVERIFY(overview.open(dbPath()));
        startRecorder(dbPath());
        for (int s = 0; s < 3; ++s) {
            tickAt(kStart.addSecs(s));
            QProcess reader;
            reader.start(QStringLiteral(STORE_RECORDER_CHILD),
                         {dbPath(), QStringLiteral("--read")});
            QVERIFY(reader.waitForFinished());
            QCOMPARE(reader.readAllStandardOutput().trimmed(), QByteArray::number(s + 1));
            QVERIFY(QFileInfo::exists(dbPath() + QStringLiteral("-wal")));
        }
        QCOMPARE(overview.readCounters()->newestPv, 3);
    }

    void killedRecorderLeavesASoundDatabase_data()
    {
        QTest::addColumn<int>("runMilliseconds");
        QTest::newRow("killed at once") << 0;
        QTest::newRow("killed after 150 ms") << 150;
        QTest::newRow("killed after 600 ms") << 600;
    }
    void killedRecorderLeavesASoundDatabase()
    {
        QFETCH(int, runMilliseconds);
        {
            // Near the end of the ring, so that the run wraps.
            RecordingStore store(QStringLiteral("store"));
            QVERIFY(store.open(dbPath()));
            OtherProgram other(dbPath());
            QVERIFY(other.exec(
                QStringLiteral("UPDATE sl_void SET newest_pv = 65450, newest_pv_copy = 65450")));
        }
        const QDateTime base(kDay, QTime(23, 0, 0));
        QProcess child;
        child.start(QStringLiteral(STORE_RECORDER_CHILD), {dbPath(), base.toString(Qt::ISODate)});
        QVERIFY(child.waitForStarted());
        QVERIFY(child.waitForReadyRead(10000));
        QThread::msleep(runMilliseconds);
        child.kill(); // SIGKILL
        QVERIFY(child.waitForFinished());
        QCOMPARE(child.exitStatus(), QProcess::CrashExit);

        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
        const QVariantList counters = other.counters();
        QCOMPARE(counters.at(0), counters.at(1));
        QCOMPARE(counters.at(2), counters.at(3));
        struct Ring {
            QString table, id, date, time;
            int counter;
        };
        const Ring rings[] = {{"pv_data", "w_id", "w_date", "w_time", counters.at(0).toInt()},
                              {"Lpv_wdjl", "lw_id", "lw_date", "lw_time", counters.at(2).toInt()}};
        for (const Ring &ring : rings) {
            const QVariantList row = other.row(QStringLiteral("SELECT * FROM %1 WHERE %2 = %3")
                                                   .arg(ring.table, ring.id)
                                                   .arg(ring.counter));
            QCOMPARE(row.size(), 11);
            // The row sl_void names holds the newest recording, complete.
            const double s = row.at(3).toDouble();
            QCOMPARE(
                other.value(QStringLiteral("SELECT MAX(v0) FROM %1").arg(ring.table)).toDouble(),
                s);
            for (int k = 0; k < 8; ++k)
                QCOMPARE(row.at(3 + k).toDouble(), s + k);
            const QDateTime when = base.addSecs(static_cast<qint64>(s));
            QCOMPARE(row.at(1).toDouble(), daySerial(when.date()));
            QCOMPARE(row.at(2).toDouble(), dayFraction(when.time()));
        }
    }
};

QTEST_GUILESS_MAIN(TestStore)
#include "tst_store.moc"
