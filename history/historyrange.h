#pragma once

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

// The largest spacing of two neighbouring rows that is not a gap, in days: just
// under 5 minutes, or 30 sample intervals where those are shorter.
double gapDays(RecordTable ring);

// Whether two neighbouring rows (in time order) have a gap between them.
bool isGap(double earlier, double later, RecordTable ring);

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

// The oldest row's moment of a ring, nullopt when it holds none or the read fails.
std::optional<double> oldestMoment(const RingReader &reader, RecordTable ring);

// The local date and time of a day serial, and the other way round.
double serialOf(const QDateTime &moment);
QDateTime dateTimeOf(double serial);
// The moment of a day serial in the tool's one form ("2026-12-07 08:00:05").
QString momentText(double serial);

} // namespace History
