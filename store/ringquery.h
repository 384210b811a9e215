#pragma once

#include "store.h"

#include <QSqlDatabase>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <memory>
#include <optional>

// One recorded row of either ring, as the history window and the exports read it.
struct RingRow {
    qint32 id = 0;
    double date = 0; // day serial, as recorded
    double time = 0; // fraction of a day, as recorded
    std::array<float, kRecordedValueCount> values{};
    quint8 missing = 0; // bit k set: value column k holds no value
    // The row's quality code (RowQuality) and offset from UTC in seconds east;
    // empty when unknown (recorded without them, or rewritten since).
    std::optional<qint16> quality;
    std::optional<qint32> utcOffset;

    // Date and time of day in one day serial, the key of time order.
    double moment() const { return date + time; }
};

// A read-only connection to a recording database for the history window and the
// exports. It never writes, never creates a file or table, and never changes the
// journal: the recorder goes on writing through its own connection meanwhile.
class RingReader
{
public:
    enum class OpenResult {
        Opened,
        NoFile,       // no file at the path
        NotRecording, // not a SQLite database, or its tables are not the recording's
        Unreadable,   // locked past the wait, or the file cannot be read
    };

    // A closed reader whose connection will carry `connectionName`, unique in the process.
    explicit RingReader(const QString &connectionName);
    ~RingReader();

    RingReader(const RingReader &) = delete;
    RingReader &operator=(const RingReader &) = delete;

    // Opens an existing recording database read-only and checks its three
    // tables; on failure the connection is closed and lastError() says why.
    OpenResult open(const QString &path);
    // Closes and releases the connection; harmless when it is not open.
    void close();
    // True between a successful open() and close() while the file's
    // shared-memory file stays intact; nothing is read otherwise, and open()
    // closes the connection and opens it anew.
    bool isOpen() const;
    // The connection's name, for other reads of the same file (its events).
    QString connectionName() const { return m_connectionName; }

    // Date and time of row `id` of `table` as one day serial; nullopt when the
    // row does not exist, its date or time holds no number, or the read fails.
    std::optional<double> momentAt(RecordTable table, qint32 id) const;
    // The newest id of `table` as the recorder's counter row names it;
    // nullopt when the counter cannot be read or lies outside 1 .. 65500.
    std::optional<qint32> newestId(RecordTable table) const;
    // Appends rows `low` .. `high` of `table` (ids inclusive, low ≤ high) in id
    // order to `rows`; false, with `rows` as it was, when the read fails.
    bool readRows(RecordTable table, qint32 low, qint32 high, QVector<RingRow> &rows) const;

    // Holds one snapshot of the file until endSnapshot(), so that a range read
    // in several steps sees no recording made in between. False when not open.
    bool beginSnapshot();
    // Ends the snapshot of beginSnapshot(); harmless without one.
    void endSnapshot();

    // Why the last call failed; empty after a success.
    QString lastError() const { return m_lastError; }

private:
    struct Statements;

    OpenResult openConnection(const QString &path);

    QString m_connectionName;
    bool m_open = false;
    bool m_inSnapshot = false;
    std::unique_ptr<Statements> m_statements;
    mutable QString m_lastError;
    RecordingFileGuard m_files;
};
