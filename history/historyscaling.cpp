#include "historyscaling.h"

#include "instants.h"
#include "numbers.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace History
{

const char *const kRawWord = "原始值";
const char *const kUnnamedUnitWord = "单位未命名";
const char *const kRetransmissionUnit = "%";

namespace
{
// Beyond this a float no longer holds every integer: no instrument's integer.
constexpr float kLargestExactInteger = 16777216.0f;
constexpr int kRetransmissionCurve = kCurveCount - 1;
const char *const kIncomparable = "—";

QString labelOf(const ChannelScaling *scaling)
{
    if (!scaling)
        return QString::fromUtf8(kRawWord);
    return scaling->unit.isEmpty() ? QString::fromUtf8(kUnnamedUnitWord) : scaling->unit;
}

qint32 clampedSteps(double value)
{
    return qint32(std::clamp(value, double(std::numeric_limits<qint32>::min()),
                             double(std::numeric_limits<qint32>::max())));
}
} // namespace

const ChannelScaling *ShownScaling::at(int row, int channel) const
{
    if (row < 0 || row >= rows.size() || channel < 0 || channel >= kScaledChannels)
        return nullptr;
    return rows.at(row)[channel];
}

ShownScaling scaleRows(const QVector<RingRow> &rows, const ScalingTimeline &timeline)
{
    ShownScaling shown;
    shown.timeline = std::make_shared<const ScalingTimeline>(timeline);
    if (!shown.timeline->isEmpty())
        shown.rows.reserve(rows.size());
    InstantResolver instants;
    for (const RingRow &row : rows) {
        RowScaling inForce{};
        if (!shown.timeline->isEmpty()) {
            const qint64 utc = localSeconds(row.date, row.time) -
                               instants.nextOffset(row.date, row.time, row.utcOffset);
            for (int ch = 0; ch < kScaledChannels; ++ch)
                inForce[ch] = shown.timeline->at(ch, utc);
            shown.rows.append(inForce);
        }
        for (int ch = 0; ch < kScaledChannels; ++ch) {
            if (inForce[ch])
                shown.finest = std::max(shown.finest, int(inForce[ch]->decimals));
            const QString label = labelOf(inForce[ch]);
            if (!shown.labels[ch].contains(label))
                shown.labels[ch] << label;
        }
    }
    return shown;
}

std::optional<qint64> recordedInteger(float value)
{
    if (!std::isfinite(value) || std::fabs(value) >= kLargestExactInteger ||
        value != std::trunc(value))
        return std::nullopt;
    return qint64(value);
}

qint64 powerOfTen(int n)
{
    qint64 power = 1;
    for (int i = 0; i < std::clamp(n, 0, int(kDecimalsHighest)); ++i)
        power *= 10;
    return power;
}

QVector<RingRow> chartRows(const QVector<RingRow> &rows, const ShownScaling &scaling)
{
    if (scaling.rows.isEmpty() && scaling.finest == 0)
        return rows;
    QVector<RingRow> drawn = rows;
    for (int i = 0; i < drawn.size(); ++i) {
        for (int ch = 0; ch < kScaledChannels; ++ch) {
            const ChannelScaling *in = scaling.at(i, ch);
            const int decimals = in ? int(in->decimals) : 0;
            drawn[i].values[ch] *= float(powerOfTen(scaling.finest - decimals));
        }
    }
    return drawn;
}

QString axisValueText(double value, int finest)
{
    return QString::number(value / double(powerOfTen(finest)), 'g', 6);
}

ValueRange overviewRangeInSteps(const ValueRange &overview, int decimals, int finest)
{
    const double factor = double(powerOfTen(std::max(0, finest - decimals)));
    return {clampedSteps(overview.low * factor), clampedSteps(overview.span * factor)};
}

int referenceDecimals(const ShownScaling &scaling, const std::array<bool, kCurveCount> &shown)
{
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        if (!shown[ch])
            continue;
        for (int row = int(scaling.rows.size()) - 1; row >= 0; --row)
            if (const ChannelScaling *in = scaling.at(row, ch))
                return int(in->decimals);
        return 0;
    }
    return 0;
}

QString valueText(int curve, float value, const ChannelScaling *scaling)
{
    if (curve == kRetransmissionCurve)
        return singleText(value) + QStringLiteral(" ") + QString::fromUtf8(kRetransmissionUnit);
    const std::optional<qint64> raw = recordedInteger(value);
    if (!scaling || !raw)
        return singleText(value);
    const QString text = engineeringText(*raw, scaling->decimals);
    return scaling->unit.isEmpty() ? text : text + QStringLiteral(" ") + scaling->unit;
}

QString differenceText(int curve, float a, const ChannelScaling *scalingA, float b,
                       const ChannelScaling *scalingB)
{
    if (curve == kRetransmissionCurve)
        return valueText(curve, b - a, nullptr);
    if (!scalingA && !scalingB)
        return singleText(b - a);
    const std::optional<qint64> rawA = recordedInteger(a);
    const std::optional<qint64> rawB = recordedInteger(b);
    if (!scalingA || !scalingB || scalingA->unit != scalingB->unit || !rawA || !rawB)
        return QString::fromUtf8(kIncomparable);
    // Both at the finer of their decimal points: exact, whatever each row's was.
    const int decimals = std::max(scalingA->decimals, scalingB->decimals);
    const qint64 steps = *rawB * powerOfTen(decimals - scalingB->decimals) -
                         *rawA * powerOfTen(decimals - scalingA->decimals);
    const QString text = engineeringText(steps, decimals);
    return scalingA->unit.isEmpty() ? text : text + QStringLiteral(" ") + scalingA->unit;
}

QString curveTitle(int curve, const QStringList &labels)
{
    const QString name = QString::fromUtf8(kCurveNames.at(curve));
    if (curve == kRetransmissionCurve)
        return QStringLiteral("%1 (%2)").arg(name, QString::fromUtf8(kRetransmissionUnit));
    return labels.isEmpty() ? name
                            : QStringLiteral("%1 (%2)").arg(name, labels.join(QLatin1Char('/')));
}

QString valueAxisTitle(const std::array<bool, kCurveCount> &shown,
                       const std::array<QStringList, kScaledChannels> &labels)
{
    // Channels of one unit share a group, in the order the first of each is met.
    QStringList groups;
    QVector<QStringList> members;
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        if (!shown[ch])
            continue;
        const QString label = labels[ch].join(QLatin1Char('/'));
        const qsizetype at = groups.indexOf(label);
        if (at < 0) {
            groups << label;
            members.append({QString::fromUtf8(kCurveNames.at(ch))});
        } else {
            members[at] << QString::fromUtf8(kCurveNames.at(ch));
        }
    }
    QString title = QStringLiteral("测量值");
    for (int g = 0; g < groups.size(); ++g) {
        title += (g == 0 ? QStringLiteral(" ") : QStringLiteral("  ")) +
                 members.at(g).join(QLatin1Char(' '));
        if (!groups.at(g).isEmpty())
            title += QStringLiteral(" (%1)").arg(groups.at(g));
    }
    return title;
}

} // namespace History
