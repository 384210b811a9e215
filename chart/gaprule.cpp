#include "gaprule.h"

#include "chartgeometry.h"
#include "daytime.h"

#include <algorithm>

namespace History
{

namespace
{
// Rows further apart than this many sample intervals are a gap in either ring.
constexpr int kGapIntervals = 30;
} // namespace

double gapDays(RecordTable ring)
{
    if (ring == RecordTable::PvData)
        return Chart::kGapDays;
    return std::min(Chart::kGapDays, kGapIntervals * ringSampleSeconds(ring) / kSecondsPerDay);
}

bool isGap(double earlier, double later, RecordTable ring)
{
    return later - earlier > gapDays(ring);
}

} // namespace History
