#pragma once

#include "gaprule.h"
#include "instants.h"
#include "ringquery.h"
#include "store.h"

#include <QDateTime>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <functional>
#include <optional>

// Finding a date-time range on the two recording rings. The recorder writes ids
// 1, 2, … 65500, 1, … in time order, so by id a ring is in time order except at
// one place, the wrap, where the newest row is followed by the oldest. The wrap
// is found by a search over ids, then each end of a range by a binary search in
// time order: some fifty rows looked up by their key, no index of times needed.

namespace History
{

// Date and time of the row with an id; nullopt when there is no such row.
using MomentLookup = std::function<std::optional<double>(qint32 id)>;

// The ring in time order: position k (0 .. 65499) is the id
// (oldestId − 1 + k) mod 65500 + 1, oldestId being the id after the newest.
// Ids never written stand at the start, before the oldest row.
struct RingOrder {
    qint32 oldestId = 1;

    // The id at time-order position k.
    qint32 idAt(int k) const;
};

// Finds the wrap: the newest id is the recorder's counter `counterId` when its
// row exists; otherwise it is searched for: the id before the first row older
// than row 1 or never written (ids 1 .. newest were written after the wrap).
RingOrder findRingOrder(const MomentLookup &momentOf, std::optional<qint32> counterId = {});

// The first time-order position whose row is at or after `moment`
// (strictly after, with `after`); 65500 when none is.
int searchPosition(const RingOrder &order, const MomentLookup &momentOf, double moment,
                   bool after = false);

// Ids low .. high, inclusive.
struct IdSpan {
    qint32 low = 0;
    qint32 high = 0;
};

// The ids of time-order positions [first, end): one span, or two where they
// cross id 65500 (the older first).
QVector<IdSpan> idSpans(const RingOrder &order, int first, int end);

// The ring the history reads `from` .. `to` from: the 10-second ring for a range
// longer than the 1-second ring holds; else the 1-second ring when its oldest
// row is at or before `from` (it covers the range); else the 10-second ring
// when that reaches back further (an older range). In a young database both
// rings start together and the 1-second ring has the detail.
RecordTable chooseRing(std::optional<double> oldestPv, std::optional<double> oldestLpv, double from,
                       double to);

// chooseRing() with the oldest rows of the rings read through `reader`.
RecordTable chooseRing(const RingReader &reader, double from, double to);

// What a range read found.
struct RangeRead {
    bool ok = false;
    QString error;                // why not, when !ok
    QVector<RingRow> rows;        // in the order asked for, each in [from, to]
    std::optional<double> oldest; // the ring's oldest row
};

// How a range read orders its rows.
enum class RowOrder {
    DateTime,  // by local date and time (rows of a clock set back fall in between)
    Recording, // as recorded: ring order across the wrap
};

// The rows of `ring` from `from` to `to` (day serials, inclusive), in `order`
// across the wrap. One snapshot of the file: a recording made meanwhile does
// not shift the rows under the read.
RangeRead readRange(RingReader &reader, RecordTable ring, double from, double to,
                    RowOrder order = RowOrder::DateTime);

// The places on `axis` of rows in recording order: each at the instant it was
// recorded, resolved in that order (InstantResolver in the axis's zone), so
// that the two passes of an hour the clocks repeat lie an hour apart and rows
// after a clock set back stand where that clock put them.
QVector<double> placeRows(const QVector<RingRow> &rows, const TimeAxis &axis);

// The rows of `ring` recorded from the instant at `from` to the instant at
// `to` (places on `axis`), in recording order, with their places in `places`.
// Read by local times wide enough for both passes of a repeated hour, so that
// rows without a stored offset resolve after the rows recorded before them.
RangeRead readPlacedRange(RingReader &reader, RecordTable ring, const TimeAxis &axis, double from,
                          double to, QVector<double> &places);

// The oldest row's moment of a ring, nullopt when it holds none or the read fails.
std::optional<double> oldestMoment(const RingReader &reader, RecordTable ring);

// The moment of a day serial in the tool's one form ("2026-12-07 08:00:05").
QString momentText(double serial);
// The local date and time of an instant in the tool's one form, followed by
// its offset where its zone names that local time twice (the hour the clocks
// repeat): "2026-10-25 02:30:05 (UTC+02:00)", then "… (UTC+01:00)".
QString instantText(const QDateTime &instant);

} // namespace History
