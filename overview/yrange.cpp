#include "yrange.h"

#include "numbers.h"
#include "shared.h"

std::optional<YRange> readYRange(const QString &upperText, const QString &lowerText)
{
    const double upper = leadingNumber(upperText);
    if (!(upper >= kUpperLimitLowest && upper <= kUpperLimitHighest))
        return std::nullopt;
    const double lower = leadingNumber(lowerText);
    if (!(lower >= kLowerLimitLowest && lower <= kLowerLimitHighest) || lower > upper)
        return std::nullopt;
    // Within these limits every rounded value fits the 32-bit shared range.
    YRange range;
    range.low = toInt32(lower).value_or(0);
    range.high = toInt32(upper).value_or(0);
    range.span = toInt32(upper - lower).value_or(0);
    return range;
}

bool applyYRange(const QString &upperText, const QString &lowerText)
{
    const std::optional<YRange> range = readYRange(upperText, lowerText);
    if (!range)
        return false;
    ChartLow = range->low;
    ChartHigh = range->high;
    ChartSpan = range->span;
    return true;
}
