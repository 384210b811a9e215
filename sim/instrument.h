#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// The simulated ZELMAR indicator: its four channel values, the retransmission
// value, the alarm, open- and short-circuit states, the relays and the 64
// configuration registers. Plain data and pure computation; the serving loop
// copies it into libmodbus's register mapping.
class Instrument
{
public:
    static constexpr int kInputRegisters = 16;
    static constexpr int kDiscreteInputs = 16;
    static constexpr int kCoils = 8;
    static constexpr int kHoldingRegisters = 64;
    static constexpr int kChannels = 4;

    explicit Instrument(int address);

    // Holding register `reg` (1-based) as the configuration holds it; 0 outside 1..64.
    int16_t holding(int reg) const;
    // Sets holding register `reg` (1-based); a number outside 1..64 changes nothing.
    void setHolding(int reg, int16_t value);
    // All 64 holding registers, for the serving loop to copy to and from libmodbus.
    std::array<uint16_t, kHoldingRegisters> &holdingRegisters() { return m_holding; }

    // Fixes input registers 1..n (--values) or discrete inputs / coils (--inputs, --coils).
    void fixValues(const std::vector<int16_t> &values) { m_fixedValues = values; }
    void fixInputs(uint16_t mask) { m_fixedInputs = mask; }
    void fixCoils(uint8_t mask) { m_fixedCoils = mask; }
    // Flips the discrete inputs in `mask` every `periodMs` milliseconds (--chatter).
    void chatter(uint16_t mask, int periodMs)
    {
        m_chatterMask = mask;
        m_chatterMs = periodMs;
    }

    // Recomputes every measured quantity for the moment `seconds` after start.
    void update(double seconds);
    // After update(): the chattering inputs flipped as they stand `seconds`
    // after start (real time, also while the values are frozen).
    void flipChattering(double seconds);

    // What the last update() measured: input registers 1..16, discrete inputs
    // 1..16 and coils 1..8, in number order.
    const std::array<uint16_t, kInputRegisters> &inputRegisters() const { return m_inputs; }
    const std::array<uint8_t, kDiscreteInputs> &discreteInputs() const { return m_discrete; }
    const std::array<uint8_t, kCoils> &coils() const { return m_coils; }

    // The value a channel (1..4) shows at `seconds` when nothing is fixed.
    static int channelValue(int channel, double seconds);
    // Whether a channel value raises its alarm under alarm mode `mode` with set
    // value `sv` and alarm value `al` (modes 0 none .. 5 deviation band).
    static bool alarmRaised(int mode, int value, int sv, int al);
    // The retransmission output in percent (0..100) of `value` between `low` and `high`.
    static int retransmission(int value, int high, int low);

private:
    std::array<uint16_t, kHoldingRegisters> m_holding{};
    std::array<uint16_t, kInputRegisters> m_inputs{};
    std::array<uint8_t, kDiscreteInputs> m_discrete{};
    std::array<uint8_t, kCoils> m_coils{};
    std::vector<int16_t> m_fixedValues;
    std::optional<uint16_t> m_fixedInputs;
    std::optional<uint8_t> m_fixedCoils;
    uint16_t m_chatterMask = 0;
    int m_chatterMs = 0;
};
