#include "simulator.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <csignal>

namespace
{

constexpr int kReadyWaitMs = 3000;
constexpr int kReadyPollMs = 10;
constexpr int kStopWaitMs = 3000;

QByteArray portVariable(int port)
{
    return QByteArray("ZELMAR_PORT_") + QByteArray::number(port);
}

} // namespace

Simulator::Simulator(const QStringList &arguments) : m_arguments(arguments) {}

Simulator::~Simulator()
{
    stop();
}

QString Simulator::program()
{
    return QStringLiteral(ZELMAR_SIM_PROGRAM);
}

QString Simulator::linkPath() const
{
    return m_dir.filePath(QStringLiteral("port"));
}

bool Simulator::isRunning() const
{
    return m_process && m_process->state() == QProcess::Running;
}

bool Simulator::start(int port)
{
    stop();
    if (!m_dir.isValid())
        return false;
    m_port = port;
    m_process = std::make_unique<QProcess>();
    m_process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList args{QStringLiteral("--link"), linkPath(), QStringLiteral("--log"),
                     m_dir.filePath(QStringLiteral("writes.log"))};
    m_process->start(program(), args + m_arguments);
    if (!m_process->waitForStarted(kReadyWaitMs))
        return false;
    qputenv(portVariable(port).constData(), QFile::encodeName(linkPath()));
    // The link appears once the simulator is ready to answer.
    return waitForLink(true);
}

bool Simulator::waitForLink(bool present) const
{
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < kReadyWaitMs) {
        if (QFileInfo::exists(linkPath()) == present)
            return true;
        if (!isRunning())
            return false;
        QThread::msleep(kReadyPollMs);
    }
    return false;
}

bool Simulator::vanish()
{
    return isRunning() && ::kill(static_cast<pid_t>(m_process->processId()), SIGUSR1) == 0 &&
           waitForLink(false);
}

bool Simulator::comeBack()
{
    return isRunning() && ::kill(static_cast<pid_t>(m_process->processId()), SIGUSR2) == 0 &&
           waitForLink(true);
}

bool Simulator::pause()
{
    return isRunning() && ::kill(static_cast<pid_t>(m_process->processId()), SIGSTOP) == 0;
}

bool Simulator::resume()
{
    return isRunning() && ::kill(static_cast<pid_t>(m_process->processId()), SIGCONT) == 0;
}

void Simulator::stop()
{
    if (!m_process)
        return;
    if (m_process->state() != QProcess::NotRunning) {
        m_process->terminate();
        if (!m_process->waitForFinished(kStopWaitMs)) {
            m_process->kill();
            m_process->waitForFinished(kStopWaitMs);
        }
    }
    m_process.reset();
    qunsetenv(portVariable(m_port).constData());
}

bool Simulator::restart(const QStringList &arguments)
{
    const int port = m_port > 0 ? m_port : 1;
    stop();
    m_arguments = arguments;
    return start(port);
}

QStringList Simulator::writes() const
{
    QFile log(m_dir.filePath(QStringLiteral("writes.log")));
    if (!log.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    return QString::fromUtf8(log.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}
