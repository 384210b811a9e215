// The recording database's two rings of samples (pv_data, Lpv_wdjl) and their
// counter row (sl_void): the check that a file holds these tables, their
// making, and RecordingStore, which opens, writes and reads them.

#include "store.h"

#include "numbers.h"
#include "recordingfile.h"
#include "sqliteresult.h"

#include <QDir>
#include <QFileInfo>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QUrl>
#include <QVariant>

#include <sqlite3.h>

#include <algorithm>
#include <cstdlib>

namespace
{

constexpr char kDatabaseFileName[] = "Rdatabj.db";
constexpr char kDatabaseEnvironment[] = "ZELMAR_DB";

// An existing file is looked at through a connection that cannot write.
const QString kInspectOptions =
    QStringLiteral("QSQLITE_OPEN_READONLY;") + QLatin1String(kRecordingBusyTimeout);
constexpr char kInspectSuffix[] = "-inspect";
// The same look at a file as it lies on disk, without its rollback journal:
// SQLite then neither locks the file nor looks for a journal to play back.
constexpr char kAsItLiesOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_OPEN_URI";
constexpr char kAsItLiesQuery[] = "immutable=1";
constexpr char kJournalSuffix[] = "-journal";

constexpr int kCounterColumns = 4;
constexpr int kRingColumns = 3 + kRecordedValueCount; // id, date, time, values

// How each table of the recording database must look. Columns are used by
// position; the names listed are the ones that must stand at those positions.
struct TableLayout {
    const char *name;
    int columnCount;
    QStringList requiredNames; // names of the first columns, in order
    bool firstColumnIsKey;     // the id column must be the primary key (the upsert needs it)
    const char *createSql;
};

const TableLayout &counterLayout()
{
    static const TableLayout layout{
        "sl_void",
        kCounterColumns,
        {},
        false,
        "CREATE TABLE IF NOT EXISTS sl_void (newest_pv INTEGER, newest_pv_copy INTEGER, "
        "newest_lpv INTEGER, newest_lpv_copy INTEGER)"};
    return layout;
}

// The date, time and value columns carry no type on purpose: without a type
// affinity SQLite keeps every bound value in its 8-byte float form, where a
// REAL column would store whole numbers (the instrument's readings, the date)
// as shorter integers. Every row then has the same size, so a round of the
// ring rewrites each row in place and the file does not grow.
const TableLayout &ringLayout(RecordTable table)
{
    static const TableLayout pv{
        ringTableName(RecordTable::PvData),
        kRingColumns,
        {"w_id", "w_date", "w_time"},
        true,
        "CREATE TABLE IF NOT EXISTS pv_data (w_id INTEGER PRIMARY KEY, w_date, w_time, "
        "v0, v1, v2, v3, v4, v5, v6, v7)"};
    static const TableLayout lpv{
        ringTableName(RecordTable::LpvWdjl),
        kRingColumns,
        {"lw_id"},
        true,
        "CREATE TABLE IF NOT EXISTS Lpv_wdjl (lw_id INTEGER PRIMARY KEY, lw_date, lw_time, "
        "v0, v1, v2, v3, v4, v5, v6, v7)"};
    return table == RecordTable::PvData ? pv : lpv;
}

QString quoted(const QString &identifier)
{
    QString escaped = identifier;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

// What PRAGMA table_info tells about one table.
struct TableCheck {
    enum Outcome { Absent, Usable, Unusable, Unreadable } outcome = Unreadable;
    QStringList columns; // the table's column names, in position order
};

TableCheck checkTable(const QSqlDatabase &db, const TableLayout &layout)
{
    TableCheck check;
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("PRAGMA table_info(%1)").arg(quoted(layout.name))))
        return check;
    check.outcome = TableCheck::Unusable;
    QList<bool> keyFlags;
    while (query.next()) {
        check.columns << query.value(1).toString();
        keyFlags << (query.value(5).toInt() != 0);
    }
    if (check.columns.isEmpty()) {
        check.outcome = TableCheck::Absent;
        return check;
    }
    if (check.columns.size() < layout.columnCount)
        return check;
    for (int i = 0; i < layout.requiredNames.size(); ++i) {
        if (check.columns.at(i).compare(layout.requiredNames.at(i), Qt::CaseInsensitive) != 0)
            return check;
    }
    if (layout.firstColumnIsKey && (!keyFlags.at(0) || keyFlags.count(true) != 1))
        return check;
    check.outcome = TableCheck::Usable;
    return check;
}

