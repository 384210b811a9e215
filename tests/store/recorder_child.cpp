// Another program on the recording database.
//   store_recorder_child DB BASE   runs a recorder on DB with a clock that
//       moves one second per tick from BASE, as fast as it can, until it is
//       killed. Recording number s holds the values s, s+1, ..., s+7 and the
//       time BASE + s seconds, so a test can tell a complete row and the newest.
//   store_recorder_child DB --read prints the newest pv_data id and exits.
#include "clock.h"
#include "recorder.h"
#include "shared.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc < 3)
        return 2;
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
