#include "ringquery.h"

#include "recordingfile.h"
#include "rowquality.h"
#include "sqliteresult.h"

#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace
{

// The history window and the exports never write: a read-only connection. The
// wait is longer than the recorder's, since nobody waits on a reader tick by
// tick, but short enough that a database held locked fails in a second.
constexpr char kReadOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=1000";

// Positions in a row of either ring: id, date, time, then the eight values.
constexpr int kDateColumn = 1;
constexpr int kTimeColumn = 2;
constexpr int kFirstValueColumn = 3;

const char *idColumn(RecordTable table)
{
    return table == RecordTable::PvData ? "w_id" : "lw_id";
}

QString oneRowSql(RecordTable table)
{
    return QStringLiteral("select * from %1 where %2 = ?")
        .arg(QLatin1String(ringTableName(table)), QLatin1String(idColumn(table)));
}

QString rangeSql(RecordTable table)
{
    return QStringLiteral("select * from %1 where %2 between ? and ? order by %2")
        .arg(QLatin1String(ringTableName(table)), QLatin1String(idColumn(table)));
}

QString rangeWithQualitySql(RecordTable table)
{
    const QString id = QLatin1String(idColumn(table));
    return ringRowsWithQualitySql(
        QLatin1String(ringTableName(table)), id,
        table == RecordTable::PvData ? kRowQualityPvRing : kRowQualityLpvRing,
        QStringLiteral("p.%1 between ? and ?").arg(id), QLatin1String("p.") + id);
}

// Reads the rows of an executed range query into `rows`; `qualityColumns`
// (the query's column count) when it ends with the rows' quality entries.
void readRangeRows(QSqlQuery &query, int qualityColumns, QVector<RingRow> &rows)
{
    while (query.next()) {
        RingRow row;
        row.id = query.value(0).toInt();
        row.date = query.value(kDateColumn).toDouble();
        row.time = query.value(kTimeColumn).toDouble();
        for (int k = 0; k < kRecordedValueCount; ++k) {
            const QVariant value = query.value(kFirstValueColumn + k);
            if (value.isNull())
                row.missing |= quint8(1u << k);
            else
                row.values[k] = value.toFloat();
        }
        if (qualityColumns > 0) {
            const StoredRowQuality stored =
                storedRowQuality(query, qualityColumns, row.date, row.time);
            row.quality = stored.quality;
            row.utcOffset = stored.utcOffset;
        }
        rows.append(row);
    }
}

std::optional<double> number(const QVariant &value)
{
    bool ok = false;
    const double n = value.toDouble(&ok);
    return ok && !value.isNull() ? std::optional<double>(n) : std::nullopt;
}

} // namespace

// Prepared once per connection: a search over ids looks up some fifty rows.
struct RingReader::Statements {
    explicit Statements(const QSqlDatabase &db)
        : pvRow(db), lpvRow(db), pvRange(db), lpvRange(db), pvQualityRange(db), lpvQualityRange(db)
    {
    }
    QSqlQuery pvRow;
    QSqlQuery lpvRow;
    QSqlQuery pvRange;
    QSqlQuery lpvRange;
    // The ranges with each row's quality; unprepared for a file without
    // row_quality (recorded by an earlier version) or with a table of that
    // name that is not ours.
    QSqlQuery pvQualityRange;
    QSqlQuery lpvQualityRange;
    bool pvQuality = false;
    bool lpvQuality = false;
};

RingReader::RingReader(const QString &connectionName) : m_connectionName(connectionName) {}

RingReader::~RingReader()
{
    close();
}

RingReader::OpenResult RingReader::open(const QString &path)
{
    close();
    m_lastError.clear();
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists()) {
        m_lastError = QStringLiteral("no such database: ") + path;
        return OpenResult::NoFile;
    }
    if (!info.isFile() || info.size() == 0) {
        m_lastError = QStringLiteral("not a recording database: ") + path;
        return OpenResult::NotRecording;
    }
    if (!sharedMemoryFile(path).usable) {
        m_lastError = sharedMemoryFault(path);
        return OpenResult::Unreadable;
    }
    // Every handle on the connection must be gone before close() removes it.
    const OpenResult result = openConnection(path);
    if (result != OpenResult::Opened) {
        close();
        return result;
    }
    m_open = true;
    m_files.watch(path);
    return OpenResult::Opened;
}

