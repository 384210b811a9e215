// The events table of the recording database: the stored names of the kinds,
// the arithmetic of the events ring's ids, and EventLog, which writes events
// (held in memory while the file takes none) and reads them back.

#include "events.h"

#include "clock.h"
#include "daytime.h"
#include "recordingfile.h"
#include "sqliteresult.h"
#include "unwrittenevents.h"

#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <iterator>
#include <map>
#include <tuple>
#include <utility>

namespace
{

const std::array<std::pair<EventKind, const char *>, 14> &kindNames()
{
    static const std::array<std::pair<EventKind, const char *>, 14> names{{
        {EventKind::Link, "link"},
        {EventKind::Recording, "recording"},
        {EventKind::Alarm, "alarm"},
        {EventKind::Relay, "relay"},
        {EventKind::ConfigWrite, "config"},
        {EventKind::ToolStart, "start"},
        {EventKind::ToolEnd, "end"},
        {EventKind::OpenCircuit, "open"},
        {EventKind::ShortCircuit, "short"},
        {EventKind::AlarmOutput, "output"},
        {EventKind::Note, "note"},
        {EventKind::Historian, "historian"},
        {EventKind::Operator, "operator"},
        {EventKind::Scaling, "scaling"},
    }};
    return names;
}

// Date and time are stored as day serials in untyped columns, like the
// recording rings, so that a history query can join them on the same scale.
//
// ev_state holds the code of the state a link event records (linkStateTable),
// NULL in every other row; events tables of earlier versions get it when the log
// opens them (addStateColumn). Earlier versions wrote a ring id that comes round
// again in place (INSERT ... ON CONFLICT(ev_id) DO UPDATE SET ev_date, ...,
// ev_detail), which never names ev_state and would leave a stale code beside
// their new words. Hence the rule: this version writes a ring row whole
// (INSERT OR REPLACE deletes the old row and inserts the new one at the same
// ev_id, which fires no UPDATE trigger), and the trigger events_state_stale
// clears ev_state whenever a row is updated in place, which only earlier
// versions do. The trigger's own update sets only ev_state, which is not among
// the columns it watches, so it never fires itself.
constexpr char kCreateEvents[] =
    "CREATE TABLE IF NOT EXISTS events (ev_id INTEGER PRIMARY KEY, ev_date, ev_time, "
    "ev_kind TEXT, ev_source TEXT, ev_detail TEXT, ev_state TEXT)";
constexpr char kAddStateColumn[] = "ALTER TABLE events ADD COLUMN ev_state TEXT";
constexpr char kCreateStateTrigger[] =
    "CREATE TRIGGER IF NOT EXISTS events_state_stale AFTER UPDATE OF ev_date, ev_time, ev_kind, "
    "ev_source, ev_detail ON events WHEN NEW.ev_state IS NOT NULL BEGIN UPDATE events SET "
    "ev_state = NULL WHERE ev_id = NEW.ev_id; END";
constexpr char kHasStateColumn[] =
    "SELECT COUNT(*) FROM pragma_table_info('events') WHERE name = 'ev_state'";
constexpr char kCreateCounter[] = "CREATE TABLE IF NOT EXISTS events_void (newest_event INTEGER)";
constexpr char kCounterRow[] = "INSERT INTO events_void SELECT 0 WHERE NOT EXISTS "
                               "(SELECT 1 FROM events_void)";
constexpr char kWriteRow[] =
    "INSERT OR REPLACE INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail, "
    "ev_state) VALUES (?, ?, ?, ?, ?, ?, ?)";
// A range of time and the last event of a kind before a moment are found
// through these, not by a scan of the whole ring: each range end first by its
// day (ev_date, a whole day serial), then by the time within it.
constexpr char kCreateMomentIndex[] =
    "CREATE INDEX IF NOT EXISTS events_moment ON events (ev_date, ev_time)";
constexpr char kCreateKindIndex[] =
    "CREATE INDEX IF NOT EXISTS events_kind_moment ON events (ev_kind, ev_date, ev_time)";
constexpr char kReadCounter[] = "SELECT newest_event FROM events_void LIMIT 1";
constexpr char kWriteCounter[] = "UPDATE events_void SET newest_event = ?";

QDateTime momentOf(double date, double time)
{
    return QDateTime(dateFromSerial(date), timeFromFraction(time));
}

} // namespace

