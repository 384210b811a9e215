#include "historianserver.h"

#include "sqliteresult.h"

#include <libpq-fe.h>

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

namespace
{

// A login that takes longer is taken for an unreachable server; a line that
// drops without a word (no reset from the far end) is noticed within about
// 30 s instead of the system's retransmission time of many minutes, so that
// a batch under way fails and is tried again rather than hanging. The
// address's own parameters follow and win (libpq takes the last of a key).
constexpr char kConnectOptions[] =
    "connect_timeout=5 keepalives_idle=10 keepalives_interval=5 keepalives_count=3 "
    "tcp_user_timeout=30000 application_name=zelmar";
// Beyond the statement time-out, the time a reply may take on the network
// before the exchange is cut off from this side (the server itself frozen, or
// a peer that keeps the connection but never answers).
constexpr std::chrono::milliseconds kAnswerMargin{5000};
// Any number, the same for every tool: two tools that set up the schema at the
// same moment take turns.
constexpr qint64 kSchemaLock = 0x5a454c4d4152; // "ZELMAR"

constexpr int kValueColumns = 8;

struct ServerColumn {
    const char *name;
    const char *type; // as information_schema.columns.data_type says it
};

struct ServerTable {
    const char *name;
    QVector<ServerColumn> columns;
    bool stationTimeKey; // rows are unique by (station, ts)
    const char *createSql;
};

QVector<ServerColumn> sampleColumns()
{
    QVector<ServerColumn> columns{{"station", "text"}, {"ts", "timestamp with time zone"}};
    static const char *const names[kValueColumns] = {"v1", "v2", "v3", "v4",
                                                     "v5", "v6", "v7", "v8"};
    for (const char *name : names)
        columns.append(ServerColumn{name, "real"});
    return columns;
}

// Append-only and kept: retention is the server's business (README).
const QVector<ServerTable> &serverTables()
{
    static const QVector<ServerTable> tables{
        {"stations",
         {{"station", "text"},
          {"port", "integer"},
          {"address", "integer"},
          {"settings", "text"},
          {"first_seen", "timestamp with time zone"},
          {"last_seen", "timestamp with time zone"}},
         false,
         "CREATE TABLE stations (station text PRIMARY KEY, port integer, address integer, "
         "settings text, first_seen timestamptz NOT NULL DEFAULT now(), "
         "last_seen timestamptz NOT NULL DEFAULT now())"},
        {"samples_1s", sampleColumns(), true,
         "CREATE TABLE samples_1s (station text NOT NULL, ts timestamptz NOT NULL, v1 real, "
         "v2 real, v3 real, v4 real, v5 real, v6 real, v7 real, v8 real, "
         "PRIMARY KEY (station, ts))"},
        {"samples_10s", sampleColumns(), true,
         "CREATE TABLE samples_10s (station text NOT NULL, ts timestamptz NOT NULL, v1 real, "
         "v2 real, v3 real, v4 real, v5 real, v6 real, v7 real, v8 real, "
         "PRIMARY KEY (station, ts))"},
        {"events",
         {{"id", "bigint"},
          {"station", "text"},
          {"ts", "timestamp with time zone"},
          {"kind", "text"},
          {"source", "text"},
          {"detail", "text"}},
         false,
         "CREATE TABLE events (id bigserial PRIMARY KEY, station text NOT NULL, "
         "ts timestamptz NOT NULL, kind text NOT NULL, source text NOT NULL, detail text, "
         "logged_at timestamptz NOT NULL DEFAULT now()); "
         "CREATE INDEX events_station_ts ON events (station, ts)"},
    };
    return tables;
}

// Hands the socket of the driver's libpq connection to `watch`.
void watchConnection(const QSqlDatabase &db, StatementWatch &watch)
{
    const QVariant handle = db.driver()->handle();
    // Qt names the type by libpq's typedef or by the struct behind it.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return;
    if (const PGconn *connection = *static_cast<PGconn *const *>(handle.constData()))
        watch.watchSocket(PQsocket(connection));
}

const char *sampleTableName(SampleTable table)
{
    return table == SampleTable::Seconds ? "samples_1s" : "samples_10s";
}

} // namespace

QString timestampText(const QDateTime &localTime)
{
    const QDateTime local = localTime.toLocalTime();
    return local.toOffsetFromUtc(local.offsetFromUtc()).toString(Qt::ISODateWithMs);
}

