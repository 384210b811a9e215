#include "csvexport.h"

#include "csv.h"
#include "daytime.h"
#include "historyrange.h"
#include "instants.h"
#include "numbers.h"

#include <QSaveFile>

#include <cstdio>
#include <cstdlib>

namespace History
{

namespace
{
// Rows between two progress reports: often enough for a smooth bar, rarely
// enough to cost nothing.
constexpr int kProgressEvery = 2048;

// The row's local date and time as "yyyy-MM-ddTHH:mm:ss".
QByteArray momentText(double date, double time)
{
    const QDate day = dateFromSerial(date);
    const QTime at = timeFromFraction(time);
    // Written digit by digit: Qt's formatting by pattern costs more than the
    // rest of a line. Years it would write otherwise (none, or beyond four
    // digits) are left to it.
    if (day.isValid() && at.isValid() && day.year() > 0 && day.year() <= 9999) {
        char text[24];
        const int length =
            std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", day.year(),
                          day.month(), day.day(), at.hour(), at.minute(), at.second());
        return QByteArray(text, length);
    }
    return day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1() + 'T' +
           at.toString(QStringLiteral("HH:mm:ss")).toLatin1();
}

} // namespace

QString csvHeader()
{
    // Recorded values 5 .. 7 are input registers 6 .. 8 of the instrument.
    return QStringLiteral(
        "日期时间,CH1,CH2,CH3,CH4,变送值 DA,输入寄存器6,输入寄存器7,输入寄存器8,质量");
}

QByteArray csvFileHead()
{
    return QByteArray(kCsvByteOrderMark) + csvHeader().toUtf8() + kCsvLineEnd;
}

QByteArray csvLine(const RingRow &row, qint32 utcOffset)
{
    QByteArray line = momentText(row.date, row.time);
    line.reserve(128);
    // "+hh:mm": the same shape for every offset, UTC's included.
    // Room for any offset a damaged row may hold, the most negative included.
    const long long minutes = std::llabs(static_cast<long long>(utcOffset)) / 60;
    char offset[16];
    std::snprintf(offset, sizeof offset, "%c%02lld:%02lld", utcOffset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    line += offset;
    for (int k = 0; k < kRecordedValueCount; ++k) {
        line += ',';
        if (!(row.missing & (1u << k)))
            line += singleText(row.values[k]).toLatin1();
    }
    line += ',';
    if (row.quality)
        line += QByteArray::number(*row.quality);
    line += kCsvLineEnd;
    return line;
}

ExportResult writeCsv(const QString &path, const QVector<RingRow> &rows,
                      const ExportProgress &progress)
{
    ExportResult result;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return result;
    }
    const QByteArray head = csvFileHead();
    bool written = file.write(head) == head.size();
    InstantResolver instants;
    for (int i = 0; i < rows.size() && written; ++i) {
        if (progress && i % kProgressEvery == 0 && !progress(i, rows.size())) {
            file.cancelWriting();
            result.outcome = ExportResult::Cancelled;
            return result;
        }
        const RingRow &row = rows.at(i);
        const QByteArray line =
            csvLine(row, instants.nextOffset(row.date, row.time, row.utcOffset));
        written = file.write(line) == line.size();
    }
    if (!written || !file.commit()) {
        result.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
        return result;
    }
    if (progress)
        progress(rows.size(), rows.size());
    result.outcome = ExportResult::Written;
    result.rows = rows.size();
    return result;
}

QString ringName(RecordTable ring)
{
    return QStringLiteral("%1 s").arg(ringSampleSeconds(ring));
}

bool refuseFromAfterTo(RangeExport &done, double from, double to)
{
    if (from <= to)
        return false;
    done.fault = RangeFault::FromAfterTo;
    done.message = QStringLiteral("from after to");
    return true;
}

RangeExport exportRange(RingReader &reader, double from, double to, std::optional<RecordTable> ring,
                        const QString &path, const ExportProgress &progress)
{
    RangeExport done;
    if (refuseFromAfterTo(done, from, to))
        return done;
    done.ring = ring ? *ring : chooseRing(reader, from, to);
    const double ringDays = double(kRecordRingIds) * ringSampleSeconds(done.ring) / kSecondsPerDay;
    if (to - from > ringDays) {
        done.fault = RangeFault::LongerThanRing;
        done.message = QStringLiteral("range longer than the %1 ring holds (%2 days)")
                           .arg(ringName(done.ring))
                           .arg(ringDays, 0, 'f', 2);
        return done;
    }
    const RangeRead read = readRange(reader, done.ring, from, to, RowOrder::Recording);
    if (!read.ok) {
        done.fault = RangeFault::ReadFailed;
        done.message = QStringLiteral("cannot read the database: ") + read.error;
        return done;
    }
    writeRows(done, read.rows, path, progress);
    return done;
}

void writeRows(RangeExport &done, const QVector<RingRow> &rows, const QString &path,
               const ExportProgress &progress)
{
    if (rows.isEmpty()) {
        done.fault = RangeFault::EmptyRange;
        done.message = QStringLiteral("empty range: no recording of the %1 ring in it")
                           .arg(ringName(done.ring));
        return;
    }
    const ExportResult written = writeCsv(path, rows, progress);
    done.rows = written.rows;
    if (written.outcome == ExportResult::Cancelled) {
        done.fault = RangeFault::Cancelled;
        done.message = QStringLiteral("cancelled");
    } else if (written.outcome == ExportResult::Failed) {
        done.fault = RangeFault::WriteFailed;
        done.message = written.error;
    }
}

} // namespace History
