// What the running tool costs: the real start-up (splash, overview, poller,
// recorder) in this process, offscreen, with "打开" pressed on a zelmar-sim at
// 9600 baud. For an instrument that answers and for one that is silent:
//   - the CPU time the process uses per minute (getrusage, no probe running);
//   - the longest time the event loop is blocked, seen as the largest gap
//     between the ticks of a 1 ms timer.
//
// Run by hand: ./bench_overview [seconds per phase, default 60]

#include "benchtool.h"
#include "overviewwindow.h"
#include "simulator.h"
#include "splash.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>

namespace
{

constexpr int kPort = 1;

// Runs the event loop for `seconds` and returns the CPU seconds used.
double cpuOver(int seconds)
{
    const double before = cpuSeconds();
    QTest::qWait(seconds * 1000);
    return cpuSeconds() - before;
}

// Runs the event loop for `seconds` with a 1 ms timer; returns the largest gap
// between its ticks in milliseconds.
double longestStall(int seconds)
{
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(1);
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.nsecsElapsed());
        sinceTick.restart();
    });
    sinceTick.start();
    probe.start();
    QTest::qWait(seconds * 1000);
    return longest / 1e6;
}

void measure(const char *what, const QStringList &simulatorArguments, int seconds)
{
    Simulator sim(simulatorArguments);
    if (!sim.start(kPort)) {
        std::printf("%s: zelmar-sim did not start\n", what);
        return;
    }
    OverviewWindow *overview = ssqx();
    openPortOneAt9600(overview);
    QTest::qWait(2000); // settle: first polls, first recordings

    const double cpu = cpuOver(seconds);
    const double stall = longestStall(seconds);
    std::printf("%-22s CPU %.2f s per minute (%.1f %% of one core), longest event-loop stall "
                "%.1f ms\n",
                what, cpu * 60.0 / seconds, cpu * 100.0 / seconds, stall);
    std::fflush(stdout);

    overview->findChild<QPushButton *>(QStringLiteral("Command10"))->click(); // 关闭
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

    startTool();
    QTest::qWait(2000); // the splash hands over after about 1.5 s

    std::printf("zelmar offscreen, zelmar-sim at 9600 baud, %d s per phase\n", seconds);
    measure("instrument answering", {}, seconds);
    measure("instrument silent", {QStringLiteral("--silent")}, seconds);
    return 0;
}
