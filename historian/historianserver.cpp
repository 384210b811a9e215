#include "historianserver.h"

#include "sqliteresult.h"

#include <libpq-fe.h>

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <cmath>

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
    int since = 1;    // the schema version that added it
};

// One of our tables in both versions: version 1 is recognised (and upgraded),
// the current one is made and checked.
struct ServerTable {
    const char *name;
    QVector<ServerColumn> columns;
    QStringList oldKey; // a unique index on exactly these columns in version 1
    QStringList key;    // ... and now
    QStringList create;
    QStringList upgrade; // from version 1, in the same transaction
};

QVector<ServerColumn> sampleColumns()
{
    QVector<ServerColumn> columns{{"station", "text"}, {"ts", "timestamp with time zone"}};
    static const char *const names[kValueColumns] = {"v1", "v2", "v3", "v4",
                                                     "v5", "v6", "v7", "v8"};
    for (const char *name : names)
        columns.append(ServerColumn{name, "real"});
    columns += {{"ring_id", "integer", 2},
                {"quality", "smallint", 2},
                {"utc_offset", "integer", 2},
                {"seq", "bigint", 2}};
    return columns;
}

// A sample table. Its key is the station, the instant and the local ring's id:
// a clock set back records the same instant twice, and both rows stay; a batch
// sent again meets its own rows and adds nothing. seq numbers the rows as they
// arrive, which is the order they were recorded in (each station's forwarder
// sends its ring oldest first); rows of version 1 are numbered by time.
ServerTable sampleTable(const char *name)
{
    const QString table = QLatin1String(name);
    return {name,
            sampleColumns(),
            {QStringLiteral("station"), QStringLiteral("ts")},
            {QStringLiteral("station"), QStringLiteral("ts"), QStringLiteral("ring_id")},
            {QStringLiteral("CREATE TABLE %1 (station text NOT NULL, ts timestamptz NOT NULL, "
                            "v1 real, v2 real, v3 real, v4 real, v5 real, v6 real, v7 real, "
                            "v8 real, ring_id integer NOT NULL DEFAULT 0, quality smallint, "
                            "utc_offset integer, seq bigserial NOT NULL, "
                            "PRIMARY KEY (station, ts, ring_id))")
                 .arg(table)},
            {QStringLiteral("ALTER TABLE %1 ADD COLUMN ring_id integer NOT NULL DEFAULT 0, "
                            "ADD COLUMN quality smallint, ADD COLUMN utc_offset integer, "
                            "ADD COLUMN seq bigint")
                 .arg(table),
             QStringLiteral("UPDATE %1 t SET seq = o.n FROM (SELECT station, ts, row_number() "
                            "OVER (ORDER BY station, ts) AS n FROM %1) o WHERE t.station = "
                            "o.station AND t.ts = o.ts")
                 .arg(table),
             QStringLiteral("CREATE SEQUENCE %1_seq_seq OWNED BY %1.seq").arg(table),
             QStringLiteral("SELECT setval('%1_seq_seq', (SELECT count(*) + 1 FROM %1), false)")
                 .arg(table),
             QStringLiteral("ALTER TABLE %1 ALTER COLUMN seq SET DEFAULT nextval('%1_seq_seq'), "
                            "ALTER COLUMN seq SET NOT NULL, DROP CONSTRAINT IF EXISTS %1_pkey, "
                            "ADD PRIMARY KEY (station, ts, ring_id)")
                 .arg(table)}};
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
          {"last_seen", "timestamp with time zone"},
          {"machine", "text", 2},
          {"host", "text", 2}},
         {QStringLiteral("station")},
         {QStringLiteral("station")},
         {QStringLiteral("CREATE TABLE stations (station text PRIMARY KEY, port integer, "
                         "address integer, settings text, first_seen timestamptz NOT NULL "
                         "DEFAULT now(), last_seen timestamptz NOT NULL DEFAULT now(), "
                         "machine text, host text)")},
         {QStringLiteral("ALTER TABLE stations ADD COLUMN machine text, ADD COLUMN host text")}},
        sampleTable("samples_1s"),
        sampleTable("samples_10s"),
        {"events",
         {{"id", "bigint"},
          {"station", "text"},
          {"ts", "timestamp with time zone"},
          {"kind", "text"},
          {"source", "text"},
          {"detail", "text"},
          {"local_id", "integer", 2}},
         {},
         {QStringLiteral("station"), QStringLiteral("local_id"), QStringLiteral("ts")},
         {QStringLiteral("CREATE TABLE events (id bigserial PRIMARY KEY, station text NOT NULL, "
                         "ts timestamptz NOT NULL, kind text NOT NULL, source text NOT NULL, "
                         "detail text, logged_at timestamptz NOT NULL DEFAULT now(), "
                         "local_id integer, state text)"),
          QStringLiteral("CREATE INDEX events_station_ts ON events (station, ts)"),
          QStringLiteral("CREATE UNIQUE INDEX events_station_local ON events "
                         "(station, local_id, ts)")},
         {QStringLiteral("ALTER TABLE events ADD COLUMN local_id integer"),
          QStringLiteral("CREATE UNIQUE INDEX events_station_local ON events "
                         "(station, local_id, ts)")}},
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

