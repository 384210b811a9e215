#include "stationsource.h"

#include "daytime.h"
#include "historianreader.h"
#include "historyrange.h"

namespace History
{

RecordTable stationRing(double from, double to, std::optional<RecordTable> ring)
{
    if (ring)
        return *ring;
    const double secondsRingDays =
        double(kRecordRingIds) * ringSampleSeconds(RecordTable::PvData) / kSecondsPerDay;
    return to - from <= secondsRingDays ? RecordTable::PvData : RecordTable::LpvWdjl;
}

std::optional<StationRange> readStationRange(const QString &source, RecordTable ring,
                                             const QDateTime &from, const QDateTime &to,
                                             bool withEvents, QString *error)
{
    std::optional<StationHistory> history =
        readStationHistory(source, ring, from, to, withEvents, error);
    if (!history)
        return std::nullopt;
    StationRange range;
    range.rows.reserve(history->records.size());
    qint32 id = 0;
    for (const StationRecord &record : history->records) {
        RingRow row;
        row.id = ++id;
        row.date = record.date;
        row.time = record.time;
        row.values = record.values;
        row.quality = record.quality;
        row.utcOffset = record.utcOffset;
        range.rows.append(row);
    }
    range.events = std::move(history->events);
    range.scaling = std::move(history->scaling);
    return range;
}

std::optional<QVector<RingRow>> readStationRows(const QString &source, RecordTable ring,
                                                double from, double to, QString *error)
{
    std::optional<StationRange> range =
        readStationRange(source, ring, dateTimeOf(from), dateTimeOf(to), false, error);
    if (!range)
        return std::nullopt;
    return std::move(range->rows);
}

RangeExport exportStation(const QString &source, double from, double to,
                          std::optional<RecordTable> ring, const QString &path,
                          const ExportProgress &progress, CsvValues values)
{
    RangeExport done;
    if (refuseFromAfterTo(done, from, to))
        return done;
    done.ring = stationRing(from, to, ring);
    QString error;
    const std::optional<StationRange> range =
        readStationRange(source, done.ring, dateTimeOf(from), dateTimeOf(to), false, &error);
    if (!range) {
        done.fault = RangeFault::ReadFailed;
        // The server's messages run over several lines; the reason is one.
        done.message = QStringLiteral("cannot read the historian: ") + error.simplified();
        return done;
    }
    writeRows(done, range->rows, path, progress,
              values == CsvValues::Raw ? ScalingTimeline() : ScalingTimeline(range->scaling));
    return done;
}

} // namespace History
