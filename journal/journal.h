#pragma once

#include "alarmack.h"
#include "chatter.h"
#include "eventmarks.h"
#include "events.h"
#include "inputchanges.h"
#include "writeoutcome.h"

#include <QObject>

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <vector>

class QTimer;
struct PollDelivery;

/*
 * The event journal: what happened to the instrument and the tool, written to
 * the events table of the recording database (EventLog) as it happens.
 *
 * Watching the instrument:
 *
 *     closed --linkOpened()--> awaiting start --pollDelivered() with states--> watching
 *     watching --pollDelivered()--> watching (one event per change; a state
 *                changing too often is journaled as chattering, Journal::ChatterFilter)
 *     any --linkClosed()--> closed
 *
 * Awaiting start: nothing is known; each state the first good poll delivers is
 * journaled once when it is on (the starting state). Polls that deliver
 * nothing (failed, or bytes outside 0..255) change nothing in any state.
 * The same polls move the alarms' acknowledgement (Journal::AlarmAcknowledgement).
 */
class EventJournal : public QObject
{
    Q_OBJECT
public:
    // Queued events are offered to the database this often (EventLog limits
    // how often a closed database is opened again).
    static constexpr std::chrono::seconds kFlushInterval{1};
    // Alarm and configuration events kept in memory for the chart's marks: a
    // day of chattering at one change per poll fits twice over. Marks more than
    // kMarkDays older than the newest go as new ones come, however few there are.
    static constexpr int kMarksKept = 20000;
    static constexpr qint64 kMarkDays = 1;

    // A journal whose events wait in memory until open().
    explicit EventJournal(QObject *parent = nullptr);

    // Writes to the shared events log of the recording database at `path`
    // (sharedEventLog); events wait in memory until it can be written. Loads
    // the last day's marks.
    void open(const QString &path);
    // Closes the log's database connection (the other writers' too: they
    // share it); later events wait in memory until it reopens.
    void close();

    // The tool started ("start") and ended ("end", by "退出" or Esc).
    void toolStarted();
    void toolEnded();
    // "打开" with the settings in CommSettings; the next good poll gives the starting state.
    void linkOpened();
    // "关闭": polls are no longer watched.
    void linkClosed();

    // The poller's report of a poll: the states it delivered, read from the
    // shared tables, compared with what is known.
    void pollDelivered(const PollDelivery &delivery);
    // The same for a snapshot and channel values given directly.
    void observe(const Journal::StateSnapshot &polled,
                 const std::array<float, Journal::kChannels> &values);

    // The configuration window wrote register `reg`.
    void configWritten(int reg, qint32 value, WriteOutcome outcome,
                       std::optional<qint32> shownBefore);

    // Writes one event (or queues it) and keeps it for the marks when it is one.
    void record(const Event &event);

    // The operator acknowledges every unacknowledged alarm: one event naming
    // them, each with its time from "ON". Nothing, and no event, when none is
    // unacknowledged. Returns how many it covered.
    int acknowledgeAlarms();
    // The alarms as the operator has (or has not) acknowledged them.
    const Journal::AlarmAcknowledgement &alarms() const { return m_alarms; }

    // What is known of each watched state.
    const Journal::KnownStates &known() const { return m_known; }
    // The alarm and configuration events from `from` to `to`, oldest first.
    std::vector<Event> marksBetween(const QDateTime &from, const QDateTime &to) const;
    // The event log underneath (reads for the journal view).
    EventLog &log() { return *m_log; }
    const EventLog &log() const { return *m_log; }

signals:
    // An event was recorded (written or queued).
    void recorded(const Event &event);
    // An alarm came, went or was acknowledged.
    void alarmsChanged();

private:
    void keepMark(const Event &event);

    std::shared_ptr<EventLog> m_log = sharedEventLog();
    QTimer *m_flushTimer = nullptr;
    bool m_watching = false;
    Journal::KnownStates m_known;
    Journal::AlarmAcknowledgement m_alarms;
    Journal::ChatterFilter m_chatter;
    std::deque<Event> m_marks;
};

// The tool's journal, created on first use (not yet opened).
EventJournal *eventJournal();
// Starts the tool's journal: opened on the recording database, "start" written.
// The overview's exit path writes "end"; the start-up hands it the poller's
// reports (pollDelivered).
void startJournal();
