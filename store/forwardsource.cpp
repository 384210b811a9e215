#include "forwardsource.h"

#include "events.h"
#include "recordingfile.h"
#include "rowquality.h"
#include "sqliteresult.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QVariant>

namespace
{

// Off the UI thread a longer wait is harmless; the recorder's own wait is short,
// so a position write holds the lock only for one small statement.
constexpr char kReadOptions[] = "QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=2000";
constexpr char kWriteOptions[] = "QSQLITE_BUSY_TIMEOUT=2000";

constexpr int kRingColumns = 3 + kRecordedValueCount;

const char *idColumn(RecordTable table)
{
    return table == RecordTable::PvData ? "w_id" : "lw_id";
}

double number(const QVariant &value)
{
    bool ok = false;
    const double result = value.toDouble(&ok);
    return ok ? result : 0.0;
}

// Columns are read by position, as the recorder writes them; with
// `qualityColumns`, the query ends with the row's quality entry.
RecordedRow rowFrom(const QSqlQuery &query, int qualityColumns)
{
    RecordedRow row;
    row.id = query.value(0).toInt();
    row.date = number(query.value(1));
    row.time = number(query.value(2));
    for (int i = 0; i < kRecordedValueCount; ++i)
        row.values[i] = static_cast<float>(number(query.value(3 + i)));
    if (qualityColumns > 0) {
        const StoredRowQuality stored = storedRowQuality(query, qualityColumns, row.date, row.time);
        row.quality = stored.quality;
        row.utcOffset = stored.utcOffset;
    }
    return row;
}

bool openNamed(const QString &name, const QString &path, const char *options, QString &error)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QLatin1String(options));
    if (db.open())
        return true;
    error = db.lastError().text();
    return false;
}

} // namespace

ForwardSource::ForwardSource(const QString &connectionName)
    : m_readName(connectionName + QStringLiteral("-read")),
      m_writeName(connectionName + QStringLiteral("-position"))
{
}

ForwardSource::~ForwardSource()
{
    close();
}

bool ForwardSource::open(const QString &path)
{
    close();
    m_lastError.clear();
    // The recorder creates the database; the forwarder only ever finds it.
    if (!QFileInfo(path).isFile()) {
        m_lastError = QStringLiteral("no recording database at ") + path;
        return false;
    }
    if (!sharedMemoryFile(path).usable) {
        m_lastError = sharedMemoryFault(path);
        return false;
    }
    m_path = path;
    m_files.watch(path);
    if (!openNamed(m_readName, path, kReadOptions, m_lastError)) {
        close();
        return false;
    }
    // Someone else's file gets no table of ours: only a recording database does.
    const QString fault = recordingTablesFault(QSqlDatabase::database(m_readName, false));
    if (!fault.isEmpty() || !openNamed(m_writeName, path, kWriteOptions, m_lastError)) {
        if (!fault.isEmpty())
            m_lastError = QStringLiteral("not a recording database (%1): %2").arg(fault, path);
        const QString reason = m_lastError;
        close();
        m_lastError = reason;
        return false;
    }
    QSqlQuery query(QSqlDatabase::database(m_writeName, false));
    bool ready = query.exec(QStringLiteral(
        "CREATE TABLE IF NOT EXISTS forward_position (target TEXT NOT NULL, ring TEXT NOT NULL, "
        "last_id INTEGER, last_date REAL, last_time REAL, PRIMARY KEY (target, ring))"));
    // A table of that name made by someone else is refused, never changed.
    ready = ready && query.exec(QStringLiteral(
                         "SELECT target, ring, last_id, last_date, last_time FROM forward_position "
                         "WHERE 0"));
    if (ready)
        ready = readCounters().has_value();
    else
        m_lastError = QStringLiteral("forward_position: ") + query.lastError().text();
    if (!ready) {
        const QString reason = m_lastError;
        close();
        m_lastError = reason;
        return false;
    }
    m_open = true;
    return true;
}

void ForwardSource::close()
{
    const bool intact = m_files.intactNow();
    m_open = false;
    releaseRecordingConnection(m_readName, intact);
    releaseRecordingConnection(m_writeName, intact);
    m_files.stop();
}

bool ForwardSource::isOpen() const
{
    return m_open && m_files.intact();
}

