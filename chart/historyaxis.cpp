#include "historyaxis.h"

#include "chartgeometry.h"
#include "daytime.h"
#include "shared.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace History
{

namespace
{
// Label steps in seconds, from one second to a week.
constexpr std::array<int, 22> kTickSteps = {
    1,    2,    5,    10,    15,    30,    60,    120,    300,    600,    900,
    1800, 3600, 7200, 10800, 21600, 43200, 86400, 172800, 345600, 604800, 1209600};

// A margin of a twentieth of the values' spread above and below them.
constexpr double kMarginFraction = 0.05;
constexpr int kValueDivisions = 6; // grid lines of value, as on the overview's scale
constexpr qint32 kSmallestSpan = 10;
} // namespace

QVector<TimeTick> timeTicks(double from, double to, int maxLabels, const TimeAxis &axis)
{
    QVector<TimeTick> ticks;
    if (!(to > from) || maxLabels < 1)
        return ticks;
    // The axis runs with real time: its span in seconds is the real one.
    const double spanSeconds = (to - from) * kSecondsPerDay;
    int step = kTickSteps.back();
    for (int candidate : kTickSteps) {
        if (spanSeconds / candidate <= maxLabels + 1e-6) {
            step = candidate;
            break;
        }
    }
    // Round local times, as whole seconds of the local serials, over every
    // local time the range holds; each stands at each instant it names.
    const auto [low, high] = axis.localBounds(from, to);
    const qint64 firstSecond = qint64(std::ceil(low * kSecondsPerDay - 1e-6));
    qint64 second = (firstSecond + step - 1) / step * step;
    const QString timeFormat =
        step < kSecondsPerMinute ? QStringLiteral("HH:mm:ss") : QStringLiteral("HH:mm");
    const qint64 epochSecond = qint64(daySerial(QDate(1970, 1, 1)) * kSecondsPerDay);
    for (; second <= high * kSecondsPerDay + 1e-6; second += step) {
        const double local = second / kSecondsPerDay;
        const double day = std::floor(local);
        const QString time = timeFromFraction(local - day).toString(timeFormat);
        const QString date = dateText(dateFromSerial(day));
        for (const double at : axis.positionsOfLocal(second - epochSecond)) {
            if (at >= from - 1e-9 && at <= to + 1e-9)
                ticks.append({at, time, date});
        }
    }
    std::stable_sort(ticks.begin(), ticks.end(),
                     [](const TimeTick &a, const TimeTick &b) { return a.moment < b.moment; });
    // A step longer than a repeated hour labels its time once, at the first pass.
    QVector<TimeTick> kept;
    for (const TimeTick &tick : ticks) {
        if (kept.isEmpty() || (tick.moment - kept.last().moment) * kSecondsPerDay > step - 0.5)
            kept.append(tick);
    }
    return kept;
}

ValueRange automaticRange(const QVector<Run> &runs, const std::array<bool, kCurveCount> &shown)
{
    float lowest = std::numeric_limits<float>::max();
    float highest = std::numeric_limits<float>::lowest();
    for (const Run &run : runs) {
        for (const PixelColumn &column : run) {
            for (int k = 0; k < Chart::kDrawnValues - 1; ++k) { // the four channels
                if (!shown[k])
                    continue;
                lowest = std::min(lowest, column.lowest[k]);
                highest = std::max(highest, column.highest[k]);
            }
        }
    }
    if (lowest > highest)
        return {0, kStartChartSpan};
    const double margin = std::max(1.0, (double(highest) - lowest) * kMarginFraction);
    const double low = lowest - margin;
    const double high = highest + margin;
    // Six divisions of a round step (1, 2 or 5 times a power of ten), so that
    // the seven value labels read as round numbers.
    double step = std::pow(10.0, std::floor(std::log10((high - low) / kValueDivisions)));
    for (const double factor : {1.0, 2.0, 5.0, 10.0, 20.0}) {
        const double candidate = step * factor;
        if (std::floor(low / candidate) * candidate + kValueDivisions * candidate >= high) {
            step = candidate;
            break;
        }
    }
    step = std::max(step, 1.0);
    const qint32 roundLow = qint32(std::floor(low / step) * step);
    return {roundLow, std::max(kSmallestSpan, qint32(kValueDivisions * step))};
}

double retransmissionPixelY(float percent, int height)
{
    return height * (kRetransmissionAxisHigh - percent) /
           (kRetransmissionAxisHigh - kRetransmissionAxisLow);
}

QVector<AxisLabel> retransmissionAxis(int height)
{
    QVector<AxisLabel> labels;
    const double step =
        (kRetransmissionAxisHigh - kRetransmissionAxisLow) / (kRetransmissionAxisLabels - 1);
    for (int i = 0; i < kRetransmissionAxisLabels; ++i) {
        const double percent = kRetransmissionAxisLow + i * step;
        labels.append({retransmissionPixelY(float(percent), height),
                       QString::number(percent) + QStringLiteral(" %")});
    }
    return labels;
}

QVector<Trace> traces(const QVector<Run> &runs, const std::array<bool, kCurveCount> &shown,
                      const ValueRange &range, int width, int height)
{
    QVector<Trace> result;
    if (width <= 0 || height <= 0)
        return result;
    const float scale = Chart::verticalScale(range.span);
    const qint32 offset = Chart::chartOffset(scale, range.low);
    const double toPixels = double(height) / ChartSurface::kHeight;
    const auto y = [&](int curve, float v) {
        return curve == Chart::kDrawnValues - 1 ? retransmissionPixelY(v, height)
                                                : Chart::channelY(v, scale, offset) * toPixels;
    };
    for (const Chart::CurvePen &pen : Chart::ownViewPens()) {
        const int curve = pen.value;
        if (!shown[curve])
            continue;
        for (const Run &run : runs) {
            Trace trace{curve, pen.colour, pen.width, pen.style, {}};
            trace.points.reserve(run.size() * 4);
            for (const PixelColumn &column : run) {
                const double x = column.x + 0.5;
                trace.points << QPointF(x, y(curve, column.first[curve]));
                if (column.rowCount > 1) {
                    trace.points << QPointF(x, y(curve, column.lowest[curve]))
                                 << QPointF(x, y(curve, column.highest[curve]))
                                 << QPointF(x, y(curve, column.last[curve]));
                }
            }
            result.append(trace);
        }
    }
    return result;
}

double labelLeft(double x, double width, double left, double right)
{
    return std::max(left, std::min(x - width / 2, right - width));
}

} // namespace History
