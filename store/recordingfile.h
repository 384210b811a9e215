#pragma once

#include "filechangewatch.h"

#include <QString>
#include <QtGlobal>

#include <optional>

class QSqlDatabase;
struct sqlite3;

// What every connection to the recording database watches of its files: the
// database file that its path names, and the WAL's shared-memory file beside
// it. The recorder, the overview's chart, the events log, the ring readers and
// the forwarder's source all follow the same rules through these.

// Kept short: every recording and every event is written on the UI thread, and
// a database that another program holds locked must not freeze the windows. A
// recording that does not get the lock in time is tried again on the next
// 100 ms tick, an event with the next one.
constexpr char kRecordingBusyTimeout[] = "QSQLITE_BUSY_TIMEOUT=50";
// A writing connection to the recording database that was closed (file gone,
// replaced, not writable) is opened again this long after its last attempt.
constexpr qint64 kRecordingReopenSeconds = 10;

// Which file a path names: its device and inode.
struct FileIdentity {
    quint64 device = 0;
    quint64 inode = 0;
    bool operator==(const FileIdentity &o) const { return device == o.device && inode == o.inode; }
};

// The file at `path` now; nullopt when there is none.
std::optional<FileIdentity> fileIdentity(const QString &path);

// The shared-memory file of the database at `databasePath` (its path + "-shm")
// as it stands: missing, or a file that this process may write (usable), of
// `size` bytes.
struct SharedMemoryFile {
    bool usable = true;
    bool exists = false;
    qint64 size = 0;
};
SharedMemoryFile sharedMemoryFile(const QString &databasePath);

// Why a connection to `databasePath` is not opened or kept: its shared-memory
// file cannot be written or was cut shorter.
QString sharedMemoryFault(const QString &databasePath);

// One connection's watch over the files of its database: whether the path
// still names the file the connection opened, and whether the WAL's
// shared-memory file is intact. SQLite maps that file and writes the mapping
// directly (readers too: their read marks live there), so a file that can no
// longer be written or that was cut shorter kills the process with SIGBUS on
// the next statement instead of failing it. Each connection asks intact()
// before it runs a statement. The files are looked at (stat, access) only
// when FileChangeWatch says they may have changed, not on every statement.
class RecordingFileGuard
{
public:
    // Watches the files of `databasePath` from now on, as the connection just
    // opened on it sees them (the file it names, the shared memory it mapped).
    void watch(const QString &databasePath);
    // Stops watching; intact() is then true and sameFile() false.
    void stop();
    // The shared-memory file is missing (SQLite creates it; the mapping of a
    // removed file stays valid), or writable and no shorter than this
    // connection has seen it.
    bool intact() const;
    // The path still names the file that was there when watch() was called.
    bool sameFile() const;
    // intact(), looked at now whatever the watch says: before the closing of
    // a connection, which writes the shared memory.
    bool intactNow() const;

private:
    // Looks at the files when the watch says they may have changed.
    void refresh() const;
    void look() const;

    QString m_databasePath;
    std::optional<FileIdentity> m_file;
    mutable FileChangeWatch m_watch;
    // What the last look found.
    mutable bool m_intact = true;
    mutable bool m_sameFile = false;
    // The largest size of the shared-memory file seen while watching.
    mutable qint64 m_size = 0;
};

// Closes and removes the named connection to a recording database; harmless
// when there is none. Every query on it must be gone first. Where the
// shared-memory file is not intact, the connection closes without the
// checkpoint that closing the last connection would write into it.
void releaseRecordingConnection(const QString &name, bool sharedMemoryIntact);

// SQLite's own handle of an open Qt connection to a database file; nullptr for
// any other driver.
sqlite3 *sqliteConnection(const QSqlDatabase &db);

// Who may read the recording files this process makes: as its umask leaves
// them (the windowless recorder narrows its umask itself: 0640 and 0750 at
// most), or the owner alone (the windowed tool: 0600 and 0700, whatever the
// umask). An existing folder or file keeps its mode either way.
enum class NewFileAccess {
    AsUmask,
    OwnerOnly,
};
void setNewRecordingFileAccess(NewFileAccess access);

// Makes the missing folders of the database at `path` and, when it is missing,
// the database file itself, empty (SQLite sets a new database up in it, and
// gives its -wal and -shm files the database file's mode), with the access set
// above. False when the folder is not there afterwards.
bool makeRecordingFile(const QString &path);
