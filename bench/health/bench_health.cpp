// How quickly and cheaply the tool notices a fault and heals, with the real
// start-up (splash, overview with its status strip, poller, recorder) in this
// process, offscreen, and zelmar-sim at 9600 baud on port 1:
//   - from the instrument falling silent (its process stopped) to the strip
//     showing "无应答", median and largest of 20;
//   - from the vanished device returning (its link published again) to the
//     strip showing "在线", median and largest of 10;
//   - the CPU time per minute while the device is absent (retrying every 2 s)
//     against a minute with the instrument answering;
//   - the cost of the health bookkeeping of one exchange against one poll.
//
// Run by hand: ./bench_health [seconds per CPU phase, default 60]

#include "benchtool.h"
#include "healthmonitor.h"
#include "linkhealth.h"
#include "modbuslink.h"
#include "overviewwindow.h"
#include "poller.h"
#include "portconnection.h"
#include "simulator.h"
#include "splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

constexpr int kPort = 1;
constexpr int kSilenceRuns = 20;
constexpr int kReturnRuns = 10;
constexpr int kWaitLimitMs = 10000;
constexpr int kBookkeepingCalls = 1'000'000;
constexpr int kPolls = 40;

QString stripState()
{
    const auto *label = ssqx()->findChild<QLabel *>(QStringLiteral("StripLink"));
    return label ? label->text() : QString();
}

// Runs the event loop until the strip shows `text`; the milliseconds it took,
// or -1 after kWaitLimitMs. The moment is taken when the strip changes (it
// follows the monitor at once), not when this loop next looks: the poll that
// noticed the fault may still be running its remaining time-outs then.
double waitForStrip(const QString &text)
{
    QElapsedTimer waited;
    waited.start();
    double shownAt = stripState() == text ? 0 : -1;
    const auto watch =
        QObject::connect(toolHealthMonitor(linkHealth()), &HealthMonitor::changed, [&] {
            if (shownAt < 0 && stripState() == text)
                shownAt = waited.nsecsElapsed() / 1e6;
        });
    while (shownAt < 0 && waited.elapsed() <= kWaitLimitMs)
        QTest::qWait(1);
    QObject::disconnect(watch);
    return shownAt;
}

void report(const char *what, std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty() || ms.front() < 0) {
        std::printf("%-34s did not happen within %d ms\n", what, kWaitLimitMs);
        return;
    }
    std::printf("%-34s median %.0f ms, largest %.0f ms (%zu runs)\n", what, ms[ms.size() / 2],
                ms.back(), ms.size());
    std::fflush(stdout);
}

// A random wait, so that the fault falls anywhere in the poll's cycle.
void randomWait(int maxMs)
{
    QTest::qWait(int(QRandomGenerator::global()->bounded(maxMs)));
}

void silenceToNoAnswer(Simulator &sim)
{
    std::vector<double> ms;
    for (int run = 0; run < kSilenceRuns; ++run) {
        if (waitForStrip(QStringLiteral("在线")) < 0)
            break;
        randomWait(int(Poller::kPollInterval.count()));
        sim.pause();
        ms.push_back(waitForStrip(QStringLiteral("无应答")));
        sim.resume();
    }
    report("silence -> strip \"无应答\"", ms);
}

void returnToLive(Simulator &sim)
{
    std::vector<double> ms;
    for (int run = 0; run < kReturnRuns; ++run) {
        if (waitForStrip(QStringLiteral("在线")) < 0 || !sim.vanish() ||
            waitForStrip(QStringLiteral("端口丢失")) < 0)
            break;
        randomWait(int(PortReconnection::kRetryInterval.count()));
        if (!sim.comeBack())
            break;
        ms.push_back(waitForStrip(QStringLiteral("在线")));
    }
    report("device back -> strip \"在线\"", ms);
}

double cpuPerMinute(int seconds)
{
    const double before = cpuSeconds();
    QTest::qWait(seconds * 1000);
    return (cpuSeconds() - before) * 60.0 / seconds;
}

void cpuAbsentAndLive(Simulator &sim, int seconds)
{
    waitForStrip(QStringLiteral("在线"));
    const double live = cpuPerMinute(seconds);
    sim.vanish();
    waitForStrip(QStringLiteral("端口丢失"));
    const double absent = cpuPerMinute(seconds);
    sim.comeBack();
    std::printf("CPU per minute: instrument answering %.2f s, device absent %.2f s\n", live,
                absent);
    std::fflush(stdout);
}

void bookkeepingAgainstAPoll()
{
    waitForStrip(QStringLiteral("在线"));
    Met1()->stopPolling();
    std::vector<double> polls;
    for (int i = 0; i < kPolls; ++i) {
        QElapsedTimer poll;
        poll.start();
        Met1()->tick();
        polls.push_back(poll.nsecsElapsed() / 1e3);
    }
    std::sort(polls.begin(), polls.end());
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < kBookkeepingCalls; ++i)
        ExchangeWatch(kPort, 1).done(true);
    const double perExchangeUs = timer.nsecsElapsed() / 1e3 / kBookkeepingCalls;
    // A poll is three exchanges once the 16-coil read has been refused after the opening.
    std::printf("health bookkeeping %.3f us per exchange, %.3f us per poll; a poll takes %.0f us "
                "(median of %d): %.4f %%\n",
                perExchangeUs, 3 * perExchangeUs, polls[polls.size() / 2], kPolls,
                300 * perExchangeUs / polls[polls.size() / 2]);
    std::fflush(stdout);
    Met1()->startPolling();
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : 60;

    QTemporaryDir dir;
    qputenv("ZELMAR_DB", QFile::encodeName(dir.filePath(QStringLiteral("Rdatabj.db"))));
    Simulator sim;
    if (!sim.start(kPort)) {
        std::printf("zelmar-sim did not start\n");
        return 1;
    }
    startTool();
    QTest::qWait(2000); // the splash hands over after about 1.5 s
    OverviewWindow *overview = ssqx();
    openPortOneAt9600(overview);

    std::printf("zelmar offscreen, zelmar-sim at 9600 baud, %d s per CPU phase\n", seconds);
    silenceToNoAnswer(sim);
    returnToLive(sim);
    bookkeepingAgainstAPoll();
    cpuAbsentAndLive(sim, seconds);
    return 0;
}
