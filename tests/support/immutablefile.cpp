#include "immutablefile.h"

#include <QFile>
#include <QProcess>

#include <unistd.h>

namespace
{
bool chattr(const QString &flag, const QString &file)
{
    QProcess process;
    process.setStandardErrorFile(QProcess::nullDevice());
    process.start(QStringLiteral("chattr"), {flag, file});
    return process.waitForFinished() && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}
} // namespace

ImmutableFile::ImmutableFile(const QString &file)
    : m_file(file), m_immutable(chattr(QStringLiteral("+i"), file))
{
    ::sync();
}

ImmutableFile::~ImmutableFile()
{
    release();
}

bool ImmutableFile::release()
{
    if (m_immutable && chattr(QStringLiteral("-i"), m_file))
        m_immutable = false;
    return !m_immutable;
}

bool spoilSharedMemory(const QString &shm, bool makeImmutable,
                       std::unique_ptr<ImmutableFile> &immutable)
{
    if (!makeImmutable)
        return QFile::resize(shm, 0);
    immutable = std::make_unique<ImmutableFile>(shm);
    return immutable->isImmutable();
}
