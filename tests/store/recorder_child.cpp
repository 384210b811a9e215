// Another program on the recording database.
//   store_recorder_child DB BASE   runs a recorder on DB with a clock that
//       moves one second per tick from BASE, as fast as it can, until it is
//       killed. Recording number s holds the values s, s+1, ..., s+7 and the
//       time BASE + s seconds, so a test can tell a complete row and the newest.
//   store_recorder_child DB --read prints the newest pv_data id and exits.
//   store_recorder_child DB --die-mid-transaction writes over every pv_data
//       value 0 with -1 through a rollback journal and a cache too small for
//       the change, so that changed pages reach the file before the commit;
//       prints "mid-transaction" and waits to be killed, leaving a hot journal.
#include "clock.h"
#include "recorder.h"
#include "shared.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>

#include <cstdio>

namespace
{
int dieMidTransaction(const QString &path)
{
    QSqlDatabase db =
        QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("writer"));
    db.setDatabaseName(path);
    QSqlQuery query(db);
    const bool started = db.open() && query.exec(QStringLiteral("PRAGMA journal_mode=DELETE")) &&
                         query.exec(QStringLiteral("PRAGMA cache_size=1")) &&
                         query.exec(QStringLiteral("BEGIN")) &&
                         query.exec(QStringLiteral("UPDATE pv_data SET v0 = -1")) &&
                         query.exec(QStringLiteral("UPDATE sl_void SET newest_pv = 1"));
    if (!started)
        return 3;
    std::puts("mid-transaction");
    std::fflush(stdout);
    for (;;)
        QThread::sleep(1);
}
} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
    if (qstrcmp(argv[2], "--die-mid-transaction") == 0)
        return dieMidTransaction(QString::fromLocal8Bit(argv[1]));
    if (qstrcmp(argv[2], "--read") == 0) {
        RecordingStore store(QStringLiteral("reader"));
        const std::optional<SlVoid> counters =
            store.open(QString::fromLocal8Bit(argv[1])) ? store.readCounters() : std::nullopt;
        std::printf("%d\n", counters ? counters->newestPv : -1);
        return counters ? 0 : 3;
    }
    const QDateTime base = QDateTime::fromString(QString::fromLocal8Bit(argv[2]), Qt::ISODate);
    resetSharedState();
    SystemClock::setFixed(base);
    Recorder recorder(nullptr, QStringLiteral("child"));
    recorder.load(QString::fromLocal8Bit(argv[1]));
    if (!recorder.store().isOpen())
        return 3;
    for (qint64 s = 1;; ++s) {
        SystemClock::setFixed(base.addSecs(s));
        for (int k = 0; k < 8; ++k)
            ProcessValues[k] = static_cast<float>(s + k);
        recorder.tick();
        if (s == 1) {
            std::puts("recording");
            std::fflush(stdout);
        }
    }
}
