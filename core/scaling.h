#pragma once

// The instrument's own scaling of its four channels: the input type and the
// decimal point it shows each channel's value with, its input range and the
// temperature unit. The channel registers hold integers (2515 with one decimal
// is 251.5); these plain functions turn them into engineering values and units.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <optional>

constexpr int kScaledChannels = 4;

// Holding registers 25..48 hold the scaling: per channel (register 25 + 5 × its
// index) the input type, the decimal point, the input upper and lower limits
// and the zero shift; register 48 the temperature unit. One FC03 read of these
// 24 registers takes all of it.
constexpr int kScalingFirstRegister = 25;
constexpr int kScalingRegisterCount = 24;
constexpr int kChannelRegisterStride = 5;
constexpr int kInputTypeOffset = 0;
constexpr int kDecimalsOffset = 1;
constexpr int kInputUpperOffset = 2;
constexpr int kInputLowerOffset = 3;
constexpr int kTemperatureUnitRegister = 48;

// The codes the instrument knows: input types 0..31 (0..13 thermocouples and
// RTDs, 14..16 resistance, 17..31 linear signals), decimal points 0..4,
// temperature units 0..2.
constexpr qint32 kInputTypeHighest = 31;
constexpr qint32 kLastTemperatureType = 13;
constexpr qint32 kLastResistanceType = 16;
constexpr qint32 kDecimalsHighest = 4;

// Register 48's codes.
enum class TemperatureUnit : qint32 { Celsius = 0, Fahrenheit = 1, Kelvin = 2 };

// What an input type measures, which decides where its unit comes from.
enum class InputFamily {
    Temperature, // the temperature unit of register 48
    Resistance,  // Ω
    Linear,      // scaled by the instrument to its input range: the operator names the unit
};

// One channel's scaling as read from the instrument, with its unit resolved.
struct ChannelScaling {
    qint32 inputType = 0;
    qint32 decimals = 0;
    qint32 upper = 0;
    qint32 lower = 0;
    QString unit; // empty: an unnamed linear unit

    bool operator==(const ChannelScaling &other) const;
    bool operator!=(const ChannelScaling &other) const { return !(*this == other); }
};

// The scaling known per channel; a channel never read well holds nothing (raw, unit unknown).
using KnownScaling = std::array<std::optional<ChannelScaling>, kScaledChannels>;
// The operator's names of the linear channels' units, per channel; empty when not named.
using OperatorUnits = std::array<QString, kScaledChannels>;
// Registers 25..48 as read, register 25 first.
using ScalingRegisters = std::array<qint32, kScalingRegisterCount>;

// The family of a valid input type (0..31).
InputFamily inputFamily(qint32 inputType);
// Register 48's code as a unit; nullopt outside 0..2.
std::optional<TemperatureUnit> temperatureUnitFromCode(qint32 code);
// "°C", "°F" or "K".
QString temperatureUnitText(TemperatureUnit unit);
// The unit of a channel of valid input type: the temperature unit for 0..13,
// "Ω" for 14..16, the operator's name (possibly empty) for 17..31.
QString channelUnit(qint32 inputType, TemperatureUnit temperature, const QString &operatorUnit);

// Why a channel with this input type and decimal point cannot be scaled, in
// the operator's words ("CH2 小数点 7 超出 0～4"); empty when it can. `channel` is 0..3.
QString channelScalingProblem(int channel, qint32 inputType, qint32 decimals);

// What one read of registers 25..48 says: per channel the scaling, or nothing
// with the reason in `problems` (a value out of range).
struct ScalingReading {
    KnownScaling channels;
    QStringList problems;
};
// Reads the scaling out of registers 25..48. A temperature unit out of 0..2
// leaves only the temperature channels without scaling.
ScalingReading scalingFromRegisters(const ScalingRegisters &registers, const OperatorUnits &units);
// The scaling in force after a reading: each channel the reading scaled,
// the one known before for the others (a bad value keeps the last known scaling).
KnownScaling mergeScaling(const KnownScaling &before, const KnownScaling &reading);

// What is known with the operator's names for the linear channels' units.
KnownScaling withOperatorUnits(const KnownScaling &known, const OperatorUnits &units);

// The engineering value of a raw channel integer as exact decimal text: the
// integer's digits with the point inserted `decimals` places from the right
// (-5 with 1 → "-0.5", 2515 with 2 → "25.15", 7 with 3 → "0.007"). Decimals
// outside 0..4 give the integer as it is.
QString engineeringText(qint64 raw, qint32 decimals);
// The most characters an engineering text takes: a sign, 19 digits, a point, leading zeros.
constexpr int kEngineeringTextRoom = 32;
// engineeringText() written at `out` (room for kEngineeringTextRoom); past it.
char *writeEngineeringText(char *out, qint64 raw, qint32 decimals);
// engineeringText() at the end of `out` (its characters are all Latin-1).
void appendEngineeringText(QByteArray &out, qint64 raw, qint32 decimals);
// The same value as a number (for JSON and charts): raw / 10^decimals.
double engineeringValue(qint64 raw, qint32 decimals);

// A unit name as the operator typed it, checked: surrounding blanks trimmed;
// refused when it holds a control character, a quote (" ' `), a backslash, a
// comma or a semicolon (which would split or escape a CSV field, a JSON string
// or an SQL literal) or more than kUnitTextLongest characters. Empty is allowed:
// it clears the name.
constexpr qsizetype kUnitTextLongest = 16;
struct UnitTextCheck {
    bool accepted = false;
    QString unit;    // the unit to keep, when accepted
    QString message; // why it was refused, in the operator's words
};
UnitTextCheck checkUnitText(const QString &text);

// "通道一" .. "通道四": how the CSV header and the journal name a channel (0..3).
QString channelName(int channel);
