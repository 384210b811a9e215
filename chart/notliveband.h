#pragma once

#include "chartgeometry.h"

#include <QColor>
#include <QVector>

#include <vector>

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

} // namespace Chart
