// One PostgreSQL server (a throw-away cluster on a Unix socket) and N
// windowless recorders, each polling its own zelmar-sim, for N = 1, 10, 50 by
// default: rows per second arriving at the server, forwarding lag (recorded to
// visible on the server, median and 99th percentile), CPU of each recorder and
// of the server, and the catch-up after a server outage.
//
//   build/bench_historian [N ...] [--seconds S] [--outage S]
//
// With --throughput R: the forwarder alone, in this process, moving a full
// 1-second ring and a full 10-second ring from a recording database to the
// server, SQLite read included, R times into fresh stations; rows per second,
// median over the runs.
//
//   build/bench_historian --throughput 5
#include "daytime.h"
#include "forwarder.h"
#include "pgcluster.h"
#include "rowquality.h"
#include "simulator.h"
#include "store.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include <unistd.h>

namespace
{

constexpr int kObservePeriodMs = 100;

// The fields of /proc/<pid>/stat after the command name (which may hold
// blanks): state, parent, ...; empty when the process is gone.
QList<QByteArray> statFields(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    return text.mid(text.lastIndexOf(')') + 2).split(' ');
}

// User and system CPU seconds of one process so far; -1 when it is gone.
double cpuSeconds(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    if (fields.size() < 13)
        return -1;
    return (fields.at(11).toDouble() + fields.at(12).toDouble()) / sysconf(_SC_CLK_TCK);
}

qint64 parentOf(qint64 pid)
{
    const QList<QByteArray> fields = statFields(pid);
    return fields.size() > 1 ? fields.at(1).toLongLong() : -1;
}

// CPU seconds of the postmaster and every process it started, by process id.
std::map<qint64, double> serverCpu(qint64 postmaster)
{
    std::map<qint64, double> cpu;
    cpu[postmaster] = cpuSeconds(postmaster);
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &entry : entries) {
        bool ok = false;
        const qint64 pid = entry.toLongLong(&ok);
        if (ok && parentOf(pid) == postmaster)
            cpu[pid] = cpuSeconds(pid);
    }
    return cpu;
}

double cpuUsedSince(const std::map<qint64, double> &before, const std::map<qint64, double> &after)
{
    double used = 0;
    for (const auto &[pid, seconds] : after) {
        const auto it = before.find(pid);
        used += seconds - (it == before.end() ? 0.0 : it->second);
    }
    return used;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const size_t index = std::min(values.size() - 1, static_cast<size_t>(p * values.size()));
    return values[index];
}

struct Station {
    std::unique_ptr<QProcess> simulator;
    std::unique_ptr<QProcess> recorder;
};

class Bench
{
public:
    Bench(PgCluster &cluster, const QString &folder) : m_cluster(cluster), m_folder(folder) {}

