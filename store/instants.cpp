#include "instants.h"

#include "daytime.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace
{

// The day serial of 1970-01-01.
constexpr qint64 kEpochSerial = 25569;
// A zone changes its offset at most a few times a year: a day either side of
// an instant looked up finds every offset that can apply.
constexpr qint64 kOffsetReachSeconds = kWholeSecondsPerDay;

} // namespace

qint64 localSeconds(double date, double time)
{
    const double fraction = std::fabs(time - std::trunc(time));
    qint64 seconds = std::llround(fraction * kSecondsPerDay);
    if (seconds >= kWholeSecondsPerDay)
        seconds = 0;
    return (static_cast<qint64>(std::trunc(date)) - kEpochSerial) * kWholeSecondsPerDay + seconds;
}

InstantResolver::InstantResolver(const QTimeZone &zone) : m_zone(zone) {}

qint32 InstantResolver::offsetAtInstant(qint64 utcSeconds)
{
    if (utcSeconds >= m_spanFrom && utcSeconds < m_spanTo)
        return m_spanOffset;
    const QDateTime at = QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC);
    m_spanOffset = m_zone.isValid() ? m_zone.offsetFromUtc(at) : 0;
    // The stretch around the instant in which the offset stays as it is.
    m_spanFrom = std::numeric_limits<qint64>::min();
    m_spanTo = std::numeric_limits<qint64>::max();
    if (m_zone.isValid() && m_zone.hasTransitions()) {
        const QTimeZone::OffsetData before = m_zone.previousTransition(at.addSecs(1));
        const QTimeZone::OffsetData after = m_zone.nextTransition(at);
        if (before.atUtc.isValid())
            m_spanFrom = before.atUtc.toSecsSinceEpoch();
        if (after.atUtc.isValid())
            m_spanTo = after.atUtc.toSecsSinceEpoch();
        if (utcSeconds < m_spanFrom || utcSeconds >= m_spanTo) {
            // The zone's data disagree with themselves: no stretch is kept.
            m_spanFrom = 1;
            m_spanTo = 0;
        }
    }
    return m_spanOffset;
}

qint32 InstantResolver::offsetFromZone(qint64 local)
{
    // Every offset that holds within a day of the local time, and the
    // instants they give that really carry that offset.
    const qint32 early = offsetAtInstant(local - kOffsetReachSeconds);
    const qint32 late = offsetAtInstant(local + kOffsetReachSeconds);
    qint32 candidates[2] = {std::max(early, late), std::min(early, late)}; // earlier instant first
    int valid = 0;
    qint32 found[2] = {0, 0};
    for (qint32 offset : candidates) {
        if ((valid == 0 || found[0] != offset) && offsetAtInstant(local - offset) == offset)
            found[valid++] = offset;
    }
    if (valid == 0) // skipped by the zone: the offset in force before the change
        return early;
    if (valid == 1 || !m_previousUtc || local - found[0] >= *m_previousUtc)
        return found[0];
    return found[1];
}

qint32 InstantResolver::nextOffset(double date, double time, std::optional<qint32> storedOffset)
{
    const qint64 local = localSeconds(date, time);
    const qint32 offset = storedOffset ? *storedOffset : offsetFromZone(local);
    m_previousUtc = local - offset;
    return offset;
}

QDateTime InstantResolver::next(double date, double time, std::optional<qint32> storedOffset)
{
    const qint32 offset = nextOffset(date, time, storedOffset);
    return QDateTime::fromSecsSinceEpoch(*m_previousUtc, Qt::OffsetFromUTC, offset);
}

QVector<QDateTime> resolveInstants(const QVector<LocalStamp> &rows)
{
    InstantResolver resolver;
    QVector<QDateTime> instants;
    instants.reserve(rows.size());
    for (const LocalStamp &row : rows)
        instants.append(resolver.next(row.date, row.time, row.utcOffset));
    return instants;
}

TimeAxis::TimeAxis(const QTimeZone &zone, const QDateTime &start)
    : m_zone(zone.isValid() ? zone : QTimeZone::utc()),
      m_anchor(start.isValid() ? m_zone.offsetFromUtc(start) : 0)
{
}

double TimeAxis::positionOf(qint64 utcSeconds) const
{
    return kEpochSerial + double(utcSeconds + m_anchor) / kSecondsPerDay;
}

double TimeAxis::positionOf(const QDateTime &instant) const
{
    return kEpochSerial + (double(instant.toMSecsSinceEpoch()) / 1000 + m_anchor) / kSecondsPerDay;
}

QDateTime TimeAxis::instantAt(double position) const
{
    return utcAt(position).toTimeZone(m_zone);
}

QDateTime TimeAxis::utcAt(double position) const
{
    const double seconds = (position - kEpochSerial) * kSecondsPerDay - m_anchor;
    return QDateTime::fromMSecsSinceEpoch(std::llround(seconds * 1000), Qt::UTC);
}

double TimeAxis::localSerialAt(double position) const
{
    const QDateTime local = instantAt(position);
    const qint64 msOfDay = local.time().msecsSinceStartOfDay();
    return daySerial(local.date()) + double(msOfDay) / (kSecondsPerDay * 1000);
}

QVector<double> TimeAxis::positionsOfLocal(qint64 local) const
{
    const auto offsetAt = [this](qint64 utc) {
        return m_zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(utc, Qt::UTC));
    };
    const qint32 early = offsetAt(local - kOffsetReachSeconds);
    const qint32 late = offsetAt(local + kOffsetReachSeconds);
    QVector<double> positions;
    // The larger offset gives the earlier instant.
    for (const qint32 offset : {std::max(early, late), std::min(early, late)}) {
        if ((positions.isEmpty() || early != late) && offsetAt(local - offset) == offset)
            positions.append(positionOf(local - offset));
    }
    return positions;
}

std::pair<double, double> TimeAxis::localBounds(double from, double to) const
{
    const QDateTime first = instantAt(std::min(from, to));
    const QDateTime last = instantAt(std::max(from, to));
    // Every offset the zone uses from a day before the range to a day after it.
    qint32 lowest = m_zone.offsetFromUtc(first.addSecs(-kOffsetReachSeconds));
    qint32 highest = lowest;
    if (m_zone.hasTransitions()) {
        for (const QTimeZone::OffsetData &change : m_zone.transitions(
                 first.addSecs(-kOffsetReachSeconds), last.addSecs(kOffsetReachSeconds))) {
            lowest = std::min(lowest, change.offsetFromUtc);
            highest = std::max(highest, change.offsetFromUtc);
        }
    }
    const qint32 change = highest - lowest;
    const auto local = [](const QDateTime &instant, qint64 offset) {
        return kEpochSerial +
               (double(instant.toMSecsSinceEpoch()) / 1000 + double(offset)) / kSecondsPerDay;
    };
    return {local(first, lowest - change), local(last, highest + change)};
}

bool isRepeatedLocalTime(const QDateTime &instant, const QTimeZone &zone)
{
    if (!instant.isValid() || !zone.isValid())
        return false;
    const qint64 utc = instant.toSecsSinceEpoch();
    const auto offsetAt = [&zone](qint64 seconds) {
        return zone.offsetFromUtc(QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC));
    };
    const qint32 offset = offsetAt(utc);
    // Another offset in force within a day that names the same local time.
    for (const qint64 probe : {utc - kOffsetReachSeconds, utc + kOffsetReachSeconds}) {
        const qint32 other = offsetAt(probe);
        if (other != offset && offsetAt(utc + offset - other) == other)
            return true;
    }
    return false;
}
