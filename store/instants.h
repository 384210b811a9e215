#pragma once

#include <QDateTime>
#include <QTimeZone>
#include <QVector>
#include <QtGlobal>

#include <optional>
#include <utility>

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

// The history chart's time axis: positions are day serials that run on with
// real time, so that an hour the clocks repeat in autumn lies after its first
// pass instead of on it. Positions are anchored at the zone's offset at the
// start of the range shown: until the zone changes its offset, a position is
// the local date and time as the rings hold it. The default axis is UTC's,
// on which positions and the date and time given are the same throughout.
class TimeAxis
{
public:
    TimeAxis() = default;
    // The axis of `zone`, anchored at its offset at the instant `start`.
    TimeAxis(const QTimeZone &zone, const QDateTime &start);

    const QTimeZone &zone() const { return m_zone; }
    // The offset (seconds east of UTC) at which positions equal local times.
    qint32 anchorOffset() const { return m_anchor; }

    // The position of an instant given as seconds since 1970-01-01 UTC.
    double positionOf(qint64 utcSeconds) const;
    // The position of an instant (milliseconds kept).
    double positionOf(const QDateTime &instant) const;
    // The instant at a position, in the axis's zone, to the millisecond.
    QDateTime instantAt(double position) const;
    // The same instant in UTC: cheaper to make and compare, for many of them.
    QDateTime utcAt(double position) const;
    // The local date and time (day serial) of the instant at a position.
    double localSerialAt(double position) const;
    // The positions of every instant whose local date and time is `local`
    // (seconds as localSeconds() counts them), earlier first: two in an hour
    // repeated when clocks go back, none in an hour they skip.
    QVector<double> positionsOfLocal(qint64 local) const;

    // Local dates and times (day serials, from ≤ to) between which every row
    // recorded from the instant at `from` to that at `to` lies: the local
    // times of the two ends, each widened by the change of offset where the
    // zone changes its offset within a day of the range, so that a search by
    // local time never lands inside a repeated hour.
    std::pair<double, double> localBounds(double from, double to) const;

private:
    QTimeZone m_zone = QTimeZone::utc();
    qint32 m_anchor = 0;
};

// Whether the local date and time of `instant` names two instants in `zone`
// (the hour repeated when clocks go back), so that a text of it needs its offset.
bool isRepeatedLocalTime(const QDateTime &instant, const QTimeZone &zone);