    bool connectObserver()
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("o"));
        db.setHostName(m_cluster.socketDir());
        db.setPort(m_cluster.port());
        db.setUserName(QLatin1String(PgCluster::kUser));
        db.setPassword(QLatin1String(PgCluster::kPassword));
        db.setDatabaseName(QLatin1String(PgCluster::kDatabase));
        return db.open();
    }

    void startStations(int count)
    {
        for (int i = 0; i < count; ++i) {
            Station station;
            const QString link = m_folder + QStringLiteral("/sim%1").arg(i);
            station.simulator = std::make_unique<QProcess>();
            station.simulator->setProcessChannelMode(QProcess::ForwardedOutputChannel);
            station.simulator->start(Simulator::program(), {QStringLiteral("--link"), link});
            station.simulator->waitForStarted();
            for (int wait = 0; wait < 300 && !QFile::exists(link); ++wait)
                QThread::msleep(10);
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert(QStringLiteral("ZELMAR_PORT_1"), link);
            environment.insert(QStringLiteral("ZELMAR_HISTORIAN"), m_cluster.url());
            environment.insert(QStringLiteral("ZELMAR_STATION"), QStringLiteral("B%1").arg(i));
            station.recorder = std::make_unique<QProcess>();
            station.recorder->setProcessEnvironment(environment);
            station.recorder->setStandardErrorFile(m_folder + QStringLiteral("/rec%1.log").arg(i));
            station.recorder->start(QStringLiteral(ZELMAR_PROGRAM),
                                    {QStringLiteral("--record"), QStringLiteral("--db"),
                                     m_folder + QStringLiteral("/rec%1.db").arg(i)});
            station.recorder->waitForStarted();
            m_stations.push_back(std::move(station));
        }
    }

    void stopStations()
    {
        for (Station &station : m_stations) {
            station.recorder->terminate();
            station.recorder->waitForFinished(15000);
            station.simulator->terminate();
            station.simulator->waitForFinished(5000);
        }
        m_stations.clear();
    }

    qint64 totalRows()
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("o")));
        if (!query.exec(QStringLiteral("SELECT (SELECT count(*) FROM samples_1s) + "
                                       "(SELECT count(*) FROM samples_10s)")) ||
            !query.next())
            return -1;
        return query.value(0).toLongLong();
    }

    // Watches samples_1s for `seconds`: each row's lag is the time it was first
    // seen on the server minus its recorded time.
    void observe(int seconds, std::vector<double> &lags)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("o")));
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < seconds * 1000) {
            query.prepare(QStringLiteral(
                "SELECT xmin::text::bigint, extract(epoch FROM clock_timestamp() - ts)::float8 "
                "FROM samples_1s WHERE xmin::text::bigint > ?"));
            query.addBindValue(m_lastXmin);
            if (query.exec()) {
                qint64 highest = m_lastXmin;
                while (query.next()) {
                    highest = std::max(highest, query.value(0).toLongLong());
                    lags.push_back(query.value(1).toDouble());
                }
                m_lastXmin = highest;
            }
            QThread::msleep(kObservePeriodMs);
        }
    }

    void skipSeenRows()
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("o")));
        if (query.exec(
                QStringLiteral("SELECT coalesce(max(xmin::text::bigint), 0) FROM samples_1s")) &&
            query.next())
            m_lastXmin = query.value(0).toLongLong();
    }

    // Seconds until every station's newest row is no older than `lagLimit`
    // seconds; -1 when that does not happen within `limit` seconds.
    double waitCaughtUp(double lagLimit, int limit)
    {
        QSqlQuery query(QSqlDatabase::database(QStringLiteral("o")));
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < limit * 1000) {
            query.prepare(QStringLiteral("SELECT count(*) FROM (SELECT station, max(ts) AS newest "
                                         "FROM samples_1s GROUP BY station) s WHERE "
                                         "clock_timestamp() - newest < make_interval(secs => ?)"));
            query.addBindValue(lagLimit);
            if (query.exec() && query.next() &&
                query.value(0).toInt() == static_cast<int>(m_stations.size()))
                return timer.elapsed() / 1000.0;
            QThread::msleep(20);
        }
        return -1;
    }

    bool reconnectObserver()
    {
        QSqlDatabase::database(QStringLiteral("o"), false).close();
        return QSqlDatabase::database(QStringLiteral("o"), false).open();
    }

    const std::vector<Station> &stations() const { return m_stations; }

private:
    PgCluster &m_cluster;
    QString m_folder;
    std::vector<Station> m_stations;
    qint64 m_lastXmin = 0;
};

