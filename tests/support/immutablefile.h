#pragma once

#include <QString>

#include <memory>

// A file made immutable (chattr +i) for the life of this object: it cannot be
// written, not even by root. Its pages are written back at once (sync), so
// that a writable mapping of it faults on its next write, as it would after
// the kernel's own write-back.
class ImmutableFile
{
public:
    explicit ImmutableFile(const QString &file);
    ~ImmutableFile();
    ImmutableFile(const ImmutableFile &) = delete;
    ImmutableFile &operator=(const ImmutableFile &) = delete;

    // False when chattr failed (not root, or a file system without immutable files).
    bool isImmutable() const { return m_immutable; }
    // Makes the file writable again now; true when it is.
    bool release();

private:
    QString m_file;
    bool m_immutable = false;
};

// Spoils the shared-memory file `shm` of a WAL database as another program
// might: made immutable (`immutable` then holds it so until released) or cut
// to nothing. False when that cannot be done here (no immutable files).
bool spoilSharedMemory(const QString &shm, bool makeImmutable,
                       std::unique_ptr<ImmutableFile> &immutable);