bool ForwardSource::mayRun() const
{
    if (m_files.intact())
        return true;
    m_lastError = sharedMemoryFault(m_path);
    return false;
}

std::optional<SlVoid> ForwardSource::readCounters() const
{
    if (!mayRun())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_readName, false));
    if (!query.exec(QStringLiteral("SELECT * FROM sl_void LIMIT 1")) || !query.next()) {
        m_lastError = QStringLiteral("read sl_void: ") + query.lastError().text();
        return std::nullopt;
    }
    return SlVoid{query.value(0).toInt(), query.value(1).toInt(), query.value(2).toInt(),
                  query.value(3).toInt()};
}

std::optional<RecordedRow> ForwardSource::readRow(RecordTable table, qint32 id) const
{
    m_lastError.clear();
    const std::optional<QVector<RecordedRow>> rows = readRows(table, id - 1, id);
    if (!rows || rows->isEmpty())
        return std::nullopt;
    return rows->first();
}

std::optional<QVector<RecordedRow>> ForwardSource::readRows(RecordTable table, qint32 afterId,
                                                            qint32 lastId) const
{
    if (!mayRun())
        return std::nullopt;
    const QString ring = QLatin1String(ringTableName(table));
    const QString id = QLatin1String(idColumn(table));
    const QString where = QStringLiteral("p.%1 > ? AND p.%1 <= ?").arg(id);
    const int ringNumber = table == RecordTable::PvData ? kRowQualityPvRing : kRowQualityLpvRing;
    QSqlQuery query(QSqlDatabase::database(m_readName, false));
    query.setForwardOnly(true);
    // Rows with their quality; a file without row_quality (recorded by an
    // earlier version) or with a table of that name it cannot read gives the
    // rows alone, of unknown quality.
    const auto run = [&](bool withQuality) {
        const QString sql =
            withQuality
                ? ringRowsWithQualitySql(ring, id, ringNumber, where, QLatin1String("p.") + id)
                : QStringLiteral("SELECT * FROM %1 p WHERE %2 ORDER BY p.%3").arg(ring, where, id);
        if (!query.prepare(sql))
            return false;
        query.addBindValue(afterId);
        query.addBindValue(lastId);
        return query.exec();
    };
    // A read that fails with the quality entries (their table damaged) is
    // read again without them.
    for (const bool withQuality : {true, false}) {
        if (!run(withQuality))
            continue;
        const int columns = query.record().count();
        const int qualityColumns = withQuality ? columns : 0;
        const int ringColumns = withQuality ? columns - 4 : columns;
        QVector<RecordedRow> rows;
        while (query.next()) {
            if (ringColumns >= kRingColumns)
                rows.append(rowFrom(query, qualityColumns));
        }
        if (!query.lastError().isValid() || !withQuality)
            return rows;
    }
    m_lastError = QStringLiteral("read %1: ").arg(ring) + query.lastError().text();
    return std::nullopt;
}

std::optional<ForwardPosition> ForwardSource::readPosition(const QString &target,
                                                           RecordTable table) const
{
    return readPosition(target, QLatin1String(ringTableName(table)));
}

bool ForwardSource::writePosition(const QString &target, RecordTable table,
                                  const ForwardPosition &position)
{
    return writePosition(target, QLatin1String(ringTableName(table)), position);
}

std::optional<ForwardPosition> ForwardSource::readPosition(const QString &target,
                                                           const QString &ring) const
{
    if (!mayRun())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_writeName, false));
    query.prepare(QStringLiteral("SELECT last_id, last_date, last_time FROM forward_position "
                                 "WHERE target = ? AND ring = ?"));
    query.addBindValue(target);
    query.addBindValue(ring);
    if (!query.exec()) {
        m_lastError = QStringLiteral("read forward_position: ") + query.lastError().text();
        return std::nullopt;
    }
    ForwardPosition position;
    if (query.next())
        position = {query.value(0).toInt(), number(query.value(1)), number(query.value(2))};
    return position;
}

