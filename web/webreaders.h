#pragma once

#include "webdata.h"
#include "webrequest.h"

#include <QByteArray>
#include <QMap>
#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class RingReader;

// The web view's reads of the recordings (its history and events), made on a
// small pool of threads of their own so that a long read never holds up
// /api/live or the pushes on the server's thread. Each thread keeps its own
// read-only connection to each instrument's recording and follows the file by
// the recorder's rule: a file deleted or replaced under it is closed and the
// one at the path opened (again kRecordingReopenSeconds after a failed try).
namespace Web
{

// Threads reading at once. Two: one long history read never stops another
// client's events; more would only compete with the recorder for the disk
// and the two cores of the machines the tool runs on.
constexpr int kReaderThreads = 2;
// How long a stop waits for a read that SQLite was told to interrupt; past
// it, the thread is abandoned (it ends with the process).
constexpr int kReaderStopWaitMs = 1000;

// One read asked of the pool.
struct ReadJob {
    enum class Kind { History, Events };
    Kind kind = Kind::History;
    int address = 0;
    HistoryQuery range; // History
    bool csv = false;   // History: in the export's columns
    EventsQuery events; // Events
};

// Its answer: a status, a body and its own headers, as the server sends it.
struct ReadAnswer {
    int status = 200;
    QByteArray type = "application/json";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

// The reading itself, on whatever thread calls it, with `reader` opened on
// the instrument's recording; once `stop` is set (a stop interrupts the read)
// no answer is built of what was read.
ReadAnswer answerRead(RingReader &reader, const ReadJob &job, const ChartLook &look,
                      const std::atomic<bool> &stop);

class ReaderPool
{
public:
    // Threads reading `databases` (address -> recording file) that answer
    // through queued calls on `receiver`'s thread.
    ReaderPool(QMap<int, QString> databases, ChartLook look, QObject *receiver);
    // stop().
    ~ReaderPool();
    ReaderPool(const ReaderPool &) = delete;
    ReaderPool &operator=(const ReaderPool &) = delete;

    // Whether a thread waits for work now.
    bool hasIdleThread() const;
    // Reads `job` on a free thread; `done` runs on the receiver's thread with
    // the answer, unless the pool was stopped first. Only while hasIdleThread().
    void submit(const ReadJob &job, std::function<void(const ReadAnswer &)> done);
    // Ends the threads: reads in progress are interrupted, and a thread that
    // has not ended after kReaderStopWaitMs is left to end on its own.
    void stop();

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace Web