QString eventKindName(EventKind kind)
{
    for (const auto &[k, name] : kindNames())
        if (k == kind)
            return QLatin1String(name);
    return {};
}

std::optional<EventKind> eventKindFromName(const QString &name)
{
    for (const auto &[k, n] : kindNames())
        if (name == QLatin1String(n))
            return k;
    return std::nullopt;
}

qint32 nextEventId(qint32 newest)
{
    return (newest < 1 || newest >= EventLog::kEventRingIds) ? 1 : newest + 1;
}

qint32 eventIdsAfter(qint32 seen, qint32 newest)
{
    constexpr qint32 ring = EventLog::kEventRingIds;
    if (newest < 1 || newest > ring)
        return 0;
    if (seen < 1 || seen > ring)
        return newest;
    return (newest - seen + ring) % ring;
}

EventLog::EventLog(const QString &connectionName) : m_connectionName(connectionName) {}

EventLog::~EventLog()
{
    close();
}

bool EventLog::open(const QString &path)
{
    close();
    m_path = path;
    m_lastOpenAttempt = SystemClock::now();
    // Only a database the recorder has set up gets an events table: a missing
    // file or someone else's file is never created or changed from here.
    const QFileInfo info(path);
    if (path.isEmpty() || !info.isFile()) {
        m_lastError = QStringLiteral("no database file: ") + path;
        return false;
    }
    if (!sharedMemoryFile(path).usable) {
        m_lastError = sharedMemoryFault(path);
        return false;
    }
    if (!openConnection()) {
        close();
        return false;
    }
    m_open = true;
    m_files.watch(path);
    m_lastError.clear();
    // Events that the last stop could not write are older than any queued here.
    const std::vector<Event> carried = takeUnwrittenEvents(path);
    std::deque<Event> queued = std::exchange(m_queue, {});
    for (const Event &event : carried)
        enqueue(event);
    for (const Event &event : queued)
        enqueue(event);
    writeQueue();
    return true;
}

bool EventLog::openConnection()
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connectionName);
    db.setDatabaseName(m_path);
    db.setConnectOptions(QLatin1String(kRecordingBusyTimeout));
    if (!db.open()) {
        m_lastError = QStringLiteral("open: ") + db.lastError().text();
        return false;
    }
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral(
            "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name = 'sl_void'")) ||
        !query.next()) {
        m_lastError = QStringLiteral("not a recording database: ") + query.lastError().text();
        return false;
    }
    if (query.value(0).toInt() != 1) {
        m_lastError = QStringLiteral("not a recording database");
        return false;
    }
    query.finish();
    // As the recorder's connection: with WAL, a committed event survives a
    // crash of the process without an fsync per event on the UI thread (a
    // burst of twenty changes in one poll would otherwise hold it for 70 ms).
    query.exec(QStringLiteral("PRAGMA synchronous=NORMAL"));
    if (!db.transaction()) {
        m_lastError = QStringLiteral("begin: ") + db.lastError().text();
        return false;
    }
    const bool created = query.exec(QLatin1String(kCreateEvents)) &&
                         query.exec(QLatin1String(kCreateCounter)) &&
                         query.exec(QLatin1String(kCounterRow));
    if (!created || !db.commit()) {
        m_lastError = QStringLiteral("create events: ") +
                      (created ? db.lastError() : query.lastError()).text();
        db.rollback();
        return false;
    }
    // A file written before the indexes existed gets them here, once. They
    // only speed reads up: a file that cannot take them now (read-only,
    // locked by another writer) is read without them and written as before.
    if (query.exec(QLatin1String(kCreateMomentIndex)))
        query.exec(QLatin1String(kCreateKindIndex));
    // So does the state column with its trigger; a file that another writer
    // holds locked just now takes them with the first event written instead.
    if (db.transaction() && !(addStateColumn(query) && db.commit())) {
        db.rollback();
        m_stateColumn = false;
    }
    return true;
}

bool EventLog::addStateColumn(QSqlQuery &query)
{
    m_stateColumn = query.exec(QLatin1String(kHasStateColumn)) && query.next() &&
                    (query.value(0).toInt() == 1 || query.exec(QLatin1String(kAddStateColumn))) &&
                    query.exec(QLatin1String(kCreateStateTrigger));
    query.finish();
    return m_stateColumn;
}

