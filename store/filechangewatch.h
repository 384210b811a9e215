#pragma once

#include <QString>

#include <chrono>

// Whether the files of a recording database may have changed since a holder
// last looked at them, so that a connection looks at its files (stat, access)
// only when something says they changed, not on every tick.
//
// The kernel tells (inotify, one descriptor for the process): the database's
// folder for a name of the database or its shared-memory file created,
// deleted or moved, an attribute changed (chmod, a link count) or a file
// opened read-only and closed again; the shared-memory file itself for being
// written to or cut (SQLite writes it through its mapping, which raises
// nothing; only growing or cutting it does); the folder itself deleted or
// moved. Making a file immutable (chattr +i) raises no attribute event, but
// chattr opens the file to do it, and its closing is seen. A change that
// raises nothing here (a folder above renamed, a file system without
// inotify, a queue that overflowed) is found by the slow look that every
// holder takes once per kFallbackInterval all the same.
//
// A holder's states (mayHaveChanged() makes every transition):
//   quiet    --an event on its files, or kFallbackInterval since the last
//              look--> due      (mayHaveChanged() says true once, and the
//                                holder looks; the wait starts again)
//   due      --mayHaveChanged()--> quiet
// Without inotify (another system, no descriptor left) every call says true.
class FileChangeWatch
{
public:
    // How long a holder trusts the silence of the kernel at most.
    static constexpr std::chrono::seconds kFallbackInterval{5};

    FileChangeWatch();
    ~FileChangeWatch();
    FileChangeWatch(const FileChangeWatch &) = delete;
    FileChangeWatch &operator=(const FileChangeWatch &) = delete;

    // Watches the database at `databasePath` from now on (its folder, its
    // shared-memory file); the holder has just looked at the files.
    void watch(const QString &databasePath);
    // Stops watching; mayHaveChanged() then says false.
    void stop();
    // True when the holder must look at its files now: something happened to
    // them since the last call, or kFallbackInterval passed, or nothing can
    // be watched. Reads what the kernel has queued, without waiting.
    bool mayHaveChanged();

    // The process's entry for one database, shared by its holders (opaque).
    struct Target;

private:
    // The registry's entry for the database, shared by its holders; null
    // while nothing is watched.
    Target *m_target = nullptr;
    quint64 m_seen = 0;
    std::chrono::steady_clock::time_point m_lastLook{};
};
