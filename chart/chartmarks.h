#pragma once

#include "chartgeometry.h"
#include "eventmarks.h"
#include "events.h"
#include "twips.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <vector>

// Event marks along the top edge of the trend chart: alarm, open and short
// circuit and alarm output events and configuration writes, at the x of their
// time between the samples around it, coloured by kind (solid when a state
// comes on or a parameter is written, dotted when a state goes off).

namespace Chart
{

// How far down from the top edge a mark reaches, in chart units (twips).
constexpr double kMarkHeight = Journal::kMarkHeightPixels * kTwipsPerPixel;

// The journal's marks, as the history chart draws them too.
using Journal::Mark;

// The moments of the first and the last sample the view shows (positions
// WindowOffset .. WritePosition that hold a sample); false when none does.
bool viewSpan(const TrendBuffer &buffer, const TrendView &view, double &first, double &last);

// The x of a moment: interpolated between the two shown samples around it;
// nullopt outside the samples shown or beyond the chart's width.
std::optional<double> momentX(const TrendBuffer &buffer, const TrendView &view, double moment);

// The strokes of the marks, in the order given.
QVector<Stroke> markStrokes(const TrendBuffer &buffer, const TrendView &view,
                            const std::vector<Mark> &marks);

// The texts of the marks within the sample at `position`: those whose x lies
// within half a sample step of its vertex.
QStringList marksAtSample(const TrendBuffer &buffer, const TrendView &view,
                          const std::vector<Mark> &marks, int position);

} // namespace Chart