qint32 counterField(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok)
        return 0;
    return toInt32(number).value_or(0);
}

QString ringUpsertSql(const QString &table, const QStringList &columns)
{
    QStringList names, marks, updates;
    for (int i = 0; i < kRingColumns; ++i) {
        names << quoted(columns.at(i));
        marks << QStringLiteral("?");
        if (i > 0)
            updates << QStringLiteral("%1 = excluded.%1").arg(quoted(columns.at(i)));
    }
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3) ON CONFLICT(%4) DO UPDATE SET %5")
        .arg(quoted(table), names.join(QStringLiteral(", ")), marks.join(QStringLiteral(", ")),
             quoted(columns.at(0)), updates.join(QStringLiteral(", ")));
}

QString counterUpdateSql(const QStringList &counterColumns, int first)
{
    return QStringLiteral("UPDATE sl_void SET %1 = ?, %2 = ?")
        .arg(quoted(counterColumns.at(first)), quoted(counterColumns.at(first + 1)));
}

using Layouts = std::array<const TableLayout *, 3>;
using Checks = std::array<TableCheck, 3>;

Layouts allLayouts()
{
    return {&counterLayout(), &ringLayout(RecordTable::PvData), &ringLayout(RecordTable::LpvWdjl)};
}

// Every table this tool creates in a recording database, in lower case: the
// three recording tables, the events ring and its counter, the forwarder's
// position, and the rows' quality.
constexpr char kToolTables[] =
    "'sl_void', 'pv_data', 'lpv_wdjl', 'events', 'events_void', "
    "'forward_position', 'row_quality', 'channel_scaling', 'channel_units'";

// The tables and views of a database (SQLite's own left out), and how many of
// them this tool creates; nullopt when sqlite_master cannot be read.
struct TableCensus {
    int all = 0;
    int ours = 0;
};
std::optional<TableCensus> tableCensus(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT COUNT(*), COUNT(CASE WHEN lower(name) IN (%1) THEN 1 "
                                   "END) FROM sqlite_master WHERE type IN ('table', 'view') "
                                   "AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'")
                        .arg(QLatin1String(kToolTables))) ||
        !query.next())
        return std::nullopt;
    return TableCensus{query.value(0).toInt(), query.value(1).toInt()};
}

// A file that holds tables (or views), none of them one this tool creates,
// belongs to another program: nothing is ever created in it. Only an empty
// database or one of ours is written.
bool isForeign(const QSqlDatabase &db)
{
    const std::optional<TableCensus> census = tableCensus(db);
    return census && census->all > 0 && census->ours == 0;
}

// Why no table is usable, or empty when every existing table is.
QString layoutFault(const QSqlDatabase &db, const Layouts &layouts, Checks &checks)
{
    if (isForeign(db))
        return QStringLiteral("not a recording database: it holds only other programs' tables");
    for (size_t i = 0; i < layouts.size(); ++i) {
        checks[i] = checkTable(db, *layouts[i]);
        if (checks[i].outcome == TableCheck::Unreadable)
            return QStringLiteral("not a SQLite database, or unreadable");
        if (checks[i].outcome == TableCheck::Unusable)
            return QStringLiteral("table %1 lacks columns or its key").arg(layouts[i]->name);
    }
    return {};
}

// The three tables present and usable, and no table beside them that this
// tool does not create.
bool holdsOnlyTheRecordingTables(const QSqlDatabase &db, const Checks &checks)
{
    const bool allUsable = std::all_of(checks.begin(), checks.end(), [](const TableCheck &c) {
        return c.outcome == TableCheck::Usable;
    });
    if (!allUsable)
        return false;
    const std::optional<TableCensus> census = tableCensus(db);
    return census && census->all == census->ours;
}

