#include "history.h"

#include "rowquality.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

#include <algorithm>
#include <limits>

namespace
{

// Positions in a pv_data row: w_id, w_date, w_time, then the eight values.
constexpr int kDateColumn = 1;
constexpr int kTimeColumn = 2;
constexpr int kFirstValueColumn = 3;

// A window across the ring's end is two id ranges, so that both use the id key instead
// of a scan of the whole ring.
const char *const kOneRange = "select * from pv_data where w_id between :low1 and :high1 "
                              "order by w_date, w_time";
const char *const kTwoRanges = "select * from pv_data where w_id between :low1 and :high1 "
                               "or w_id between :low2 and :high2 order by w_date, w_time";
const QString kOneRangeWhere = QStringLiteral("p.w_id between :low1 and :high1");
const QString kTwoRangesWhere =
    QStringLiteral("p.w_id between :low1 and :high1 or p.w_id between :low2 and :high2");

// Ids low..high; SQLite's BETWEEN is ordered, so low > high selects nothing.
void bindRange(QSqlQuery &query, int n, qint64 low, qint64 high)
{
    query.bindValue(QStringLiteral(":low%1").arg(n), low);
    query.bindValue(QStringLiteral(":high%1").arg(n), high);
}

} // namespace

qint32 ringIdBefore(qint32 id, qint32 steps)
{
    // 64-bit intermediate: ids far outside the ring must not overflow.
    const qint64 before =
        id >= steps ? qint64(id) - steps : qint64(kRecordRingIds) - (qint64(steps) - id);
    return qint32(std::clamp<qint64>(before, std::numeric_limits<qint32>::min(),
                                     std::numeric_limits<qint32>::max()));
}

PvWindowRange pvWindowRange(qint32 endId, qint32 length)
{
    PvWindowRange range;
    range.wraps = endId < length;
    range.startId = ringIdBefore(endId, length);
    return range;
}

std::optional<QVector<PvRecord>> readPvWindow(const QSqlDatabase &db, qint32 endId, qint32 length)
{
    if (!db.isOpen())
        return std::nullopt;
    const PvWindowRange range = pvWindowRange(endId, length);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    // The rows with their quality; a file without the quality table (another
    // program's) gives the rows alone, of unknown quality.
    const bool withQuality = query.prepare(ringRowsWithQualitySql(
        QStringLiteral("pv_data"), QStringLiteral("w_id"), kRowQualityPvRing,
        range.wraps ? kTwoRangesWhere : kOneRangeWhere, QStringLiteral("p.w_date, p.w_time")));
    if (!withQuality && !query.prepare(QLatin1String(range.wraps ? kTwoRanges : kOneRange)))
        return std::nullopt;
    if (range.wraps) {
        // Ids 1..endId and startId + 1..65500.
        bindRange(query, 1, 1, endId);
        bindRange(query, 2, qint64(range.startId) + 1, kRecordRingIds);
    } else {
        bindRange(query, 1, qint64(range.startId) + 1, endId);
    }
    if (!query.exec())
        return std::nullopt;

    const int columns = query.record().count();
    QVector<PvRecord> records;
    records.reserve(std::max<qint32>(length, 0));
    while (query.next()) {
        PvRecord record;
        record.date = query.value(kDateColumn).toDouble();
        record.time = query.value(kTimeColumn).toDouble();
        for (int k = 0; k < int(record.values.size()); ++k)
            record.values[k] = query.value(kFirstValueColumn + k).toFloat();
        if (withQuality)
            record.quality = storedRowQuality(query, columns, record.date, record.time).quality;
        records.append(record);
    }
    return records;
}
