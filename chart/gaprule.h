#pragma once

#include "store.h"

// Where a recording has a gap, as both charts break their lines: the rows of
// either ring are one sample interval apart while the tool records.

namespace History
{

// The largest spacing of two neighbouring rows that is not a gap, in days: just
// under 5 minutes, or 30 sample intervals where those are shorter.
double gapDays(RecordTable ring);

// Whether two neighbouring rows (in time order) have a gap between them.
bool isGap(double earlier, double later, RecordTable ring);

} // namespace History
