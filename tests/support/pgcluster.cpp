#include "pgcluster.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>

#include <unistd.h>

namespace
{

constexpr int kFirstPort = 41000;
constexpr int kPortSpan = 8000;
constexpr char kServerUser[] = "postgres";

bool runningAsRoot()
{
    return geteuid() == 0;
}

} // namespace

PgCluster::PgCluster()
    // The socket lives in this cluster's own folder, so the number only has to
    // differ from clusters that share that folder: none. It is still spread by
    // process id so that a log or `ps` line tells the test programs apart.
    : m_port(kFirstPort + static_cast<int>(QCoreApplication::applicationPid() % kPortSpan))
{
    m_dir.setAutoRemove(true);
}

PgCluster::~PgCluster()
{
    if (m_running)
        stop();
}

QString PgCluster::binDir()
{
    const QString fromEnvironment = qEnvironmentVariable("ZELMAR_PG_BIN");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    QDir versions(QStringLiteral("/usr/lib/postgresql"));
    QStringList names = versions.entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(names.begin(), names.end(),
              [](const QString &a, const QString &b) { return a.toInt() > b.toInt(); });
    for (const QString &name : names) {
        const QString bin = versions.filePath(name + QStringLiteral("/bin"));
        if (QFile::exists(bin + QStringLiteral("/pg_ctl")))
            return bin;
    }
    return {};
}

QString PgCluster::socketDir() const
{
    return m_dir.filePath(QStringLiteral("socket"));
}

QString PgCluster::url(const QString &password, const QString &database) const
{
    return QStringLiteral("postgresql://%1:%2@localhost:%3/%4?host=%5")
        .arg(QLatin1String(kUser), password)
        .arg(m_port)
        .arg(database, socketDir());
}

QString PgCluster::tcpUrl(const QString &password) const
{
    return QStringLiteral("postgresql://%1:%2@127.0.0.1:%3/%4")
        .arg(QLatin1String(kUser), password)
        .arg(m_port)
        .arg(QLatin1String(kDatabase));
}

bool PgCluster::run(const QString &program, const QStringList &arguments, QString *output,
                    int timeoutMs) const
{
    const QString path = binDir() + QLatin1Char('/') + program;
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setWorkingDirectory(m_dir.path());
    if (runningAsRoot())
        process.start(QStringLiteral("runuser"),
                      QStringList{QStringLiteral("-u"), QLatin1String(kServerUser),
                                  QStringLiteral("--"), path} +
                          arguments);
    else
        process.start(path, arguments);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        m_error = program + QStringLiteral(": did not finish");
        return false;
    }
    const QString text = QString::fromLocal8Bit(process.readAll());
    if (output)
        *output = text;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        m_error = program + QStringLiteral(": ") + text.trimmed();
        return false;
    }
    return true;
}

bool PgCluster::setUp()
{
    if (!m_dir.isValid() || binDir().isEmpty()) {
        m_error = QStringLiteral("no temporary folder or no PostgreSQL server binaries");
        return false;
    }
    const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
    QFile file(passwordFile);
    if (!file.open(QIODevice::WriteOnly) || file.write(kPassword) < 0)
        return false;
    file.close();
    QDir().mkpath(socketDir());
    if (runningAsRoot()) {
        // The server refuses to run as root: the cluster belongs to postgres.
        QProcess::execute(QStringLiteral("chown"),
                          {QStringLiteral("-R"), QLatin1String(kServerUser), m_dir.path()});
    }
    const QString data = m_dir.filePath(QStringLiteral("data"));
    if (!run(QStringLiteral("initdb"),
             {QStringLiteral("-D"), data, QStringLiteral("-U"), QLatin1String(kUser),
              QStringLiteral("--pwfile=") + passwordFile, QStringLiteral("--auth=scram-sha-256"),
              QStringLiteral("--no-sync"), QStringLiteral("-E"), QStringLiteral("UTF8"),
              QStringLiteral("--locale=C")}))
        return false;
    if (!start())
        return false;
    psql(QStringLiteral("CREATE DATABASE %1").arg(QLatin1String(kDatabase)),
         QStringLiteral("postgres"));
    return m_error.isEmpty();
}

bool PgCluster::start()
{
    m_error.clear();
    const QString options = QStringLiteral("-k %1 -c listen_addresses='%2' -p %3 -c fsync=off")
                                .arg(socketDir(), QLatin1String(m_loopback ? "127.0.0.1" : ""))
                                .arg(m_port);
    m_running = run(QStringLiteral("pg_ctl"),
                    {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")),
                     QStringLiteral("-l"), m_dir.filePath(QStringLiteral("server.log")),
                     QStringLiteral("-o"), options, QStringLiteral("-w"), QStringLiteral("start")});
    return m_running;
}

bool PgCluster::stop()
{
    // fast: open sessions are ended at once, as when the server is shut down for maintenance.
    const bool stopped =
        run(QStringLiteral("pg_ctl"),
            {QStringLiteral("-D"), m_dir.filePath(QStringLiteral("data")), QStringLiteral("-m"),
             QStringLiteral("fast"), QStringLiteral("-w"), QStringLiteral("stop")});
    m_running = !stopped && m_running;
    return stopped;
}

QString PgCluster::psql(const QString &sql, const QString &database) const
{
    QString output;
    m_error.clear();
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), QLatin1String(kPassword));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(binDir() + QStringLiteral("/psql"),
                  {QStringLiteral("-X"), QStringLiteral("-q"), QStringLiteral("-A"),
                   QStringLiteral("-t"), QStringLiteral("-v"), QStringLiteral("ON_ERROR_STOP=1"),
                   QStringLiteral("-h"), socketDir(), QStringLiteral("-p"), QString::number(m_port),
                   QStringLiteral("-U"), QLatin1String(kUser), QStringLiteral("-d"), database,
                   QStringLiteral("-c"), sql});
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        m_error = QStringLiteral("psql: ") + QString::fromLocal8Bit(process.readAll()).trimmed();
        return {};
    }
    return QString::fromLocal8Bit(process.readAll()).trimmed();
}

qint64 PgCluster::serverPid() const
{
    QFile file(m_dir.filePath(QStringLiteral("data/postmaster.pid")));
    if (!m_running || !file.open(QIODevice::ReadOnly))
        return 0;
    return file.readLine().trimmed().toLongLong();
}
