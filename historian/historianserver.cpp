// The historian's side on the PostgreSQL server: its tables and their upgrade
// from older versions, the registration of a station, and the writes and reads
// of samples and events over the one connection of the thread that opened it.

#include "historianserver.h"

#include "sqliteresult.h"

#include <libpq-fe.h>

#include <QHash>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QStringList>
#include <QVariant>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <limits>
#include <string_view>

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

const char *sampleTableName(SampleTable table)
{
    return table == SampleTable::Seconds ? "samples_1s" : "samples_10s";
}

struct ServerColumn {
    const char *name;
    const char *type; // as information_schema.columns.data_type says it
    int since = 1;    // the schema version that added it
};

// A unique index an upgrade builds beside the table (CREATE INDEX
// CONCURRENTLY): the table takes rows and readers meanwhile, however long it
// takes on a large table.
struct ServerIndex {
    QString name;
    QString columns;
};

// One of our tables in both versions: version 1 is recognised (and upgraded),
// the current one is made and checked. An upgrade from version 1 rewrites no
// row: it runs in three steps, each of which may be cut off and taken up again.
struct ServerTable {
    const char *name;
    QVector<ServerColumn> columns;
    QStringList oldKey; // a unique index on exactly these columns in version 1
    QStringList key;    // ... and now
    QStringList create;
    // 1. In one short transaction: what only changes the catalogue (columns
    //    with a constant default, a sequence for new rows). Taken again, it
    //    finds them there.
    QStringList upgrade;
    // 2. Outside a transaction, without a statement time-out.
    QVector<ServerIndex> indexes;
    // 3. In the transaction that writes the new version: the new key from the
    //    index built.
    QStringList finish;
    // The schema version that last changed it: a server below it upgrades
    // the table, one at or above it has nothing to do to it.
    int changedIn = 2;
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
// sends its ring oldest first). Rows of version 1 keep seq 0, a default that
// rewrites no row: one row per station and instant then, they come first and
// in time order (ORDER BY seq, ts).
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
            {QStringLiteral("ALTER TABLE %1 ADD COLUMN IF NOT EXISTS ring_id integer NOT NULL "
                            "DEFAULT 0, ADD COLUMN IF NOT EXISTS quality smallint, ADD COLUMN IF "
                            "NOT EXISTS utc_offset integer, ADD COLUMN IF NOT EXISTS seq bigint "
                            "NOT NULL DEFAULT 0")
                 .arg(table),
             QStringLiteral("CREATE SEQUENCE IF NOT EXISTS %1_seq_seq OWNED BY %1.seq").arg(table),
             QStringLiteral("ALTER TABLE %1 ALTER COLUMN seq SET DEFAULT nextval('%1_seq_seq')")
                 .arg(table)},
            {{table + QStringLiteral("_key"), QStringLiteral("station, ts, ring_id")}},
            {QStringLiteral("ALTER TABLE %1 DROP CONSTRAINT IF EXISTS %1_pkey, ADD CONSTRAINT "
                            "%1_pkey PRIMARY KEY USING INDEX %1_key")
                 .arg(table)}};
}

// The station's scaling entries, as the recording database keeps them: from
// `since` on, `channel` (1..4) was shown with `decimals` places. Unique by
// station, channel and instant, so that an entry sent again changes nothing.
// New in version 3: where the table is there at all, every column is.
ServerTable scalingTable()
{
    return {"channel_scaling",
            {{"station", "text"},
             {"channel", "smallint"},
             {"since", "timestamp with time zone"},
             {"input_type", "smallint"},
             {"decimals", "smallint"},
             {"input_upper", "integer"},
             {"input_lower", "integer"},
             {"unit", "text"}},
            {QStringLiteral("station"), QStringLiteral("channel"), QStringLiteral("since")},
            {QStringLiteral("station"), QStringLiteral("channel"), QStringLiteral("since")},
            {QStringLiteral("CREATE TABLE channel_scaling (station text NOT NULL, channel "
                            "smallint NOT NULL CHECK (channel BETWEEN 1 AND %1), since "
                            "timestamptz NOT NULL, input_type smallint NOT NULL, decimals "
                            "smallint NOT NULL CHECK (decimals BETWEEN 0 AND %2), input_upper "
                            "integer, input_lower integer, unit text, PRIMARY KEY (station, "
                            "channel, since))")
                 .arg(kScaledChannels)
                 .arg(kDecimalsHighest)},
            {},
            {},
            {},
            3};
}