void runOne(PgCluster &cluster, int count, int seconds, int outage)
{
    QTemporaryDir folder;
    Bench bench(cluster, folder.path());
    bench.connectObserver();
    std::printf("N=%d: starting %d simulators and recorders ...\n", count, count);
    std::fflush(stdout);
    bench.startStations(count);
    // Settle: every recorder connected, its first catch-up done.
    QThread::sleep(5);
    bench.waitCaughtUp(2.0, 60);
    bench.skipSeenRows();

    std::vector<qint64> pids;
    for (const Station &station : bench.stations())
        pids.push_back(station.recorder->processId());
    std::vector<double> before;
    for (qint64 pid : pids)
        before.push_back(cpuSeconds(pid));
    const auto serverBefore = serverCpu(cluster.serverPid());
    const qint64 rowsBefore = bench.totalRows();
    QElapsedTimer timer;
    timer.start();
    std::vector<double> lags;
    bench.observe(seconds, lags);
    const double elapsed = timer.elapsed() / 1000.0;
    const qint64 rowsAfter = bench.totalRows();
    std::vector<double> recorderCpu;
    for (size_t i = 0; i < pids.size(); ++i)
        recorderCpu.push_back((cpuSeconds(pids[i]) - before[i]) / elapsed * 100.0);
    const double serverPercent =
        cpuUsedSince(serverBefore, serverCpu(cluster.serverPid())) / elapsed * 100.0;
    std::printf("N=%d: %.1f rows/s arriving (both tables) over %.0f s; lag median %.0f ms, p99 "
                "%.0f ms (%zu rows); CPU per recorder median %.2f %%, max %.2f %%; server %.2f "
                "%%\n",
                count, (rowsAfter - rowsBefore) / elapsed, elapsed, percentile(lags, 0.5) * 1000,
                percentile(lags, 0.99) * 1000, lags.size(), percentile(recorderCpu, 0.5),
                percentile(recorderCpu, 1.0), serverPercent);
    std::fflush(stdout);

    if (outage > 0) {
        cluster.stop();
        std::printf("N=%d: server stopped for %d s ...\n", count, outage);
        std::fflush(stdout);
        QThread::sleep(outage);
        cluster.start();
        bench.reconnectObserver();
        const qint64 rowsAtRestart = bench.totalRows();
        QElapsedTimer catchUp;
        catchUp.start();
        // The first row after the restart: the forwarders' back-off decides when.
        double firstRow = -1;
        while (catchUp.elapsed() < 120000 && firstRow < 0) {
            if (bench.totalRows() > rowsAtRestart)
                firstRow = catchUp.elapsed() / 1000.0;
            else
                QThread::msleep(20);
        }
        const double done = bench.waitCaughtUp(2.0, 180);
        const qint64 rowsCaughtUp = bench.totalRows();
        // Measured from the first row on, to the poll's resolution: a backlog
        // sent in one batch per station may be all there at the first look.
        const double drain = std::max(done, 0.02);
        std::printf("N=%d: after the outage: first row after %.1f s (retry back-off), backlog of "
                    "%lld rows sent in %.2f s (at most) = %.0f rows/s (at least) = %.0fx real time "
                    "(%d stations at "
                    "1.1 rows/s)\n",
                    count, firstRow, rowsCaughtUp - rowsAtRestart, drain,
                    (rowsCaughtUp - rowsAtRestart) / drain,
                    (rowsCaughtUp - rowsAtRestart) / drain / (count * 1.1), count);
        std::fflush(stdout);
    }
    bench.stopStations();
    QSqlDatabase::database(QStringLiteral("o"), false).close();
    QSqlDatabase::removeDatabase(QStringLiteral("o"));
}

// Full rings of rows with quality, one second and ten seconds apart.
bool recordFullRings(const QString &path)
{
    RecordingStore store(QStringLiteral("bench-store"));
    if (!store.open(path))
        return false;
    QSqlQuery(store.database()).exec(QStringLiteral("PRAGMA synchronous=OFF"));
    const QDateTime start(QDate(2026, 3, 1), QTime(0, 0));
    for (RecordTable table : {RecordTable::PvData, RecordTable::LpvWdjl}) {
        const int step = table == RecordTable::PvData ? 1 : 10;
        const int count = table == RecordTable::PvData ? kRecordRingIds : kRecordRingIds / 10;
        std::vector<RowToRecord> rows(count);
        for (int i = 0; i < count; ++i) {
            const QDateTime at = start.addSecs(qint64(i) * step);
            rows[i].date = daySerial(at.date());
            rows[i].time = dayFraction(at.time());
            for (int v = 0; v < kRecordedValueCount; ++v)
                rows[i].values[v] = float(i % 1000) * 0.37f + float(v);
            rows[i].quality = i % 100 == 0 ? RowQuality::Held : RowQuality::Good;
            rows[i].utcOffset = at.offsetFromUtc();
        }
        if (!store.recordRows(table, 1, rows.data(), count))
            return false;
    }
    return true;
}

