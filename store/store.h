#pragma once

#include "recordingfile.h"
#include "rowquality.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QSqlError>
#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <array>
#include <memory>
#include <optional>

class QSqlQuery;

// Both recording tables are rings of this many ids, 1 .. 65500.
constexpr qint32 kRecordRingIds = 65500;
// Each recorded row holds ProcessValues 0 .. 7.
constexpr int kRecordedValueCount = 8;

// The counter row of the recording database: the newest pv_data id (twice) and
// the newest Lpv_wdjl id (twice).
struct SlVoid {
    qint32 newestPv = 0;
    qint32 newestPvCopy = 0;
    qint32 newestLpv = 0;
    qint32 newestLpvCopy = 0;
};

// The two rings that the recorder writes.
enum class RecordTable {
    PvData,  // one row per second, sl_void positions 0 and 1
    LpvWdjl, // one row per ten seconds, sl_void positions 2 and 3
};

// The name of a ring's table in the recording database: "pv_data", "Lpv_wdjl".
const char *ringTableName(RecordTable table);
// Seconds between two rows of a ring: 1 for pv_data, 10 for Lpv_wdjl.
constexpr int ringSampleSeconds(RecordTable table)
{
    return table == RecordTable::PvData ? 1 : 10;
}

// One row to record: the local date and time (day serial and fraction of a
// day), the values, and what the row is worth with the offset from UTC at the
// moment it was taken (both kept beside the ring, in row_quality).
struct RowToRecord {
    double date = 0;
    double time = 0;
    std::array<float, kRecordedValueCount> values{};
    std::optional<RowQuality> quality;
    std::optional<qint32> utcOffset;
};

// A row counter read from sl_void as the ring uses it: the id of the newest
// row, 65500 being the ring's last id (the next row goes to id 1); more than
// 65500 (and, as no id of the ring is negative, anything below 0) is no id:
// the ring starts again at 0.
qint32 ringCounter(qint32 counter);
// The id that follows `id` in a recording ring: 1 after the last id.
qint32 nextRingId(qint32 id);

// The file of the recording database: $ZELMAR_DB when set, otherwise Rdatabj.db
// in the per-user application data folder.
QString databasePath();

// Why the tables of an open database are not those of a recording database (a
// table missing, lacking columns or its key, or unreadable); empty when they are.
QString recordingTablesFault(const QSqlDatabase &db);

// One named connection to the recording database. The recorder and the
// overview each hold their own. All SQL of the recording database lives here.
//
// Both follow one rule (keepOpen, called before each use):
//   open    --a query failed, the file at the path is another one (deleted,
//             replaced) or its shared-memory file cannot be written or was cut--> closed
//   closed  --kReopenIntervalSeconds after the last attempt or closing,
//             open() succeeds--> open
// An open connection without WAL (the file was locked when it opened) asks
// for WAL again every kReopenIntervalSeconds.
class RecordingStore
{
public:
    // How long a connection that is not open waits before it tries again.
    static constexpr qint64 kReopenIntervalSeconds = kRecordingReopenSeconds;

    // A closed store whose connection will carry `connectionName`, unique in the process.
    explicit RecordingStore(const QString &connectionName);
    ~RecordingStore();

    RecordingStore(const RecordingStore &) = delete;
    RecordingStore &operator=(const RecordingStore &) = delete;

    // Opens the database; a missing folder, file or table is created, and an
    // sl_void without its row gets the row of zeros. False, with the
    // connection closed, when the folder cannot be created, the file is not a
    // SQLite database, a table lacks columns or its id is not its primary key,
    // or the file cannot be written, or its shared-memory file cannot; nothing
    // is deleted or rewritten then. A database locked by another program is
    // opened (its writes wait their turn); a rollback journal left by a crash is
    // played back when the file holds the recording tables and nothing else.
    bool open(const QString &path = databasePath());
    // Closes and releases the connection; harmless when it is not open.
    void close();
    // True between a successful open() and close() or a failed open().
    bool isOpen() const;
    // open(path) as the first attempt of the rule, made at `now` (on the shared clock).
    bool follow(const QString &path, const QDateTime &now);
    // The rule: true when the connection is open and current; otherwise closes
    // it and, once the wait since the last attempt is over, opens the last
    // opened path again. Also asks a connection without WAL for WAL again.
    bool keepOpen(const QDateTime &now);
    // The file named by the last open(), empty before.
    QString path() const { return m_path; }

    // The counter row. nullopt when the database is not open, the query fails
    // or sl_void holds no row. A field that holds no number or does not fit a
    // 32-bit integer reads as 0.
    std::optional<SlVoid> readCounters() const;

    // Recordings as one transaction: rows[k] is written as the k-th id of
    // `table`'s ring from `firstId` on (1 follows 65500; added, or overwritten
    // when the id exists), and both sl_void positions of that table name the
    // last of them. A row with a quality gets its entry in row_quality in the
    // same transaction (when that table is ours: one of another layout is
    // left as it is, and rows are then recorded without it). False, with
    // nothing changed, when the database is not open, locked past the short
    // wait, read-only, or any statement fails.
    bool recordRows(RecordTable table, qint32 firstId, const RowToRecord *rows, int count);

    // The error of the last failed call; empty after a success.
    QString lastError() const { return m_lastError; }
    // SQLite's result code behind lastError() when a statement failed (8
    // read-only, 13 disk full, 5 and 6 locked, 26 not a database); 0 otherwise.
    int lastErrorCode() const { return m_lastErrorCode; }

    // The connection, for the history queries that live beside this class.
    // Invalid when the store is not open. It is closed only through close():
    // the counter read's statement goes first, or SQLite would keep the
    // connection open.
    QSqlDatabase database() const;

private:
    struct Statements;

    // Open, no query failed since opening, the path still names the file that
    // was opened, and its shared-memory file is intact.
    bool isCurrent() const;

    struct TableChecks;

    // Opens the connection and readies it for recording, step by step (each
    // step false with lastError() set): the tables checked on this
    // connection, the journal chosen, missing tables and the counter row made,
    // the file found writable, the statements prepared.
    bool openConnection(const QString &path);
    bool checkTables(const QSqlDatabase &db, TableChecks &tables);
    void chooseJournal(const QSqlDatabase &db);
    bool setUpWhereMissing(const QSqlDatabase &db, TableChecks &tables);
    bool probeWrite(const QSqlDatabase &db, const TableChecks &tables);
    bool prepareStatements(const QSqlDatabase &db, const TableChecks &tables);
    // Creates row_quality when missing and prepares its statement; a table of
    // another layout leaves the statement unprepared.
    void prepareQuality(const QSqlDatabase &db);
    void fail(const QString &what, const QSqlError &error) const;

    QString m_connectionName;
    QString m_path;
    bool m_open = false;
    std::unique_ptr<Statements> m_statements;
    mutable QString m_lastError;
    // Set when a query of the open connection failed; cleared by open().
    mutable bool m_queryFailed = false;
    // The connection writes through a WAL journal (else a rollback journal).
    bool m_wal = false;
    RecordingFileGuard m_files;
    std::optional<QDateTime> m_lastOpenAttempt;
    mutable int m_lastErrorCode = 0;
};