// The engineering view of a sample table: each row's channels divided by ten
// to the power of the decimal point in force at the row's instant (the
// station's latest entry for the channel at or before it; none: the value as
// recorded) and each channel's unit (NULL where none is known or named). The
// retransmission value keeps its own scale (per cent of its output), and
// input registers 6 to 8 are as recorded.
//
// The entries are first turned into the station's epochs: from each instant
// at which any channel's entry took effect to the next, the four channels'
// decimal points and units in force. A row then meets its one epoch in a
// single join on the station and a range of instants, which reads a day of
// seconds about ten times faster than four look-ups of the latest entry per
// row (README, "Engineering values on the server").
QString engineeringViewSql(const char *view, SampleTable table)
{
    QString inForce;
    QString channels;
    for (int ch = 1; ch <= kScaledChannels; ++ch) {
        // The channel's latest entry at or before the epoch's start.
        const QString latest =
            QStringLiteral("(SELECT %2 FROM channel_scaling c WHERE c.station = "
                           "e.station AND c.channel = %1 AND c.since <= e.since ORDER BY "
                           "c.since DESC LIMIT 1)")
                .arg(ch);
        inForce += QStringLiteral(", %1 AS d%3, %2 AS u%3")
                       .arg(latest.arg(QStringLiteral("c.decimals")),
                            latest.arg(QStringLiteral("nullif(c.unit, '')")))
                       .arg(ch);
        channels += QStringLiteral(", CASE WHEN p.d%1 IS NULL THEN s.v%1::numeric ELSE "
                                   "round(s.v%1::numeric / (10::numeric ^ p.d%1), p.d%1) END AS "
                                   "ch%1, p.u%1 AS ch%1_unit")
                        .arg(ch);
    }
    return QStringLiteral(
               "CREATE VIEW %1 AS SELECT s.station, s.ts, s.utc_offset, s.quality, s.ring_id, "
               "s.seq%2, s.v5 AS da, s.v6, s.v7, s.v8 FROM %3 s LEFT JOIN (SELECT e.station, "
               "e.since, lead(e.since) OVER (PARTITION BY e.station ORDER BY e.since) AS until%4 "
               "FROM (SELECT DISTINCT station, since FROM channel_scaling) e) p ON p.station = "
               "s.station AND s.ts >= p.since AND (p.until IS NULL OR s.ts < p.until)")
        .arg(QLatin1String(view), channels, QLatin1String(sampleTableName(table)), inForce);
}

// Made in the transaction that writes version 3 (never before: an upgrade
// cut off and taken up again would meet them), and never replaced: a view of
// these names that someone else made refuses the upgrade, as a table would.
QStringList engineeringViews()
{
    return {engineeringViewSql("samples_1s_eng", SampleTable::Seconds),
            engineeringViewSql("samples_10s_eng", SampleTable::TenSeconds)};
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
         {QStringLiteral("ALTER TABLE stations ADD COLUMN IF NOT EXISTS machine text, ADD COLUMN "
                         "IF NOT EXISTS host text")},
         {},
         {}},
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
         {QStringLiteral("ALTER TABLE events ADD COLUMN IF NOT EXISTS local_id integer")},
         {{QStringLiteral("events_station_local"), QStringLiteral("station, local_id, ts")}},
         {}},
        scalingTable(),
    };
    return tables;
}