QString eventStateColumn(const QSqlDatabase &db)
{
    QSqlQuery query(db);
    const bool present =
        query.exec(QLatin1String(kHasStateColumn)) && query.next() && query.value(0).toInt() == 1;
    return present ? QStringLiteral("ev_state") : QStringLiteral("NULL");
}

void EventLog::close()
{
    const bool mayCheckpoint = m_files.intactNow();
    m_open = false;
    m_stateColumn = false;
    releaseRecordingConnection(m_connectionName, mayCheckpoint);
    m_files.stop();
}

bool EventLog::isCurrent() const
{
    return m_open && m_files.sameFile() && m_files.intact();
}

bool EventLog::appendEvent(const Event &event)
{
    enqueue(event);
    return flush() == 0;
}

void EventLog::enqueue(const Event &event)
{
    if (static_cast<int>(m_queue.size()) >= kQueueLimit) {
        m_queue.pop_front();
        ++m_droppedUnnoted;
    }
    m_queue.push_back(event);
}

std::vector<Event> EventLog::takeWaiting()
{
    std::vector<Event> waiting;
    if (m_droppedUnnoted > 0 && !m_queue.empty())
        waiting.push_back(dropNote());
    waiting.insert(waiting.end(), m_queue.begin(), m_queue.end());
    m_queue.clear();
    m_droppedUnnoted = 0;
    return waiting;
}

void EventLog::takeOver(EventLog &other)
{
    m_droppedUnnoted += std::exchange(other.m_droppedUnnoted, 0);
    for (const Event &event : other.m_queue)
        enqueue(event);
    other.m_queue.clear();
    flush();
}

namespace
{

// The shared logs by the absolute path of their database; a log lives as long
// as a holder keeps it.
std::map<QString, std::weak_ptr<EventLog>> &sharedLogs()
{
    static std::map<QString, std::weak_ptr<EventLog>> logs;
    return logs;
}

QString nextSharedConnection()
{
    static int made = 0;
    return QStringLiteral("shared events %1").arg(++made);
}

} // namespace

std::shared_ptr<EventLog> sharedEventLog(const QString &path)
{
    if (path.isEmpty())
        return std::make_shared<EventLog>(nextSharedConnection());
    std::map<QString, std::weak_ptr<EventLog>> &logs = sharedLogs();
    for (auto it = logs.begin(); it != logs.end();)
        it = it->second.expired() ? logs.erase(it) : std::next(it);
    const QString key = QFileInfo(path).absoluteFilePath();
    if (std::shared_ptr<EventLog> log = logs[key].lock())
        return log;
    auto log = std::make_shared<EventLog>(nextSharedConnection());
    logs[key] = log;
    log->open(path);
    return log;
}

void moveEventLog(std::shared_ptr<EventLog> &log, const QString &path)
{
    std::shared_ptr<EventLog> target = sharedEventLog(path);
    if (target == log)
        return;
    if (log && log.use_count() == 1)
        target->takeOver(*log);
    log = std::move(target);
}

int EventLog::flush()
{
    const QDateTime now = SystemClock::now();
    if (m_open && !isCurrent()) {
        // A write would go into a file that is no longer the database, or
        // crash on its shared memory: closed, and the wait starts.
        m_lastError = m_files.intact()
                          ? QStringLiteral("the database file was deleted or replaced: ") + m_path
                          : sharedMemoryFault(m_path);
        close();
        m_lastOpenAttempt = now;
    }
    if (m_queue.empty())
        return 0;
    if (!m_open) {
        const bool due = !m_lastOpenAttempt ||
                         std::llabs(m_lastOpenAttempt->secsTo(now)) >= kReopenIntervalSeconds;
        if (m_path.isEmpty() || !due || !open(m_path))
            return static_cast<int>(m_queue.size());
    }
    writeQueue();
    return static_cast<int>(m_queue.size());
}

bool EventLog::writeQueue()
{
    if (!writeDropNote())
        return false;
    while (!m_queue.empty()) {
        if (!writeOne(m_queue.front()))
            return false;
        m_queue.pop_front();
    }
    return true;
}

// The gap the full queue left goes into the journal just before the oldest
// survivor, at its time, so that a reader sees where events are missing.
bool EventLog::writeDropNote()
{
    if (m_droppedUnnoted == 0 || m_queue.empty())
        return true;
    if (!writeOne(dropNote()))
        return false;
    m_droppedUnnoted = 0;
    return true;
}

