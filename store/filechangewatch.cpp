// FileChangeWatch: one inotify descriptor for the process, shared by every
// connection to a recording database, read without waiting whenever a holder
// asks whether its files changed.

#include "filechangewatch.h"

#include <QByteArray>
#include <QFile>
#include <QFileInfo>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>

#ifdef Q_OS_LINUX
#include <sys/inotify.h>
#include <unistd.h>

struct FileChangeWatch::Target {
    QByteArray folder;
    QByteArray databaseName;
    QByteArray sharedMemoryName;
    int folderWatch = -1;
    int sharedMemoryWatch = -1;
    // Events seen on the files so far; a holder compares it with what it saw.
    quint64 changes = 0;
    int holders = 0;
};

namespace
{

// What of the folder matters: a name of ours made, removed, moved or given
// other attributes (chmod, unlink of a hard link), a file of ours opened
// read-only and closed (chattr +i does that and raises nothing else), the
// folder itself removed or moved. Writes to the database and its WAL raise
// IN_MODIFY, which is left out: the recorder writes ten times a second.
constexpr uint32_t kFolderEvents = IN_ATTRIB | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                   IN_CLOSE_NOWRITE | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// The shared-memory file is written through SQLite's mapping, which raises
// nothing: a write() or a cut is someone growing or shortening it.
constexpr uint32_t kSharedMemoryEvents = IN_MODIFY;
// Events of the folder itself (no name) that concern the files in it.
constexpr uint32_t kFolderSelfEvents = IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED;
constexpr uint32_t kNameArrived = IN_CREATE | IN_MOVED_TO;
// Room for a few dozen events per read(); more are read by the next one.
constexpr size_t kEventBufferBytes = 4096;

class Registry
{
public:
    static Registry &instance()
    {
        // Never destroyed: holders in other static objects may outlive it.
        static Registry *const registry = new Registry;
        return *registry;
    }

    FileChangeWatch::Target *acquire(const QString &databasePath)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        const QString key = QFileInfo(databasePath).absoluteFilePath();
        std::unique_ptr<FileChangeWatch::Target> &slot = m_targets[key];
        if (!slot) {
            const QFileInfo info(key);
            slot = std::make_unique<FileChangeWatch::Target>();
            slot->folder = QFile::encodeName(info.absolutePath());
            slot->databaseName = QFile::encodeName(info.fileName());
            slot->sharedMemoryName = slot->databaseName + "-shm";
        }
        FileChangeWatch::Target &target = *slot;
        ++target.holders;
        // A folder removed (or never there) is watched again once it is back.
        if (target.folderWatch < 0)
            target.folderWatch = addWatch(target.folder, kFolderEvents);
        if (target.sharedMemoryWatch < 0)
            watchSharedMemory(target);
        return &target;
    }

    void release(FileChangeWatch::Target *target)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (--target->holders > 0)
            return;
        dropWatch(target->folderWatch);
        dropWatch(target->sharedMemoryWatch);
        for (auto it = m_targets.begin(); it != m_targets.end(); ++it) {
            if (it->second.get() == target) {
                m_targets.erase(it);
                break;
            }
        }
    }

    // The count of events on the target's files, after reading what waits;
    // nullopt when its folder is not watched (every look is then due).
    std::optional<quint64> changesOf(const FileChangeWatch::Target &target)
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        drain();
        if (target.folderWatch < 0)
            return std::nullopt;
        return target.changes;
    }

