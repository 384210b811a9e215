#pragma once

#include "historymarks.h"
#include "historyrange.h"
#include "historyscaling.h"
#include "instants.h"
#include "ringquery.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

// Reading a range of the local recording off the window's thread: the ring
// for it, its rows and the events beside them take hundreds of milliseconds
// on full rings, and the window stays responsive meanwhile.

namespace History
{

// A range of the local recording as the history window shows it.
struct LocalRange {
    int request = 0; // the reading's own count of requests
    TimeAxis axis;   // anchored at the range's start
    double from = 0; // places on `axis`
    double to = 0;
    bool opened = false; // false: the file could not be opened; `error` says why
    QString error;
    RecordTable ring = RecordTable::PvData;
    RangeRead read;         // the rows of `ring` from `from` to `to`, in recording order
    QVector<double> places; // each row's place on `axis`
    ChartEvents events;
    ShownScaling scaling; // each row's scaling, from the file's own entries
};

// Reads `from` .. `to` through `reader`, which is opened on `path` first when
// it is not open (again while that fails: the recorder may create the file
// later): the ring chosen for the range, its rows, and the not-live spans,
// marks and time not recorded beside them, and the scaling each row was recorded with.
LocalRange readLocalRange(RingReader &reader, const QString &path, const QDateTime &from,
                          const QDateTime &to);

/*
 * One thread with its own read-only connection to the recording database,
 * reading the ranges the window asks for, one after the other:
 *
 *     idle --ask()--> reading --answer of the newest request--> idle
 *     reading --ask()--> reading (the request under way is answered, but
 *                         answered() only carries the newest one)
 *
 * A request that a newer one overtook before it started is skipped; one
 * overtaken while it was read is dropped when it comes back, so an older
 * range never arrives after a newer one.
 */
class RangeReading : public QObject
{
    Q_OBJECT
public:
    // Reads the recording database at `databasePath`.
    explicit RangeReading(const QString &databasePath, QObject *parent = nullptr);
    // Waits for the range under way (if any); requests not begun are skipped.
    ~RangeReading() override;

    // Asks for `from` .. `to`, overtaking every earlier request; answered()
    // brings it.
    void ask(const QDateTime &from, const QDateTime &to);
    // Drops whatever is under way or waiting: no answer comes for it.
    void cancel();
    // Whether an answer is still to come.
    bool isBusy() const { return m_latest.load() != m_answered; }

signals:
    // The range of the newest request, on the thread that owns this object.
    void answered(const History::LocalRange &range);

private:
    void deliver(const LocalRange &range);

    QString m_databasePath;
    QThread m_thread;
    QObject *m_worker = nullptr;  // lives in m_thread, with the reader
    std::atomic<int> m_latest{0}; // the newest request; the worker skips older ones
    int m_answered = 0;           // the newest request answered or cancelled
};

} // namespace History
