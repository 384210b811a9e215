#pragma once

#include "chartmarks.h"
#include "linkspans.h"
#include "notliveband.h"

#include <vector>

class EventJournal;
class HealthMonitor;

// What the overview's trend shows beside its curves, taken from the tool's
// journal and health monitor: the chart library draws marks and bands of
// plain spans and moments, and knows neither.

namespace Chart
{

// The marks of the journal's events between two moments (day serials).
std::vector<Mark> journalMarks(const EventJournal &journal, double from, double to);

// Those of `spans` (oldest first, as the health monitor keeps them) that reach
// into `from` .. `to`, as day serials; one still open ends at `now`. A span
// ending exactly at `from` or starting exactly at `to` is among them. Found by
// a binary search, so that a redraw costs the same however many spans a long
// run has kept.
std::vector<TimeSpan> spansWithin(const std::vector<NotLiveSpan> &spans, double from, double to,
                                  double now);

// The spans in which `monitor`'s link was not live that reach into `from` ..
// `to`; one still open ends now.
std::vector<TimeSpan> notLiveSpans(const HealthMonitor &monitor, double from, double to);

} // namespace Chart
