#include "recordingfile.h"

#include "sqliteresult.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QStringList>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cerrno>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

sqlite3 *sqliteConnection(const QSqlDatabase &db)
{
    const QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    if (!handle.isValid() || qstrcmp(handle.typeName(), "sqlite3*") != 0)
        return nullptr;
    return *static_cast<sqlite3 *const *>(handle.constData());
}

namespace
{

QString sharedMemoryPath(const QString &databasePath)
{
    return databasePath + QLatin1String("-shm");
}

// Closing the last connection of a WAL database checkpoints it, which writes
// the mapped shared memory. Where that file cannot be written or was cut
// shorter, the connection closes without the checkpoint (and so without
// removing the -wal and -shm files): the WAL keeps every recording for the
// next opening, which recovers it.
void skipCheckpointOnClose(const QSqlDatabase &db)
{
    if (sqlite3 *connection = sqliteConnection(db))
        sqlite3_db_config(connection, SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1,
                          static_cast<int *>(nullptr));
}

} // namespace

std::optional<FileIdentity> fileIdentity(const QString &path)
{
#ifdef Q_OS_UNIX
    struct stat info {
    };
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return FileIdentity{quint64(info.st_dev), quint64(info.st_ino)};
#else
    // Without inodes: the same file as long as one exists at the path.
    return QFileInfo::exists(path) ? std::optional<FileIdentity>(FileIdentity{}) : std::nullopt;
#endif
}

// The file is looked at before SQLite touches it. access() refuses an
// immutable file even to root.
SharedMemoryFile sharedMemoryFile(const QString &databasePath)
{
    SharedMemoryFile file;
#ifdef Q_OS_UNIX
    const QByteArray shm = QFile::encodeName(sharedMemoryPath(databasePath));
    struct stat info {
    };
    if (::lstat(shm.constData(), &info) != 0) {
        file.usable = errno == ENOENT;
        return file;
    }
    file.usable = S_ISREG(info.st_mode) && ::access(shm.constData(), W_OK) == 0;
    file.exists = true;
    file.size = qint64(info.st_size);
#else
    Q_UNUSED(databasePath);
#endif
    return file;
}

QString sharedMemoryFault(const QString &databasePath)
{
    return QStringLiteral("the shared-memory file cannot be written: ") +
           sharedMemoryPath(databasePath);
}

void RecordingFileGuard::watch(const QString &databasePath)
{
    m_databasePath = databasePath;
    m_size = 0;
    m_file = fileIdentity(databasePath);
    m_watch.watch(databasePath);
    look(); // notes the size SQLite has mapped
}

void RecordingFileGuard::stop()
{
    m_watch.stop();
    m_databasePath.clear();
    m_file.reset();
    m_intact = true;
    m_sameFile = false;
}

bool RecordingFileGuard::intact() const
{
    refresh();
    return m_intact;
}

bool RecordingFileGuard::sameFile() const
{
    refresh();
    return m_sameFile;
}

bool RecordingFileGuard::intactNow() const
{
    look();
    return m_intact;
}

void RecordingFileGuard::refresh() const
{
    if (m_watch.mayHaveChanged())
        look();
}

void RecordingFileGuard::look() const
{
    if (m_databasePath.isEmpty())
        return;
    // Nothing but another program's mistake shortens the file while this
    // connection holds it: SQLite cuts it only for the first connection.
    const SharedMemoryFile shm = sharedMemoryFile(m_databasePath);
    m_intact = shm.usable && !(shm.exists && shm.size < m_size);
    if (m_intact)
        m_size = std::max(m_size, shm.size);
    m_sameFile = m_file && fileIdentity(m_databasePath) == m_file;
}

void releaseRecordingConnection(const QString &name, bool sharedMemoryIntact)
{
    if (!sharedMemoryIntact && QSqlDatabase::contains(name))
        skipCheckpointOnClose(QSqlDatabase::database(name, false));
    releaseSqlConnection(name);
}

namespace
{
NewFileAccess g_newFileAccess = NewFileAccess::AsUmask;
} // namespace

void setNewRecordingFileAccess(NewFileAccess access)
{
    g_newFileAccess = access;
}

bool makeRecordingFile(const QString &path)
{
    const QFileInfo info(path);
#ifdef Q_OS_UNIX
    const bool ownerOnly = g_newFileAccess == NewFileAccess::OwnerOnly;
    // Each missing folder from the outermost in, so that none is made wider.
    QStringList missing;
    for (QFileInfo folder(info.absolutePath()); !folder.exists() && !folder.isRoot();
         folder = QFileInfo(folder.absolutePath()))
        missing.prepend(folder.absoluteFilePath());
    for (const QString &folder : missing)
        ::mkdir(QFile::encodeName(folder).constData(), ownerOnly ? 0700 : 0777);
    if (!QFileInfo(info.absolutePath()).isDir())
        return false;
    // O_EXCL: a file that appeared meanwhile is someone's, and keeps its mode.
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, ownerOnly ? 0600 : 0666);
    if (fd >= 0)
        ::close(fd);
    return true;
#else
    return QDir().mkpath(info.absolutePath());
#endif
}