HistorianServer::HistorianServer(const QString &connectionName) : m_connectionName(connectionName)
{
}

HistorianServer::~HistorianServer()
{
    close();
}

QSqlDatabase HistorianServer::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

bool HistorianServer::fail(const QString &what, const QString &reason) const
{
    m_lastError = what + QStringLiteral(": ") + reason.trimmed();
    return false;
}

bool HistorianServer::open(const HistorianTarget &target)
{
    close();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("login"),
                    QStringLiteral("Qt's PostgreSQL driver (libqt6sql6-psql) is not installed"));
    QString reason;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), m_connectionName);
        db.setHostName(target.host);
        db.setPort(target.port);
        db.setUserName(target.user);
        db.setPassword(target.password);
        db.setDatabaseName(target.database);
        db.setConnectOptions(
            (QLatin1String(kConnectOptions) + QLatin1Char(' ') + target.connectOptions())
                .trimmed());
        if (!db.open()) {
            const QSqlError error = db.lastError();
            reason = error.databaseText().isEmpty() ? error.text() : error.databaseText();
        } else {
            watchConnection(db, m_watch);
            QSqlQuery timeout(db);
            if (!timeout.exec(QStringLiteral("SET statement_timeout = %1")
                                  .arg(qint64(m_statementTimeout.count()))))
                reason = timeout.lastError().text();
        }
    }
    if (!reason.isEmpty()) {
        close();
        return fail(QStringLiteral("login"), reason);
    }
    m_lastError.clear();
    return true;
}

void HistorianServer::close()
{
    m_watch.watchSocket(-1);
    releaseSqlConnection(m_connectionName);
}

std::chrono::milliseconds HistorianServer::exchangeLimit() const
{
    return m_statementTimeout + kAnswerMargin;
}

bool HistorianServer::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && database().isOpen();
}

bool HistorianServer::ensureSchema()
{
    QSqlDatabase db = database();
    if (!db.transaction())
        return fail(QStringLiteral("schema"), db.lastError().text());
    QSqlQuery query(db);
    bool ok = query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock));
    QStringList faults;
    for (const ServerTable &table : serverTables()) {
        if (!ok)
            break;
        query.prepare(
            QStringLiteral("SELECT column_name, data_type FROM information_schema.columns "
                           "WHERE table_schema = current_schema() AND table_name = ?"));
        query.addBindValue(QLatin1String(table.name));
        ok = query.exec();
        QHash<QString, QString> found;
        while (ok && query.next())
            found.insert(query.value(0).toString(), query.value(1).toString());
        if (!ok)
            break;
        if (found.isEmpty()) {
            const QStringList statements =
                QString::fromLatin1(table.createSql).split(QStringLiteral("; "));
            for (const QString &statement : statements)
                ok = ok && query.exec(statement);
            continue;
        }
        QStringList wrong;
        for (const ServerColumn &column : table.columns) {
            if (found.value(QLatin1String(column.name)) != QLatin1String(column.type))
                wrong << QStringLiteral("%1 %2").arg(QLatin1String(column.name),
                                                     QLatin1String(column.type));
        }
        if (wrong.isEmpty() && table.stationTimeKey) {
            // INSERT ... ON CONFLICT needs rows unique by station and time.
            query.prepare(QStringLiteral(
                "SELECT count(*) FROM pg_index i WHERE i.indrelid = to_regclass(?) "
                "AND i.indisunique AND i.indnatts = 2 AND (SELECT array_agg(a.attname::text "
                "ORDER BY a.attname) FROM pg_attribute a WHERE a.attrelid = i.indrelid AND "
                "a.attnum = ANY(i.indkey)) = ARRAY['station', 'ts']"));
            query.addBindValue(QLatin1String(table.name));
            ok = query.exec() && query.next();
            if (ok && query.value(0).toInt() == 0)
                wrong << QStringLiteral("a unique key on (station, ts)");
        }
        if (!wrong.isEmpty())
            faults << QStringLiteral("table %1 exists without %2")
                          .arg(QLatin1String(table.name), wrong.join(QStringLiteral(", ")));
    }
    const QString reason = ok ? faults.join(QStringLiteral("; ")) : query.lastError().text();
    if (!ok || !faults.isEmpty()) {
        // Nothing created here stays: a table made by someone else is never
        // altered, and ours come back whole on the next attempt.
        db.rollback();
        return fail(QStringLiteral("schema"), reason + QStringLiteral(" (left unchanged)"));
    }
    if (!db.commit())
        return fail(QStringLiteral("schema"), db.lastError().text());
    return true;
}

