#pragma once

#include "recordingfile.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QSqlDatabase;
class QSqlQuery;

// What happened, for the `events` table of the recording database. Each kind
// is stored by its name (eventKindName), so that rows stay readable by other
// programs and a kind added later never renumbers the older rows.
enum class EventKind {
    Link,         // the link to the instrument changed state
    Recording,    // the recorder started or stopped recording
    Alarm,        // an alarm of the instrument came or went
    Relay,        // a relay closed or opened
    ConfigWrite,  // a configuration parameter was written to the instrument
    ToolStart,    // the tool started
    ToolEnd,      // the tool ended
    OpenCircuit,  // a channel's input opened or closed again
    ShortCircuit, // a channel's input shorted or recovered
    AlarmOutput,  // one of the alarm outputs 1..4 came or went
    Note,         // the journal's own remark (events lost while the database was away)
    Historian,    // the forwarder wrote an event to the central historian (lost span, duplicates)
    Operator,     // the operator acknowledged alarms or silenced their audible signal
    Scaling,      // a channel's scaling or unit changed, or could not be read
};

// One row of the events table. `when` is the local date and time of the
// happening (whole seconds), `source` what it happened to (a port, a database
// file, a channel), `detail` the new state and its reason in the system's words.
// `state` is the code of the state a link event records (linkStateTable), so
// that the state is read back without its words; empty for every other event,
// and for link events written by an earlier version (read by their words).
struct Event {
    QDateTime when;
    EventKind kind = EventKind::Link;
    QString source;
    QString detail;
    QString state{};
};

// The same happening: its time, kind, source, detail and state code all alike.
inline bool operator==(const Event &a, const Event &b)
{
    return a.when == b.when && a.kind == b.kind && a.source == b.source && a.detail == b.detail &&
           a.state == b.state;
}

// The stored name of a kind ("link", "recording", "alarm", "relay", "config",
// "start", "end", "open", "short", "output", "note", "historian", "operator", "scaling").
QString eventKindName(EventKind kind);
// The kind of a stored name; nullopt for a name this build does not know.
std::optional<EventKind> eventKindFromName(const QString &name);

// The id that follows `newest` in the events ring 1..kEventRingIds (1 after
// the last id, and after anything outside the ring, 0 included).
qint32 nextEventId(qint32 newest);
// How many events were written after id `seen` up to id `newest` in the events
// ring, across its end (0 when they are the same; `newest` when `seen` lies
// outside the ring, as before the first event; 0 when `newest` does).
qint32 eventIdsAfter(qint32 seen, qint32 newest);

// The events table of the recording database: a ring of 100000 rows with its
// own counter row (table events_void), on a connection of its own. Each event
// is one transaction, like a recording; an event that cannot be written now
// (database missing, read-only, locked, not yet opened) waits in a bounded
// queue in memory and is written later with its original time.
//
// Connection states, by the recorder's rule (RecordingStore::keepOpen):
//   closed --open() on a recording database--> open
//   open   --a write fails for any reason but a lock, or close()--> closed
//   open   --appendEvent()/flush() find the path naming another file (deleted,
//            replaced) or the shared-memory file not intact--> closed
//   closed --appendEvent()/flush() 10 s after the last attempt, open(path())--> open
// Reopened on a new file at the path, it creates the events table there, and
// the events queued meanwhile land in it.
class EventLog
{
public:
    static constexpr qint32 kEventRingIds = 100000;
    // Events kept in memory while the database cannot take them; beyond this
    // the oldest waiting event is dropped (and counted). When the database
    // returns, a note event ahead of the survivors says how many.
    static constexpr int kQueueLimit = 1000;
    static constexpr qint64 kReopenIntervalSeconds = kRecordingReopenSeconds;

    // A closed log whose connection will carry `connectionName`, unique in the process.
    explicit EventLog(const QString &connectionName = QStringLiteral("events"));
    ~EventLog();
    EventLog(const EventLog &) = delete;
    EventLog &operator=(const EventLog &) = delete;

    // Opens the events of the recording database at `path`, creating the
    // events table and its counter row when missing, then writes what waits
    // in the queue, after the events a stop left beside the file
    // (takeUnwrittenEvents). False, with nothing written, when the file does not exist
    // or is not a recording database (no sl_void table), or cannot be written.
    bool open(const QString &path);
    // Closes the connection; queued events stay queued.
    void close();
    // Whether events are written to the database now (not queued).
    bool isOpen() const { return m_open; }
    // Open, the path still names the file that was opened, and its
    // shared-memory file is intact: only then is a statement run.
    bool isCurrent() const;
    // The file named by the last open().
    QString path() const { return m_path; }

    // Appends one event after whatever waits in the queue. True when it and
    // every event before it are in the database; false when it was queued
    // (the database is closed, read-only, locked or full).
    bool appendEvent(const Event &event);
    // Writes queued events, oldest first, reopening path() when closed and the
    // reopen interval has passed. Returns how many still wait.
    int flush();
    // Events waiting in memory, oldest first.
    const std::deque<Event> &pending() const { return m_queue; }
    // Hands over every event waiting in memory, oldest first (after a note
    // of those the full queue dropped, when any were), and waits for none.
    // At a stop that could not write them: they are kept beside the file
    // (keepUnwrittenEvents), and the next open() takes them back.
    std::vector<Event> takeWaiting();
    // Takes the events waiting in `other` (and its count of dropped ones)
    // after those waiting here, then writes what it can (flush()).
    void takeOver(EventLog &other);

