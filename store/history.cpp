#include "history.h"

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace
{

// Positions in a pv_data row: w_id, w_date, w_time, then the eight values.
constexpr int kDateColumn = 1;
constexpr int kTimeColumn = 2;
constexpr int kFirstValueColumn = 3;

// SQLite's BETWEEN is ordered: the smaller bound always comes first.
const char *const kInsideRange =
    "select * from pv_data where w_id between :low and :high order by w_date, w_time";
const char *const kOutsideRange =
    "select * from pv_data where w_id not between :low and :high order by w_date, w_time";

} // namespace

PvWindowRange pvWindowRange(qint32 endId, qint32 length)
{
    PvWindowRange range;
    range.wraps = endId < length;
    // 64-bit intermediate: ids far outside the ring must not overflow.
    const qint64 start =
        range.wraps ? qint64(kRecordRingIds) - (qint64(length) - endId) : qint64(endId) - length;
    range.startId = qint32(std::clamp<qint64>(start, std::numeric_limits<qint32>::min(),
                                              std::numeric_limits<qint32>::max()));
    return range;
}

std::optional<QVector<PvRecord>> readPvWindow(const QSqlDatabase &db, qint32 endId, qint32 length)
{
    if (!db.isOpen())
        return std::nullopt;
    const PvWindowRange range = pvWindowRange(endId, length);
    // Without wrap the window is startId + 1..endId; with wrap it is every id
    // outside endId + 1..startId.
    const qint64 a = range.wraps ? qint64(endId) + 1 : qint64(range.startId) + 1;
    const qint64 b = range.wraps ? qint64(range.startId) : qint64(endId);

    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(QLatin1String(range.wraps ? kOutsideRange : kInsideRange)))
        return std::nullopt;
    query.bindValue(QStringLiteral(":low"), std::min(a, b));
    query.bindValue(QStringLiteral(":high"), std::max(a, b));
    if (!query.exec())
        return std::nullopt;

    QVector<PvRecord> records;
    records.reserve(std::max<qint32>(length, 0));
    while (query.next()) {
        PvRecord record;
        record.date = query.value(kDateColumn).toDouble();
        record.time = query.value(kTimeColumn).toDouble();
        for (int k = 0; k < int(record.values.size()); ++k)
            record.values[k] = query.value(kFirstValueColumn + k).toFloat();
        records.append(record);
    }
    return records;
}