bool HistorianServer::registerStation(const QString &station, int port, int address,
                                      const QString &settings)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral(
        "INSERT INTO stations (station, port, address, settings) VALUES (?, ?, ?, ?) "
        "ON CONFLICT (station) DO UPDATE SET port = excluded.port, address = excluded.address, "
        "settings = excluded.settings, last_seen = now()"));
    query.addBindValue(station);
    query.addBindValue(port);
    query.addBindValue(address);
    query.addBindValue(settings);
    if (!query.exec())
        return fail(QStringLiteral("station"), query.lastError().text());
    return true;
}

std::optional<int> HistorianServer::insertSamples(const QString &station, SampleTable table,
                                                  const QVector<ServerSample> &samples)
{
    if (samples.isEmpty())
        return 0;
    QSqlDatabase db = database();
    // One statement for the batch: a round trip per row would make catching up
    // after an outage as slow as the network's latency.
    QStringList rows;
    const QString row = QStringLiteral("(?, ?::timestamptz, ?, ?, ?, ?, ?, ?, ?, ?)");
    for (int i = 0; i < samples.size(); ++i)
        rows << row;
    QSqlQuery insert(db);
    QSqlQuery seen(db);
    if (!db.transaction()) {
        fail(QStringLiteral("begin"), db.lastError().text());
        return std::nullopt;
    }
    bool ok = insert.prepare(
        QStringLiteral("INSERT INTO %1 (station, ts, v1, v2, v3, v4, v5, v6, "
                       "v7, v8) VALUES %2 ON CONFLICT DO NOTHING")
            .arg(QLatin1String(sampleTableName(table)), rows.join(QStringLiteral(", "))));
    for (const ServerSample &sample : samples) {
        insert.addBindValue(station);
        insert.addBindValue(timestampText(sample.ts));
        for (float value : sample.values)
            insert.addBindValue(value);
    }
    ok = ok && insert.exec();
    const int inserted = ok ? insert.numRowsAffected() : 0;
    if (ok) {
        seen.prepare(QStringLiteral("UPDATE stations SET last_seen = now() WHERE station = ?"));
        seen.addBindValue(station);
        ok = seen.exec();
    }
    if (!ok) {
        fail(QStringLiteral("send"),
             (insert.lastError().isValid() ? insert.lastError() : seen.lastError()).text());
        db.rollback();
        return std::nullopt;
    }
    if (!db.commit()) {
        fail(QStringLiteral("commit"), db.lastError().text());
        db.rollback();
        return std::nullopt;
    }
    return inserted;
}

bool HistorianServer::insertEvent(const QString &station, const ServerEvent &event)
{
    QSqlQuery query(database());
    query.prepare(QStringLiteral("INSERT INTO events (station, ts, kind, source, detail) "
                                 "VALUES (?, ?::timestamptz, ?, ?, ?)"));
    query.addBindValue(station);
    query.addBindValue(timestampText(event.ts));
    query.addBindValue(event.kind);
    query.addBindValue(event.source);
    query.addBindValue(event.detail);
    if (!query.exec())
        return fail(QStringLiteral("event"), query.lastError().text());
    return true;
}

std::optional<QVector<ServerSample>> HistorianServer::readSamples(const QString &station,
                                                                  SampleTable table,
                                                                  const QDateTime &from,
                                                                  const QDateTime &to) const
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT extract(epoch FROM ts)::float8, v1, v2, v3, v4, v5, v6, "
                                 "v7, v8 FROM %1 WHERE station = ? AND ts BETWEEN ?::timestamptz "
                                 "AND ?::timestamptz ORDER BY ts")
                      .arg(QLatin1String(sampleTableName(table))));
    query.addBindValue(station);
    query.addBindValue(timestampText(from));
    query.addBindValue(timestampText(to));
    if (!query.exec()) {
        fail(QStringLiteral("read"), query.lastError().text());
        return std::nullopt;
    }
    QVector<ServerSample> samples;
    while (query.next()) {
        ServerSample sample;
        sample.ts = QDateTime::fromMSecsSinceEpoch(qRound64(query.value(0).toDouble() * 1000.0));
        for (int i = 0; i < kValueColumns; ++i)
            sample.values[i] = query.value(1 + i).toFloat();
        samples.append(sample);
    }
    return samples;
}