// Opens `name` read-only with `options` and checks its tables. `allOurs`
// asks for more: the three tables present and usable, and no other table.
QString inspectWith(const QString &name, const QString &options, const QString &connectionName,
                    bool allOurs)
{
    QString fault;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connectionName);
        db.setDatabaseName(name);
        db.setConnectOptions(options);
        if (!db.open()) {
            fault = QStringLiteral("cannot read: ") + db.lastError().text();
        } else {
            Checks checks;
            fault = layoutFault(db, allLayouts(), checks);
            if (fault.isEmpty() && allOurs && !holdsOnlyTheRecordingTables(db, checks))
                fault = QStringLiteral("not only the recording tables");
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connectionName);
    return fault;
}

// Checks an existing file through a connection that opens it read-only, so
// that nothing can be written into a file that is not ours (not even a stray
// journal played back into it). The file is never read with plain file I/O:
// closing such a handle would drop the locks that SQLite holds on the same
// file for the other connection of this process, and another program would
// then take the database for unused and remove its WAL under our writes.
//
// A read-only connection refuses a file with a hot rollback journal (a writer
// died mid-transaction, for instance this tool while WAL could not be set).
// When the file as it lies holds the recording tables and nothing else, the
// journal is its own: the connection that opens it next plays it back, as
// SQLite does after any crash. Any other file stays untouched with its journal.
QString inspect(const QString &path, const QString &connectionName)
{
    const QString fault = inspectWith(path, kInspectOptions, connectionName, false);
    if (fault.isEmpty() || !QFileInfo::exists(path + QLatin1String(kJournalSuffix)))
        return fault;
    QUrl asItLies = QUrl::fromLocalFile(path);
    asItLies.setQuery(QLatin1String(kAsItLiesQuery));
    if (!inspectWith(asItLies.toString(QUrl::FullyEncoded), QLatin1String(kAsItLiesOptions),
                     connectionName, true)
             .isEmpty())
        return fault;
    return {};
}

// Creates the missing tables and the counter row of zeros, as one transaction,
// and reads the layout of the tables it created.
QString setUpTables(QSqlDatabase db, const Layouts &layouts, Checks &checks)
{
    QSqlQuery query(db);
    if (!db.transaction())
        return QStringLiteral("begin: ") + db.lastError().text();
    bool created = true;
    for (size_t i = 0; i < layouts.size() && created; ++i) {
        if (checks[i].outcome == TableCheck::Absent)
            created = query.exec(QLatin1String(layouts[i]->createSql));
    }
    // The one counter row; an existing row is never touched.
    created = created &&
              query.exec(QStringLiteral("INSERT INTO sl_void SELECT 0, 0, 0, 0 WHERE NOT EXISTS "
                                        "(SELECT 1 FROM sl_void)"));
    if (!created || !db.commit()) {
        const QString error = (created ? db.lastError() : query.lastError()).text();
        db.rollback();
        return QStringLiteral("create tables: ") + error;
    }
    for (size_t i = 0; i < layouts.size(); ++i) {
        if (checks[i].outcome == TableCheck::Absent)
            checks[i] = checkTable(db, *layouts[i]);
        if (checks[i].outcome != TableCheck::Usable)
            return QStringLiteral("table %1 was not created").arg(layouts[i]->name);
    }
    return {};
}

// Asks for the WAL journal; true when the connection uses it.
bool switchToWal(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    return query.exec(QStringLiteral("PRAGMA journal_mode=WAL")) && query.next() &&
           query.value(0).toString().compare(QLatin1String("wal"), Qt::CaseInsensitive) == 0;
}

// A statement failed for what lies in its table (damaged pages, a constraint
// or trigger of another program, a type it refuses), not in the file as a whole.
bool faultOfTheTableAlone(const QSqlError &error)
{
    const int code = sqlitePrimaryCode(error);
    return code == SqliteCode::Corrupt || code == SqliteCode::Constraint ||
           code == SqliteCode::Mismatch || code == SqliteCode::Error;
}

} // namespace