// The driver's libpq connection; null when there is none.
PGconn *libpqConnection(const QSqlDatabase &db)
{
    const QVariant handle = db.driver()->handle();
    // Qt names the type by libpq's typedef or by the struct behind it.
    if (!handle.isValid() ||
        (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return nullptr;
    return *static_cast<PGconn *const *>(handle.constData());
}

// Rolls back the transaction under way. Qt's driver warns on standard error
// of any step asked of a connection libpq has seen drop, and such a
// connection has nothing left to roll back on the server: it is left alone.
void rollBack(QSqlDatabase &db)
{
    if (db.isOpen())
        db.rollback();
}

// Where the server's notices go; none: they are left out.
std::atomic<void (*)(const QString &)> g_noticeLog{nullptr};

// Whether `table` has a unique index on exactly the columns `key`.
bool hasUniqueKey(QSqlQuery &query, const char *table, QStringList key, bool &ok)
{
    key.sort();
    query.prepare(
        QStringLiteral("SELECT count(*) FROM pg_index i WHERE i.indrelid = to_regclass(?) "
                       "AND i.indisunique AND i.indnatts = ? AND (SELECT array_agg(a.attname::text "
                       "ORDER BY a.attname) FROM pg_attribute a WHERE a.attrelid = i.indrelid AND "
                       "a.attnum = ANY(i.indkey)) = ?::text[]"));
    query.addBindValue(QLatin1String(table));
    query.addBindValue(int(key.size()));
    query.addBindValue(QLatin1Char('{') + key.join(QLatin1Char(',')) + QLatin1Char('}'));
    ok = query.exec() && query.next();
    return ok && query.value(0).toInt() > 0;
}

// What a table of one of our names lacks to be ours at `version`: its columns
// of that version with their types, and its key. Below the current version the
// new key serves as well: a table made new beside tables of version 1, or one
// whose upgrade was cut off after its last step, is ours.
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
    const bool old = version < table.changedIn;
    const QStringList &key = old ? table.oldKey : table.key;
    if (!wrong.isEmpty() || key.isEmpty())
        return wrong;
    // INSERT ... ON CONFLICT needs rows unique by exactly this key.
    if (hasUniqueKey(query, table.name, key, ok) ||
        (ok && old && hasUniqueKey(query, table.name, table.key, ok)) || !ok)
        return wrong;
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
    // The server's own word for why it ended the session says more than
    // libpq's "server closed the connection unexpectedly" after it.
    m_lastError =
        what + QStringLiteral(": ") + (m_sessionEnd.isEmpty() ? reason.trimmed() : m_sessionEnd);
    return false;
}

bool HistorianServer::lost(const QString &what) const
{
    // Asked of a dropped connection, Qt's driver would write its own warning
    // to standard error, outside the log's one-line form.
    return !isOpen() && !fail(what, QStringLiteral("the connection to the server was lost"));
}

void setServerNoticeLog(void (*log)(const QString &line))
{
    g_noticeLog = log;
}

void HistorianServer::noticeReceived(void *server, const char *message)
{
    // libpq's text runs over lines ("FATAL:  terminating connection due to
    // administrator command\n"): one line for the log, as every line of it.
    const QString text = QString::fromUtf8(message).simplified();
    if (text.startsWith(QLatin1String("FATAL:")) || text.startsWith(QLatin1String("PANIC:"))) {
        // The server ends the session (a restart, a terminated backend): the
        // next exchange fails, and its reason is this.
        static_cast<HistorianServer *>(server)->m_sessionEnd = text;
        return;
    }
    if (void (*log)(const QString &) = g_noticeLog.load())
        log(QStringLiteral("historian server: ") + text);
}

bool HistorianServer::open(const HistorianTarget &target)
{
    close();
    if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")))
        return fail(QStringLiteral("login"),
                    QStringLiteral("Qt's PostgreSQL driver (libqt6sql6-psql) is not installed"));
    QString reason;
    m_sessionEnd.clear();
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
            PGconn *connection = libpqConnection(db);
            if (connection) {
                m_watch.watchSocket(PQsocket(connection));
                PQsetNoticeProcessor(connection, &HistorianServer::noticeReceived, this);
            }
            // Notices below a warning (an upgrade's "already exists, skipping")
            // are not worth a line of the log.
            QSqlQuery timeout(db);
            if (!timeout.exec(QStringLiteral("SET statement_timeout = %1")
                                  .arg(qint64(m_statementTimeout.count()))) ||
                !timeout.exec(QStringLiteral("SET client_min_messages = warning")))
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

namespace
{

// What a step of setting up the tables came to: done (no reason), or why not
// and whether the next attempt would meet the same refusal.
struct SchemaOutcome {
    QString reason;
    bool lasting = false;
};

// What the first step found.
struct SchemaPlan {
    QVector<const ServerTable *> toUpgrade; // empty: the tables are current now
    bool eventsLackState = false;
};

QString statementError(const QSqlError &error)
{
    return error.databaseText().isEmpty() ? error.text() : error.databaseText();
}

QString upgradeStep()
{
    return QStringLiteral("cannot upgrade the historian's tables to schema version %1: ")
        .arg(kServerSchemaVersion);
}

// The version the tables are at, under the schema lock: none kept means
// version 1 when any of our tables is there, and nothing to upgrade when none is.
bool readVersion(QSqlQuery &query, bool &kept, int &version)
{
    if (!query.exec(QStringLiteral("SELECT pg_advisory_xact_lock(%1)").arg(kSchemaLock)) ||
        !query.exec(QStringLiteral("SELECT to_regclass('zelmar_schema') IS NOT NULL")) ||
        !query.next())
        return false;
    kept = query.value(0).toBool();
    version = 1;
    if (!kept)
        return true;
    if (!query.exec(QStringLiteral("SELECT max(version) FROM zelmar_schema")) || !query.next())
        return false;
    version = query.value(0).toInt();
    return true;
}

QStringList versionStatements(bool kept)
{
    if (kept)
        return {QStringLiteral("UPDATE zelmar_schema SET version = %1").arg(kServerSchemaVersion)};
    return {QStringLiteral("CREATE TABLE zelmar_schema (version integer NOT NULL)"),
            QStringLiteral("INSERT INTO zelmar_schema VALUES (%1)").arg(kServerSchemaVersion)};
}

// Step 1, in one transaction: checks every table, makes those missing and,
// when the tables are current, is all there is. Tables of version 1 get what
// only changes the catalogue; the version stays 1 until step 3.
SchemaOutcome prepareTables(QSqlDatabase &db, SchemaPlan &plan)
{
    if (!db.transaction())
        return {db.lastError().text()};
    QSqlQuery query(db);
    // Nothing done here stays unless all of it is done: a table made by
    // someone else is never altered, a refused upgrade leaves version 1 whole,
    // and ours come back whole on the next attempt.
    const auto giveUp = [&](const QString &reason, bool lasting) {
        rollBack(db);
        return SchemaOutcome{reason + QStringLiteral(" (left unchanged)"), lasting};
    };
    const auto failed = [&](const QSqlQuery &q) {
        return giveUp(q.lastError().text(), isLastingRefusal(q.lastError()));
    };
    bool versionKept = false;
    int version = 1;
    if (!readVersion(query, versionKept, version))
        return failed(query);
    if (version > kServerSchemaVersion)
        return giveUp(QStringLiteral("the historian's tables are of schema version %1, made by a "
                                     "newer ZELMAR; this one knows version %2")
                          .arg(version)
                          .arg(kServerSchemaVersion),
                      true);

    QStringList faults;
    QVector<const ServerTable *> toCreate;
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
            plan.eventsLackState = !found.contains(QStringLiteral("state"));
        bool ok = true;
        const QStringList wrong = missingParts(query, table, found, version, ok);
        if (!ok)
            return failed(query);
        if (!wrong.isEmpty())
            faults << QStringLiteral("table %1 exists without %2")
                          .arg(QLatin1String(table.name), wrong.join(QStringLiteral(", ")));
        else if (version < table.changedIn)
            plan.toUpgrade.append(&table);
    }
    if (!faults.isEmpty())
        return giveUp(faults.join(QStringLiteral("; ")), true);

    // The upgrades first: a login that may not make them is told it needs the
    // tables' owner, whatever new table it could not make either.
    QStringList statements;
    for (const ServerTable *table : plan.toUpgrade)
        statements += table->upgrade;
    for (const ServerTable *table : toCreate)
        statements += table->create;
    if (plan.toUpgrade.isEmpty() && version < kServerSchemaVersion)
        statements += engineeringViews() + versionStatements(versionKept);
    // Tables of ours there already, of an earlier version: an upgrade.
    const bool upgrade =
        !plan.toUpgrade.isEmpty() || (versionKept && version < kServerSchemaVersion);
    for (const QString &statement : statements) {
        if (!query.exec(statement)) {
            const QSqlError error = query.lastError();
            const QString step =
                upgrade ? upgradeStep() : QStringLiteral("cannot create the historian's tables: ");
            return giveUp(step + statementError(error), isLastingRefusal(error));
        }
    }
    if (!db.commit())
        return {db.lastError().text()};
    return {};
}

// Step 2, outside a transaction: the new keys' indexes, built without a
// time-out while the table goes on taking rows. One left invalid by a build
// that was cut off is built again; one another tool is building is its.
SchemaOutcome buildIndexes(QSqlDatabase &db, const SchemaPlan &plan)
{
    QSqlQuery query(db);
    for (const ServerTable *table : plan.toUpgrade) {
        for (const ServerIndex &index : table->indexes) {
            query.prepare(QStringLiteral(
                "SELECT NOT i.indisvalid AND NOT EXISTS (SELECT 1 FROM "
                "pg_stat_progress_create_index p WHERE p.index_relid = i.indexrelid) FROM "
                "pg_index i WHERE i.indexrelid = to_regclass(?)"));
            query.addBindValue(index.name);
            if (!query.exec())
                return {upgradeStep() + statementError(query.lastError())};
            const bool leftInvalid = query.next() && query.value(0).toBool();
            if ((leftInvalid &&
                 !query.exec(
                     QStringLiteral("DROP INDEX CONCURRENTLY IF EXISTS %1").arg(index.name))) ||
                !query.exec(QStringLiteral("CREATE UNIQUE INDEX CONCURRENTLY IF NOT EXISTS %1 ON "
                                           "%2 (%3)")
                                .arg(index.name, QLatin1String(table->name), index.columns)))
                return {upgradeStep() + statementError(query.lastError())};
        }
    }
    return {};
}

// Step 3, in one short transaction: the new keys and the new version. Another
// tool that finished the upgrade meanwhile leaves nothing to do.
SchemaOutcome finishUpgrade(QSqlDatabase &db, const SchemaPlan &plan)
{
    if (!db.transaction())
        return {db.lastError().text()};
    QSqlQuery query(db);
    bool versionKept = false;
    int version = 1;
    if (!readVersion(query, versionKept, version)) {
        const QString reason = query.lastError().text();
        rollBack(db);
        return {reason};
    }
    if (version < kServerSchemaVersion) {
        QStringList statements;
        for (const ServerTable *table : plan.toUpgrade)
            statements += table->finish;
        statements += engineeringViews();
        statements += versionStatements(versionKept);
        for (const QString &statement : statements) {
            if (!query.exec(statement)) {
                // The rights were there for step 1: whatever failed here (an
                // index another tool is still building) is tried again.
                const QString reason = upgradeStep() + statementError(query.lastError());
                rollBack(db);
                return {reason};
            }
        }
    }
    if (!db.commit())
        return {db.lastError().text()};
    return {};
}

} // namespace

bool HistorianServer::ensureSchema(const std::function<void()> &upgrading)
{
    m_refused = false;
    if (lost(QStringLiteral("schema")))
        return false;
    QSqlDatabase db = database();
    SchemaPlan plan;
    const auto failed = [this](const SchemaOutcome &outcome) {
        return outcome.lasting ? refuse(QStringLiteral("schema"), outcome.reason)
                               : fail(QStringLiteral("schema"), outcome.reason);
    };
    SchemaOutcome outcome = prepareTables(db, plan);
    if (!outcome.reason.isEmpty())
        return failed(outcome);
    if (!plan.toUpgrade.isEmpty()) {
        if (upgrading)
            upgrading();
        {
            // As long as the table is large: the statement time-out and the
            // cut-off wait; a stop still cuts it off, and the next start
            // builds it again.
            const StatementWatch::Unlimited unlimited(m_watch);
            QSqlQuery timeout(db);
            if (!timeout.exec(QStringLiteral("SET statement_timeout = 0")))
                return fail(QStringLiteral("schema"), timeout.lastError().text());
            outcome = buildIndexes(db, plan);
            if (lost(QStringLiteral("schema")))
                return false;
            if (!timeout.exec(QStringLiteral("SET statement_timeout = %1")
                                  .arg(qint64(m_statementTimeout.count()))) &&
                outcome.reason.isEmpty())
                outcome.reason = timeout.lastError().text();
        }
        if (outcome.reason.isEmpty())
            outcome = finishUpgrade(db, plan);
        if (!outcome.reason.isEmpty())
            return failed(outcome);
    }
    // A link event's state code (a reader never parses the words of a row that
    // has one) is a column the events table gains without a new schema
    // version: tools of the previous version sharing the server go on, naming
    // their columns and leaving it empty. A login that may not alter the
    // table forwards events without codes, as those tools do.
    if (lost(QStringLiteral("schema")))
        return false;
    QSqlQuery query(db);
    m_eventStates =
        !plan.eventsLackState ||
        query.exec(QStringLiteral("ALTER TABLE events ADD COLUMN IF NOT EXISTS state text"));
    return true;
}

StationClaim HistorianServer::registerStation(const QString &station,
                                              const StationIdentity &identity,
                                              const QString &settings)
{
    m_refused = false;
    if (lost(QStringLiteral("station")))
        return StationClaim::Failed;
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
    if (lost(QStringLiteral("station")))
        return StationClaim::Failed;
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
    if (lost(QStringLiteral("send")))
        return std::nullopt;
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
        rollBack(db);
        return std::nullopt;
    }
    if (!db.commit()) {
        fail(QStringLiteral("commit"), db.lastError().text());
        rollBack(db);
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
    if (lost(QStringLiteral("event")))
        return std::nullopt;
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

std::optional<int> HistorianServer::insertScaling(const QString &station,
                                                  const QVector<ScalingEntry> &entries)
{
    if (entries.isEmpty())
        return 0;
    if (lost(QStringLiteral("scaling")))
        return std::nullopt;
    // One entry per channel and instant in a statement (ON CONFLICT may not
    // touch a row twice): the last written of one instant, as the recording
    // database takes it.
    QVector<ScalingEntry> last;
    for (const ScalingEntry &entry : entries) {
        const auto same = std::find_if(last.begin(), last.end(), [&](const ScalingEntry &e) {
            return e.channel == entry.channel &&
                   e.since.toMSecsSinceEpoch() == entry.since.toMSecsSinceEpoch();
        });
        if (same != last.end())
            *same = entry;
        else
            last.append(entry);
    }
    QStringList times, channels, types, decimals, uppers, lowers, units;
    for (const ScalingEntry &entry : last) {
        times << QString::number(entry.since.toMSecsSinceEpoch());
        channels << QString::number(entry.channel + 1);
        types << QString::number(entry.scaling.inputType);
        decimals << QString::number(entry.scaling.decimals);
        uppers << QString::number(entry.scaling.upper);
        lowers << QString::number(entry.scaling.lower);
        // An unnamed unit is no unit: NULL, as for a channel never scaled.
        units << (entry.scaling.unit.isEmpty() ? QStringLiteral("NULL")
                                               : quotedElement(entry.scaling.unit));
    }
    QSqlQuery query(database());
    query.prepare(QStringLiteral(
        "INSERT INTO channel_scaling (station, since, channel, input_type, decimals, input_upper, "
        "input_lower, unit) SELECT ?, timestamptz 'epoch' + u.ms * interval '1 millisecond', "
        "u.ch, u.t, u.d, u.hi, u.lo, u.unit FROM unnest(?::bigint[], ?::smallint[], "
        "?::smallint[], ?::smallint[], ?::integer[], ?::integer[], ?::text[]) AS u(ms, ch, t, d, "
        "hi, lo, unit) ON CONFLICT (station, channel, since) DO UPDATE SET input_type = "
        "excluded.input_type, decimals = excluded.decimals, input_upper = excluded.input_upper, "
        "input_lower = excluded.input_lower, unit = excluded.unit"));
    query.addBindValue(station);
    for (const QStringList *column :
         {&times, &channels, &types, &decimals, &uppers, &lowers, &units})
        query.addBindValue(arrayText(*column));
    if (!query.exec()) {
        fail(QStringLiteral("scaling"), query.lastError().text());
        return std::nullopt;
    }
    return query.numRowsAffected();
}

std::optional<QVector<ScalingEntry>> HistorianServer::readScaling(const QString &station) const
{
    if (lost(QStringLiteral("read scaling")))
        return std::nullopt;
    QSqlQuery query(database());
    query.setForwardOnly(true);
    // A server of an earlier version has no entries: its rows read raw.
    if (!query.exec(QStringLiteral("SELECT to_regclass('channel_scaling') IS NOT NULL")) ||
        !query.next()) {
        fail(QStringLiteral("read scaling"), query.lastError().text());
        return std::nullopt;
    }
    if (!query.value(0).toBool())
        return QVector<ScalingEntry>();
    query.prepare(QStringLiteral("SELECT (extract(epoch FROM since) * 1000)::bigint, channel, "
                                 "input_type, decimals, input_upper, input_lower, unit FROM "
                                 "channel_scaling WHERE station = ? ORDER BY since, channel"));
    query.addBindValue(station);
    if (!query.exec()) {
        fail(QStringLiteral("read scaling"), query.lastError().text());
        return std::nullopt;
    }
    QVector<ScalingEntry> entries;
    while (query.next()) {
        const int channel = query.value(1).toInt() - 1;
        ScalingEntry entry{QDateTime::fromMSecsSinceEpoch(query.value(0).toLongLong(), Qt::UTC),
                           channel,
                           {query.value(2).toInt(), query.value(3).toInt(), query.value(4).toInt(),
                            query.value(5).toInt(), QString()}};
        const UnitTextCheck unit = checkUnitText(query.value(6).toString());
        entry.scaling.unit = unit.accepted ? unit.unit : QString();
        if (channel >= 0 && channel < kScaledChannels &&
            channelScalingProblem(channel, entry.scaling.inputType, entry.scaling.decimals)
                .isEmpty())
            entries.append(entry);
    }
    return entries;
}

namespace
{

// One line of COPY's text form into `field`: its tab-separated fields, "\N"
// for NULL. False when the line has not `count` fields.
bool splitCopyLine(const char *line, int length, std::string_view *field, int count)
{
    if (length > 0 && line[length - 1] == '\n')
        --length;
    int n = 0;
    int begin = 0;
    for (int i = 0; i <= length; ++i) {
        if (i < length && line[i] != '\t')
            continue;
        if (n == count)
            return false;
        field[n++] = std::string_view(line + begin, std::size_t(i - begin));
        begin = i + 1;
    }
    return n == count;
}

bool isCopyNull(std::string_view field)
{
    return field == "\\N";
}

// A number of COPY's text form; false when it is none (NULL included).
template <typename T> bool copyNumber(std::string_view field, T &value)
{
    const char *end = field.data() + field.size();
    const std::from_chars_result read = std::from_chars(field.data(), end, value);
    return read.ec == std::errc() && read.ptr == end;
}

// A real of COPY's text form: PostgreSQL writes the shortest text that reads
// back as the same float, and NaN, Infinity and -Infinity by name.
bool copyReal(std::string_view field, float &value)
{
    if (field == "NaN") {
        value = std::numeric_limits<float>::quiet_NaN();
        return true;
    }
    if (field == "Infinity" || field == "-Infinity") {
        value = field[0] == '-' ? -std::numeric_limits<float>::infinity()
                                : std::numeric_limits<float>::infinity();
        return true;
    }
    return copyNumber(field, value);
}

// The columns readSamples asks for, in COPY's order.
constexpr int kSampleCopyColumns = 1 + kValueColumns + 3;

// One row of readSamples' COPY; false when the line is not one.
bool sampleFromCopyLine(const char *line, int length, ServerSample &sample)
{
    std::string_view field[kSampleCopyColumns];
    if (!splitCopyLine(line, length, field, kSampleCopyColumns))
        return false;
    qint64 ms = 0;
    if (!copyNumber(field[0], ms))
        return false;
    // In UTC: turned into local time once, by the reader that needs it.
    sample.ts = QDateTime::fromMSecsSinceEpoch(ms, Qt::UTC);
    for (int i = 0; i < kValueColumns; ++i) {
        // A value of version 1 left empty reads as 0, as it always has.
        sample.values[i] = 0;
        if (!isCopyNull(field[1 + i]) && !copyReal(field[1 + i], sample.values[i]))
            return false;
    }
    qint16 quality = 0;
    qint32 offset = 0;
    sample.quality = std::nullopt;
    sample.utcOffset = std::nullopt;
    if (!isCopyNull(field[1 + kValueColumns])) {
        if (!copyNumber(field[1 + kValueColumns], quality))
            return false;
        sample.quality = quality;
    }
    if (!isCopyNull(field[2 + kValueColumns])) {
        if (!copyNumber(field[2 + kValueColumns], offset))
            return false;
        sample.utcOffset = offset;
    }
    return copyNumber(field[3 + kValueColumns], sample.ringId);
}

// `text` as an SQL literal of `connection`'s encoding; empty when libpq cannot make one.
QByteArray sqlLiteral(PGconn *connection, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    char *quoted = PQescapeLiteral(connection, utf8.constData(), std::size_t(utf8.size()));
    if (!quoted)
        return {};
    const QByteArray literal(quoted);
    PQfreemem(quoted);
    return literal;
}

} // namespace

std::optional<QVector<ServerSample>> HistorianServer::readSamples(const QString &station,
                                                                  SampleTable table,
                                                                  const QDateTime &from,
                                                                  const QDateTime &to) const
{
    QVector<ServerSample> samples;
    if (!readSamples(station, table, from, to, [&samples](const ServerSample &sample) {
            samples.append(sample);
            return true;
        }))
        return std::nullopt;
    return samples;
}

bool HistorianServer::readSamples(const QString &station, SampleTable table, const QDateTime &from,
                                  const QDateTime &to,
                                  const std::function<bool(const ServerSample &)> &each) const
{
    // COPY … TO STDOUT straight from libpq: a reading of a day of seconds is
    // tens of thousands of rows, and Qt's row-by-row values cost several
    // times what the server takes to send them. COPY takes no parameters: the
    // texts go in as literals quoted by libpq.
    PGconn *connection = isOpen() ? libpqConnection(database()) : nullptr;
    if (!connection) {
        fail(QStringLiteral("read"), QStringLiteral("not connected"));
        return false;
    }
    const QByteArray stationLiteral = sqlLiteral(connection, station);
    const QByteArray fromLiteral = sqlLiteral(connection, timestampText(from));
    const QByteArray toLiteral = sqlLiteral(connection, timestampText(to));
    if (stationLiteral.isEmpty() || fromLiteral.isEmpty() || toLiteral.isEmpty()) {
        fail(QStringLiteral("read"), QString::fromUtf8(PQerrorMessage(connection)));
        return false;
    }
    const QByteArray sql =
        QByteArrayLiteral("COPY (SELECT (extract(epoch FROM ts) * 1000)::bigint, v1, v2, v3, v4, "
                          "v5, v6, v7, v8, quality, utc_offset, ring_id FROM ") +
        sampleTableName(table) + QByteArrayLiteral(" WHERE station = ") + stationLiteral +
        QByteArrayLiteral(" AND ts BETWEEN ") + fromLiteral +
        QByteArrayLiteral("::timestamptz AND ") + toLiteral +
        QByteArrayLiteral("::timestamptz ORDER BY seq, ts) TO STDOUT");
    PGresult *started = PQexec(connection, sql.constData());
    if (PQresultStatus(started) != PGRES_COPY_OUT) {
        fail(QStringLiteral("read"), QString::fromUtf8(PQresultErrorMessage(started)));
        PQclear(started);
        return false;
    }
    PQclear(started);
    bool readable = true;
    bool wanted = true;
    char *line = nullptr;
    int length = 0;
    // Every line is taken, also after one that cannot be read: the
    // connection is left ready for the next exchange.
    while ((length = PQgetCopyData(connection, &line, 0)) > 0) {
        ServerSample sample;
        if (readable && wanted && sampleFromCopyLine(line, length, sample))
            wanted = each(sample);
        else if (wanted)
            readable = false;
        PQfreemem(line);
    }
    QString reason = length == -2 ? QString::fromUtf8(PQerrorMessage(connection)) : QString();
    while (PGresult *result = PQgetResult(connection)) {
        if (PQresultStatus(result) != PGRES_COMMAND_OK && reason.isEmpty())
            reason = QString::fromUtf8(PQresultErrorMessage(result));
        PQclear(result);
    }
    if (reason.isEmpty() && !readable)
        reason = QStringLiteral("a row of %1 the reader does not understand")
                     .arg(QLatin1String(sampleTableName(table)));
    if (!reason.isEmpty()) {
        fail(QStringLiteral("read"), reason);
        return false;
    }
    return true;
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
    if (lost(QStringLiteral("read events")))
        return std::nullopt;
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
    if (lost(QStringLiteral("read events")))
        return std::nullopt;
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