private:
    Registry() : m_fd(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {}

    int addWatch(const QByteArray &path, uint32_t mask)
    {
        if (m_fd < 0)
            return -1;
        const int wd = ::inotify_add_watch(m_fd, path.constData(), mask);
        if (wd >= 0)
            ++m_watchHolders[wd];
        return wd;
    }

    void dropWatch(int &wd)
    {
        if (wd < 0)
            return;
        const auto it = m_watchHolders.find(wd);
        if (it != m_watchHolders.end() && --it->second == 0) {
            m_watchHolders.erase(it);
            ::inotify_rm_watch(m_fd, wd);
        }
        wd = -1;
    }

    void watchSharedMemory(FileChangeWatch::Target &target)
    {
        dropWatch(target.sharedMemoryWatch);
        target.sharedMemoryWatch =
            addWatch(target.folder + '/' + target.sharedMemoryName, kSharedMemoryEvents);
    }

    // A watch the kernel ended (its file or folder gone) is no one's any more.
    void forget(int wd)
    {
        m_watchHolders.erase(wd);
        forEachTarget([wd](FileChangeWatch::Target &t) {
            if (t.folderWatch == wd)
                t.folderWatch = -1;
            if (t.sharedMemoryWatch == wd)
                t.sharedMemoryWatch = -1;
        });
    }

    template <typename F> void forEachTarget(F f)
    {
        for (auto &entry : m_targets)
            f(*entry.second);
    }

    void note(const inotify_event &event)
    {
        if (event.mask & IN_Q_OVERFLOW) {
            // Events were lost: every file is looked at again.
            forEachTarget([](FileChangeWatch::Target &t) { ++t.changes; });
            return;
        }
        const QByteArray name = event.len > 0 ? QByteArray(event.name) : QByteArray();
        forEachTarget([&](FileChangeWatch::Target &t) {
            if (event.wd == t.sharedMemoryWatch) {
                ++t.changes;
            } else if (event.wd == t.folderWatch) {
                const bool ours = name == t.databaseName || name == t.sharedMemoryName;
                if (ours || (name.isEmpty() && (event.mask & kFolderSelfEvents)))
                    ++t.changes;
                // A shared-memory file made anew (SQLite, after the last
                // connection removed it) is watched in place of the old one.
                if (name == t.sharedMemoryName && (event.mask & kNameArrived))
                    watchSharedMemory(t);
            }
        });
        if (event.mask & IN_IGNORED)
            forget(event.wd);
    }

    void drain()
    {
        if (m_fd < 0)
            return;
        alignas(inotify_event) char buffer[kEventBufferBytes];
        for (;;) {
            const ssize_t got = ::read(m_fd, buffer, sizeof buffer);
            if (got <= 0)
                return; // EAGAIN: nothing more waits
            for (ssize_t at = 0; at + ssize_t(sizeof(inotify_event)) <= got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                note(*event);
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
    }

    std::mutex m_mutex;
    const int m_fd;
    std::map<QString, std::unique_ptr<FileChangeWatch::Target>> m_targets;
    // How many targets use each watch: a folder holds several databases.
    std::map<int, int> m_watchHolders;
};

} // namespace

void FileChangeWatch::watch(const QString &databasePath)
{
    stop();
    m_target = Registry::instance().acquire(databasePath);
    m_seen = Registry::instance().changesOf(*m_target).value_or(0);
    m_lastLook = std::chrono::steady_clock::now();
}

void FileChangeWatch::stop()
{
    if (m_target)
        Registry::instance().release(std::exchange(m_target, nullptr));
}

bool FileChangeWatch::mayHaveChanged()
{
    if (!m_target)
        return false;
    const std::optional<quint64> changes = Registry::instance().changesOf(*m_target);
    const auto now = std::chrono::steady_clock::now();
    const bool due = !changes || *changes != m_seen || now - m_lastLook >= kFallbackInterval;
    if (due) {
        m_seen = changes.value_or(0);
        m_lastLook = now;
    }
    return due;
}

#else // no inotify: every look is due

struct FileChangeWatch::Target {
};

void FileChangeWatch::watch(const QString &)
{
    static Target everyLookDue;
    m_target = &everyLookDue;
}

void FileChangeWatch::stop()
{
    m_target = nullptr;
}

bool FileChangeWatch::mayHaveChanged()
{
    return m_target != nullptr;
}

#endif

FileChangeWatch::FileChangeWatch() = default;

FileChangeWatch::~FileChangeWatch()
{
    stop();
}