Event EventLog::dropNote() const
{
    return Event{
        m_queue.front().when, EventKind::Note, QStringLiteral("事件记录"),
        QStringLiteral("数据库不可用，内存队列已满，丢失 %1 条事件").arg(m_droppedUnnoted)};
}

// One event as one transaction: the row at the id after the newest, and the
// counter row naming it. A lock keeps the connection (the next event tries
// again); any other failure closes it, to be opened afresh after the wait.
bool EventLog::writeOne(const Event &event)
{
    QSqlDatabase db = QSqlDatabase::database(m_connectionName, false);
    QSqlQuery query(db);
    QSqlError error;
    bool done = db.transaction();
    if (!done)
        error = db.lastError();
    if (done) {
        done = query.exec(QLatin1String(kReadCounter)) && query.next();
        const qint32 id = done ? nextEventId(query.value(0).toInt()) : 0;
        query.finish();
        // A file that could not take the column when it was opened takes it
        // now, with the event: no row of this version is written without it.
        if (done && !m_stateColumn)
            done = addStateColumn(query);
        if (done) {
            query.prepare(QLatin1String(kWriteRow));
            query.addBindValue(id);
            query.addBindValue(daySerial(event.when.date()));
            query.addBindValue(dayFraction(event.when.time()));
            query.addBindValue(eventKindName(event.kind));
            query.addBindValue(event.source);
            query.addBindValue(event.detail);
            query.addBindValue(event.state.isEmpty() ? QVariant() : QVariant(event.state));
            done = query.exec();
        }
        if (done) {
            query.prepare(QLatin1String(kWriteCounter));
            query.addBindValue(id);
            done = query.exec() && query.numRowsAffected() > 0;
        }
        if (!done)
            error = query.lastError();
        query.finish();
        if (done && !db.commit()) {
            error = db.lastError();
            done = false;
        }
    }
    if (done) {
        m_lastError.clear();
        return true;
    }
    db.rollback();
    m_stateColumn = false; // looked for again with the next event
    m_lastError = QStringLiteral("write event: ") + error.text();
    if (!isSqliteLockError(error))
        close();
    return false;
}

namespace
{

// The event of a query's current row whose kind, source, detail and state code
// stand from column `first` on, at `when`. A row of a kind this build does not
// know is shown as a link event's neighbour would be: kept, with its name in
// the detail, and no state.
Event eventOfColumns(const QSqlQuery &query, int first, const QDateTime &when)
{
    const QString name = query.value(first).toString();
    const std::optional<EventKind> kind = eventKindFromName(name);
    Event event{when, kind.value_or(EventKind::Link), query.value(first + 1).toString(),
                query.value(first + 2).toString(), query.value(first + 3).toString()};
    if (!kind) {
        event.detail = name + QStringLiteral(": ") + event.detail;
        event.state.clear();
    }
    return event;
}

// The same with the row's date and time in the two columns before them.
Event eventOfRow(const QSqlQuery &query, int first)
{
    return eventOfColumns(
        query, first + 2,
        momentOf(query.value(first).toDouble(), query.value(first + 1).toDouble()));
}

// The rows of `where`, in `order` (in any when it is empty), at most `limit`,
// on the connection named, each handed to `take` with the date, time, kind,
// source, detail and state code in its first columns and `more` after them;
// false, with `error` set, when the read fails (a database without an events
// table included).
template <typename Take>
bool selectRows(const QString &connectionName, const QString &more, const QString &where,
                const QString &order, int limit, const QVariantList &values, QString &error,
                Take take)
{
    const QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT ev_date, ev_time, ev_kind, ev_source, ev_detail, %1%2 "
                                 "FROM events %3 %4 LIMIT %5")
                      .arg(eventStateColumn(db), more, where,
                           order.isEmpty() ? QString() : QStringLiteral("ORDER BY ") + order)
                      .arg(limit));
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec()) {
        error = QStringLiteral("read events: ") + query.lastError().text();
        return false;
    }
    while (query.next())
        take(query);
    return true;
}

std::vector<Event> selectEvents(const QString &connectionName, const QString &where,
                                const QString &order, int limit, const QVariantList &values,
                                QString &error)
{
    std::vector<Event> events;
    selectRows(connectionName, {}, where, order, limit, values, error,
               [&](const QSqlQuery &query) { events.push_back(eventOfRow(query, 0)); });
    return events;
}

} // namespace