RingReader::OpenResult RingReader::openConnection(const QString &path)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(path);
    db.setConnectOptions(QLatin1String(kReadOptions));
    if (!db.open()) {
        m_lastError =
            QStringLiteral("cannot read ") + path + QStringLiteral(": ") + db.lastError().text();
        return OpenResult::Unreadable;
    }
    const QString fault = recordingTablesFault(db);
    if (!fault.isEmpty()) {
        // A locked file reads as unreadable too; tell the two apart by asking
        // SQLite for its schema, which only a lock makes busy.
        QSqlQuery probe(db);
        const bool locked = !probe.exec(QStringLiteral("select count(*) from sqlite_master")) &&
                            sqlitePrimaryCode(probe.lastError()) == SqliteCode::Busy;
        m_lastError = locked ? QStringLiteral("database locked: ") + path
                             : QStringLiteral("not a recording database (%1): %2").arg(fault, path);
        return locked ? OpenResult::Unreadable : OpenResult::NotRecording;
    }
    m_statements = std::make_unique<Statements>(db);
    Statements &s = *m_statements;
    for (QSqlQuery *query :
         {&s.pvRow, &s.lpvRow, &s.pvRange, &s.lpvRange, &s.pvQualityRange, &s.lpvQualityRange})
        query->setForwardOnly(true);
    if (!s.pvRow.prepare(oneRowSql(RecordTable::PvData)) ||
        !s.lpvRow.prepare(oneRowSql(RecordTable::LpvWdjl)) ||
        !s.pvRange.prepare(rangeSql(RecordTable::PvData)) ||
        !s.lpvRange.prepare(rangeSql(RecordTable::LpvWdjl))) {
        m_lastError = QStringLiteral("cannot read ") + path;
        return OpenResult::Unreadable;
    }
    s.pvQuality = s.pvQualityRange.prepare(rangeWithQualitySql(RecordTable::PvData));
    s.lpvQuality = s.lpvQualityRange.prepare(rangeWithQualitySql(RecordTable::LpvWdjl));
    return OpenResult::Opened;
}

void RingReader::close()
{
    const bool intact = m_files.intactNow();
    endSnapshot();
    m_statements.reset(); // queries must go before their connection is removed
    m_open = false;
    releaseRecordingConnection(m_connectionName, intact);
    m_files.stop();
}

bool RingReader::isOpen() const
{
    if (m_open && !m_files.intact()) {
        m_lastError =
            sharedMemoryFault(QSqlDatabase::database(m_connectionName, false).databaseName());
        return false;
    }
    return m_open;
}

std::optional<double> RingReader::momentAt(RecordTable table, qint32 id) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery &query = table == RecordTable::PvData ? m_statements->pvRow : m_statements->lpvRow;
    query.bindValue(0, id);
    std::optional<double> moment;
    if (!query.exec()) {
        m_lastError = query.lastError().text();
    } else if (query.next()) {
        const auto date = number(query.value(kDateColumn));
        const auto time = number(query.value(kTimeColumn));
        if (date && time)
            moment = *date + *time;
    }
    query.finish();
    return moment;
}

std::optional<qint32> RingReader::newestId(RecordTable table) const
{
    if (!isOpen())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    // Positions 0 and 2 of the counter row, whatever their names.
    const int column = table == RecordTable::PvData ? 0 : 2;
    std::optional<qint32> id;
    if (query.exec(QStringLiteral("select * from sl_void limit 1")) && query.next()) {
        bool ok = false;
        const qint64 n = query.value(column).toLongLong(&ok);
        if (ok && n >= 1 && n <= kRecordRingIds)
            id = qint32(n);
    }
    return id;
}

bool RingReader::readRows(RecordTable table, qint32 low, qint32 high, QVector<RingRow> &rows) const
{
    if (!isOpen()) {
        if (!m_open)
            m_lastError = QStringLiteral("database not open");
        return false;
    }
    const bool pv = table == RecordTable::PvData;
    const int before = rows.size();
    // With the quality entries when the file has them; a read of them that
    // fails (their table damaged) is made again without them.
    const bool hasQuality = pv ? m_statements->pvQuality : m_statements->lpvQuality;
    if (hasQuality) {
        QSqlQuery &query = pv ? m_statements->pvQualityRange : m_statements->lpvQualityRange;
        query.bindValue(0, low);
        query.bindValue(1, high);
        if (query.exec()) {
            readRangeRows(query, query.record().count(), rows);
            const bool complete = !query.lastError().isValid();
            query.finish();
            if (complete)
                return true;
            rows.resize(before);
        }
    }
    QSqlQuery &query = pv ? m_statements->pvRange : m_statements->lpvRange;
    query.bindValue(0, low);
    query.bindValue(1, high);
    if (!query.exec()) {
        m_lastError = query.lastError().text();
        return false;
    }
    readRangeRows(query, 0, rows);
    // A read that stopped on an error (the file locked or damaged) is no read.
    const bool complete = !query.lastError().isValid();
    if (!complete) {
        m_lastError = query.lastError().text();
        rows.resize(before);
    }
    query.finish();
    return complete;
}

bool RingReader::beginSnapshot()
{
    if (!isOpen())
        return false;
    endSnapshot();
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    m_inSnapshot = db.transaction();
    return m_inSnapshot;
}

void RingReader::endSnapshot()
{
    if (!m_inSnapshot)
        return;
    // Nothing was written: ending the read is all it does, and is left to
    // closing when the shared memory is no longer intact.
    if (m_files.intact()) {
        QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
        db.rollback();
    }
    m_inSnapshot = false;
}