    // The newest `count` stored events, newest first (ring order, so a clock
    // set back does not reorder them). Empty when closed or the read fails.
    std::vector<Event> newestEvents(int count) const;
    // Events in ring order counted down from the id `newest`: `count` of them
    // after skipping `skip`, newest first. Reads a long ring in pieces that
    // stay put while newer events are written.
    std::vector<Event> ringEvents(qint32 newest, int skip, int count) const;
    // The newest `count` stored events of the given kinds, newest first in
    // ring order: events of other kinds, however many, never crowd them out.
    std::vector<Event> newestEventsOf(const std::vector<EventKind> &kinds, int count) const;
    // The stored events from `from` to `to` inclusive, oldest first.
    std::vector<Event> eventsBetween(const QDateTime &from, const QDateTime &to) const;

    // The newest id as events_void holds it; nullopt when closed or unreadable.
    std::optional<qint32> newestId() const;
    // Why the last open or write failed; empty after a success.
    QString lastError() const { return m_lastError; }

private:
    bool openConnection();
    // Gives an events table of an earlier version its state column and trigger.
    bool addStateColumn(QSqlQuery &query);
    // Queues `event` after the others, dropping the oldest beyond kQueueLimit.
    void enqueue(const Event &event);
    bool writeOne(const Event &event);
    bool writeQueue();
    bool writeDropNote();
    // The note of the events the full queue dropped, at the time of the oldest survivor.
    Event dropNote() const;
    std::vector<Event> readEvents(const QString &where, const QString &order, int limit,
                                  const QVariantList &values) const;

    QString m_connectionName;
    QString m_path;
    bool m_open = false;
    std::deque<Event> m_queue;
    qint64 m_droppedUnnoted = 0; // dropped since the last note was written
    bool m_stateColumn = false;  // the events table has ev_state and its trigger
    std::optional<QDateTime> m_lastOpenAttempt;
    mutable QString m_lastError;
    RecordingFileGuard m_files;
};

// The events log of the recording database at `path` that every writer in this
// process shares (the health monitor, the journal, the recorder's own events):
// one queue, one connection, one reopen schedule, so that two writers never
// take turns on the events counter or reopen the file each on its own clock.
// Opened (open()) when first asked for; closed when its last holder lets go.
// An empty path gives a log of its own that queues until moved onto a database.
std::shared_ptr<EventLog> sharedEventLog(const QString &path = QString());
// Moves `log` onto the shared log of the database at `path` (nothing when it
// is there already); what waits in the old log goes along unless another
// holder still keeps it.
void moveEventLog(std::shared_ptr<EventLog> &log, const QString &path);

// What reads a link event's state code in a query on `db`: the column ev_state,
// or NULL in a file of an earlier version whose events table has none yet (one
// read-only, or not written since by this version's log): its link events are
// then read by their words.
QString eventStateColumn(const QSqlDatabase &db);

// The stored events from `from` to `to` inclusive, oldest first, read through
// any open connection to a recording database (a read-only one included);
// empty, with `error` (when given) saying why, when the read fails.
std::vector<Event> readEventsBetween(const QString &connectionName, const QDateTime &from,
                                     const QDateTime &to, QString *error = nullptr);
// The newest stored event of `kind` before `before`, through any open
// connection; nullopt when there is none or the read fails.
std::optional<Event> readLastEventBefore(const QString &connectionName, EventKind kind,
                                         const QDateTime &before, QString *error = nullptr);
// An event as the ring holds it: its local date and time as day serials, not
// yet a moment. A local QDateTime looks its offset up in the zone each time one
// is made, which was most of the time of reading a week of events; the chart
// resolves these times to instants itself. event.when is left null.
struct StoredEvent {
    double date = 0; // whole day serial
    double time = 0; // fraction of the day
    Event event;
};

// readEventsBetween() in ring order (as written, across the ring's wrap)
// instead of by local time: the order in which the local times of an hour
// repeated when clocks go back resolve to their instants.
std::vector<StoredEvent> readEventsBetweenInRingOrder(const QString &connectionName,
                                                      const QDateTime &from, const QDateTime &to,
                                                      QString *error = nullptr);

// A stored event with its id in the events ring.
struct NumberedEvent {
    qint32 id = 0;
    Event event;
};
// The events written after id `since` (in ring order, across the ring's end)
// up to the newest, at most `count` of them (the newest when more were
// written; without `since` the newest `count` the ring holds), oldest first, read through any open
// connection to a recording database (a read-only one included); `newest` gets the newest id (0
// before any event). Empty, with `error` set, when the read fails.
std::vector<NumberedEvent> readEventsAfter(const QString &connectionName,
                                           std::optional<qint32> since, int count, qint32 &newest,
                                           QString *error = nullptr);
