#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

// The chart's vertical range as the Y-axis editor ("修改Y") accepts it.
struct YRange {
    qint32 low = 0;  // ChartLow
    qint32 high = 0; // ChartHigh
    qint32 span = 0; // ChartSpan
};

// Limits of an entry in engineering units.
constexpr double kUpperLimitLowest = -12000;
constexpr double kUpperLimitHighest = 36000;
constexpr double kLowerLimitLowest = -12000;
constexpr double kLowerLimitHighest = 35000;

// Reads the upper (YKD) and lower (YKD1) texts by their leading numbers; nullopt
// when either lies outside its limits or the lower lies above the upper.
std::optional<YRange> readYRange(const QString &upperText, const QString &lowerText);

// Applies the entry to ChartLow, ChartHigh and ChartSpan; false, changing nothing,
// when it is rejected.
bool applyYRange(const QString &upperText, const QString &lowerText);