// What a table of one of our names lacks to be ours at `version`: its columns
// of that version with their types, and its key.
QStringList missingParts(QSqlQuery &query, const ServerTable &table,
                         const QHash<QString, QString> &found, int version, bool &ok)
{
    QStringList wrong;
    for (const ServerColumn &column : table.columns) {
        if (column.since <= version &&
            found.value(QLatin1String(column.name)) != QLatin1String(column.type))
            wrong << QStringLiteral("%1 %2").arg(QLatin1String(column.name),
                                                 QLatin1String(column.type));
    }
    QStringList key = version < kServerSchemaVersion ? table.oldKey : table.key;
    if (!wrong.isEmpty() || key.isEmpty())
        return wrong;
    // INSERT ... ON CONFLICT needs rows unique by exactly this key.
    key.sort();
    query.prepare(
        QStringLiteral("SELECT count(*) FROM pg_index i WHERE i.indrelid = to_regclass(?) "
                       "AND i.indisunique AND i.indnatts = ? AND (SELECT array_agg(a.attname::text "
                       "ORDER BY a.attname) FROM pg_attribute a WHERE a.attrelid = i.indrelid AND "
                       "a.attnum = ANY(i.indkey)) = ?::text[]"));
    query.addBindValue(QLatin1String(table.name));
    query.addBindValue(int(key.size()));
    query.addBindValue(QLatin1Char('{') + key.join(QLatin1Char(',')) + QLatin1Char('}'));
    ok = query.exec() && query.next();
    if (ok && query.value(0).toInt() == 0)
        wrong << QStringLiteral("a unique key on (%1)").arg(key.join(QStringLiteral(", ")));
    return wrong;
}

// Whether a failed statement says something lasting about the server (no
// rights, a table not ours) rather than about the way to it (the connection
// lost, the server shutting down, a deadlock), which the next attempt may not meet.
bool isLastingRefusal(const QSqlError &error)
{
    const QString state = error.nativeErrorCode();
    if (state.size() != 5)
        return false;
    static const QStringList passing{QStringLiteral("08"), QStringLiteral("40"),
                                     QStringLiteral("53"), QStringLiteral("57"),
                                     QStringLiteral("58")};
    return !passing.contains(state.left(2));
}

// A float as text that reads back as the same float.
QString floatText(float value)
{
    if (std::isnan(value))
        return QStringLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity");
    return QString::number(value, 'g', 9);
}

// A text as one element of a PostgreSQL array literal.
QString quotedElement(QString text)
{
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    return QLatin1Char('"') + text + QLatin1Char('"');
}

// A PostgreSQL array literal of already formatted elements.
QString arrayText(const QStringList &elements)
{
    return QLatin1Char('{') + elements.join(QLatin1Char(',')) + QLatin1Char('}');
}

} // namespace