std::vector<Event> EventLog::readEvents(const QString &where, const QString &order, int limit,
                                        const QVariantList &values) const
{
    if (!isCurrent() || limit <= 0)
        return {};
    return selectEvents(m_connectionName, where, order, limit, values, m_lastError);
}

std::vector<Event> EventLog::newestEvents(int count) const
{
    const std::optional<qint32> newest = newestId();
    if (!newest)
        return {};
    return ringEvents(*newest, 0, count);
}

std::vector<Event> EventLog::ringEvents(qint32 newest, int skip, int count) const
{
    std::vector<Event> events;
    if (newest < 1 || newest > kEventRingIds || skip < 0 || count <= 0 || skip >= kEventRingIds)
        return events;
    count = qMin(count, kEventRingIds - skip);
    // Ring position j is id newest - j, wrapping past 1 to the top of the
    // ring: at most two runs of ids, each read down the id column without a sort.
    const auto readRun = [&](qint32 highest, qint32 lowest) {
        std::vector<Event> run =
            readEvents(QStringLiteral("WHERE ev_id BETWEEN ? AND ?"), QStringLiteral("ev_id DESC"),
                       highest - lowest + 1, {lowest, highest});
        events.insert(events.end(), std::make_move_iterator(run.begin()),
                      std::make_move_iterator(run.end()));
    };
    const qint32 first = newest - skip; // may lie below 1: then wrapped
    const qint32 last = first - count + 1;
    if (first >= 1)
        readRun(first, qMax(last, 1));
    if (last < 1) {
        const qint32 top = first >= 1 ? kEventRingIds : first + kEventRingIds;
        readRun(top, last + kEventRingIds);
    }
    return events;
}

std::vector<Event> EventLog::newestEventsOf(const std::vector<EventKind> &kinds, int count) const
{
    const std::optional<qint32> newest = newestId();
    if (!newest || *newest < 1 || kinds.empty())
        return {};
    QStringList marks;
    QVariantList names;
    for (EventKind kind : kinds) {
        marks << QStringLiteral("?");
        names << eventKindName(kind);
    }
    const QString where =
        QStringLiteral("WHERE ev_id BETWEEN ? AND ? AND ev_kind IN (%1)").arg(marks.join(','));
    // Down from the newest id, then on from the top of the ring, where the
    // older events of a wrapped ring lie.
    std::vector<Event> events =
        readEvents(where, QStringLiteral("ev_id DESC"), count, QVariantList{1, *newest} + names);
    if (int(events.size()) < count && *newest < kEventRingIds) {
        const std::vector<Event> older =
            readEvents(where, QStringLiteral("ev_id DESC"), count - int(events.size()),
                       QVariantList{*newest + 1, kEventRingIds} + names);
        events.insert(events.end(), older.begin(), older.end());
    }
    return events;
}

std::vector<Event> EventLog::eventsBetween(const QDateTime &from, const QDateTime &to) const
{
    if (!isCurrent())
        return {};
    return readEventsBetween(m_connectionName, from, to, &m_lastError);
}

std::vector<Event> readEventsBetween(const QString &connectionName, const QDateTime &from,
                                     const QDateTime &to, QString *error)
{
    const double lo = qMin(serialOf(from), serialOf(to));
    const double hi = qMax(serialOf(from), serialOf(to));
    // The days first, which the index on (ev_date, ev_time) finds, then the
    // moments within them; in the index's order, so that nothing is sorted.
    QString fault;
    std::vector<Event> events = selectEvents(
        connectionName,
        QStringLiteral("WHERE ev_date BETWEEN ? AND ? AND ev_date + ev_time BETWEEN ? AND ?"),
        QStringLiteral("ev_date, ev_time, ev_id"), EventLog::kEventRingIds,
        {std::floor(lo), std::floor(hi), lo, hi}, fault);
    if (error && !fault.isEmpty())
        *error = fault;
    return events;
}

std::optional<Event> readLastEventBefore(const QString &connectionName, EventKind kind,
                                         const QDateTime &before, QString *error)
{
    // Walked back from the day of `before` along the index on (ev_kind,
    // ev_date, ev_time): the first row found is the answer.
    const double moment = serialOf(before);
    QString fault;
    const std::vector<Event> events =
        selectEvents(connectionName,
                     QStringLiteral("WHERE ev_kind = ? AND ev_date <= ? AND ev_date + ev_time < ?"),
                     QStringLiteral("ev_date DESC, ev_time DESC, ev_id DESC"), 1,
                     {eventKindName(kind), std::floor(moment), moment}, fault);
    if (error && !fault.isEmpty())
        *error = fault;
    if (events.empty())
        return std::nullopt;
    return events.front();
}

