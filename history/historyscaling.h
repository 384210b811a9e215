#pragma once

// The history window's rows in engineering units: each row's channels by the
// scaling in force when it was recorded (a row older than any scaling stays
// raw, its unit unknown), the chart's own value steps, the read-outs, the
// legend and the value axis's title. The retransmission value is never
// scaled: it is the instrument's output in per cent of its range (0..100 %
// of 4..20 mA), whatever the channels measure, and keeps its own axis.

#include "csvexport.h"
#include "decimate.h"
#include "historyaxis.h"
#include "ringquery.h"
#include "scalinglog.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

namespace History
{

// Named in the legend and the axis title for a channel's rows without scaling.
extern const char *const kRawWord;
// ... and for a linear channel whose unit the operator has not named.
extern const char *const kUnnamedUnitWord;
// The retransmission value's unit.
extern const char *const kRetransmissionUnit;

// The scaling of a range's rows.
struct ShownScaling {
    // Keeps alive what `rows` point into.
    std::shared_ptr<const ScalingTimeline> timeline;
    // Per row (in the rows' order), per channel, the scaling in force when it
    // was recorded; nullptr where none was known yet. Empty: every row raw.
    QVector<RowScaling> rows;
    // The most decimals any row's channel is scaled with: the chart draws
    // values in steps of 10^-finest, so a range of one decimal point draws
    // the integers as recorded.
    int finest = 0;
    // Per channel what its rows are in, in the order met: the units, with
    // kUnnamedUnitWord and kRawWord for rows of an unnamed unit and raw rows.
    std::array<QStringList, kScaledChannels> labels;

    // The scaling of channel `channel` of row `row`; nullptr when raw.
    const ChannelScaling *at(int row, int channel) const;
};

// The scaling of `rows` (in recording order, each row's instant resolved as
// the CSV resolves it) from `timeline`.
ShownScaling scaleRows(const QVector<RingRow> &rows, const ScalingTimeline &timeline);

// A recorded channel value as the integer the instrument sent; nullopt when it
// is none (not finite, a fraction, or beyond what a float holds exactly).
std::optional<qint64> recordedInteger(float value);

// 10^n for n in 0..kDecimalsHighest (others clamp).
qint64 powerOfTen(int n);

// The rows as the chart draws them: the channels in steps of 10^-finest of
// their engineering values (raw rows as recorded, as if of no decimals),
// the retransmission value and the rest as recorded.
QVector<RingRow> chartRows(const QVector<RingRow> &rows, const ShownScaling &scaling);

// The text of a value label at `value` chart steps (steps of 10^-finest).
QString axisValueText(double value, int finest);

// The overview's Y range (the instrument's integers, as its chart has them)
// in chart steps, for a channel of `decimals` in a chart of `finest`:
// the channel stands where it stands on the overview. Kept within qint32.
ValueRange overviewRangeInSteps(const ValueRange &overview, int decimals, int finest);

// The decimals of the first shown channel at the last row that has it scaled
// (0 when none): the channel the overview's range is read for.
int referenceDecimals(const ShownScaling &scaling, const std::array<bool, kCurveCount> &shown);

// The read-out of one value: "251.5 °C" by its scaling, the integer as
// recorded without one, "37 %" for the retransmission value (curve 4).
QString valueText(int curve, float value, const ChannelScaling *scaling);

// The difference `b` − `a` of one curve's values as the marker read-out
// gives it, in the unit of both; "—" when they cannot be compared (one raw
// and one scaled, or two units).
QString differenceText(int curve, float a, const ChannelScaling *scalingA, float b,
                       const ChannelScaling *scalingB);

// A curve's name with what its values are in: "CH1 (°C)", "CH2 (°C/K)",
// "CH3 (原始值)", "变送值 DA (%)"; the bare name when nothing is known (no rows).
QString curveTitle(int curve, const QStringList &labels);

// The value axis's title: the shown channels grouped by what their values
// are in, "测量值 CH1 CH2 (°C)  CH3 (MPa)"; "测量值" when none is shown.
QString valueAxisTitle(const std::array<bool, kCurveCount> &shown,
                       const std::array<QStringList, kScaledChannels> &labels);

} // namespace History
