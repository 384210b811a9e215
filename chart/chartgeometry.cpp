#include "chartgeometry.h"

#include "daytime.h"
#include "numbers.h"

#include <cmath>

namespace Chart
{

namespace
{

constexpr int kWidth = ChartSurface::kWidth;
constexpr int kHeight = ChartSurface::kHeight;

constexpr int kGridRows = 24; // i = 0..24: y = 312.5 i, 0..7500
constexpr double kGridRowStep = 312.5;
constexpr int kGridColumns = 32; // i = 0..32: x = 375 i, 0..12000
constexpr double kGridColumnStep = 375;
constexpr int kGridBottom = 7500;
constexpr int kGridLeftLine = 8;

constexpr int kGapMarkerBottom = 9000;
constexpr double kScaleHeight = 7500;

// The retransmission value is not scaled by the Y range: 0 lies 625 units above
// the bottom edge and each unit of value is 62.5 units of height.
constexpr int kRetransmissionZero = 625;
constexpr double kRetransmissionScale = 62.5;

// Label j shows position 10 × ZoomLevel × j + WindowOffset + 1.
constexpr int kLabelSamples = 10;
// Labels 7 and 8 of a live window stand beyond the newest sample by just under
// ZoomLevel × 10 seconds each.
constexpr int kFirstExtrapolated = 7;
constexpr double kLabelStepDays = kGapDays / 30;

constexpr int kSamplesPerZoomLevel = 60;

struct ZoomRow {
    float sampleStep;
    int windowOffset;
};
// Zoom levels 1..4: the live window's positions ZoomLevel × 60 back from 240 fill x 0..9000.
constexpr std::array<ZoomRow, 4> kZoomTable{{{150, 180}, {75, 120}, {50, 60}, {37.5F, 0}}};

Stroke dottedGridLine(double x1, double y1, double x2, double y2)
{
    return Stroke{QPointF(x1, y1), QPointF(x2, y2), gridPen(), 1, Qt::DotLine};
}

} // namespace

const std::array<CurvePen, kDrawnValues> &curvePens()
{
    // Draw order: later colours lie on top where the curves cross.
    static const std::array<CurvePen, kDrawnValues> pens{{
        {2, QColor(kChannelColours[2]), 2},
        {0, QColor(kChannelColours[0]), 2},
        {1, QColor(kChannelColours[1]), 1},
        {3, QColor(kChannelColours[3]), 1},
        {4, QColor(kChannelColours[4]), 1},
    }};
    return pens;
}

const std::array<CurvePen, kDrawnValues> &ownViewPens()
{
    static const std::array<CurvePen, kDrawnValues> pens = [] {
        std::array<CurvePen, kDrawnValues> own = curvePens();
        for (CurvePen &pen : own) {
            if (pen.value == kDrawnValues - 1) {
                pen.colour = QColor(kRetransmissionViewColour);
                pen.style = Qt::DashLine;
            }
        }
        return own;
    }();
    return pens;
}

QVector<Stroke> gridStrokes()
{
    QVector<Stroke> strokes;
    strokes.reserve(4 + kGridRows + 1 + kGridColumns + 1);
    strokes.append(dottedGridLine(0, 0, kWidth, 0));
    strokes.append(dottedGridLine(0, kGridBottom, kWidth, kGridBottom));
    for (int i = 0; i <= kGridRows; ++i) {
        const double y = roundHalfEven(kGridRowStep * i);
        strokes.append(dottedGridLine(0, y, kWidth, y));
    }
    strokes.append(dottedGridLine(kGridLeftLine, 0, kGridLeftLine, kHeight));
    strokes.append(dottedGridLine(kNowLine, 0, kNowLine, kHeight));
    for (int i = 0; i <= kGridColumns; ++i) {
        const double x = roundHalfEven(kGridColumnStep * i);
        strokes.append(dottedGridLine(x, 0, x, kHeight));
    }
    return strokes;
}

bool applyZoom(int zoomLevel, float &sampleStep, int &windowOffset)
{
    if (zoomLevel < 1 || zoomLevel > int(kZoomTable.size()))
        return false;
    sampleStep = kZoomTable[zoomLevel - 1].sampleStep;
    windowOffset = kZoomTable[zoomLevel - 1].windowOffset;
    return true;
}

int sliderStep(float sampleStep)
{
    return int(roundHalfEven(sampleStep));
}

int drawnSteps(const TrendView &view)
{
    return view.zoomLevel * kSamplesPerZoomLevel + (view.writePosition - kLivePosition);
}

AxisLabels axisLabels(const TrendBuffer &buffer, const TrendView &view)
{
    AxisLabels labels;
    for (int j = 0; j < kLabelCount; ++j) {
        const int p = kLabelSamples * view.zoomLevel * j + view.windowOffset + 1;
        if (!isPosition(p))
            continue;
        labels.times[j] = buffer.empty[p] ? QString() : chartTimeText(buffer.times[p]);
        labels.dates[j] = buffer.empty[p] ? QString() : chartDateText(buffer.dates[p]);
    }
    if (view.windowLength < kLiveWindowBelow) {
        // No samples exist yet right of the "now" line: count on from the newest.
        for (int j = kFirstExtrapolated; j < kLabelCount; ++j) {
            if (buffer.empty[kLivePosition]) { // no newest record to count on from
                labels.times[j] = QString();
                labels.dates[j] = QString();
                continue;
            }
            const int steps = j - kFirstExtrapolated + 1;
            const float d = float(steps * view.zoomLevel * kLabelStepDays);
            double t = buffer.times[kLivePosition] + double(d);
            double date = buffer.dates[kLivePosition];
            // The label shows whole seconds: a time that reads as midnight is
            // the next day's, also when it lies just under a whole day.
            if (std::llround(t * kSecondsPerDay) >= std::llround(kSecondsPerDay)) {
                date += 1;
                t -= 1;
            }
            labels.times[j] = chartTimeText(t);
            labels.dates[j] = chartDateText(date);
        }
    }
    return labels;
}

float verticalScale(qint32 chartSpan)
{
    if (chartSpan == 0)
        return 0; // the division fails; the channel curves lie on the bottom edge
    return float(kScaleHeight / chartSpan);
}

qint32 chartOffset(float scale, qint32 chartLow)
{
    if (chartLow == 0)
        return 0;
    return toInt32(double(scale) * chartLow).value_or(0);
}

double channelY(float value, float scale, qint32 offset)
{
    return double(kHeight) + offset - roundHalfEven(scale * value);
}

double retransmissionY(float value)
{
    return double(kHeight - kRetransmissionZero) - roundHalfEven(kRetransmissionScale * value);
}

TrendDrawing drawTrend(const TrendBuffer &buffer, const TrendView &view, qint32 chartSpan,
                       qint32 chartLow)
{
    TrendDrawing drawing;
    drawing.labels = axisLabels(buffer, view);

    const int n = drawnSteps(view);
    if (n > 0)
        drawing.strokes.reserve(n * (kDrawnValues + 1));

    for (int i = 1; i <= n; ++i) {
        const int p = i + view.windowOffset;
        if (!isPosition(p) || buffer.gapMarks[p] <= 0 || buffer.empty[p])
            continue;
        const double x = double(i) * view.sampleStep; // the markers are not rounded
        drawing.strokes.append(
            Stroke{QPointF(x, 0), QPointF(x, kGapMarkerBottom), gapPen(), 1, Qt::DashLine});
    }

    const float s = verticalScale(chartSpan);
    drawing.chartOffset = chartOffset(s, chartLow);

    const std::array<CurvePen, kDrawnValues> &pens = curvePens();
    constexpr int kRetransmission = 4;
    for (int i = 1; i <= n; ++i) {
        const int a = i - 1 + view.windowOffset;
        const int b = i + view.windowOffset;
        if (!isPosition(a) || !isPosition(b) || buffer.empty[a] || buffer.empty[b] ||
            buffer.noValues[a] || buffer.noValues[b])
            continue;
        const double x1 = roundHalfEven(double(i - 1) * view.sampleStep);
        const double x2 = roundHalfEven(double(i) * view.sampleStep);
        for (const CurvePen &pen : pens) {
            const float va = buffer.values[pen.value][a];
            const float vb = buffer.values[pen.value][b];
            const bool fixed = pen.value == kRetransmission;
            const double y1 = fixed ? retransmissionY(va) : channelY(va, s, drawing.chartOffset);
            const double y2 = fixed ? retransmissionY(vb) : channelY(vb, s, drawing.chartOffset);
            drawing.strokes.append(
                Stroke{QPointF(x1, y1), QPointF(x2, y2), pen.colour, pen.width, Qt::SolidLine});
        }
    }
    return drawing;
}

} // namespace Chart