// The statements of one open connection, prepared once: the recorder runs them
// ten times a second on the UI thread.
struct RecordingStore::Statements {
    explicit Statements(const QSqlDatabase &db)
        : pvUpsert(db), lpvUpsert(db), pvCounters(db), lpvCounters(db), qualityUpsert(db)
    {
        // Each is stepped through once: no row cache for going back.
        for (QSqlQuery *q : {&pvUpsert, &lpvUpsert, &pvCounters, &lpvCounters, &qualityUpsert})
            q->setForwardOnly(true);
    }
    ~Statements() { sqlite3_finalize(readCounters); }
    Statements(const Statements &) = delete;
    Statements &operator=(const Statements &) = delete;
    // The counter row, read on every tick through SQLite itself: a Qt query
    // builds its record of the columns and its error anew on each run, which
    // costs as much as the read.
    sqlite3_stmt *readCounters = nullptr;
    QSqlQuery pvUpsert;
    QSqlQuery lpvUpsert;
    QSqlQuery pvCounters;
    QSqlQuery lpvCounters;
    QSqlQuery qualityUpsert;
    bool qualityReady = false;
};

const char *ringTableName(RecordTable table)
{
    return table == RecordTable::PvData ? "pv_data" : "Lpv_wdjl";
}

qint32 ringCounter(qint32 counter)
{
    return (counter > kRecordRingIds || counter < 0) ? 0 : counter;
}

qint32 nextRingId(qint32 id)
{
    return ringCounter(id) % kRecordRingIds + 1;
}

QString databasePath()
{
    const QString fromEnvironment = qEnvironmentVariable(kDatabaseEnvironment);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + QLatin1Char('/') +
           QLatin1String(kDatabaseFileName);
}

QString recordingTablesFault(const QSqlDatabase &db)
{
    const Layouts layouts = allLayouts();
    Checks checks;
    const QString fault = layoutFault(db, layouts, checks);
    if (!fault.isEmpty())
        return fault;
    for (size_t i = 0; i < layouts.size(); ++i) {
        if (checks[i].outcome == TableCheck::Absent)
            return QStringLiteral("no table %1").arg(layouts[i]->name);
    }
    return {};
}

RecordingStore::RecordingStore(const QString &connectionName) : m_connectionName(connectionName) {}

RecordingStore::~RecordingStore()
{
    close();
}

bool RecordingStore::open(const QString &path)
{
    close();
    m_path = path;
    m_lastError.clear();
    m_lastErrorCode = 0;
    if (path.isEmpty()) {
        m_lastError = QStringLiteral("no database path");
        return false;
    }
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        m_lastError = QStringLiteral("not a file: ") + path;
        return false;
    }
    if (!sharedMemoryFile(path).usable) {
        m_lastError = sharedMemoryFault(path);
        return false;
    }
    // A missing folder or file is made here with the process's access
    // (makeRecordingFile), not by SQLite with whatever the umask allows.
    if (!makeRecordingFile(path)) {
        m_lastError = QStringLiteral("cannot create the folder of ") + path;
        return false;
    }
    // A zero-length file is an empty database and is set up like a missing one.
    if (info.exists() && info.size() > 0) {
        m_lastError = inspect(path, m_connectionName + QLatin1String(kInspectSuffix));
        if (!m_lastError.isEmpty())
            return false;
    }
    if (!openConnection(path)) {
        close();
        return false;
    }
    m_open = true;
    m_queryFailed = false;
    m_files.watch(path);
    return true;
}

bool RecordingStore::follow(const QString &path, const QDateTime &now)
{
    m_lastOpenAttempt = now;
    return open(path);
}