bool ForwardSource::writePosition(const QString &target, const QString &ring,
                                  const ForwardPosition &position)
{
    if (!mayRun())
        return false;
    QSqlQuery query(QSqlDatabase::database(m_writeName, false));
    query.prepare(
        QStringLiteral("INSERT INTO forward_position (target, ring, last_id, last_date, last_time) "
                       "VALUES (?, ?, ?, ?, ?) ON CONFLICT (target, ring) DO UPDATE SET "
                       "last_id = excluded.last_id, last_date = excluded.last_date, "
                       "last_time = excluded.last_time"));
    query.addBindValue(target);
    query.addBindValue(ring);
    query.addBindValue(position.id);
    query.addBindValue(position.date);
    query.addBindValue(position.time);
    if (!query.exec()) {
        m_lastError = QStringLiteral("write forward_position: ") + query.lastError().text();
        return false;
    }
    return true;
}

std::optional<qint32> ForwardSource::readNewestEventId() const
{
    m_lastError.clear();
    if (!mayRun())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_readName, false));
    if (!query.exec(QStringLiteral(
            "SELECT count(*) FROM sqlite_master WHERE type = 'table' AND name = 'events_void'")) ||
        !query.next()) {
        m_lastError = QStringLiteral("read events_void: ") + query.lastError().text();
        return std::nullopt;
    }
    if (query.value(0).toInt() == 0)
        return 0;
    if (!query.exec(QStringLiteral("SELECT newest_event FROM events_void LIMIT 1"))) {
        m_lastError = QStringLiteral("read events_void: ") + query.lastError().text();
        return std::nullopt;
    }
    return query.next() ? query.value(0).toInt() : 0;
}

std::optional<QVector<RecordedEvent>> ForwardSource::readEvents(qint32 afterId, qint32 lastId) const
{
    if (!mayRun())
        return std::nullopt;
    const QSqlDatabase db = QSqlDatabase::database(m_readName, false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail, "
                                 "%1 FROM events WHERE ev_id > ? AND ev_id <= ? ORDER BY ev_id")
                      .arg(eventStateColumn(db)));
    query.addBindValue(afterId);
    query.addBindValue(lastId);
    if (!query.exec()) {
        m_lastError = QStringLiteral("read events: ") + query.lastError().text();
        return std::nullopt;
    }
    QVector<RecordedEvent> events;
    while (query.next())
        events.append({query.value(0).toInt(), number(query.value(1)), number(query.value(2)),
                       query.value(3).toString(), query.value(4).toString(),
                       query.value(5).toString(), query.value(6).toString()});
    return events;
}

std::optional<RecordedEvent> ForwardSource::readEvent(qint32 id) const
{
    m_lastError.clear();
    const std::optional<QVector<RecordedEvent>> events = readEvents(id - 1, id);
    if (!events || events->isEmpty())
        return std::nullopt;
    return events->first();
}

std::optional<qint32> ForwardSource::readNewestScalingId() const
{
    m_lastError.clear();
    if (!mayRun())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_readName, false));
    if (!query.exec(QStringLiteral("SELECT count(*) FROM sqlite_master WHERE type = 'table' AND "
                                   "name = '%1'")
                        .arg(QLatin1String(kScalingTable))) ||
        !query.next()) {
        m_lastError = QStringLiteral("read channel_scaling: ") + query.lastError().text();
        return std::nullopt;
    }
    if (query.value(0).toInt() == 0)
        return 0;
    if (!query.exec(QStringLiteral("SELECT coalesce(max(sc_id), 0) FROM channel_scaling")) ||
        !query.next()) {
        m_lastError = QStringLiteral("read channel_scaling: ") + query.lastError().text();
        return std::nullopt;
    }
    return query.value(0).toInt();
}

std::optional<QVector<StoredScalingEntry>> ForwardSource::readScalingEntries(qint32 afterId,
                                                                             int count) const
{
    if (!mayRun())
        return std::nullopt;
    QString error;
    std::optional<QVector<StoredScalingEntry>> entries =
        readScalingEntriesAfter(QSqlDatabase::database(m_readName, false), afterId, count, &error);
    if (!entries)
        m_lastError = QStringLiteral("read ") + error;
    return entries;
}

std::optional<StoredScalingEntry> ForwardSource::readScalingEntry(qint32 id) const
{
    m_lastError.clear();
    const std::optional<QVector<StoredScalingEntry>> entries = readScalingEntries(id - 1, 1);
    if (!entries || entries->isEmpty() || entries->first().id != id)
        return std::nullopt;
    return entries->first();
}