int runThroughput(PgCluster &cluster, int runs)
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("full.db"));
    if (!recordFullRings(path)) {
        std::fprintf(stderr, "bench_historian: cannot record the rings\n");
        return 1;
    }
    const qint64 rows = kRecordRingIds + kRecordRingIds / 10;
    std::vector<double> rates;
    for (int run = 0; run < runs; ++run) {
        ForwarderSettings settings;
        settings.target = parseHistorianUrl(cluster.url());
        settings.station = QStringLiteral("T%1").arg(run);
        settings.databasePath = path;
        settings.checkInterval = std::chrono::milliseconds(5);
        Historian historian(settings, QStringLiteral("bench-fwd-%1").arg(run));
        QElapsedTimer timer;
        timer.start();
        historian.start();
        while (historian.status().state != HistorianStatus::State::Forwarding &&
               timer.elapsed() < 600000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        }
        const double seconds = timer.elapsed() / 1000.0;
        historian.stop();
        if (historian.status().state != HistorianStatus::State::Forwarding) {
            std::fprintf(stderr, "bench_historian: run %d did not finish: %s\n", run,
                         qPrintable(historianStatusText(historian.status())));
            return 1;
        }
        // Counted where they arrived, ring by ring: a ring the forwarder took
        // for empty must show as a failed run, not as a faster one.
        const qint64 seconds1 =
            cluster
                .psql(QStringLiteral("SELECT count(*) FROM samples_1s WHERE station = '%1'")
                          .arg(settings.station))
                .toLongLong();
        const qint64 seconds10 =
            cluster
                .psql(QStringLiteral("SELECT count(*) FROM samples_10s WHERE station = '%1'")
                          .arg(settings.station))
                .toLongLong();
        if (seconds1 != kRecordRingIds || seconds10 != kRecordRingIds / 10) {
            std::fprintf(stderr,
                         "bench_historian: run %d sent %lld of %d 1-second rows and %lld of %d "
                         "10-second rows\n",
                         run, seconds1, kRecordRingIds, seconds10, kRecordRingIds / 10);
            return 1;
        }
        rates.push_back((seconds1 + seconds10) / seconds);
        std::printf("run %d: %lld + %lld rows in %.2f s = %.0f rows/s\n", run, seconds1, seconds10,
                    seconds, (seconds1 + seconds10) / seconds);
        std::fflush(stdout);
    }
    std::printf("forwarding a full ring (%lld rows, SQLite read included): median %.0f rows/s "
                "over %d runs\n",
                rows, percentile(rates, 0.5), runs);
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QList<int> counts;
    int seconds = 30;
    int outage = 60;
    int throughputRuns = 0;
    const QStringList arguments = app.arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments[i] == QLatin1String("--throughput") && i + 1 < arguments.size())
            throughputRuns = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--seconds") && i + 1 < arguments.size())
            seconds = arguments[++i].toInt();
        else if (arguments[i] == QLatin1String("--outage") && i + 1 < arguments.size())
            outage = arguments[++i].toInt();
        else
            counts << arguments[i].toInt();
    }
    if (counts.isEmpty())
        counts = {1, 10, 50};
    PgCluster cluster;
    if (!cluster.setUp()) {
        std::fprintf(stderr, "bench_historian: %s\n", qPrintable(cluster.error()));
        return 1;
    }
    if (throughputRuns > 0)
        return runThroughput(cluster, throughputRuns);
    std::printf("server: PostgreSQL in %s, Unix socket only; %d s per run, outage %d s\n",
                qPrintable(cluster.socketDir()), seconds, outage);
    for (int count : counts)
        runOne(cluster, count, seconds, outage);
    return 0;
}
