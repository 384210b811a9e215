#include "historymarks.h"

#include "daytime.h"
#include "historyrange.h"
#include "linkspans.h"
#include "ringquery.h"

#include <QColor>

#include <algorithm>
#include <iterator>

namespace History
{

namespace
{
double xOf(double moment, double from, double to, int width)
{
    return (moment - from) / (to - from) * width;
}
} // namespace

namespace
{

void sortByPlace(std::vector<PlacedEvent> &placed)
{
    std::stable_sort(placed.begin(), placed.end(),
                     [](const PlacedEvent &a, const PlacedEvent &b) { return a.at < b.at; });
}

ChartEvents chartEventsOfPlaced(const std::vector<PlacedEvent> &placed, double from, double to,
                                const QVector<double> &rowPlaces, const TimeAxis &axis)
{
    QVector<double> rowsInTime = rowPlaces;
    std::sort(rowsInTime.begin(), rowsInTime.end());
    ChartEvents shown;
    shown.notRecorded = notRecordedSpansOf(placed, rowsInTime, from, to);
    // The link's spans by instants: each event at the instant of its place.
    std::vector<Event> atInstants;
    atInstants.reserve(placed.size());
    for (const PlacedEvent &event : placed) {
        atInstants.push_back(event.event);
        atInstants.back().when = axis.utcAt(event.at);
    }
    for (const NotLiveSpan &span : notLiveSpansOf(atInstants, axis.utcAt(from), axis.utcAt(to)))
        shown.notLive.push_back(
            {axis.positionOf(span.from), span.to ? axis.positionOf(*span.to) : to});
    for (const PlacedEvent &event : placed) {
        if (!Journal::isMarkEvent(event.event) || event.at < from || event.at > to)
            continue;
        Journal::Mark mark = Journal::markOf(event.event);
        mark.moment = event.at;
        shown.marks.push_back(mark);
    }
    return shown;
}

} // namespace

std::vector<PlacedEvent> placeEvents(const std::vector<Event> &events, const TimeAxis &axis)
{
    InstantResolver resolver(axis.zone());
    std::vector<PlacedEvent> placed;
    placed.reserve(events.size());
    for (const Event &event : events) {
        const double date = daySerial(event.when.date());
        const double time = dayFraction(event.when.time());
        const std::optional<qint32> offset = event.when.timeSpec() == Qt::LocalTime
                                                 ? std::nullopt
                                                 : std::optional(event.when.offsetFromUtc());
        const qint32 resolved = resolver.nextOffset(date, time, offset);
        placed.push_back({axis.positionOf(localSeconds(date, time) - resolved), event});
    }
    sortByPlace(placed);
    return placed;
}

std::vector<PlacedEvent> placeEvents(const std::vector<StoredEvent> &events, const TimeAxis &axis)
{
    InstantResolver resolver(axis.zone());
    std::vector<PlacedEvent> placed;
    placed.reserve(events.size());
    for (const StoredEvent &stored : events) {
        // As an event in local time above: localSeconds() takes the whole day
        // and the time to the second as its moment's date and time would.
        const qint32 resolved = resolver.nextOffset(stored.date, stored.time, std::nullopt);
        placed.push_back(
            {axis.positionOf(localSeconds(stored.date, stored.time) - resolved), stored.event});
    }
    sortByPlace(placed);
    return placed;
}

ChartEvents chartEventsOf(const std::vector<Event> &events, double from, double to,
                          const QVector<double> &rowPlaces, const TimeAxis &axis)
{
    return chartEventsOfPlaced(placeEvents(events, axis), from, to, rowPlaces, axis);
}

ChartEvents chartEventsOf(const std::vector<StoredEvent> &events, double from, double to,
                          const QVector<double> &rowPlaces, const TimeAxis &axis)
{
    return chartEventsOfPlaced(placeEvents(events, axis), from, to, rowPlaces, axis);
}

std::vector<Chart::TimeSpan> notRecordedSpansOf(const std::vector<PlacedEvent> &events,
                                                const QVector<double> &rowPlaces, double from,
                                                double to)
{
    std::vector<Chart::TimeSpan> spans;
    std::optional<double> endedAt;
    bool started = false;
    const auto add = [&](double a, double b) {
        a = std::max(a, from);
        b = std::min(b, to);
        if (a < b)
            spans.push_back({a, b});
    };
    for (const PlacedEvent &placed : events) {
        const double moment = placed.at;
        if (placed.event.kind == EventKind::ToolEnd) {
            endedAt = moment;
            started = false;
        } else if (placed.event.kind == EventKind::ToolStart) {
            if (endedAt) {
                add(*endedAt, moment);
            } else if (started) {
                // No "end" since the last start: from the last row before this one.
                const auto after = std::lower_bound(rowPlaces.begin(), rowPlaces.end(), moment);
                if (after != rowPlaces.begin())
                    add(*std::prev(after), moment);
            }
            endedAt.reset();
            started = true;
        }
    }
    if (endedAt)
        add(*endedAt, to);
    return spans;
}

bool within(const std::vector<Chart::TimeSpan> &spans, double moment)
{
    return std::any_of(spans.begin(), spans.end(), [moment](const Chart::TimeSpan &span) {
        return moment > span.from && moment < span.to;
    });
}

QColor notRecordedBandColour()
{
    // Light blue, apart from the not-live band's grey: the tool was off, not the line.
    return QColor(90, 150, 230, 50);
}

ChartEvents readChartEvents(const RingReader &reader, double from, double to,
                            const QVector<double> &rowPlaces, const TimeAxis &axis)
{
    if (!reader.isOpen() || to <= from)
        return {};
    const auto [low, high] = axis.localBounds(from, to);
    const QDateTime start = dateTimeOf(low);
    std::vector<StoredEvent> events;
    const auto addBefore = [&](const Event &event) {
        events.push_back({daySerial(event.when.date()), dayFraction(event.when.time()), event});
    };
    if (std::optional<Event> before =
            readLastEventBefore(reader.connectionName(), EventKind::Link, start))
        addBefore(*before);
    // The tool's last start or end before the range: whether it ran at the range's start.
    const std::optional<Event> lastStart =
        readLastEventBefore(reader.connectionName(), EventKind::ToolStart, start);
    const std::optional<Event> lastEnd =
        readLastEventBefore(reader.connectionName(), EventKind::ToolEnd, start);
    if (lastEnd && (!lastStart || lastStart->when <= lastEnd->when))
        addBefore(*lastEnd);
    else if (lastStart)
        addBefore(*lastStart);
    std::vector<StoredEvent> range =
        readEventsBetweenInRingOrder(reader.connectionName(), start, dateTimeOf(high));
    events.insert(events.end(), std::make_move_iterator(range.begin()),
                  std::make_move_iterator(range.end()));
    return chartEventsOf(events, from, to, rowPlaces, axis);
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

std::vector<ColumnMark> columnMarks(const std::vector<Journal::Mark> &marks, double from, double to,
                                    int width)
{
    std::vector<ColumnMark> columns;
    const std::vector<std::optional<double>> xs = markXs(marks, from, to, width);
    std::size_t columnStart = 0; // first entry of the column being filled
    for (std::size_t i = 0; i < xs.size(); ++i) {
        if (!xs[i])
            continue;
        const ColumnMark mark{std::clamp(int(*xs[i]), 0, std::max(0, width - 1)), marks[i].kind,
                              marks[i].off};
        if (!columns.empty() && columns.back().x != mark.x)
            columnStart = columns.size();
        const bool drawn = std::any_of(
            columns.begin() + std::ptrdiff_t(columnStart), columns.end(),
            [&](const ColumnMark &c) { return c.kind == mark.kind && c.off == mark.off; });
        if (!drawn)
            columns.push_back(mark);
    }
    return columns;
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
        const double left = std::max(0.0, xOf(span.from, from, to, width));
        const double right = std::min(double(width), xOf(span.to, from, to, width));
        if (!xs.empty() && left < xs.back().second + 1)
            xs.back().second = std::max(xs.back().second, right);
        else
            xs.emplace_back(left, right);
    }
    return xs;
}

NearMarks marksNear(const std::vector<Journal::Mark> &marks, double moment, double halfWindow,
                    int shown)
{
    const auto first =
        std::lower_bound(marks.begin(), marks.end(), moment - halfWindow,
                         [](const Journal::Mark &mark, double when) { return mark.moment < when; });
    const auto end =
        std::upper_bound(first, marks.end(), moment + halfWindow,
                         [](double when, const Journal::Mark &mark) { return when < mark.moment; });
    NearMarks near;
    near.count = int(end - first);
    for (auto it = first; it != end && near.texts.size() < shown; ++it)
        near.texts << it->text;
    return near;
}

QString nearMarksText(const NearMarks &near)
{
    QString text = near.texts.join(QStringLiteral("；"));
    const int rest = near.count - int(near.texts.size());
    if (rest > 0)
        text += QStringLiteral("  +%1").arg(rest);
    return text;
}

} // namespace History