QString timestampText(const QDateTime &time)
{
    if (time.timeSpec() == Qt::OffsetFromUTC)
        return time.toString(Qt::ISODateWithMs);
    const QDateTime local = time.toLocalTime();
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

bool HistorianServer::refuse(const QString &what, const QString &reason)
{
    m_refused = true;
    return fail(what, reason);
}

bool HistorianServer::ensureSchema()
{
    m_refused = false;
    QSqlDatabase db = database();
    if (!db.transaction())
        return fail(QStringLiteral("schema"), db.lastError().text());
    QSqlQuery query(db);
    // Nothing done here stays unless all of it is done: a table made by
    // someone else is never altered, a refused upgrade leaves version 1 whole,
    // and ours come back whole on the next attempt.
    const auto giveUp = [&](const QString &reason, bool lasting) {
        db.rollback();
        const QString text = reason + QStringLiteral(" (left unchanged)");
        return lasting ? refuse(QStringLiteral("schema"), text)
                       : fail(QStringLiteral("schema"), text);
    };
    const auto failed = [&](const QSqlQuery &q) {
        return giveUp(q.lastError().text(), isLastingRefusal(q.lastError()));
    };
    if (!query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock)))
        return failed(query);

    // The version the tables are at: none kept means version 1 when any of
    // our tables is there, and nothing to upgrade when none is.
    if (!query.exec(QStringLiteral("SELECT to_regclass('zelmar_schema') IS NOT NULL")) ||
        !query.next())
        return failed(query);
    const bool versionKept = query.value(0).toBool();
    int version = 1;
    if (versionKept) {
        if (!query.exec(QStringLiteral("SELECT max(version) FROM zelmar_schema")) || !query.next())
            return failed(query);
        version = query.value(0).toInt();
        if (version > kServerSchemaVersion)
            return giveUp(QStringLiteral("the historian's tables are of schema version %1, made "
                                         "by a newer ZELMAR; this one knows version %2")
                              .arg(version)
                              .arg(kServerSchemaVersion),
                          true);
    }

    QStringList faults;
    bool eventsLackState = false;
    QVector<const ServerTable *> toCreate;
    QVector<const ServerTable *> toUpgrade;
    for (const ServerTable &table : serverTables()) {
        query.prepare(
            QStringLiteral("SELECT column_name, data_type FROM information_schema.columns "
                           "WHERE table_schema = current_schema() AND table_name = ?"));
        query.addBindValue(QLatin1String(table.name));
        if (!query.exec())
            return failed(query);
        QHash<QString, QString> found;
        while (query.next())
            found.insert(query.value(0).toString(), query.value(1).toString());
        if (found.isEmpty()) {
            toCreate.append(&table);
            continue;
        }
        if (qstrcmp(table.name, "events") == 0)
            eventsLackState = !found.contains(QStringLiteral("state"));
        bool ok = true;
        const QStringList wrong = missingParts(query, table, found, version, ok);
        if (!ok)
            return failed(query);
        if (!wrong.isEmpty())
            faults << QStringLiteral("table %1 exists without %2")
                          .arg(QLatin1String(table.name), wrong.join(QStringLiteral(", ")));
        else if (version < kServerSchemaVersion)
            toUpgrade.append(&table);
    }
    if (!faults.isEmpty())
        return giveUp(faults.join(QStringLiteral("; ")), true);

    QStringList statements;
    for (const ServerTable *table : toCreate)
        statements += table->create;
    for (const ServerTable *table : toUpgrade)
        statements += table->upgrade;
    if (!versionKept)
        statements
            << QStringLiteral("CREATE TABLE zelmar_schema (version integer NOT NULL)")
            << QStringLiteral("INSERT INTO zelmar_schema VALUES (%1)").arg(kServerSchemaVersion);
    else if (version < kServerSchemaVersion)
        statements
            << QStringLiteral("UPDATE zelmar_schema SET version = %1").arg(kServerSchemaVersion);
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            const QSqlError error = query.lastError();
            const QString step = toUpgrade.isEmpty()
                                     ? QStringLiteral("cannot create the historian's tables: ")
                                     : QStringLiteral("cannot upgrade the historian's tables "
                                                      "to schema version %1: ")
                                           .arg(kServerSchemaVersion);
            return giveUp(
                step + (error.databaseText().isEmpty() ? error.text() : error.databaseText()),
                isLastingRefusal(error));
        }
    }
    if (!db.commit())
        return fail(QStringLiteral("schema"), db.lastError().text());
    // A link event's state code (a reader never parses the words of a row that
    // has one) is a column the events table gains without a new schema
    // version: tools of the previous version sharing the server go on, naming
    // their columns and leaving it empty. A login that may not alter the
    // table forwards events without codes, as those tools do.
    m_eventStates =
        !eventsLackState ||
        query.exec(QStringLiteral("ALTER TABLE events ADD COLUMN IF NOT EXISTS state text"));
    return true;
}

