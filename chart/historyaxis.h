#pragma once

#include "chartgeometry.h"
#include "decimate.h"
#include "instants.h"

#include <QColor>
#include <QPolygonF>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>

// The axes and curves of the history chart as plain functions: the window's
// chart only paints what these compute.

namespace History
{

// One label of the time axis.
struct TimeTick {
    double moment = 0; // day serial
    QString time;      // "HH:mm:ss" below a minute's step, else "HH:mm"
    QString date;      // "yyyy-MM-dd", the tool's one form of a date
};

// Labels at round local times (1 s up to 7 days apart) that fit the span of
// `from` .. `to` on `axis`, at most `maxLabels` of them, each where its local
// time stands on the axis: twice, an hour apart, in an hour the clocks repeat
// (unless the step is longer than that hour), never in an hour they skip.
QVector<TimeTick> timeTicks(double from, double to, int maxLabels, const TimeAxis &axis = {});

// The left edge of a label `width` wide centred on `x`, moved inwards where it
// would reach past `left` or `right`, so that the plot's first and last
// labels stay whole. A label wider than left .. right starts at `left`.
double labelLeft(double x, double width, double left, double right);

// The vertical range of the four channel curves: ChartLow and ChartSpan as the
// overview has them (Y轴最小值, Y轴最大值 − Y轴最小值).
struct ValueRange {
    qint32 low = 0;
    qint32 span = 0;
};

// A range that holds every drawn channel value of the runs with a margin, in
// six round steps; the overview's start range when nothing is drawn.
ValueRange automaticRange(const QVector<Run> &runs, const std::array<bool, kCurveCount> &shown);

// The colours of the value axes, as the overview's scale panel writes them:
// the channels' values red, the retransmission value's per cent blue.
constexpr QRgb kValueAxisColour = qRgb(255, 0, 0);
constexpr QRgb kRetransmissionAxisColour = Chart::kRetransmissionViewColour;

// The retransmission value's own scale, in per cent of its output, as the
// overview's scale panel shows it beside the channels' one: −10 % at the
// bottom of the plot, 110 % at the top, a label every 20 %.
constexpr double kRetransmissionAxisLow = -10;
constexpr double kRetransmissionAxisHigh = 110;
constexpr int kRetransmissionAxisLabels = 7;

// y of a retransmission value (per cent) in a plot `height` pixels high on that scale.
double retransmissionPixelY(float percent, int height);

// One label of a value axis: its y in the plot and its text.
struct AxisLabel {
    double y = 0;
    QString text;
};
// The labels of the retransmission axis in a plot `height` pixels high,
// bottom first: "-10 %", "10 %" … "110 %".
QVector<AxisLabel> retransmissionAxis(int height);

// One polyline of one curve, in pixels of a chart `width` × `height`.
struct Trace {
    int curve = 0; // 0 .. 3 channels, 4 the retransmission value
    QColor colour; // the overview's pen of that curve
    int width = 1; // pixels
    Qt::PenStyle style = Qt::SolidLine;
    QPolygonF points;
};

// The polylines of the shown curves in our views' pens (Chart::ownViewPens), in the overview's
// drawing order (channel 3, 1, 2, 4, then the retransmission value): per pixel column its first,
// lowest, highest and last value, the channels scaled as the overview scales them to `range`, the
// retransmission value on its own scale (retransmissionPixelY).
QVector<Trace> traces(const QVector<Run> &runs, const std::array<bool, kCurveCount> &shown,
                      const ValueRange &range, int width, int height);

} // namespace History
