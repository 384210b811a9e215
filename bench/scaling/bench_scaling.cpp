// What reading and applying the instrument's scaling costs: the poll period
// with a scaling read after every poll against with none (zelmar-sim on a
// pseudo-terminal, replies delayed as a line at 9600 bit/s delays them), and
// the CSV export of a full 1-second ring in engineering values against raw.

#include "csvexport.h"
#include "daytime.h"
#include "median.h"
#include "modbuslink.h"
#include "poller.h"
#include "portconnection.h"
#include "recordingfixture.h"
#include "ringquery.h"
#include "scalinglog.h"
#include "scalingwatch.h"
#include "shared.h"
#include "simulator.h"
#include "store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

namespace
{

constexpr qint32 kPort = 1;
constexpr qint32 kAddress = 1;
constexpr qint32 kBaud9600 = 1;
// A reply of 16 registers takes about 45 characters on the wire at 9600 bit/s.
constexpr char kReplyDelayMs[] = "45";
constexpr int kCsvRuns = 5;

struct PollRun {
    std::vector<double> gapsMs; // between the starts of consecutive polls
    int reads = 0;
    int failures = 0;
};

// Polls for `seconds` on the poller's own 500 ms timer; with `scaling`, a read
// of registers 25..48 is asked for after every poll (far more often than the
// tool asks: at each opening and after a write only).
PollRun pollFor(int seconds, bool scaling)
{
    PollRun run;
    Poller poller;
    ScalingWatch watch;
    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> starts;
    QObject::connect(&poller, &Poller::polled, &watch, [&](const PollDelivery &delivery) {
        starts.push_back(clock.nsecsElapsed() - poller.sinceTickStart().count() * 1000);
        if (!scaling)
            return;
        watch.requestRead();
        watch.afterPoll(kPort, kAddress, kBaud9600, delivery.registers, poller.sinceTickStart());
    });
    poller.startPolling();
    QTimer::singleShot(seconds * 1000, QCoreApplication::instance(), &QCoreApplication::quit);
    QCoreApplication::exec();
    poller.stopPolling();
    for (size_t i = 1; i < starts.size(); ++i)
        run.gapsMs.push_back((starts[i] - starts[i - 1]) / 1e6);
    run.reads = watch.reads();
    run.failures = watch.failures();
    return run;
}

void report(const char *name, PollRun run)
{
    std::sort(run.gapsMs.begin(), run.gapsMs.end());
    if (run.gapsMs.empty()) {
        std::printf("%s: no polls\n", name);
        return;
    }
    std::printf("%s: %zu polls, gap between polls median %.1f ms, max %.1f ms; scaling reads %d "
                "(%d failed)\n",
                name, run.gapsMs.size() + 1, run.gapsMs[run.gapsMs.size() / 2], run.gapsMs.back(),
                run.reads, run.failures);
}

int benchCsv()
{
    // A full 1-second ring ending at noon, written beside the store's connection.
    RecordingFixture fixture(QStringLiteral("bench-scaling"));
    const qint64 newest = RecordingFixture::noon();
    if (!fixture.isReady() || !fixture.fillRing(kRecordRingIds, kRecordRingIds, newest) ||
        !prepareScalingTables(fixture.db()))
        return 1;
    // Every channel scaled from the ring's start, the decimal point of
    // channel 1 changed half-way: the lookups an export really makes.
    const auto at = [&](qint64 second) { return dateTimeOf(double(second) / 86400); };
    QVector<ScalingEntry> entries;
    for (int ch = 0; ch < kScaledChannels; ++ch)
        entries << ScalingEntry{at(newest - kRecordRingIds), ch,
                                ChannelScaling{0, 1, 13000, -2000, QStringLiteral("°C")}};
    entries << ScalingEntry{at(newest - kRecordRingIds / 2), 0,
                            ChannelScaling{0, 2, 13000, -2000, QStringLiteral("°C")}};
    if (!appendScalingEntries(fixture.db(), entries))
        return 1;
    fixture.store().close();
    const QString path = fixture.path();
    RingReader reader("bench-scaling-reader");
    if (reader.open(path) != RingReader::OpenResult::Opened)
        return 1;
    const double from = double(newest - (kRecordRingIds - 1)) / 86400;
    const double to = double(newest) / 86400;
    const QString csv = fixture.folder() + QStringLiteral("/ring.csv");
    History::RangeExport done;
    double ms[2] = {};
    const History::CsvValues kinds[2] = {History::CsvValues::Raw, History::CsvValues::Engineering};
    for (int k = 0; k < 2; ++k)
        ms[k] = medianNanoseconds(kCsvRuns,
                                  [&] {
                                      done = History::exportRange(
                                          reader, from, to, RecordTable::PvData, csv, {}, kinds[k]);
                                  }) /
                1e6;
    if (done.fault != History::RangeFault::None) {
        std::fprintf(stderr, "bench_scaling: export failed: %s\n", qPrintable(done.message));
        return 1;
    }
    std::printf("CSV of the whole 1 s ring, %lld rows (median of %d): raw %.1f ms, engineering "
                "values %.1f ms (%+.1f %%)\n",
                done.rows, kCsvRuns, ms[0], ms[1], 100.0 * (ms[1] - ms[0]) / ms[0]);
    reader.close();
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 60;
    if (benchCsv() != 0) {
        std::fprintf(stderr, "bench_scaling: the recording could not be made\n");
        return 1;
    }
    Simulator sim({"--delay", kReplyDelayMs});
    CommSettings[CommIndex::Port] = kPort;
    CommSettings[CommIndex::Address] = kAddress;
    if (!sim.start(kPort) ||
        openConnection(QString::number(kPort), kBaud9600, 0, QString::number(kAddress)) != 0) {
        std::fprintf(stderr, "bench_scaling: the simulator did not come up\n");
        return 1;
    }
    std::printf("poll period over %d s each, replies delayed %s ms (zelmar-sim)\n", seconds,
                kReplyDelayMs);
    report("scaling reads off", pollFor(seconds, false));
    report("scaling read after every poll", pollFor(seconds, true));
    closeConnection();
    return 0;
}
