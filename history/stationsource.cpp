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
        double(kRecordRingIds) * sampleSeconds(RecordTable::PvData) / kSecondsPerDay;
    return to - from <= secondsRingDays ? RecordTable::PvData : RecordTable::LpvWdjl;
}

std::optional<QVector<RingRow>> readStationRows(const QString &source, RecordTable ring,
                                                double from, double to, QString *error)
{
    const std::optional<QVector<PvRecord>> records =
        readStationRecords(source, ring, dateTimeOf(from), dateTimeOf(to), error);
    if (!records)
        return std::nullopt;
    QVector<RingRow> rows;
    rows.reserve(records->size());
    qint32 id = 0;
    for (const PvRecord &record : *records)
        rows.append(RingRow{++id, record.date, record.time, record.values, 0});
    return rows;
}

RangeExport exportStation(const QString &source, double from, double to,
                          std::optional<RecordTable> ring, const QString &path,
                          const ExportProgress &progress)
{
    RangeExport done;
    if (from > to) {
        done.fault = RangeFault::FromAfterTo;
        done.message = QStringLiteral("from after to");
        return done;
    }
    done.ring = stationRing(from, to, ring);
    QString error;
    const std::optional<QVector<RingRow>> rows =
        readStationRows(source, done.ring, from, to, &error);
    if (!rows) {
        done.fault = RangeFault::ReadFailed;
        // The server's messages run over several lines; the reason is one.
        done.message = QStringLiteral("cannot read the historian: ") + error.simplified();
        return done;
    }
    writeRows(done, *rows, path, progress);
    return done;
}

} // namespace History
