#include "chartsources.h"

#include "clock.h"
#include "daytime.h"
#include "healthmonitor.h"
#include "journal.h"

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

std::vector<Mark> journalMarks(const EventJournal &journal, double from, double to)
{
    const auto moment = [](double serial) {
        const double day = std::floor(serial);
        return QDateTime(dateFromSerial(day), timeFromFraction(serial - day));
    };
    std::vector<Mark> marks;
    for (const Event &event : journal.marksBetween(moment(from), moment(to)))
        marks.push_back(Journal::markOf(event));
    return marks;
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
