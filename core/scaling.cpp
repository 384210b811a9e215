#include "scaling.h"

#include <cstring>

namespace
{

// A quote, backslash, comma or semicolon would close or split a CSV field, a
// JSON string or an SQL literal wherever the unit is written without escaping.
const QString kRefusedUnitCharacters = QStringLiteral("\"'`\\,;");

const char *const kTemperatureUnitTexts[] = {"°C", "°F", "K"};
const char *const kChannelNames[kScaledChannels] = {"通道一", "通道二", "通道三", "通道四"};

} // namespace

bool ChannelScaling::operator==(const ChannelScaling &other) const
{
    return inputType == other.inputType && decimals == other.decimals && upper == other.upper &&
           lower == other.lower && unit == other.unit;
}

InputFamily inputFamily(qint32 inputType)
{
    if (inputType <= kLastTemperatureType)
        return InputFamily::Temperature;
    if (inputType <= kLastResistanceType)
        return InputFamily::Resistance;
    return InputFamily::Linear;
}

std::optional<TemperatureUnit> temperatureUnitFromCode(qint32 code)
{
    if (code < qint32(TemperatureUnit::Celsius) || code > qint32(TemperatureUnit::Kelvin))
        return std::nullopt;
    return TemperatureUnit(code);
}

QString temperatureUnitText(TemperatureUnit unit)
{
    return QString::fromUtf8(kTemperatureUnitTexts[qint32(unit)]);
}

QString channelUnit(qint32 inputType, TemperatureUnit temperature, const QString &operatorUnit)
{
    switch (inputFamily(inputType)) {
    case InputFamily::Temperature:
        return temperatureUnitText(temperature);
    case InputFamily::Resistance:
        return QStringLiteral("Ω");
    case InputFamily::Linear:
        break;
    }
    return operatorUnit;
}

QString channelName(int channel)
{
    if (channel < 0 || channel >= kScaledChannels)
        return QString();
    return QString::fromUtf8(kChannelNames[channel]);
}

QString channelScalingProblem(int channel, qint32 inputType, qint32 decimals)
{
    const QString name = QStringLiteral("CH%1").arg(channel + 1);
    if (inputType < 0 || inputType > kInputTypeHighest)
        return QStringLiteral("%1 输入类型 %2 超出 0～%3")
            .arg(name)
            .arg(inputType)
            .arg(kInputTypeHighest);
    if (decimals < 0 || decimals > kDecimalsHighest)
        return QStringLiteral("%1 小数点 %2 超出 0～%3")
            .arg(name)
            .arg(decimals)
            .arg(kDecimalsHighest);
    return QString();
}

ScalingReading scalingFromRegisters(const ScalingRegisters &registers, const OperatorUnits &units)
{
    ScalingReading reading;
    const qint32 unitCode = registers[kTemperatureUnitRegister - kScalingFirstRegister];
    const std::optional<TemperatureUnit> temperature = temperatureUnitFromCode(unitCode);
    bool unitProblemSaid = false;
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        const int first = ch * kChannelRegisterStride;
        ChannelScaling scaling;
        scaling.inputType = registers[first + kInputTypeOffset];
        scaling.decimals = registers[first + kDecimalsOffset];
        scaling.upper = registers[first + kInputUpperOffset];
        scaling.lower = registers[first + kInputLowerOffset];
        const QString problem = channelScalingProblem(ch, scaling.inputType, scaling.decimals);
        if (!problem.isEmpty()) {
            reading.problems << problem;
            continue;
        }
        // Only the channels that measure temperature need register 48.
        if (inputFamily(scaling.inputType) == InputFamily::Temperature && !temperature) {
            if (!unitProblemSaid)
                reading.problems << QStringLiteral("温度单位 %1 超出 0～2").arg(unitCode);
            unitProblemSaid = true;
            continue;
        }
        scaling.unit = channelUnit(scaling.inputType,
                                   temperature.value_or(TemperatureUnit::Celsius), units[ch]);
        reading.channels[ch] = scaling;
    }
    return reading;
}

KnownScaling mergeScaling(const KnownScaling &before, const KnownScaling &reading)
{
    KnownScaling merged = before;
    for (int ch = 0; ch < kScaledChannels; ++ch)
        if (reading[ch])
            merged[ch] = reading[ch];
    return merged;
}

KnownScaling withOperatorUnits(const KnownScaling &known, const OperatorUnits &units)
{
    KnownScaling named = known;
    for (int ch = 0; ch < kScaledChannels; ++ch)
        if (named[ch] && inputFamily(named[ch]->inputType) == InputFamily::Linear)
            named[ch]->unit = units[ch];
    return named;
}

char *writeEngineeringText(char *out, qint64 raw, qint32 decimals)
{
    if (decimals < 0 || decimals > kDecimalsHighest)
        decimals = 0;
    // Written from the integer's own digits, last first: no binary fraction ever rounds it.
    char text[kEngineeringTextRoom];
    char *end = text + sizeof text;
    char *at = end;
    quint64 magnitude = raw < 0 ? 0 - quint64(raw) : quint64(raw);
    int written = 0;
    do {
        *--at = char('0' + magnitude % 10);
        magnitude /= 10;
        if (++written == decimals)
            *--at = '.';
    } while (magnitude != 0 || written <= decimals);
    if (raw < 0)
        *--at = '-';
    const qsizetype length = end - at;
    std::memcpy(out, at, size_t(length));
    return out + length;
}

void appendEngineeringText(QByteArray &out, qint64 raw, qint32 decimals)
{
    char text[kEngineeringTextRoom];
    out.append(text, writeEngineeringText(text, raw, decimals) - text);
}

QString engineeringText(qint64 raw, qint32 decimals)
{
    QByteArray text;
    appendEngineeringText(text, raw, decimals);
    return QString::fromLatin1(text);
}

double engineeringValue(qint64 raw, qint32 decimals)
{
    static constexpr double kPowers[] = {1, 10, 100, 1000, 10000};
    if (decimals <= 0 || decimals > kDecimalsHighest)
        return double(raw);
    // A division by an exact power of ten gives the double nearest the decimal text.
    return double(raw) / kPowers[decimals];
}

UnitTextCheck checkUnitText(const QString &text)
{
    UnitTextCheck check;
    const QString unit = text.trimmed();
    for (const QChar c : unit) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format ||
            c == QChar::LineSeparator || c == QChar::ParagraphSeparator) {
            check.message = QStringLiteral("单位不能含控制字符");
            return check;
        }
        if (kRefusedUnitCharacters.contains(c)) {
            check.message = QStringLiteral("单位不能含引号、反斜杠、逗号或分号: %1").arg(c);
            return check;
        }
    }
    const qsizetype length = unit.toUcs4().size();
    if (length > kUnitTextLongest) {
        check.message =
            QStringLiteral("单位最长 %1 个字符 (输入了 %2 个)").arg(kUnitTextLongest).arg(length);
        return check;
    }
    check.accepted = true;
    check.unit = unit;
    return check;
}