StationClaim HistorianServer::registerStation(const QString &station,
                                              const StationIdentity &identity,
                                              const QString &settings)
{
    m_refused = false;
    QSqlQuery query(database());
    // A row of version 1 names no machine: the first tool to come takes it.
    query.prepare(QStringLiteral(
        "INSERT INTO stations AS s (station, port, address, settings, machine, host) "
        "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (station) DO UPDATE SET port = excluded.port, "
        "address = excluded.address, settings = excluded.settings, machine = excluded.machine, "
        "host = excluded.host, last_seen = now() WHERE s.machine IS NULL OR (s.machine = "
        "excluded.machine AND s.port = excluded.port AND s.address = excluded.address) "
        "RETURNING 1"));
    query.addBindValue(station);
    query.addBindValue(identity.port);
    query.addBindValue(identity.address);
    query.addBindValue(settings);
    query.addBindValue(identity.machine);
    query.addBindValue(identity.host);
    if (!query.exec()) {
        fail(QStringLiteral("station"), query.lastError().text());
        return StationClaim::Failed;
    }
    if (query.next())
        return StationClaim::Registered;
    query.prepare(
        QStringLiteral("SELECT coalesce(host, machine), port, address FROM stations WHERE "
                       "station = ?"));
    query.addBindValue(station);
    if (!query.exec() || !query.next()) {
        fail(QStringLiteral("station"), query.lastError().text());
        return StationClaim::Failed;
    }
    refuse(QStringLiteral("station"),
           QStringLiteral("station name %1 belongs to another tool (host %2, port %3, address "
                          "%4); this tool records locally only: give it a station name of its "
                          "own (ZELMAR_STATION)")
               .arg(station, query.value(0).toString())
               .arg(query.value(1).toInt())
               .arg(query.value(2).toInt()));
    return StationClaim::OwnedByOther;
}

std::optional<int> HistorianServer::insertSamples(const QString &station, SampleTable table,
                                                  const QVector<ServerSample> &samples)
{
    if (samples.isEmpty())
        return 0;
    QSqlDatabase db = database();
    // The whole batch as one statement with one array per column: a round
    // trip per row would make catching up after an outage as slow as the
    // network's latency, and a parameter per value as slow as their parsing.
    QStringList ms, ids, qualities, offsets;
    std::array<QStringList, kValueColumns> values;
    const QString null = QStringLiteral("NULL");
    for (const ServerSample &sample : samples) {
        ms << QString::number(sample.ts.toMSecsSinceEpoch());
        ids << QString::number(sample.ringId);
        qualities << (sample.quality ? QString::number(*sample.quality) : null);
        offsets << (sample.utcOffset ? QString::number(*sample.utcOffset) : null);
        for (int i = 0; i < kValueColumns; ++i)
            values[i] << floatText(sample.values[i]);
    }
    QSqlQuery insert(db);
    QSqlQuery seen(db);
    if (!db.transaction()) {
        fail(QStringLiteral("begin"), db.lastError().text());
        return std::nullopt;
    }
    bool ok = insert.prepare(
        QStringLiteral(
            "INSERT INTO %1 (station, ts, ring_id, quality, utc_offset, v1, v2, v3, v4, v5, v6, "
            "v7, v8) SELECT ?, timestamptz 'epoch' + u.ms * interval '1 millisecond', u.id, "
            "u.q, u.o, u.v1, u.v2, u.v3, u.v4, u.v5, u.v6, u.v7, u.v8 FROM unnest(?::bigint[], "
            "?::integer[], ?::smallint[], ?::integer[], ?::real[], ?::real[], ?::real[], "
            "?::real[], ?::real[], ?::real[], ?::real[], ?::real[]) WITH ORDINALITY AS u(ms, id, "
            "q, o, v1, v2, v3, v4, v5, v6, v7, v8, n) ORDER BY u.n ON CONFLICT DO NOTHING")
            .arg(QLatin1String(sampleTableName(table))));
    insert.addBindValue(station);
    for (const QStringList *column : {&ms, &ids, &qualities, &offsets})
        insert.addBindValue(arrayText(*column));
    for (const QStringList &column : values)
        insert.addBindValue(arrayText(column));
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
    return insertEvents(station, {event}).has_value();
}