bool RecordingStore::keepOpen(const QDateTime &now)
{
    // Asked only where it matters: a local QDateTime's difference looks the
    // zone up, and an open, current connection in WAL (every tick) needs none.
    const auto waitIsOver = [&] {
        return !m_lastOpenAttempt ||
               std::llabs(m_lastOpenAttempt->secsTo(now)) >= kReopenIntervalSeconds;
    };
    if (m_open) {
        if (isCurrent()) {
            // Opened with a rollback journal because the file was locked then:
            // WAL is asked for again after each wait, until it is set.
            if (!m_wal && waitIsOver()) {
                m_lastOpenAttempt = now;
                m_wal = switchToWal(database());
            }
            return true;
        }
        // Its queries would fail again, or reach a file that is no longer the
        // database, or crash on its shared memory: closed, and the wait starts.
        // A failed query has said why; the file's checks say it here.
        if (m_lastError.isEmpty())
            m_lastError =
                !m_files.intact()
                    ? sharedMemoryFault(m_path)
                    : QStringLiteral("the database file was removed or replaced: ") + m_path;
        close();
        m_lastOpenAttempt = now;
        return false;
    }
    if (!waitIsOver())
        return false;
    m_lastOpenAttempt = now;
    return open(m_path);
}

bool RecordingStore::isCurrent() const
{
    return m_open && !m_queryFailed && m_files.sameFile() && m_files.intact();
}

// The layout of the three tables as the opening connection found them.
struct RecordingStore::TableChecks {
    Checks checks;
    const QStringList &counterColumns() const { return checks[0].columns; }
};

bool RecordingStore::openConnection(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QLatin1String(kRecordingBusyTimeout));
    if (!db.open()) {
        fail(QStringLiteral("open"), db.lastError());
        return false;
    }
    TableChecks tables;
    if (!checkTables(db, tables))
        return false;
    chooseJournal(db);
    if (!setUpWhereMissing(db, tables) || !probeWrite(db, tables) || !prepareStatements(db, tables))
        return false;
    prepareQuality(db);
    return true;
}

bool RecordingStore::checkTables(const QSqlDatabase &db, TableChecks &tables)
{
    // Checked again on this connection: another program may have changed the
    // file since. Only a database whose existing tables are all usable gets
    // its missing tables and its journal mode.
    m_lastError = layoutFault(db, allLayouts(), tables.checks);
    return m_lastError.isEmpty();
}

void RecordingStore::chooseJournal(const QSqlDatabase &db)
{
    // WAL lets the overview read while the recorder writes. With WAL,
    // synchronous=NORMAL keeps every committed recording through a crash of
    // the process (only a power cut may lose the last few) and spares the UI
    // thread an fsync per recording. A database whose journal mode cannot be
    // changed now (locked, read-only) keeps its mode until keepOpen asks again.
    m_wal = switchToWal(db);
    QSqlQuery query(db);
    query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
}

bool RecordingStore::setUpWhereMissing(const QSqlDatabase &db, TableChecks &tables)
{
    bool needsSetUp = false;
    for (const TableCheck &check : tables.checks)
        needsSetUp = needsSetUp || check.outcome == TableCheck::Absent;
    if (!needsSetUp) {
        // An existing database is only written to when its counter row is missing.
        QSqlQuery query(db);
        if (!query.exec(QStringLiteral("SELECT EXISTS (SELECT 1 FROM sl_void)")) || !query.next()) {
            fail(QStringLiteral("read sl_void"), query.lastError());
            return false;
        }
        needsSetUp = !query.value(0).toBool();
    }
    if (needsSetUp)
        m_lastError = setUpTables(db, allLayouts(), tables.checks);
    return m_lastError.isEmpty();
}

bool RecordingStore::probeWrite(const QSqlDatabase &db, const TableChecks &tables)
{
    // SQLite opens a file it may not write read-only without saying so; a
    // write that changes nothing finds out, so that open() fails and is tried
    // again later instead of every recording failing for good. A lock held by
    // another program is no reason to fail: its writes wait their turn.
    QSqlQuery query(db);
    const QString probe = QStringLiteral("UPDATE sl_void SET %1 = %1 WHERE 0")
                              .arg(quoted(tables.counterColumns().at(0)));
    if (!query.exec(probe) && !isSqliteLockError(query.lastError())) {
        fail(QStringLiteral("write"), query.lastError());
        return false;
    }
    return true;
}

