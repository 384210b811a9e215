#pragma once

#include "events.h"
#include "scalinglog.h"
#include "store.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// Whole seconds between a recording at (lastDate, lastTime) and the moment
// (date, time), all as day serials: the absolute value of the difference, to
// the nearest second with halves to the even neighbour. A clock set back
// counts as elapsed time, so it records at once.
qint64 secondsSinceRecording(double date, double time, double lastDate, double lastTime);

// The rows of one ring that could not be written: how many, and the day
// serials (date + time) of the first and the last of them.
struct RingLoss {
    qint64 rows = 0;
    double first = 0;
    double last = 0;
};

// Why rows were lost, as the journal says it.
enum class LossCause {
    Overflow, // more than the bound waited while the file took no writes
    Stop,     // the tool stopped while the file took no writes
};

// What both rings lost.
struct RecordingLoss {
    RingLoss pv;
    RingLoss lpv;
    bool any() const { return pv.rows > 0 || lpv.rows > 0; }
};

// The journal's words for a loss: "<cause>: 丢失 1 秒记录 N 行 <first> - <last>,
// 10 秒记录 M 行 <first> - <last>" (a ring that lost nothing gives no span).
QString recordingLossDetail(LossCause cause, const RecordingLoss &loss);
// The log's words for the same: "N rows of the 1-second ring (<first> - <last>)
// and M of the 10-second ring (<first> - <last>)".
QString recordingLossText(const RecordingLoss &loss);

// The hidden recorder window `mscom`: writes ProcessValues 0 .. 7 into the
// pv_data ring once per whole second of the clock and into the Lpv_wdjl ring
// once per ten seconds, whether the port is open or not.
//
// Connection states (tick() makes the transitions through RecordingStore::keepOpen):
//   open    --sl_void unreadable, the file gone or replaced, or its
//             shared-memory file unwritable or cut shorter--> closed
//   closed  --10 s after the last attempt, open() succeeds--> open
// Rows that cannot be written (the file closed, locked by another program,
// full, refusing the write) wait in memory, each with its own date, time and
// quality, and are written in order under the next ids once the file takes
// writes again. At most kPvBacklog and kLpvBacklog rows wait; beyond that the
// oldest waiting row is lost, and the loss is written as one event once the
// file takes writes.
class Recorder : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTimer1Interval{100};
    // An hour of each ring waits in memory while the file takes no writes.
    static constexpr int kPvBacklog = 3600;
    static constexpr int kLpvBacklog = 360;
    // Waiting rows written in one transaction: a backlog of an hour is
    // written within a few ticks without holding the window up.
    static constexpr int kRowsPerWrite = 1000;

    // `connectionName` names the recorder's own database connection; tests give
    // each instance a name of its own.
    explicit Recorder(QObject *parent = nullptr,
                      const QString &connectionName = QStringLiteral("mscom"));
    ~Recorder() override;

    // The window's load: opens the recorder's connection on `path` and starts
    // Timer1. When the database cannot be opened, the timer runs all the same
    // and the opening is tried again every 10 seconds.
    void load(const QString &path = databasePath());

    // What each tick's rows are worth, asked once per tick that records.
    // Without a source (or after an empty one is set) rows are NotConnected.
    void setQualitySource(std::function<RowQuality()> source);

    // Whole seconds since the last pv_data row (PvLastDate, PvLastTime).
    qint64 okitime() const;
    // Whole seconds since the last Lpv_wdjl row (LpvLastDate, LpvLastTime).
    qint64 Rec1_time() const;

    // The newest ids as the last tick read them from sl_void (after the wrap),
    // advanced by that tick's recordings.
    qint32 pvCounter() const { return m_pvCounter; }
    qint32 lpvCounter() const { return m_lpvCounter; }
    // The recorder's own connection, for tests to see whether it is open and why not.
    const RecordingStore &store() const { return m_store; }
    // The 100 ms recording clock, running from load() on.
    const QTimer &timer1() const { return m_timer1; }
    // Rows of `table` taken but not yet written, oldest first.
    const std::deque<RowToRecord> &waiting(RecordTable table) const;
    // Rows of `table` lost since the last loss event was written.
    qint64 lostRows(RecordTable table) const;

    // At a stop: one attempt to write every waiting row (a closed connection
    // is opened again at once, whatever the wait); true when none waits.
    bool writeWaitingNow();
    // At a stop, after the last attempt: every row still waiting counts as
    // lost, and the loss not yet journaled (these rows and any the bound
    // dropped before) is handed over to be told elsewhere; nothing waits after.
    RecordingLoss giveUpWaiting();

    // The scaling the link read at `when`: each channel that differs from the
    // latest entry stored becomes a new entry (and a journal event) once the
    // file takes writes; readings wait meanwhile (the newest kScalingBacklog).
    void noteScaling(const KnownScaling &known, const QDateTime &when);
    // The operator named channel 0..3's unit (empty clears it): stored, and
    // journaled, once the file takes writes.
    void noteOperatorUnit(int channel, const QString &unit, const QDateTime &when);
    static constexpr int kScalingBacklog = 64;
    // Readings and unit names still waiting for the file.
    int scalingWaiting() const { return int(m_scalingBacklog.size() + m_unitBacklog.size()); }

public slots:
    // One recording cycle of Timer1; tests call it directly with the clock set.
    void tick();

signals:
    // After every tick, whatever it did: the store's isOpen() and lastError()
    // then tell whether the tick recorded or why not.
    void ticked();

private:
    // The rows of one ring that wait to be written, and those lost meanwhile.
    struct Backlog {
        std::deque<RowToRecord> rows;
        RingLoss lost; // not yet written as an event
    };

    // Takes one row of `table` when it is due: `interval` after the newest
    // row waiting, or after the last recorded when none waits.
    void takeIfDue(Backlog &backlog, qint64 intervalSeconds, double date, double time,
                   RowQuality quality, qint32 utcOffset, double lastDate, double lastTime);
    // Drops the oldest waiting rows beyond `bound`, counting them as lost.
    static void keepWithinBound(Backlog &backlog, int bound);
    // Writes waiting rows under the ids after `counter`, oldest first. The
    // counter, the last date and time and the flag change only with what was written.
    void writeWaiting(RecordTable table, Backlog &backlog, qint32 &counter, double &lastDate,
                      double &lastTime, bool &recordedFlag);
    // Writes the loss of rows as one event once nothing waits any more.
    void noteLoss(const QDateTime &now);
    // Writes the waiting scaling readings and unit names, oldest first.
    void writeScaling();
    // The events log moved onto the file the recorder writes.
    EventLog &eventsHere();

    struct ScalingReadingAt {
        KnownScaling known;
        QDateTime when;
    };
    struct UnitNamed {
        int channel = 0;
        QString unit;
        QDateTime when;
    };
    std::deque<ScalingReadingAt> m_scalingBacklog;
    std::deque<UnitNamed> m_unitBacklog;
    RecordingStore m_store;
    QTimer m_timer1;
    std::function<RowQuality()> m_qualitySource;
    Backlog m_pvBacklog;
    Backlog m_lpvBacklog;
    // The loss of rows goes to the events beside the rings, through the log
    // the other writers of this database share.
    std::shared_ptr<EventLog> m_events = sharedEventLog();
    qint32 m_pvCounter = 0;
    qint32 m_lpvCounter = 0;
};

// The recorder's single instance, created and loaded on first use.
Recorder *mscom();
