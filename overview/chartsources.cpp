#include "chartsources.h"

#include "clock.h"
#include "daytime.h"
#include "healthmonitor.h"
#include "journal.h"

#include <algorithm>
#include <cmath>

namespace Chart
{

std::vector<Mark> journalMarks(const EventJournal &journal, double from, double to)
{
    std::vector<Mark> marks;
    for (const Event &event : journal.marksBetween(dateTimeOf(from), dateTimeOf(to)))
        marks.push_back(Journal::markOf(event));
    return marks;
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
