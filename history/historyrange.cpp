#include "historyrange.h"

#include "daytime.h"

#include <algorithm>
#include <cstdlib>

namespace History
{

namespace
{
// A millisecond in days.
constexpr double kEndTolerance = 0.001 / kSecondsPerDay;

MomentLookup lookupIn(const RingReader &reader, RecordTable ring)
{
    return [&reader, ring](qint32 id) { return reader.momentAt(ring, id); };
}
} // namespace

qint32 RingOrder::idAt(int k) const
{
    return qint32((qint64(oldestId) - 1 + k) % kRecordRingIds + 1);
}

RingOrder findRingOrder(const MomentLookup &momentOf, std::optional<qint32> counterId)
{
    RingOrder order;
    if (counterId && momentOf(*counterId)) {
        order.oldestId = *counterId % kRecordRingIds + 1;
        return order;
    }
    const std::optional<double> first = momentOf(1);
    if (!first)
        return order;
    // Ids 1 .. newest were written after the wrap: the first id after them is
    // older than row 1, or was never written.
    qint32 low = 2;
    qint32 high = kRecordRingIds + 1;
    while (low < high) {
        const qint32 middle = low + (high - low) / 2;
        const std::optional<double> moment = momentOf(middle);
        if (!moment || *moment < *first)
            high = middle;
        else
            low = middle + 1;
    }
    const qint32 oldest = low;
    order.oldestId = oldest > kRecordRingIds ? 1 : oldest;
    return order;
}

int searchPosition(const RingOrder &order, const MomentLookup &momentOf, double moment, bool after)
{
    int low = 0;
    int high = kRecordRingIds;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        // An id never written stands before every row.
        const std::optional<double> m = momentOf(order.idAt(middle));
        const bool before = !m || (after ? *m <= moment : *m < moment);
        if (before)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

QVector<IdSpan> idSpans(const RingOrder &order, int first, int end)
{
    QVector<IdSpan> spans;
    first = std::clamp(first, 0, int(kRecordRingIds));
    end = std::clamp(end, first, int(kRecordRingIds));
    if (first == end)
        return spans;
    const qint32 low = order.idAt(first);
    const qint32 high = order.idAt(end - 1);
    if (low <= high) {
        spans.append({low, high});
    } else {
        spans.append({low, kRecordRingIds});
        spans.append({1, high});
    }
    return spans;
}

RecordTable chooseRing(std::optional<double> oldestPv, std::optional<double> oldestLpv, double from,
                       double to)
{
    const double pvRingDays =
        kRecordRingIds * ringSampleSeconds(RecordTable::PvData) / kSecondsPerDay;
    if (!oldestPv || to - from > pvRingDays)
        return RecordTable::LpvWdjl;
    if (*oldestPv <= from)
        return RecordTable::PvData;
    const double lpvInterval = ringSampleSeconds(RecordTable::LpvWdjl) / kSecondsPerDay;
    return oldestLpv && *oldestLpv < *oldestPv - lpvInterval ? RecordTable::LpvWdjl
                                                             : RecordTable::PvData;
}

RecordTable chooseRing(const RingReader &reader, double from, double to)
{
    return chooseRing(oldestMoment(reader, RecordTable::PvData),
                      oldestMoment(reader, RecordTable::LpvWdjl), from, to);
}

std::optional<double> oldestMoment(const RingReader &reader, RecordTable ring)
{
    const MomentLookup momentOf = lookupIn(reader, ring);
    const RingOrder order = findRingOrder(momentOf, reader.newestId(ring));
    return momentOf(order.idAt(searchPosition(order, momentOf, -1e300)));
}

RangeRead readRange(RingReader &reader, RecordTable ring, double from, double to, RowOrder rowOrder)
{
    // Rows stand on whole seconds; a range end computed in days may miss its
    // row by the last bit of the double.
    from -= kEndTolerance;
    to += kEndTolerance;
    RangeRead read;
    if (!reader.beginSnapshot()) {
        read.error = reader.lastError();
        return read;
    }
    const MomentLookup momentOf = lookupIn(reader, ring);
    const RingOrder order = findRingOrder(momentOf, reader.newestId(ring));
    read.oldest = momentOf(order.idAt(searchPosition(order, momentOf, -1e300)));
    const int first = searchPosition(order, momentOf, from);
    const int end = searchPosition(order, momentOf, to, true);
    read.ok = true;
    for (const IdSpan &span : idSpans(order, first, end)) {
        if (!reader.readRows(ring, span.low, span.high, read.rows)) {
            read.ok = false;
            read.error = reader.lastError();
            read.rows.clear();
            break;
        }
    }
    reader.endSnapshot();
    // A clock set back while recording leaves rows out of time order and
    // outside the range: they keep date and time order, as the chart's load does.
    const auto outside = [from, to](const RingRow &row) {
        return row.moment() < from || row.moment() > to;
    };
    read.rows.erase(std::remove_if(read.rows.begin(), read.rows.end(), outside), read.rows.end());
    if (rowOrder == RowOrder::Recording)
        return read;
    std::stable_sort(read.rows.begin(), read.rows.end(), [](const RingRow &a, const RingRow &b) {
        return a.date < b.date || (a.date == b.date && a.time < b.time);
    });
    return read;
}

QVector<double> placeRows(const QVector<RingRow> &rows, const TimeAxis &axis)
{
    InstantResolver resolver(axis.zone());
    QVector<double> places;
    places.reserve(rows.size());
    for (const RingRow &row : rows) {
        const qint32 offset = resolver.nextOffset(row.date, row.time, row.utcOffset);
        places.append(axis.positionOf(localSeconds(row.date, row.time) - offset));
    }
    return places;
}

RangeRead readPlacedRange(RingReader &reader, RecordTable ring, const TimeAxis &axis, double from,
                          double to, QVector<double> &places)
{
    const auto [low, high] = axis.localBounds(from, to);
    RangeRead read = readRange(reader, ring, low, high, RowOrder::Recording);
    const QVector<double> all = placeRows(read.rows, axis);
    QVector<RingRow> kept;
    places.clear();
    for (int i = 0; i < read.rows.size(); ++i) {
        if (all.at(i) >= from - kEndTolerance && all.at(i) <= to + kEndTolerance) {
            kept.append(read.rows.at(i));
            places.append(all.at(i));
        }
    }
    read.rows = std::move(kept);
    return read;
}

QString instantText(const QDateTime &instant)
{
    QString text = ::momentText(instant);
    if (isRepeatedLocalTime(instant, instant.timeZone())) {
        const qint32 minutes = instant.offsetFromUtc() / 60;
        text += QStringLiteral(" (UTC%1%2:%3)")
                    .arg(minutes < 0 ? QLatin1Char('-') : QLatin1Char('+'))
                    .arg(std::abs(minutes) / 60, 2, 10, QLatin1Char('0'))
                    .arg(std::abs(minutes) % 60, 2, 10, QLatin1Char('0'));
    }
    return text;
}

QString momentText(double serial)
{
    return ::momentText(dateTimeOf(serial));
}

} // namespace History
