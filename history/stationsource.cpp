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
    // Each row is written as it arrives, while the server reads the next: the
    // export takes about as long as the server's reading. The file is begun
    // at the first row, so that a range without rows leaves none. A station
    // with scaling entries is written in engineering values, whose header names
    // the units from the first row to the last: its rows are held until the last.
    CsvFileWriter file(path);
    QVector<ScalingEntry> scaling;
    QVector<RingRow> held;
    bool arrived = false;
    bool opened = false;
    bool holding = false;
    bool cancelled = false;
    // The rows the range can hold, for the progress shown while their count is not known.
    const qint64 expected =
        qMax<qint64>(1, qint64((to - from) * kSecondsPerDay / ringSampleSeconds(done.ring)) + 1);
    const auto write = [&](const StationRecord &record) {
        if (!arrived) {
            arrived = true;
            holding = values == CsvValues::Engineering && !scaling.isEmpty();
            opened = holding || file.open();
        }
        if (!opened)
            return false;
        const qint64 count = holding ? held.size() : file.rows();
        if (progress && count % kExportProgressEvery == 0 &&
            !progress(qMin(count, expected), expected)) {
            cancelled = true;
            return false;
        }
        RingRow row;
        row.id = qint32(count + 1);
        row.date = record.date;
        row.time = record.time;
        row.values = record.values;
        row.quality = record.quality;
        row.utcOffset = record.utcOffset;
        if (!holding)
            return file.add(row);
        held.append(row);
        return true;
    };
    QString error;
    const bool read = readStationRecords(source, done.ring, dateTimeOf(from), dateTimeOf(to), write,
                                         &scaling, &error);
    if (!read) {
        file.cancel();
        done.fault = RangeFault::ReadFailed;
        // The server's messages run over several lines; the reason is one.
        done.message = QStringLiteral("cannot read the historian: ") + error.simplified();
    } else if (cancelled) {
        file.cancel();
        done.fault = RangeFault::Cancelled;
        done.message = QStringLiteral("cancelled");
    } else if (!arrived) {
        writeRows(done, {}, path, progress); // no rows: EmptyRange, no file
    } else if (holding) {
        writeRows(done, held, path, progress, ScalingTimeline(scaling));
    } else if (!opened || !file.commit()) {
        done.fault = RangeFault::WriteFailed;
        done.message = file.error();
    } else {
        done.rows = file.rows();
        if (progress)
            progress(done.rows, done.rows);
    }
    return done;
}

} // namespace History
