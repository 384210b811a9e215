#pragma once

#include "eventmarks.h"
#include "events.h"
#include "instants.h"
#include "notliveband.h"
#include "ringquery.h"

#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

class RingReader;

// What the history chart shows of the events table beside the curves: the
// spans in which the link was not live (a light band behind the curves) and
// the journal's marks along the top edge, as plain functions of a range.

namespace History
{

// The not-live spans and the marks of one range, as day serials.
struct ChartEvents {
    std::vector<Chart::TimeSpan> notLive; // oldest first, cut to the range
    std::vector<Journal::Mark> marks;     // oldest first
    // Where the tool did not run (so nothing was recorded), oldest first, cut to the range.
    std::vector<Chart::TimeSpan> notRecorded;
};

// An event at its place on the chart's time axis.
struct PlacedEvent {
    double at = 0;
    Event event;
};

// The events at their places on `axis`, sorted by place (events of one place
// in the order given). An event whose time carries its offset (the
// historian's) stands at that instant; one stored in local time is resolved
// as rows are, in the order given, which is the ring's for a repeated hour's
// two passes to come apart.
std::vector<PlacedEvent> placeEvents(const std::vector<Event> &events, const TimeAxis &axis);
// The same for events as the ring holds them, all in local time: placed from
// their stored date and time, their `when` left as read (null).
std::vector<PlacedEvent> placeEvents(const std::vector<StoredEvent> &events, const TimeAxis &axis);

// The spans and marks of `from` .. `to` (places on `axis`) from stored events
// in ring order (see placeEvents); the last link event before `from` belongs
// in `events` for a span that began before the range. `rowPlaces` (the places
// of the rows shown, in any order) place the start of time not recorded after
// a crash.
ChartEvents chartEventsOf(const std::vector<Event> &events, double from, double to,
                          const QVector<double> &rowPlaces = {}, const TimeAxis &axis = {});
ChartEvents chartEventsOf(const std::vector<StoredEvent> &events, double from, double to,
                          const QVector<double> &rowPlaces = {}, const TimeAxis &axis = {});

// The same, read through `reader`'s open connection: the events of the range
// (read by local times wide enough for a repeated hour, in ring order) and
// the last link and tool events before it. Nothing when the file has no events.
ChartEvents readChartEvents(const RingReader &reader, double from, double to,
                            const QVector<double> &rowPlaces = {}, const TimeAxis &axis = {});

// The spans of `from` .. `to` in which the tool did not run: from each
// "end" to the next "start", and from the last row recorded before a "start"
// that follows another "start" without an "end" (the tool ended without
// saying so: a crash, a power cut) to that "start". `events` as placeEvents
// gives them, the last tool event before `from` among them; `rowPlaces` in
// time order. A span still open at `to` (no start since) ends at `to`.
std::vector<Chart::TimeSpan> notRecordedSpansOf(const std::vector<PlacedEvent> &events,
                                                const QVector<double> &rowPlaces, double from,
                                                double to);
// Whether `moment` lies within one of `spans`.
bool within(const std::vector<Chart::TimeSpan> &spans, double moment);
// The light band of time not recorded: another colour than the not-live band's.
QColor notRecordedBandColour();

// The x of each mark in a plot `width` pixels wide from `from` (x 0) to `to`
// (x `width`); nullopt for a mark outside the range.
std::vector<std::optional<double>> markXs(const std::vector<Journal::Mark> &marks, double from,
                                          double to, int width);

// One drawn mark: its pixel column, kind and whether a state goes off.
struct ColumnMark {
    int x = 0; // 0 .. width − 1
    EventKind kind = EventKind::Alarm;
    bool off = false;
};

// The marks as drawn in a plot `width` pixels wide: one per pixel column, kind
// and on/off, so that a chattering input costs at most a few lines per column
// on a long range. Marks in time order, as chartEventsOf gives them.
std::vector<ColumnMark> columnMarks(const std::vector<Journal::Mark> &marks, double from, double to,
                                    int width);

// The left and right x of the spans on the same axis, cut to 0 .. `width`;
// spans outside the range are left out, and spans less than a pixel apart
// are joined into one (a flapping link draws one band, not thousands).
std::vector<std::pair<double, double>> spanXs(const std::vector<Chart::TimeSpan> &spans,
                                              double from, double to, int width);

// The marks within `halfWindow` (days) of a moment: the texts of the first
// few, oldest first, and how many there are in all.
struct NearMarks {
    QStringList texts;
    int count = 0;
};
// Those near `moment`, the texts of at most `shown` of them; `marks` in time
// order, as chartEventsOf gives them, so that a full events ring is searched,
// not walked.
NearMarks marksNear(const std::vector<Journal::Mark> &marks, double moment, double halfWindow,
                    int shown);
// The read-out of near marks: their texts joined by "；", then "+N" for those
// not shown ("通道一报警 ON；继电器1 ON  +17"); empty when there are none.
QString nearMarksText(const NearMarks &near);

} // namespace History
