#pragma once

#include "chartmarks.h"
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

// The spans in which `monitor`'s link was not live; one still open ends now.
std::vector<TimeSpan> notLiveSpans(const HealthMonitor &monitor);

} // namespace Chart
