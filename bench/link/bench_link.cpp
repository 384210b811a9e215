// How long the poller's exchanges take against zelmar-sim on a pseudo-terminal,
// and how long one call blocks when the instrument is silent, per baud rate.

#include "modbuslink.h"
#include "simulator.h"

#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

namespace
{

constexpr qint32 kPort = 1;
constexpr qint32 kAddress = 1;
constexpr qint32 kParityNone = 0;
constexpr int kPollRounds = 100;
constexpr int kSilentRounds = 10;
constexpr std::array<int, 3> kBaudRates{4800, 9600, 19200};
// Bytes on the wire for one poll: input registers 1..16 (8 + 37), discrete
// inputs 1..16 (8 + 7), coils 1..8 (8 + 6); 11 bits per character.
constexpr int kPollWireBytes = 74;
constexpr int kBitsPerCharacter = 11;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

// One tick of the poller: its three exchanges; returns milliseconds, or -1 on a failure.
double timePoll()
{
    std::array<qint32, 16> registers{};
    std::array<qint32, 2> words{};
    QElapsedTimer t;
    t.start();
    const bool ok = Get_3X_DX(kPort, kAddress, 1, 16, registers.data()) == 0 &&
                    Get_1X_B16(kPort, kAddress, 1, words.data()) == 0 &&
                    Get_0X_B16(kPort, kAddress, 1, words.data()) == 0;
    return ok ? t.nsecsElapsed() / 1e6 : -1;
}

} // namespace

int main()
{
    std::printf("zelmar-sim on a pseudo-terminal (no line speed: wire time is not included)\n\n");

    Simulator sim;
    if (!sim.start(kPort) || OpenPort_Modbus(kPort, 1, kParityNone) != 0) {
        std::fprintf(stderr, "bench_link: the simulator did not come up\n");
        return 1;
    }
    timePoll(); // the first coil read learns that the instrument has 8 coils
    std::vector<double> polls;
    for (int i = 0; i < kPollRounds; ++i) {
        const double ms = timePoll();
        if (ms < 0) {
            std::fprintf(stderr, "bench_link: a poll failed\n");
            return 1;
        }
        polls.push_back(ms);
    }
    std::printf("one poll (3X 1..16, 1X 1..16, 0X 1..8), %d rounds:\n", kPollRounds);
    std::printf("  median %.2f ms   p99 %.2f ms   max %.2f ms\n", percentile(polls, 0.5),
                percentile(polls, 0.99), percentile(polls, 1.0));
    std::printf("  wire time on a real line (%d bytes): ", kPollWireBytes);
    for (int baud : kBaudRates)
        std::printf("%d: %.0f ms  ", baud, 1000.0 * kPollWireBytes * kBitsPerCharacter / baud);
    std::printf("\n\n");
    ClosePort_Modbus(kPort);

    if (!sim.restart({QStringLiteral("--silent")})) {
        std::fprintf(stderr, "bench_link: the silent simulator did not come up\n");
        return 1;
    }
    std::printf("silent instrument, one call (Get_3X_DX 1..16), median of %d:\n", kSilentRounds);
    std::printf("  %-6s %-14s %-14s %-14s\n", "baud", "time-out", "blocks", "Set_4X_D1");
    for (qint32 code = 0; code < static_cast<qint32>(kBaudRates.size()); ++code) {
        OpenPort_Modbus(kPort, code, kParityNone);
        std::vector<double> reads;
        std::vector<double> writes;
        std::array<qint32, 16> registers{};
        for (int i = 0; i < kSilentRounds; ++i) {
            QElapsedTimer t;
            t.start();
            Get_3X_DX(kPort, kAddress, 1, 16, registers.data());
            reads.push_back(t.nsecsElapsed() / 1e6);
            t.restart();
            Set_4X_D1(kPort, kAddress, 20, 1);
            writes.push_back(t.nsecsElapsed() / 1e6);
        }
        std::printf("  %-6d %8.1f ms    %8.1f ms    %8.1f ms\n", kBaudRates[code],
                    linkTimeouts(code).responseUs / 1000.0, percentile(reads, 0.5),
                    percentile(writes, 0.5));
    }
    ClosePort_Modbus(kPort);
    return 0;
}
