#pragma once

#include "chartgeometry.h"
#include "linkspans.h"

#include <QColor>
#include <QVector>

#include <vector>

class HealthMonitor;

namespace Chart
{

// A stretch of time as day serials (date + fraction of a day), `from` <= `to`.
struct TimeSpan {
    double from = 0;
    double to = 0;
};

// The light band's colour: translucent, so that the grid shows through.
QColor notLiveBandColour();

// The band behind the curves where the link was not live: for every run of
// drawn samples (as DrawTrend draws them) whose recording times lie in
// `spans`, one vertical stroke over the chart's height, centred on the run
// and as wide as its sample steps. Positions never loaded (date and time 0)
// are not shaded.
QVector<Stroke> notLiveBand(const TrendBuffer &buffer, const TrendView &view,
                            const std::vector<TimeSpan> &spans);

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
