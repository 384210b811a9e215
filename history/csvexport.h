#pragma once

#include "instants.h"
#include "ringquery.h"
#include "scalinglog.h"

#include <QByteArray>
#include <QSaveFile>
#include <QString>
#include <QVector>

#include <functional>
#include <optional>

// The recorded rows as a CSV file for spreadsheet programs: UTF-8 with a
// byte-order mark (so the Chinese header shows right), one header row, one row
// per recording in recording order with its ISO 8601 local date-time and
// offset from UTC, the values and the row's quality code. The channels'
// values are engineering values by the scaling in force when each row was
// recorded (the unit in the header), or the integers as recorded (raw).

namespace History
{

// How an export writes the channels' values.
enum class CsvValues {
    Engineering, // by the scaling in force at each row; raw where none was yet
    Raw,         // the integers as recorded, the header without units
};

// The header row of raw values, without its line end.
QString csvHeader();
// The header row of engineering values: each channel named with its units
// (`通道一 (°C)`, several joined by " | " when it changed within the export,
// the bare name without one), the retransmission value in per cent.
QString scaledCsvHeader(const std::array<QStringList, kScaledChannels> &units);

// What a CSV file starts with: the byte-order mark and the header row with its line end.
QByteArray csvFileHead();
QByteArray csvFileHead(const QString &header);
// One row's line, with its CRLF line end, its date-time at `utcOffset`
// (seconds east of UTC); a value column without a value, and the quality when
// unknown, are empty fields.
QByteArray csvLine(const RingRow &row, qint32 utcOffset);
// csvLine() at the end of `out`; with `scaling`, channel k's value is written
// by scaling[k] where it is not nullptr (and the value an integer, as recorded).
using RowScaling = std::array<const ChannelScaling *, kScaledChannels>;
void appendCsvLine(QByteArray &out, const RingRow &row, qint32 utcOffset,
                   const RowScaling *scaling = nullptr);

// The scaling entries of the reader's file as a timeline; empty when the file
// has none (recorded before scaling was read) or they cannot be read.
ScalingTimeline readerScaling(const RingReader &reader);
// Whether `rows` (in recording order) are exported with engineering values:
// some channel has a scaling in force at the last of them.
bool scalesAny(const ScalingTimeline &scaling, const QVector<RingRow> &rows);
// The whole file of `rows` in memory: engineering values by `scaling` when it
// scales any of them (scalesAny), else the raw form.
QByteArray csvBody(const QVector<RingRow> &rows, const ScalingTimeline &scaling);

// Rows between two progress reports: often enough for a smooth bar, rarely
// enough to cost nothing.
constexpr int kExportProgressEvery = 2048;

// Told the rows written so far and their total; returning false cancels the export.
using ExportProgress = std::function<bool(qint64 done, qint64 total)>;

// What an export did.
struct ExportResult {
    enum Outcome { Written, Cancelled, Failed } outcome = Failed;
    QString error; // why, when Failed
    qint64 rows = 0;
};

// A CSV file of raw values written row by row, for rows that arrive one at a time: through
// a temporary file that replaces `path` only at commit(), so that a failed or
// cancelled export leaves no file and an existing file as it was. Each row's
// offset from UTC is resolved in the order the rows are added, as writeCsv does.
class CsvFileWriter
{
public:
    explicit CsvFileWriter(const QString &path);
    // Starts the file with its head; false, with the reason in error(), when it cannot.
    bool open();
    // One row's line, in recording order; false once a write has failed.
    bool add(const RingRow &row);
    // Writes what waits and puts the file in place; false, with the reason in error(), when not.
    bool commit();
    // Drops what was written: no file, an existing one as it was.
    void cancel();
    qint64 rows() const { return m_rows; }
    QString error() const;

private:
    bool flush();

    QSaveFile m_file;
    InstantResolver m_instants;
    QByteArray m_lines;
    bool m_written = true;
    qint64 m_rows = 0;
};

// Writes `rows` (in recording order; each row's offset from UTC resolved in
// that order where it was not stored, see InstantResolver) to `path` through a temporary file that
// replaces it only when every byte is written: a cancelled or failed export (a folder missing or
// not writable, a disk full) leaves no file and an existing file as it was.
// With a `scaling` that scales any of the rows, engineering values; else raw.
ExportResult writeCsv(const QString &path, const QVector<RingRow> &rows,
                      const ExportProgress &progress = {},
                      const ScalingTimeline &scaling = ScalingTimeline());

// Why an export of a range wrote nothing.
enum class RangeFault {
    None,
    FromAfterTo,
    LongerThanRing, // longer than the ring holds (about 18 h, 7.5 days)
    EmptyRange,     // no recording in the range
    ReadFailed,     // the database failed or was locked during the read
    WriteFailed,    // the file could not be written (folder, access, disk full)
    Cancelled,
};

// What exportRange() did.
struct RangeExport {
    RangeFault fault = RangeFault::None;
    QString message;                        // one line, why, when it failed
    RecordTable ring = RecordTable::PvData; // the ring the rows came from
    qint64 rows = 0;
};

// Whether `from` lies after `to`; then `done` says so (FromAfterTo), and the
// export stops before reading anything.
bool refuseFromAfterTo(RangeExport &done, double from, double to);

// The rows from `from` to `to` (day serials, inclusive) of `ring`, or of the
// ring chooseRing() picks when none is given, written to `path` as CSV.
// Engineering values by the file's own scaling entries unless `values` is Raw.
RangeExport exportRange(RingReader &reader, double from, double to, std::optional<RecordTable> ring,
                        const QString &path, const ExportProgress &progress = {},
                        CsvValues values = CsvValues::Engineering);

// The end of an export once its rows of done.ring are read: EmptyRange
// without rows, else writeCsv() and its outcome, into `done`.
void writeRows(RangeExport &done, const QVector<RingRow> &rows, const QString &path,
               const ExportProgress &progress = {},
               const ScalingTimeline &scaling = ScalingTimeline());

// "1 s" or "10 s": how the exports and the history window name a ring.
QString ringName(RecordTable ring);

} // namespace History
