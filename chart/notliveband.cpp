#include "notliveband.h"

#include "twips.h"

#include <algorithm>
#include <cmath>

namespace Chart
{

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

} // namespace Chart
