// How long one read cycle of the configuration window takes against zelmar-sim
// at 9600 baud: the two block reads of 32 holding registers, the yield between
// them and the 53 value-label updates, with the reads alone for comparison.

#include "configwindow.h"
#include "modbuslink.h"
#include "shared.h"
#include "simulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

constexpr qint32 kPort = 1;
constexpr qint32 kAddress = 1;
constexpr qint32 kBaud9600 = 1;
constexpr int kDefaultCycles = 200;
// Bytes on the wire for one cycle: two reads of 32 holding registers, each a
// request of 8 and a reply of 5 + 64; 10 bits per character with no parity.
constexpr int kCycleWireBytes = 2 * (8 + 5 + 64);
constexpr int kBitsPerCharacter = 10;
constexpr int kBitsPerSecond = 9600;

struct Figures {
    double median;
    double longest;
};

Figures figuresOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    return {ms[ms.size() / 2], ms.back()};
}

template <typename Step> std::vector<double> timed(int rounds, Step step)
{
    std::vector<double> ms;
    ms.reserve(rounds);
    for (int i = 0; i < rounds; ++i) {
        QElapsedTimer t;
        t.start();
        step();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int cycles = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultCycles;

    Simulator sim;
    if (!sim.start(kPort) || OpenPort_Modbus(kPort, kBaud9600, 0) != 0) {
        std::fprintf(stderr, "bench_config: the simulator did not come up\n");
        return 1;
    }
    CommSettings[CommIndex::Port] = kPort;
    CommSettings[CommIndex::BaudCode] = kBaud9600;
    CommSettings[CommIndex::Address] = kAddress;

    ConfigWindow *window = CONFIG1();
    window->findChild<QTimer *>(QStringLiteral("Timer1"))->stop(); // the bench ticks it
    window->show();
    window->readCycle(); // warm-up: fonts, first layout of the labels

    const Figures cycle = figuresOf(timed(cycles, [window] { window->readCycle(); }));
    std::array<qint32, 64> table{};
    const Figures reads = figuresOf(timed(cycles, [&table] {
        Get_4X_DX(kPort, kAddress, 1, 32, &table[0]);
        Get_4X_DX(kPort, kAddress, 33, 32, &table[32]);
    }));

    std::printf("zelmar-sim on a pseudo-terminal at 9600 baud (the pty does not pace the line)\n");
    std::printf("%d read cycles\n", cycles);
    std::printf(
        "read cycle (2 x 32 registers, yield, 53 labels): median %.3f ms, longest %.3f ms\n",
        cycle.median, cycle.longest);
    std::printf(
        "the two block reads alone:                         median %.3f ms, longest %.3f ms\n",
        reads.median, reads.longest);
    std::printf("wire time of one cycle on a real 9600-baud line:   %.1f ms (%d bytes)\n",
                kCycleWireBytes * kBitsPerCharacter * 1000.0 / kBitsPerSecond, kCycleWireBytes);
    delete window;
    return 0;
}
