#include "daytime.h"

#include <cmath>

namespace
{
// 30 December 1899, day zero of the serials; a constant expression, so it is
// ready even for other objects initialised before main().
constexpr QDate kDayZero = QDate::fromJulianDay(2415019);
} // namespace

double daySerial(const QDate &date)
{
    return static_cast<double>(kDayZero.daysTo(date));
}

double dayFraction(const QTime &time)
{
    return QTime(0, 0).secsTo(time) / kSecondsPerDay;
}

QDate dateFromSerial(double serial)
{
    return kDayZero.addDays(static_cast<qint64>(std::trunc(serial)));
}

QTime timeFromFraction(double serial)
{
    const double fraction = std::fabs(serial - std::trunc(serial));
    qint64 seconds = std::llround(fraction * kSecondsPerDay);
    if (seconds >= kWholeSecondsPerDay)
        seconds = 0;
    return QTime(0, 0).addSecs(static_cast<int>(seconds));
}

double serialOf(const QDateTime &moment)
{
    return daySerial(moment.date()) + dayFraction(moment.time());
}

QDateTime dateTimeOf(double serial)
{
    return QDateTime(dateFromSerial(serial), timeFromFraction(serial));
}

QString chartTimeText(double timeFraction)
{
    return timeFromFraction(timeFraction).toString(QStringLiteral("HH:mm:ss"));
}

QString chartDateText(double dateSerial)
{
    return dateFromSerial(dateSerial).toString(QStringLiteral("yyyy/MM/dd"));
}

QString dateText(const QDate &date)
{
    return date.toString(QStringLiteral("yyyy-MM-dd"));
}

QString momentText(const QDateTime &moment)
{
    return moment.toString(QLatin1String(kMomentFormat));
}

std::optional<QDateTime> parseLocalMoment(const QString &text)
{
    const QString trimmed = text.trimmed();
    for (const char *format : {"yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm",
                               "yyyy-MM-ddTHH:mm:ss", "yyyy-MM-dd"}) {
        const QDateTime moment = QDateTime::fromString(trimmed, QLatin1String(format));
        if (moment.isValid())
            return moment;
    }
    return std::nullopt;
}

QString clockDateText(const QDateTime &moment)
{
    return moment.date().toString(QStringLiteral("MM-dd-yyyy"));
}

QString clockTimeText(const QDateTime &moment)
{
    return moment.time().toString(QStringLiteral("HH:mm:ss"));
}
