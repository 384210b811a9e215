#include "chartmarks.h"

#include <algorithm>
#include <cmath>

namespace Chart
{

namespace
{

// The shown samples as (moment, x), in position order; positions never
// loaded (moment 0) are left out.
std::vector<std::pair<double, double>> shownSamples(const TrendBuffer &buffer,
                                                    const TrendView &view)
{
    std::vector<std::pair<double, double>> samples;
    const int last = std::min(view.writePosition, kLastPosition);
    for (int p = std::max(view.windowOffset, 0); p <= last; ++p) {
        const double moment = buffer.dates[p] + buffer.times[p];
        const double x = double(p - view.windowOffset) * view.sampleStep;
        if (moment > 0 && x <= ChartSurface::kWidth)
            samples.emplace_back(moment, x);
    }
    return samples;
}

std::optional<double> xAmong(const std::vector<std::pair<double, double>> &samples, double moment)
{
    const auto after =
        std::lower_bound(samples.begin(), samples.end(), moment,
                         [](const std::pair<double, double> &s, double m) { return s.first < m; });
    if (after == samples.end())
        return std::nullopt;
    if (after->first == moment)
        return after->second;
    if (after == samples.begin())
        return std::nullopt;
    const auto before = after - 1;
    const double fraction = (moment - before->first) / (after->first - before->first);
    return before->second + fraction * (after->second - before->second);
}

} // namespace

bool viewSpan(const TrendBuffer &buffer, const TrendView &view, double &first, double &last)
{
    const std::vector<std::pair<double, double>> samples = shownSamples(buffer, view);
    if (samples.empty())
        return false;
    first = samples.front().first;
    last = samples.back().first;
    return true;
}

std::optional<double> momentX(const TrendBuffer &buffer, const TrendView &view, double moment)
{
    return xAmong(shownSamples(buffer, view), moment);
}

QVector<Stroke> markStrokes(const TrendBuffer &buffer, const TrendView &view,
                            const std::vector<Mark> &marks)
{
    QVector<Stroke> strokes;
    const std::vector<std::pair<double, double>> samples = shownSamples(buffer, view);
    for (const Mark &mark : marks) {
        if (const std::optional<double> x = xAmong(samples, mark.moment))
            strokes.append(Stroke{QPointF(*x, 0), QPointF(*x, kMarkHeight),
                                  Journal::markColour(mark.kind), Journal::kMarkWidth,
                                  mark.off ? Qt::DotLine : Qt::SolidLine});
    }
    return strokes;
}

QStringList marksAtSample(const TrendBuffer &buffer, const TrendView &view,
                          const std::vector<Mark> &marks, int position)
{
    QStringList texts;
    const double vertex = double(position - view.windowOffset) * view.sampleStep;
    const double half = view.sampleStep / 2;
    const std::vector<std::pair<double, double>> samples = shownSamples(buffer, view);
    for (const Mark &mark : marks) {
        const std::optional<double> x = xAmong(samples, mark.moment);
        if (x && *x >= vertex - half && *x < vertex + half)
            texts << mark.text;
    }
    return texts;
}

} // namespace Chart