std::optional<qint32> EventLog::newestId() const
{
    if (!isCurrent())
        return std::nullopt;
    QSqlQuery query(QSqlDatabase::database(m_connectionName, false));
    if (!query.exec(QLatin1String(kReadCounter)) || !query.next())
        return std::nullopt;
    return query.value(0).toInt();
}

std::vector<StoredEvent> readEventsBetweenInRingOrder(const QString &connectionName,
                                                      const QDateTime &from, const QDateTime &to,
                                                      QString *error)
{
    const double lo = serialOf(from);
    const double hi = serialOf(to);
    QString fault;
    // Read in the order the index on day and time finds the range in (the day
    // bounds let it), with each row's id and the counter of the same moment,
    // then put in ring order here: sorting a week in the query took longer
    // than reading it.
    std::vector<StoredEvent> read;
    // (written since the wrap, id, index in `read`)
    std::vector<std::tuple<bool, qint64, std::size_t>> ringOrder;
    selectRows(
        connectionName,
        QStringLiteral(", ev_id, coalesce((%1), 0)").arg(QLatin1String(kReadCounter)),
        QStringLiteral("WHERE ev_date BETWEEN ? AND ? AND ev_date + ev_time BETWEEN ? AND ?"), {},
        EventLog::kEventRingIds,
        {std::floor(qMin(lo, hi)), std::floor(qMax(lo, hi)), qMin(lo, hi), qMax(lo, hi)}, fault,
        [&](const QSqlQuery &query) {
            // Ids above the counter's were written before the ring wrapped: they come first.
            const qint64 id = query.value(6).toLongLong();
            const bool beforeWrap = id > query.value(7).toLongLong();
            ringOrder.emplace_back(!beforeWrap, id, read.size());
            read.push_back({query.value(0).toDouble(), query.value(1).toDouble(),
                            eventOfColumns(query, 2, QDateTime())});
        });
    if (error && !fault.isEmpty())
        *error = fault;
    std::sort(ringOrder.begin(), ringOrder.end());
    std::vector<StoredEvent> events;
    events.reserve(read.size());
    for (const auto &[sinceWrap, id, index] : ringOrder)
        events.push_back(std::move(read[index]));
    return events;
}

std::vector<NumberedEvent> readEventsAfter(const QString &connectionName,
                                           std::optional<qint32> since, int count, qint32 &newest,
                                           QString *error)
{
    std::vector<NumberedEvent> events;
    newest = 0;
    const QSqlDatabase db = QSqlDatabase::database(connectionName, false);
    QSqlQuery counter(db);
    if (!counter.exec(QLatin1String(kReadCounter)) || !counter.next()) {
        if (error)
            *error = QStringLiteral("read events: ") + counter.lastError().text();
        return events;
    }
    newest = counter.value(0).toInt();
    const qint32 after =
        qMin(since ? eventIdsAfter(*since, newest) : EventLog::kEventRingIds, qint32(count));
    if (newest < 1 || newest > EventLog::kEventRingIds || after <= 0)
        return events;
    // Ids newest - after + 1 .. newest, the first of them past the ring's end
    // when it wrapped: at most two runs, each read up the id column.
    const qint32 first = newest - after + 1;
    const QString stateColumn = eventStateColumn(db);
    const auto readRun = [&](qint32 lowest, qint32 highest) {
        QSqlQuery query(db);
        query.setForwardOnly(true);
        query.prepare(QStringLiteral("SELECT ev_id, ev_date, ev_time, ev_kind, ev_source, "
                                     "ev_detail, %1 FROM events WHERE ev_id BETWEEN ? AND ? "
                                     "ORDER BY ev_id")
                          .arg(stateColumn));
        query.addBindValue(lowest);
        query.addBindValue(highest);
        if (!query.exec()) {
            if (error)
                *error = QStringLiteral("read events: ") + query.lastError().text();
            return false;
        }
        while (query.next())
            events.push_back({query.value(0).toInt(), eventOfRow(query, 1)});
        return true;
    };
    const bool read = first >= 1
                          ? readRun(first, newest)
                          : readRun(first + EventLog::kEventRingIds, EventLog::kEventRingIds) &&
                                readRun(1, newest);
    if (!read)
        events.clear();
    return events;
}