bool RecordingStore::prepareStatements(const QSqlDatabase &db, const TableChecks &tables)
{
    const QStringList &counters = tables.counterColumns();
    m_statements = std::make_unique<Statements>(db);
    Statements &s = *m_statements;
    const QString readSql = QStringLiteral("SELECT %1, %2, %3, %4 FROM sl_void LIMIT 1")
                                .arg(quoted(counters.at(0)), quoted(counters.at(1)),
                                     quoted(counters.at(2)), quoted(counters.at(3)));
    sqlite3 *connection = sqliteConnection(db);
    const QByteArray readUtf8 = readSql.toUtf8();
    const bool prepared =
        connection &&
        sqlite3_prepare_v3(connection, readUtf8.constData(), int(readUtf8.size()),
                           SQLITE_PREPARE_PERSISTENT, &s.readCounters, nullptr) == SQLITE_OK &&
        s.pvUpsert.prepare(ringUpsertSql(QLatin1String(ringTableName(RecordTable::PvData)),
                                         tables.checks[1].columns)) &&
        s.lpvUpsert.prepare(ringUpsertSql(QLatin1String(ringTableName(RecordTable::LpvWdjl)),
                                          tables.checks[2].columns)) &&
        s.pvCounters.prepare(counterUpdateSql(counters, 0)) &&
        s.lpvCounters.prepare(counterUpdateSql(counters, 2));
    if (!prepared)
        m_lastError = QStringLiteral("prepare failed");
    return prepared;
}

void RecordingStore::prepareQuality(const QSqlDatabase &db)
{
    // A file locked now gets the table on a later opening; until then its rows
    // are recorded without quality, which reads as unknown.
    QSqlQuery create(db);
    create.exec(QLatin1String(kRowQualityCreateSql));
    create.finish();
    // The upsert names the columns and the key: a table of the same name but
    // another layout fails to prepare and is never written.
    m_statements->qualityReady = m_statements->qualityUpsert.prepare(QStringLiteral(
        "INSERT INTO row_quality (ring, id, r_date, r_time, quality, utc_offset) "
        "VALUES (?, ?, ?, ?, ?, ?) ON CONFLICT (ring, id) DO UPDATE SET r_date = excluded.r_date, "
        "r_time = excluded.r_time, quality = excluded.quality, utc_offset = excluded.utc_offset"));
}

void RecordingStore::close()
{
    const bool mayCheckpoint = m_open ? m_files.intactNow() : sharedMemoryFile(m_path).usable;
    m_statements.reset(); // queries must go before their connection is removed
    m_open = false;
    releaseRecordingConnection(m_connectionName, mayCheckpoint);
    m_files.stop();
}

bool RecordingStore::isOpen() const
{
    return m_open;
}

namespace
{
// A column of the current row as Qt's SQLite driver would hand it over.
QVariant columnValue(sqlite3_stmt *statement, int column)
{
    switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
        return qint64(sqlite3_column_int64(statement, column));
    case SQLITE_FLOAT:
        return sqlite3_column_double(statement, column);
    case SQLITE_TEXT:
        return QString::fromUtf8(
            reinterpret_cast<const char *>(sqlite3_column_text(statement, column)),
            sqlite3_column_bytes(statement, column));
    case SQLITE_BLOB:
        return QByteArray(static_cast<const char *>(sqlite3_column_blob(statement, column)),
                          sqlite3_column_bytes(statement, column));
    default:
        return QVariant();
    }
}
} // namespace

