#pragma once

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

// The file of the recording database: $ZELMAR_DB when set, otherwise Rdatabj.db
// in the per-user application data folder.
QString databasePath();

// Closes and removes the named connection; harmless when there is none. Every
// query on it must be gone first.
void removeConnection(const QString &connectionName);

// Why the tables of an open database are not those of a recording database (a
// table missing, lacking columns or its key, or unreadable); empty when they are.
QString recordingTablesFault(const QSqlDatabase &db);

// One named connection to the recording database. The recorder and the
// overview each hold their own. All SQL of the recording database lives here.
class RecordingStore
{
public:
    // A closed store whose connection will carry `connectionName`, unique in the process.
    explicit RecordingStore(const QString &connectionName);
    ~RecordingStore();

    RecordingStore(const RecordingStore &) = delete;
    RecordingStore &operator=(const RecordingStore &) = delete;

    // Opens the database; a missing folder, file or table is created, and an
    // sl_void without its row gets the row of zeros. False, with the
    // connection closed, when the folder cannot be created, the file is not a
    // SQLite database, a table lacks columns or its id is not its primary key,
    // or the file cannot be written; nothing is deleted or rewritten then.
    // A database locked by another program is opened (its writes wait their turn).
    bool open(const QString &path = databasePath());
    // Closes and releases the connection; harmless when it is not open.
    void close();
    // True between a successful open() and close() or a failed open().
    bool isOpen() const;
    // The file named by the last open(), empty before.
    QString path() const { return m_path; }

    // The counter row. nullopt when the database is not open, the query fails
    // or sl_void holds no row. A field that holds no number or does not fit a
    // 32-bit integer reads as 0.
    std::optional<SlVoid> readCounters() const;

    // One recording as a single transaction: writes row `id` of `table` (added,
    // or overwritten when the id exists) with the date, time and eight values,
    // and sets both sl_void positions of that table to `id`. False, with
    // nothing changed, when the database is not open, locked past the short
    // wait, read-only, or any statement fails.
    bool recordRow(RecordTable table, qint32 id, double date, double time,
                   const std::array<float, kRecordedValueCount> &values);

    // The error of the last failed call; empty after a success.
    QString lastError() const { return m_lastError; }

    // The connection, for the history queries that live beside this class.
    // Invalid when the store is not open.
    QSqlDatabase database() const;

private:
    struct Statements;

    bool openConnection(const QString &path);
    void fail(const QString &what, const QSqlError &error) const;

    QString m_connectionName;
    QString m_path;
    bool m_open = false;
    std::unique_ptr<Statements> m_statements;
    mutable QString m_lastError;
};
