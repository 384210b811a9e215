#pragma once

#include <QDate>
#include <QDateTime>
#include <QString>
#include <QTime>

#include <optional>

// Dates and times travel as day serials: whole days since 30 December 1899 for a
// date, the fraction of a day for a time of day.

constexpr qint64 kSecondsPerMinute = 60;
constexpr qint64 kSecondsPerHour = 60 * kSecondsPerMinute;
constexpr qint64 kWholeSecondsPerDay = 24 * kSecondsPerHour;
constexpr double kSecondsPerDay = kWholeSecondsPerDay;

// The serial of a date: whole days since day zero, negative before it.
double daySerial(const QDate &date);
// A time of day as the fraction of a day (12:00 -> 0.5).
double dayFraction(const QTime &time);
// The date of a serial's whole part (fractions are ignored).
QDate dateFromSerial(double serial);
// The time of day of a serial's fractional part, to the nearest second.
QTime timeFromFraction(double serial);
// A local date and time as one serial (date + fraction of a day), and back.
double serialOf(const QDateTime &moment);
QDateTime dateTimeOf(double serial);

// Texts of the chart's axis labels and of the ruler read-out.
QString chartTimeText(double timeFraction); // "HH:mm:ss"
QString chartDateText(double dateSerial);   // "yyyy/MM/dd"

// The one form of a date and of a moment everywhere outside the overview
// (whose clock and chart labels keep their own): "2026-12-07" and
// "2026-12-07 08:00:05".
QString dateText(const QDate &date);
QString momentText(const QDateTime &moment);
// The form of momentText(), for controls that take a display format.
constexpr char kMomentFormat[] = "yyyy-MM-dd HH:mm:ss";
// A local date and time as an operator writes it (the command line, the web
// view's history range): "2026-12-07 08:00", with seconds, with a T between
// date and time, or a date alone (its midnight); surrounding spaces ignored.
// Nullopt when it is none of these.
std::optional<QDateTime> parseLocalMoment(const QString &text);

// Texts of the clock read-out: "MM-dd-yyyy" and "HH:mm:ss".
QString clockDateText(const QDateTime &moment);
QString clockTimeText(const QDateTime &moment);
