#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <QVector>
#include <QtGlobal>

#include <optional>

// A recorded row's local date and time (day serial and fraction of a day, as
// the rings hold them) and, when it was stored with the row, its offset from
// UTC in seconds east.
struct LocalStamp {
    double date = 0;
    double time = 0;
    std::optional<qint32> utcOffset;
};

// Gives rows of a ring, one after another in ring order, the instant each
// was recorded at. A stored offset is taken as it is. Without one, the local
// date and time is resolved in the time zone: where it names two instants (the
// hour repeated when clocks go back) the earlier is taken unless it lies before
// the previous row's instant, so the first pass of the hour keeps the earlier
// offset and the rows after the local time went back get the later one. A
// local time that the zone skips is taken with the offset before the change.
// Rows are never reordered or dropped: a clock set back yields instants that
// go back with it.
class InstantResolver
{
public:
    // Resolves in `zone` (the system's zone unless given).
    explicit InstantResolver(const QTimeZone &zone = QTimeZone::systemTimeZone());

    // The offset from UTC of the next row in ring order.
    qint32 nextOffset(double date, double time, std::optional<qint32> storedOffset);
    // The instant of the next row in ring order, as a date and time at its offset.
    QDateTime next(double date, double time, std::optional<qint32> storedOffset);

private:
    qint32 offsetFromZone(qint64 localSeconds);
    qint32 offsetAtInstant(qint64 utcSeconds);

    QTimeZone m_zone;
    std::optional<qint64> m_previousUtc;
    // The last stretch of one offset looked up in the zone: [from, to) in UTC seconds.
    qint64 m_spanFrom = 1;
    qint64 m_spanTo = 0;
    qint32 m_spanOffset = 0;
};

// The instants of `rows` taken in ring order (see InstantResolver), in the system's zone.
QVector<QDateTime> resolveInstants(const QVector<LocalStamp> &rows);

// The local date and time of a row as seconds since 1970-01-01T00:00 of the
// same calendar (no zone applied); the time rounded to the nearest second.
qint64 localSeconds(double date, double time);
