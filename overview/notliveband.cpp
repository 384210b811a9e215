#include "notliveband.h"

#include "clock.h"
#include "daytime.h"
#include "healthmonitor.h"
#include "twips.h"

#include <algorithm>
#include <cmath>

namespace Chart
{

namespace
{
double serialOf(const QDateTime &moment)
{
    return daySerial(moment.date()) + dayFraction(moment.time());
}
} // namespace

QColor notLiveBandColour()
{
    return QColor(128, 128, 128, 60);
}

QVector<Stroke> notLiveBand(const TrendBuffer &buffer, const TrendView &view,
                            const std::vector<TimeSpan> &spans)
{
    QVector<Stroke> band;
    if (spans.empty())
        return band;
    auto shaded = [&](int i) {
        const int p = i + view.windowOffset;
        if (!isPosition(p) || (buffer.dates[p] == 0 && buffer.times[p] == 0))
            return false;
        const double moment = buffer.dates[p] + buffer.times[p];
        return std::any_of(spans.begin(), spans.end(), [&](const TimeSpan &span) {
            return moment >= span.from && moment <= span.to;
        });
    };
    // Each run of shaded samples is one stroke, as wide as the run, centred on
    // it: a long outage costs one stroke per redraw, not one per sample.
    const int n = drawnSteps(view);
    for (int first = 1; first <= n; ++first) {
        if (!shaded(first))
            continue;
        int last = first;
        while (last < n && shaded(last + 1))
            ++last;
        const double x = (first + last) / 2.0 * view.sampleStep;
        // One chart unit is one twip on screen; the strokes' widths are pixels.
        const double runUnits = (last - first + 1) * double(view.sampleStep);
        const int width = qMax(1, int(std::ceil(runUnits / kTwipsPerPixel)));
        band.append(Stroke{QPointF(x, 0), QPointF(x, ChartSurface::kHeight), notLiveBandColour(),
                           width, Qt::SolidLine});
        first = last;
    }
    return band;
}

std::vector<TimeSpan> spansWithin(const std::vector<NotLiveSpan> &spans, double from, double to,
                                  double now)
{
    const auto end = [now](const NotLiveSpan &span) { return span.to ? serialOf(*span.to) : now; };
    // Spans follow one another, so their ends are in order too.
    auto it = std::lower_bound(
        spans.begin(), spans.end(), from,
        [&end](const NotLiveSpan &span, double moment) { return end(span) < moment; });
    std::vector<TimeSpan> within;
    for (; it != spans.end() && serialOf(it->from) <= to; ++it)
        within.push_back({serialOf(it->from), end(*it)});
    return within;
}

std::vector<TimeSpan> notLiveSpans(const HealthMonitor &monitor, double from, double to)
{
    return spansWithin(monitor.notLiveSpans(), from, to, serialOf(SystemClock::now()));
}

} // namespace Chart
