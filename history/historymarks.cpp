#include "historymarks.h"

#include "historyrange.h"
#include "linkspans.h"
#include "ringquery.h"

#include <algorithm>

namespace History
{

namespace
{
double xOf(double moment, double from, double to, int width)
{
    return (moment - from) / (to - from) * width;
}
} // namespace

ChartEvents chartEventsOf(const std::vector<Event> &events, double from, double to)
{
    ChartEvents shown;
    for (const NotLiveSpan &span : notLiveSpansOf(events, dateTimeOf(from), dateTimeOf(to)))
        shown.notLive.push_back({serialOf(span.from), span.to ? serialOf(*span.to) : to});
    for (const Event &event : events) {
        if (!Journal::isMarkEvent(event))
            continue;
        const Journal::Mark mark = Journal::markOf(event);
        if (mark.moment >= from && mark.moment <= to)
            shown.marks.push_back(mark);
    }
    return shown;
}

ChartEvents readChartEvents(const RingReader &reader, double from, double to)
{
    if (!reader.isOpen() || to <= from)
        return {};
    const QDateTime start = dateTimeOf(from);
    std::vector<Event> events;
    if (std::optional<Event> before =
            readLastEventBefore(reader.connectionName(), EventKind::Link, start))
        events.push_back(*before);
    const std::vector<Event> range =
        readEventsBetween(reader.connectionName(), start, dateTimeOf(to));
    events.insert(events.end(), range.begin(), range.end());
    return chartEventsOf(events, from, to);
}

std::vector<std::optional<double>> markXs(const std::vector<Journal::Mark> &marks, double from,
                                          double to, int width)
{
    std::vector<std::optional<double>> xs;
    for (const Journal::Mark &mark : marks) {
        if (to > from && mark.moment >= from && mark.moment <= to)
            xs.push_back(xOf(mark.moment, from, to, width));
        else
            xs.push_back(std::nullopt);
    }
    return xs;
}

std::vector<std::pair<double, double>> spanXs(const std::vector<Chart::TimeSpan> &spans,
                                              double from, double to, int width)
{
    std::vector<std::pair<double, double>> xs;
    if (to <= from)
        return xs;
    for (const Chart::TimeSpan &span : spans) {
        if (span.to < from || span.from > to)
            continue;
        xs.emplace_back(std::max(0.0, xOf(span.from, from, to, width)),
                        std::min(double(width), xOf(span.to, from, to, width)));
    }
    return xs;
}

QStringList marksNear(const std::vector<Journal::Mark> &marks, double moment, double halfWindow)
{
    QStringList texts;
    for (const Journal::Mark &mark : marks)
        if (mark.moment >= moment - halfWindow && mark.moment <= moment + halfWindow)
            texts << mark.text;
    return texts;
}

} // namespace History
