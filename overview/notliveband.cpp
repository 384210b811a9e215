#include "notliveband.h"

#include "clock.h"
#include "daytime.h"
#include "healthmonitor.h"
#include "twips.h"

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
    // One chart unit is one twip on screen; the strokes' widths are pixels.
    const int width = qMax(1, int(std::ceil(double(view.sampleStep) / kTwipsPerPixel)));
    const int n = drawnSteps(view);
    for (int i = 1; i <= n; ++i) {
        const int p = i + view.windowOffset;
        if (!isPosition(p) || (buffer.dates[p] == 0 && buffer.times[p] == 0))
            continue;
        const double moment = buffer.dates[p] + buffer.times[p];
        bool inside = false;
        for (const TimeSpan &span : spans)
            inside = inside || (moment >= span.from && moment <= span.to);
        if (!inside)
            continue;
        const double x = double(i) * view.sampleStep;
        band.append(Stroke{QPointF(x, 0), QPointF(x, ChartSurface::kHeight), notLiveBandColour(),
                           width, Qt::SolidLine});
    }
    return band;
}

std::vector<TimeSpan> notLiveSpans(const HealthMonitor &monitor)
{
    std::vector<TimeSpan> spans;
    const double now = serialOf(SystemClock::now());
    for (const NotLiveSpan &span : monitor.notLiveSpans())
        spans.push_back({serialOf(span.from), span.to ? serialOf(*span.to) : now});
    return spans;
}

} // namespace Chart
