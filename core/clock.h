#pragma once

#include <QDateTime>

#include <functional>

// The one clock that every reader of the date and time uses, at whole-second
// resolution. Tests replace its source to set any date and time.
namespace SystemClock
{

// The current local date and time, milliseconds dropped.
QDateTime now();

// Has the C library read the machine's time zone file once, not at every
// conversion (TZ names /etc/localtime when the environment names no zone).
// Called first thing in main(), before any local time is taken.
void readZoneFileOnce();

// Replaces the source of now(); an empty function restores the system clock.
void setSource(std::function<QDateTime()> source);

// Convenience for tests: a clock that stands still at the given moment until set again.
void setFixed(const QDateTime &moment);

} // namespace SystemClock
