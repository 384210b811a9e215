#pragma once

#include "chartsurface.h"

#include <QColor>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

// The geometry of the trend chart as plain functions: what DrawGrid, ApplyZoom
// and DrawTrend put on the surface, computed from the trend buffer and the view
// state, so that the window only hands the strokes to its ChartSurface.

namespace Chart
{

// Trend buffer positions 0..322; 1..321 hold records, 0 is never loaded.
constexpr int kLastPosition = 322;
constexpr int kPositions = kLastPosition + 1;
constexpr int kValueCount = 25;       // values 0..24 per position; 0..7 are recorded
constexpr int kDrawnValues = 5;       // channels 1..4 and the retransmission value
constexpr int kLivePosition = 241;    // the newest record after a live load (on x = 9000)
constexpr int kLiveLength = 241;      // records of a live window
constexpr int kShiftedLength = 321;   // records of a shifted window (the full width at zoom 4)
constexpr int kShiftedPosition = 321; // WritePosition after a shifted load
constexpr int kLabelCount = 9;        // label j stands under x = 1500 j

// Where the chart's x axis ends (x = 12000) and the "now" line of a live window.
constexpr int kAxisEnd = 12000;
constexpr int kNowLine = 9000;

// A window is live while it asked for fewer records than a shifted one.
constexpr int kLiveWindowBelow = 320;

// Just under five minutes in days: neighbouring records further apart mark a gap.
constexpr double kGapDays = 0.00347222;

// The colours of the drawn values, channels 1..4 and the retransmission value:
// each curve has the colour of its title in the value strip.
constexpr std::array<QRgb, kDrawnValues> kChannelColours = {
    qRgb(255, 0, 0),   // CH1 red
    qRgb(128, 128, 0), // CH2 olive
    qRgb(0, 64, 0),    // CH3 dark green
    qRgb(255, 0, 255), // CH4 magenta
    qRgb(255, 0, 0),   // DA red
};

// The light cyan DrawGrid fills the chart with.
inline QColor gridBackground()
{
    return QColor(192, 255, 255);
}
// The pink of the dotted grid lines.
inline QColor gridPen()
{
    return QColor(255, 128, 255);
}
// The yellow of the dashed markers where the recording has a gap.
inline QColor gapPen()
{
    return QColor(255, 255, 0);
}

// The pen of one curve: which value it draws, its colour and width in pixels.
struct CurvePen {
    int value;
    QColor colour;
    int width;
    Qt::PenStyle style = Qt::SolidLine;
};

// The five curves' pens in draw order (channel 3, 1, 2, 4, the retransmission value).
const std::array<CurvePen, kDrawnValues> &curvePens();

// The colour of the retransmission value in our own views: the blue of the
// per-cent scale the overview gives it.
constexpr QRgb kRetransmissionViewColour = qRgb(0, 0, 255);

// The pens of our own views (the history window, its print and picture): the
// overview's, but the retransmission value dashed in the blue of its scale,
// as the overview draws it in the red of channel 1 and a legend could not
// tell the two apart.
const std::array<CurvePen, kDrawnValues> &ownViewPens();

// The samples the chart shows and the marks of gaps in the recording.
struct TrendBuffer {
    std::array<std::array<float, kPositions>, kValueCount> values{}; // TrendValues[k][j]
    std::array<double, kPositions> times{};    // TrendTimes: fraction of a day
    std::array<double, kPositions> dates{};    // TrendDates: day serial
    std::array<qint16, kPositions> gapMarks{}; // GapMarks: non-zero after a gap
    // No record at this position (a young database, or right of the newest
    // sample): no segment to or from it, no gap marker, blank labels.
    std::array<bool, kPositions> empty{};
    // The record at this position holds no values (quality 24 or 8: the port
    // was lost or not open, nothing was read): the curves break there as at an
    // empty position; its labels and gap marker stay.
    std::array<bool, kPositions> noValues{};
};

// The view state DrawTrend reads.
struct TrendView {
    int zoomLevel = 1;
    float sampleStep = 0;
    int windowOffset = 0;
    int writePosition = kLivePosition;
    qint32 windowLength = kLiveLength;
};

// Texts of Label4(j) (times) and Label7(j) (dates); nullopt leaves the label as it is.
struct AxisLabels {
    std::array<std::optional<QString>, kLabelCount> times;
    std::array<std::optional<QString>, kLabelCount> dates;
};

// What DrawTrend produces.
struct TrendDrawing {
    QVector<Stroke> strokes; // gap markers, then the curves
    AxisLabels labels;
    qint32 chartOffset = 0; // the new ChartOffset
};

// Whether a trend buffer position exists (0..322).
constexpr bool isPosition(int p)
{
    return p >= 0 && p <= kLastPosition;
}

// DrawGrid: the 62 dotted grid lines in draw order (background: gridBackground()).
QVector<Stroke> gridStrokes();

// ApplyZoom: SampleStep and WindowOffset of a zoom level; false, leaving both
// unchanged, for a level outside 1..4.
bool applyZoom(int zoomLevel, float &sampleStep, int &windowOffset);

// The slider step of a zoom level: SampleStep rounded (150, 75, 50, 38).
int sliderStep(float sampleStep);

// The number of sample steps DrawTrend draws: ZoomLevel × 60 + (WritePosition − 241).
int drawnSteps(const TrendView &view);

// Step 1 and 2 of DrawTrend: the nine time and date labels, with labels 7 and 8
// of a live window extrapolated from position 241; blank over an empty position.
AxisLabels axisLabels(const TrendBuffer &buffer, const TrendView &view);

// The vertical scale 7500 / ChartSpan in single precision; 0 when the span is 0.
float verticalScale(qint32 chartSpan);

// ChartOffset: the lower limit in chart units, round(s × ChartLow).
qint32 chartOffset(float scale, qint32 chartLow);

// y of a channel value: H + ChartOffset − round(s × v).
double channelY(float value, float scale, qint32 offset);

// y of the retransmission value on its fixed scale: (H − 625) − round(62.5 × v).
double retransmissionY(float value);

// DrawTrend: labels, gap markers and the five curves for the buffer and view.
TrendDrawing drawTrend(const TrendBuffer &buffer, const TrendView &view, qint32 chartSpan,
                       qint32 chartLow);

} // namespace Chart
