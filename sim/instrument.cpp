#include "instrument.h"

#include <algorithm>
#include <cmath>

namespace
{

constexpr double kPi = 3.14159265358979323846;

// Registers of the configuration (1-based, as the configuration window numbers them).
constexpr int kRegSetValue1 = 1;   // set value SV of channel n at 1 + 2(n-1)
constexpr int kRegAlarmValue1 = 2; // alarm value of channel n at 2 + 2(n-1)
constexpr int kRegAlarmMode1 = 9;  // alarm mode of channel n at 9 + 2(n-1)
constexpr int kRegAddress = 17;
constexpr int kRegRetransChannel = 21;
constexpr int kRegRetransHigh = 23;
constexpr int kRegRetransLow = 24;
constexpr int kRegRelayFunction = 49; // 0 relays follow the alarms, 1 on/off control

// Input registers 6..16 beside the channel values: a cold-junction temperature
// and the rest of the instrument's status words, constant here.
constexpr int kColdJunction = 25;

// One slow wave per channel: centre, swing and period in seconds, chosen so that
// each channel crosses its configured alarm value now and then.
struct Wave {
    double centre;
    double swing;
    double period;
    double phase;
};
constexpr std::array<Wave, Instrument::kChannels> kWaves{{
    {150.0, 120.0, 60.0, 0.0}, // thermocouple K, 30..270, alarm above 250
    {80.0, 40.0, 45.0, 1.0},   // PT100, 40..120, alarm above 110
    {200.0, 90.0, 90.0, 2.0},  // thermocouple J, 110..290, alarm below 130
    {60.0, 35.0, 75.0, 3.0},   // 4-20 mA as 0..100 %, 25..95, alarm above 90
}};

// A believable configuration, registers 1..53; 54..64 stay 0.
constexpr std::array<int16_t, 53> kDefaultConfiguration{{
    200,  250, 100,  110,  150, 130, 60, 90, // set values and alarm values
    1,    2,   1,    2,    2,   2,   1,  2,  // alarm modes and delays per channel
    1,    1,   0,    5,                      // address (replaced), baud 9600, no parity, delay
    1,    0,   300,  0,                      // retransmit channel 1, 4-20 mA, 0..300
    0,    0,   1300, -200, 0,                // channel 1: K, no decimals, range, shift
    11,   0,   850,  -200, 0,                // channel 2: PT100
    5,    0,   1200, 0,    -3,               // channel 3: J
    19,   0,   100,  0,    0,                // channel 4: 4-20 mA
    1234, 10,  25,   0,                      // password, screen time, filter 2.5 s, Celsius
    0,    0,   0,    0,    0,                // relay and open-input handling
}};

} // namespace

Instrument::Instrument(int address)
{
    for (size_t i = 0; i < kDefaultConfiguration.size(); ++i)
        m_holding[i] = static_cast<uint16_t>(kDefaultConfiguration[i]);
    setHolding(kRegAddress, static_cast<int16_t>(address));
}

int16_t Instrument::holding(int reg) const
{
    if (reg < 1 || reg > kHoldingRegisters)
        return 0;
    return static_cast<int16_t>(m_holding[reg - 1]);
}

void Instrument::setHolding(int reg, int16_t value)
{
    if (reg >= 1 && reg <= kHoldingRegisters)
        m_holding[reg - 1] = static_cast<uint16_t>(value);
}

int Instrument::channelValue(int channel, double seconds)
{
    const Wave &w = kWaves.at(channel - 1);
    return static_cast<int>(
        std::lround(w.centre + w.swing * std::sin(2.0 * kPi * seconds / w.period + w.phase)));
}

bool Instrument::alarmRaised(int mode, int value, int sv, int al)
{
    switch (mode) {
    case 1:
        return value > al;
    case 2:
        return value < al;
    case 3:
        return value > sv + al;
    case 4:
        return value < sv - al;
    case 5:
        return std::abs(value - sv) > al;
    default:
        return false;
    }
}

int Instrument::retransmission(int value, int high, int low)
{
    if (high == low)
        return 0;
    const double percent = 100.0 * (value - low) / (high - low);
    return static_cast<int>(std::lround(std::clamp(percent, 0.0, 100.0)));
}

void Instrument::update(double seconds)
{
    std::array<int, kChannels> values{};
    for (int ch = 1; ch <= kChannels; ++ch)
        values[ch - 1] = channelValue(ch, seconds);
    int channel = holding(kRegRetransChannel);
    if (channel < 1 || channel > kChannels)
        channel = 1;
    m_inputs.fill(0);
    for (int ch = 0; ch < kChannels; ++ch)
        m_inputs[ch] = static_cast<uint16_t>(values[ch]);
    m_inputs[5] = kColdJunction;
    for (size_t i = 0; i < m_fixedValues.size() && i < m_inputs.size(); ++i)
        m_inputs[i] = static_cast<uint16_t>(m_fixedValues[i]);
    // The retransmission register follows whatever the channel shows, fixed or not.
    if (m_fixedValues.size() < 5) {
        const int shown = static_cast<int16_t>(m_inputs[channel - 1]);
        m_inputs[4] = static_cast<uint16_t>(
            retransmission(shown, holding(kRegRetransHigh), holding(kRegRetransLow)));
    }

    m_discrete.fill(0);
    m_coils.fill(0);
    for (int ch = 0; ch < kChannels; ++ch) {
        const int shown = static_cast<int16_t>(m_inputs[ch]);
        const bool alarm =
            alarmRaised(holding(kRegAlarmMode1 + 2 * ch), shown, holding(kRegSetValue1 + 2 * ch),
                        holding(kRegAlarmValue1 + 2 * ch));
        m_discrete[3 * ch] = alarm;  // channel alarm; open and short circuit stay 0
        m_discrete[12 + ch] = alarm; // alarm 1..4
        const bool below = shown < holding(kRegSetValue1 + 2 * ch);
        m_coils[ch] = holding(kRegRelayFunction) == 1 ? below : alarm;
    }
    if (m_fixedInputs)
        for (int i = 0; i < kDiscreteInputs; ++i)
            m_discrete[i] = (*m_fixedInputs >> i) & 1;
    if (m_fixedCoils)
        for (int i = 0; i < kCoils; ++i)
            m_coils[i] = (*m_fixedCoils >> i) & 1;
}

void Instrument::flipChattering(double seconds)
{
    if (m_chatterMask == 0 || m_chatterMs <= 0)
        return;
    const auto flips = static_cast<long long>(seconds * 1000.0 / m_chatterMs);
    if (flips % 2 == 1)
        for (int i = 0; i < kDiscreteInputs; ++i)
            if ((m_chatterMask >> i) & 1)
                m_discrete[i] ^= 1;
}