std::optional<SlVoid> RecordingStore::readCounters() const
{
    if (!m_open)
        return std::nullopt;
    sqlite3_stmt *statement = m_statements->readCounters;
    const int step = sqlite3_step(statement);
    std::optional<SlVoid> counters;
    if (step == SQLITE_ROW) {
        counters = SlVoid{
            counterField(columnValue(statement, 0)), counterField(columnValue(statement, 1)),
            counterField(columnValue(statement, 2)), counterField(columnValue(statement, 3))};
        m_lastError.clear();
    } else if (step == SQLITE_DONE) {
        m_lastError = QStringLiteral("sl_void holds no row");
        m_queryFailed = true;
    } else {
        // Worded and coded as a failed Qt query is, for the same rules.
        sqlite3 *connection = sqlite3_db_handle(statement);
        fail(QStringLiteral("read sl_void"),
             QSqlError(QStringLiteral("Unable to fetch row"),
                       QString::fromUtf8(sqlite3_errmsg(connection)), QSqlError::ConnectionError,
                       QString::number(sqlite3_extended_errcode(connection))));
        m_queryFailed = true;
    }
    // Ends the read: an open statement would pin the recorder to an old
    // snapshot and never see counters that another program changes.
    sqlite3_reset(statement);
    return counters;
}

bool RecordingStore::recordRows(RecordTable table, qint32 firstId, const RowToRecord *rows,
                                int count)
{
    if (!m_open) {
        m_lastError = QStringLiteral("database not open");
        return false;
    }
    if (count <= 0) {
        m_lastError.clear();
        return true;
    }
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    const bool pv = table == RecordTable::PvData;
    QSqlQuery &upsert = pv ? m_statements->pvUpsert : m_statements->lpvUpsert;
    QSqlQuery &counters = pv ? m_statements->pvCounters : m_statements->lpvCounters;
    QSqlQuery &quality = m_statements->qualityUpsert;

    if (!db.transaction()) {
        fail(QStringLiteral("begin"), db.lastError());
        return false;
    }
    bool done = true;
    qint32 id = firstId;
    for (int k = 0; k < count && done; ++k) {
        const RowToRecord &row = rows[k];
        if (k > 0)
            id = nextRingId(id);
        upsert.bindValue(0, id);
        upsert.bindValue(1, row.date);
        upsert.bindValue(2, row.time);
        for (int i = 0; i < kRecordedValueCount; ++i)
            upsert.bindValue(3 + i, static_cast<double>(row.values[i]));
        done = upsert.exec();
        if (!done) {
            fail(QStringLiteral("write row"), upsert.lastError());
            break;
        }
        if (row.quality && m_statements->qualityReady) {
            quality.bindValue(0, pv ? kRowQualityPvRing : kRowQualityLpvRing);
            quality.bindValue(1, id);
            quality.bindValue(2, row.date);
            quality.bindValue(3, row.time);
            quality.bindValue(4, int(*row.quality));
            quality.bindValue(5, row.utcOffset ? QVariant(*row.utcOffset) : QVariant());
            if (!quality.exec()) {
                // A fault of the quality table alone (damaged, or refusing
                // the row) never stops the recording: rows go on without it
                // and read as of unknown quality. Any other fault (a lock,
                // a full disk) fails the whole recording, to be tried again.
                if (faultOfTheTableAlone(quality.lastError())) {
                    m_statements->qualityReady = false;
                } else {
                    fail(QStringLiteral("write row quality"), quality.lastError());
                    done = false;
                }
            }
        }
    }
    if (done) {
        counters.bindValue(0, id);
        counters.bindValue(1, id);
        done = counters.exec() && counters.numRowsAffected() > 0;
        if (!done)
            fail(QStringLiteral("write sl_void"), counters.lastError());
    }
    if (done && !db.commit()) {
        fail(QStringLiteral("commit"), db.lastError());
        done = false;
    }
    upsert.finish();
    counters.finish();
    quality.finish();
    if (!done) {
        db.rollback();
        return false;
    }
    m_lastError.clear();
    return true;
}

QSqlDatabase RecordingStore::database() const
{
    if (!m_open)
        return {};
    return QSqlDatabase::database(m_connectionName, false);
}

void RecordingStore::fail(const QString &what, const QSqlError &error) const
{
    m_lastError = what + QStringLiteral(": ") + error.text();
    m_lastErrorCode = sqlitePrimaryCode(error);
}
