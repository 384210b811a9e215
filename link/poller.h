#pragma once

#include "modbuslink.h"

#include <QElapsedTimer>
#include <QObject>
#include <QtGlobal>

#include <array>
#include <chrono>

class QTimer;

// The three link reads a poll makes. The poller calls them through this narrow
// seam so that a test can deliver what a real exchange never does (a bit slot
// outside 0..255); everything else uses the real link operations.
struct PollerReads {
    qint32 (*inputRegisters)(qint32 port, qint32 address, qint32 first, qint32 count,
                             qint32 *buffer);
    qint32 (*discreteInputs)(qint32 port, qint32 address, qint32 first, qint32 *buffer);
    qint32 (*coils)(qint32 port, qint32 address, qint32 first, qint32 *buffer);

    // Get_3X_DX, Get_1X_B16 and Get_0X_B16.
    static PollerReads link();
};

// What one poll delivered: whether each read's exchange succeeded and, for the
// bit slots, whether the slot held a byte (0..255) that the tables took. A
// state that was not delivered is the one the tables kept from before.
struct PollDelivery {
    bool registers = false;  // input registers 1..16
    bool inputsLow = false;  // discrete inputs 1..8
    bool inputsHigh = false; // discrete inputs 9..16
    bool coils = false;      // coils 1..8
};

// The hidden poller Met1: while the port is open it reads the instrument's 16
// input registers, 16 discrete inputs and 8 coils into the shared tables
// InputRegisters/ProcessValues, InputStates and CoilStates every 500 ms.
class Poller : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kPollInterval{500};

    explicit Poller(QObject *parent = nullptr);

    // Timer1: started by "打开", stopped by "关闭"; the first poll follows one interval later.
    void startPolling();
    void stopPolling();
    bool isPolling() const;

    // One poll: the three reads, with a yield to pending window messages between them.
    void tick();

    // Unpacks b into the bit buffer: bit i (value 2^i) becomes element i, 0 or 1.
    void D_Byte(quint8 b);

    // How long ago the last poll began: what is gone of its slot.
    std::chrono::microseconds sinceTickStart() const;

    // Replaces the three reads (tests); PollerReads::link() restores the real ones.
    void setReads(const PollerReads &reads) { m_reads = reads; }

signals:
    // Each poll's end, the tables holding its results: what it delivered.
    void polled(const PollDelivery &delivery);

private:
    // Unpacks one word slot into eight table elements from `first` on; a slot
    // outside 0..255 leaves them as they are (false).
    template <typename Table> bool storeBits(qint32 slot, Table &table, int first);

    QTimer *m_timer1 = nullptr;
    QElapsedTimer m_tickClock;
    PollerReads m_reads = PollerReads::link();
    std::array<quint8, kLinkBitsPerSlot> m_bits{};
    // Receive buffer of the two packed bit reads, shared by them and never cleared.
    std::array<qint32, 8> m_words{};
};

// The poller's single instance, created (hidden, timer stopped) on first use.
Poller *Met1();
