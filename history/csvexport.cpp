#include "csvexport.h"

#include "csv.h"
#include "daytime.h"
#include "historyrange.h"
#include "instants.h"
#include "numbers.h"

#include <QSaveFile>
#include <QSqlDatabase>

#include <algorithm>
#include <cmath>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace History
{

namespace
{
// Lines are handed to the file this many bytes at a time.
constexpr qsizetype kWriteChunk = 64 * 1024;
// Beyond this a float no longer holds every integer: such a value is no
// instrument's integer and is written as it is.
constexpr float kLargestExactInteger = 16777216.0f;

// `value`'s last `width` decimal digits at `out`, zeros in front; past them.
char *digits(char *out, int value, int width)
{
    for (int i = width - 1; i >= 0; --i, value /= 10)
        out[i] = char('0' + value % 10);
    return out + width;
}

// The characters of a moment written digit by digit.
constexpr int kMomentLength = 19;
// Room for a line: the moment, an offset, eight values and a quality.
constexpr int kLineRoom = 512;

// The row's local date and time as "yyyy-MM-ddTHH:mm:ss" at `out`; past it.
char *writeMoment(char *out, double date, double time)
{
    const QDate day = dateFromSerial(date);
    const QTime at = timeFromFraction(time);
    int year = 0;
    int month = 0;
    int dayOfMonth = 0;
    day.getDate(&year, &month, &dayOfMonth);
    // Written digit by digit: Qt's formatting by pattern (and snprintf) cost
    // more than the rest of a line. Years it would write otherwise (none, or
    // beyond four digits) are left to it.
    if (day.isValid() && at.isValid() && year > 0 && year <= 9999) {
        out = digits(out, year, 4);
        *out++ = '-';
        out = digits(out, month, 2);
        *out++ = '-';
        out = digits(out, dayOfMonth, 2);
        *out++ = 'T';
        out = digits(out, at.hour(), 2);
        *out++ = ':';
        out = digits(out, at.minute(), 2);
        *out++ = ':';
        return digits(out, at.second(), 2);
    }
    const QByteArray text = day.toString(QStringLiteral("yyyy-MM-dd")).toLatin1() + 'T' +
                            at.toString(QStringLiteral("HH:mm:ss")).toLatin1();
    const qsizetype length = qMin<qsizetype>(text.size(), kMomentLength * 2);
    std::memcpy(out, text.constData(), std::size_t(length));
    return out + length;
}

} // namespace

QString csvHeader()
{
    // Recorded values 5 .. 7 are input registers 6 .. 8 of the instrument.
    return QStringLiteral(
        "日期时间,CH1,CH2,CH3,CH4,变送值 DA,输入寄存器6,输入寄存器7,输入寄存器8,质量");
}

QString scaledCsvHeader(const std::array<QStringList, kScaledChannels> &units)
{
    QStringList fields{QStringLiteral("日期时间")};
    for (int ch = 0; ch < kScaledChannels; ++ch)
        fields << (units[ch].isEmpty()
                       ? channelName(ch)
                       : QStringLiteral("%1 (%2)").arg(channelName(ch),
                                                       units[ch].join(QStringLiteral(" | "))));
    // The retransmission value is the instrument's output in whole per cent of
    // its range, whatever the channels' scaling: the per-cent axis draws it so.
    fields << QStringLiteral("变送值 DA (%)") << QStringLiteral("输入寄存器6")
           << QStringLiteral("输入寄存器7") << QStringLiteral("输入寄存器8")
           << QStringLiteral("质量");
    return csvRecord(fields).chopped(int(qstrlen(kCsvLineEnd)));
}

QByteArray csvFileHead()
{
    return csvFileHead(csvHeader());
}

QByteArray csvFileHead(const QString &header)
{
    return QByteArray(kCsvByteOrderMark) + header.toUtf8() + kCsvLineEnd;
}

namespace
{

// A row's instant in seconds since 1970 UTC.
qint64 utcSecondsOf(const RingRow &row, qint32 utcOffset)
{
    return localSeconds(row.date, row.time) - utcOffset;
}

// The units of each channel in force from the first row to the last.
std::array<QStringList, kScaledChannels> unitsOf(const ScalingTimeline &scaling,
                                                 const QVector<RingRow> &rows)
{
    std::array<QStringList, kScaledChannels> units;
    const RingRow &first = rows.first();
    const RingRow &last = rows.last();
    const qint64 from =
        utcSecondsOf(first, InstantResolver().nextOffset(first.date, first.time, first.utcOffset));
    const qint64 to =
        utcSecondsOf(last, InstantResolver().nextOffset(last.date, last.time, last.utcOffset));
    for (int ch = 0; ch < kScaledChannels; ++ch)
        units[ch] = scaling.unitsBetween(ch, std::min(from, to), std::max(from, to));
    return units;
}

// Writes the file head and, row by row, the lines of `rows` to `sink`.
template <typename Sink>
bool writeLines(const QVector<RingRow> &rows, const ScalingTimeline &scaling, Sink &&sink,
                const ExportProgress &progress, bool &cancelled)
{
    const bool scaled = scalesAny(scaling, rows);
    if (!sink(scaled ? csvFileHead(scaledCsvHeader(unitsOf(scaling, rows))) : csvFileHead()))
        return false;
    InstantResolver instants;
    QByteArray lines;
    lines.reserve(kWriteChunk + 1024);
    RowScaling inForce{};
    for (int i = 0; i < rows.size(); ++i) {
        if (progress && i % kExportProgressEvery == 0 && !progress(i, rows.size())) {
            cancelled = true;
            return false;
        }
        const RingRow &row = rows.at(i);
        const qint32 offset = instants.nextOffset(row.date, row.time, row.utcOffset);
        if (scaled) {
            const qint64 utc = utcSecondsOf(row, offset);
            for (int ch = 0; ch < kScaledChannels; ++ch)
                inForce[ch] = scaling.at(ch, utc);
        }
        appendCsvLine(lines, row, offset, scaled ? &inForce : nullptr);
        if (lines.size() >= kWriteChunk) {
            if (!sink(lines))
                return false;
            lines.clear();
        }
    }
    return lines.isEmpty() || sink(lines);
}

} // namespace

ScalingTimeline readerScaling(const RingReader &reader)
{
    const std::optional<QVector<ScalingEntry>> entries =
        readScalingEntries(QSqlDatabase::database(reader.connectionName(), false));
    return entries ? ScalingTimeline(*entries) : ScalingTimeline();
}

bool scalesAny(const ScalingTimeline &scaling, const QVector<RingRow> &rows)
{
    if (scaling.isEmpty() || rows.isEmpty())
        return false;
    const RingRow &last = rows.last();
    const qint64 utc =
        utcSecondsOf(last, InstantResolver().nextOffset(last.date, last.time, last.utcOffset));
    for (int ch = 0; ch < kScaledChannels; ++ch)
        if (scaling.at(ch, utc))
            return true;
    return false;
}

QByteArray csvBody(const QVector<RingRow> &rows, const ScalingTimeline &scaling)
{
    QByteArray body;
    bool cancelled = false;
    writeLines(
        rows, scaling,
        [&body](const QByteArray &bytes) {
            body += bytes;
            return true;
        },
        {}, cancelled);
    return body;
}

QByteArray csvLine(const RingRow &row, qint32 utcOffset)
{
    QByteArray line;
    appendCsvLine(line, row, utcOffset);
    return line;
}

void appendCsvLine(QByteArray &out, const RingRow &row, qint32 utcOffset, const RowScaling *scaling)
{
    // The line is put together here and handed over in one piece: appending
    // field by field cost a fifth of the line.
    char line[kLineRoom];
    char *end = writeMoment(line, row.date, row.time);
    // "+hh:mm": the same shape for every offset, UTC's included.
    // Room for any offset a damaged row may hold, the most negative included.
    const long long minutes = std::llabs(static_cast<long long>(utcOffset)) / 60;
    *end++ = utcOffset < 0 ? '-' : '+';
    if (minutes / 60 < 100) {
        end = digits(end, int(minutes / 60), 2);
    } else {
        end = std::to_chars(end, end + 24, minutes / 60).ptr;
    }
    *end++ = ':';
    end = digits(end, int(minutes % 60), 2);
    for (int k = 0; k < kRecordedValueCount; ++k) {
        *end++ = ',';
        if (row.missing & (1u << k))
            continue;
        const ChannelScaling *channel = scaling && k < kScaledChannels ? (*scaling)[k] : nullptr;
        // The rings hold the instrument's integers; anything else is written as it is.
        const float value = row.values[k];
        if (channel && value == std::trunc(value) && std::fabs(value) < kLargestExactInteger)
            end = writeEngineeringText(end, qint64(value), channel->decimals);
        else
            end = writeSingleText(end, value);
    }
    *end++ = ',';
    if (row.quality)
        end = std::to_chars(end, end + 8, *row.quality).ptr;
    for (const char *c = kCsvLineEnd; *c; ++c)
        *end++ = *c;
    out.append(line, end - line);
}

CsvFileWriter::CsvFileWriter(const QString &path) : m_file(path)
{
    m_lines.reserve(kWriteChunk + 1024);
}

bool CsvFileWriter::open()
{
    if (!m_file.open(QIODevice::WriteOnly))
        return false;
    m_lines = csvFileHead();
    return true;
}

bool CsvFileWriter::add(const RingRow &row)
{
    if (!m_written)
        return false;
    appendCsvLine(m_lines, row, m_instants.nextOffset(row.date, row.time, row.utcOffset));
    ++m_rows;
    return m_lines.size() < kWriteChunk || flush();
}

bool CsvFileWriter::flush()
{
    m_written = m_written && m_file.write(m_lines) == m_lines.size();
    m_lines.clear();
    return m_written;
}

bool CsvFileWriter::commit()
{
    if (flush() && m_file.commit())
        return true;
    m_written = false;
    m_file.cancelWriting();
    return false;
}

void CsvFileWriter::cancel()
{
    m_file.cancelWriting();
}

QString CsvFileWriter::error() const
{
    return QStringLiteral("cannot write %1: %2").arg(m_file.fileName(), m_file.errorString());
}

ExportResult writeCsv(const QString &path, const QVector<RingRow> &rows,
                      const ExportProgress &progress, const ScalingTimeline &scaling)
{
    ExportResult result;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        result.error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return result;
    }
    bool cancelled = false;
    const bool written = writeLines(
        rows, scaling,
        [&file](const QByteArray &bytes) { return file.write(bytes) == bytes.size(); }, progress,
        cancelled);
    if (cancelled) {
        file.cancelWriting();
        result.outcome = ExportResult::Cancelled;
        return result;
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
                        const QString &path, const ExportProgress &progress, CsvValues values)
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
    writeRows(done, read.rows, path, progress,
              values == CsvValues::Raw ? ScalingTimeline() : readerScaling(reader));
    return done;
}

void writeRows(RangeExport &done, const QVector<RingRow> &rows, const QString &path,
               const ExportProgress &progress, const ScalingTimeline &scaling)
{
    if (rows.isEmpty()) {
        done.fault = RangeFault::EmptyRange;
        done.message = QStringLiteral("empty range: no recording of the %1 ring in it")
                           .arg(ringName(done.ring));
        return;
    }
    const ExportResult written = writeCsv(path, rows, progress, scaling);
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