std::optional<int> HistorianServer::insertEvents(const QString &station,
                                                 const QVector<ServerEvent> &events)
{
    if (events.isEmpty())
        return 0;
    // One statement for the batch, as for the samples: a full events ring
    // after an outage is a hundred thousand rows.
    QStringList times, kinds, sources, details, ids, states;
    for (const ServerEvent &event : events) {
        times << QString::number(event.ts.toMSecsSinceEpoch());
        kinds << quotedElement(event.kind);
        sources << quotedElement(event.source);
        details << quotedElement(event.detail);
        ids << (event.localId ? QString::number(*event.localId) : QStringLiteral("NULL"));
        states << (event.state.isEmpty() ? QStringLiteral("NULL") : quotedElement(event.state));
    }
    QSqlQuery query(database());
    query.prepare(
        QStringLiteral(
            "INSERT INTO events (station, ts, kind, source, detail, local_id%1) SELECT ?, "
            "timestamptz 'epoch' + u.ms * interval '1 millisecond', u.kind, u.source, "
            "u.detail, u.id%2 FROM unnest(?::bigint[], ?::text[], ?::text[], ?::text[], "
            "?::integer[], ?::text[]) WITH ORDINALITY AS u(ms, kind, source, detail, id, "
            "state, n) ORDER BY u.n ON CONFLICT DO NOTHING")
            .arg(m_eventStates ? QStringLiteral(", state") : QString(),
                 m_eventStates ? QStringLiteral(", u.state") : QString()));
    query.addBindValue(station);
    for (const QStringList *column : {&times, &kinds, &sources, &details, &ids, &states})
        query.addBindValue(arrayText(*column));
    if (!query.exec()) {
        fail(QStringLiteral("event"), query.lastError().text());
        return std::nullopt;
    }
    return query.numRowsAffected();
}

std::optional<QVector<ServerSample>> HistorianServer::readSamples(const QString &station,
                                                                  SampleTable table,
                                                                  const QDateTime &from,
                                                                  const QDateTime &to) const
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT extract(epoch FROM ts)::float8, v1, v2, v3, v4, v5, v6, "
                                 "v7, v8, quality, utc_offset, ring_id FROM %1 WHERE station = ? "
                                 "AND ts BETWEEN ?::timestamptz AND ?::timestamptz ORDER BY seq")
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
        if (!query.isNull(1 + kValueColumns))
            sample.quality = qint16(query.value(1 + kValueColumns).toInt());
        if (!query.isNull(2 + kValueColumns))
            sample.utcOffset = query.value(2 + kValueColumns).toInt();
        sample.ringId = query.value(3 + kValueColumns).toInt();
        samples.append(sample);
    }
    return samples;
}

namespace
{

ServerEvent eventFrom(const QSqlQuery &query)
{
    ServerEvent event{QDateTime::fromMSecsSinceEpoch(qRound64(query.value(0).toDouble() * 1000.0)),
                      query.value(1).toString(), query.value(2).toString(),
                      query.value(3).toString(), std::nullopt};
    if (!query.isNull(4))
        event.localId = query.value(4).toInt();
    event.state = query.value(5).toString();
    return event;
}

// The state code through the row as JSON: null on a server whose events
// table has no such column yet (only tools of the previous version wrote it).
constexpr char kEventColumns[] = "SELECT extract(epoch FROM ts)::float8, kind, source, detail, "
                                 "local_id, to_jsonb(e) ->> 'state' FROM events e ";

} // namespace

std::optional<QVector<ServerEvent>> HistorianServer::readEvents(const QString &station,
                                                                const QDateTime &from,
                                                                const QDateTime &to) const
{
    QSqlQuery query(database());
    query.setForwardOnly(true);
    query.prepare(QLatin1String(kEventColumns) +
                  QStringLiteral("WHERE station = ? AND ts BETWEEN ?::timestamptz AND "
                                 "?::timestamptz ORDER BY ts, id"));
    query.addBindValue(station);
    query.addBindValue(timestampText(from));
    query.addBindValue(timestampText(to));
    if (!query.exec()) {
        fail(QStringLiteral("read events"), query.lastError().text());
        return std::nullopt;
    }
    QVector<ServerEvent> events;
    while (query.next())
        events.append(eventFrom(query));
    return events;
}

std::optional<ServerEvent> HistorianServer::readLastEventBefore(const QString &station,
                                                                const QString &kind,
                                                                const QDateTime &before) const
{
    QSqlQuery query(database());
    query.prepare(QLatin1String(kEventColumns) +
                  QStringLiteral("WHERE station = ? AND kind = ? AND ts < ?::timestamptz "
                                 "ORDER BY ts DESC, id DESC LIMIT 1"));
    query.addBindValue(station);
    query.addBindValue(kind);
    query.addBindValue(timestampText(before));
    if (!query.exec() || !query.next()) {
        if (query.lastError().isValid())
            fail(QStringLiteral("read events"), query.lastError().text());
        return std::nullopt;
    }
    return eventFrom(query);
}
