#include "webreaders.h"

#include "csvexport.h"

#include "daytime.h"
#include "events.h"
#include "historyrange.h"
#include "recordingfile.h"
#include "ringquery.h"

#include <QDateTime>
#include <QMetaObject>
#include <QSqlDatabase>

#include <sqlite3.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace Web
{

namespace
{

// The readers run below the recorder and the server: a history read may take
// its time, a recording may not.
constexpr int kReaderNice = 5;
// SQLite asks whether to go on every this many of its steps: often enough
// that a stop interrupts a read within milliseconds.
constexpr int kStepsBetweenStopChecks = 1000;

ReadAnswer refusal(int status, const QString &reason)
{
    return {status, "application/json", errorJson(reason), {}};
}

int stopRequested(void *flag)
{
    return static_cast<std::atomic<bool> *>(flag)->load() ? 1 : 0;
}

// One instrument's recording as one thread reads it, following the file at
// its path:
//   open   --the path names another file (deleted, replaced)--> closed
//   closed --first read, or kRecordingReopenSeconds after the last try,
//            the file opens--> open
struct FollowedRecording {
    std::unique_ptr<RingReader> reader;
    std::optional<FileIdentity> file;
    std::optional<qint64> lastAttempt; // seconds since the epoch
};

RingReader *current(FollowedRecording &followed, const QString &name, const QString &path,
                    std::atomic<bool> &stop, QString &error)
{
    if (followed.reader && followed.reader->isOpen() && !(fileIdentity(path) == followed.file))
        followed.reader->close();
    if (followed.reader && followed.reader->isOpen())
        return followed.reader.get();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    if (followed.lastAttempt && now - *followed.lastAttempt < kRecordingReopenSeconds) {
        error = QStringLiteral("the recording file is opened again within %1 s")
                    .arg(kRecordingReopenSeconds);
        return nullptr;
    }
    followed.lastAttempt = now;
    if (!followed.reader)
        followed.reader = std::make_unique<RingReader>(name);
    // Taken before the opening: a file replaced in between is noticed on the next read.
    followed.file = fileIdentity(path);
    if (followed.reader->open(path) != RingReader::OpenResult::Opened) {
        error = followed.reader->lastError();
        return nullptr;
    }
    if (sqlite3 *handle = sqliteConnection(QSqlDatabase::database(name, false)))
        sqlite3_progress_handler(handle, kStepsBetweenStopChecks, stopRequested, &stop);
    return followed.reader.get();
}

} // namespace

ReadAnswer answerRead(RingReader &reader, const ReadJob &job, const ChartLook &look,
                      const std::atomic<bool> &stop)
{
    if (job.kind == ReadJob::Kind::History) {
        const History::RangeRead read =
            History::readRange(reader, job.range.ring, serialOf(job.range.from.toLocalTime()),
                               serialOf(job.range.to.toLocalTime()), History::RowOrder::Recording);
        if (!read.ok)
            return refusal(503, read.error);
        if (stop)
            return refusal(503, QStringLiteral("the web view is stopping"));
        if (job.csv)
            return {
                200,
                "text/csv; charset=utf-8",
                historyCsv(read.rows, History::readerScaling(reader)),
                {{"Content-Disposition",
                  "attachment; filename=\"" + csvFileName(job.address, job.range).toUtf8() + '"'}}};
        return {200,
                "application/json",
                historyJson(read.rows, job.range.ring, look, History::readerScaling(reader)),
                {}};
    }
    QString error;
    qint32 newest = 0;
    const std::vector<NumberedEvent> rows =
        readEventsAfter(reader.connectionName(), job.events.since,
                        job.events.since ? kMostEventsPerAnswer : kPageEvents, newest, &error);
    if (!error.isEmpty())
        return refusal(503, error);
    return {200, "application/json", eventsJson(rows, newest), {}};
}

struct ReaderPool::Shared {
    struct Task {
        ReadJob job;
        std::function<void(const ReadAnswer &)> done;
    };

    QMap<int, QString> databases;
    ChartLook look;
    std::atomic<bool> stop{false};
    std::mutex mutex;
    std::condition_variable work;
    std::condition_variable ended;
    std::deque<Task> tasks;
    QObject *receiver = nullptr; // nullptr once stopped: answers are dropped
    int idle = 0;
    int running = 0;
    bool abandoned = false; // stop() gave up waiting
    std::vector<std::thread> threads;

    void run(int index);
};

void ReaderPool::Shared::run(int index)
{
    setpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)), kReaderNice);
    std::map<int, FollowedRecording> recordings;
    std::unique_lock lock(mutex);
    for (;;) {
        ++idle;
        work.wait(lock, [this] { return stop || !tasks.empty(); });
        --idle;
        if (stop)
            break;
        Task task = std::move(tasks.front());
        tasks.pop_front();
        lock.unlock();
        const int address = task.job.address;
        QString error;
        RingReader *reader = current(
            recordings[address],
            QStringLiteral("web-reader%1-a%2-%3").arg(index).arg(address).arg(quintptr(this)),
            databases.value(address), stop, error);
        const ReadAnswer answer =
            reader ? answerRead(*reader, task.job, look, stop) : refusal(503, error);
        lock.lock();
        if (receiver && !stop)
            QMetaObject::invokeMethod(
                receiver, [done = std::move(task.done), answer] { done(answer); },
                Qt::QueuedConnection);
    }
    const bool left = abandoned;
    lock.unlock();
    if (left) {
        // The process is ending without waiting for this thread: its
        // connections are left as they are rather than closed while the
        // process's own end takes Qt SQL's list of connections down.
        new std::map<int, FollowedRecording>(std::move(recordings));
    } else {
        // The connections end on the thread that made them.
        recordings.clear();
    }
    lock.lock();
    --running;
    ended.notify_all();
}

ReaderPool::ReaderPool(QMap<int, QString> databases, ChartLook look, QObject *receiver)
    : m_shared(std::make_shared<Shared>())
{
    m_shared->databases = std::move(databases);
    m_shared->look = std::move(look);
    m_shared->receiver = receiver;
    m_shared->running = kReaderThreads;
    for (int i = 0; i < kReaderThreads; ++i)
        m_shared->threads.emplace_back([shared = m_shared, i] { shared->run(i); });
}

ReaderPool::~ReaderPool()
{
    stop();
}

bool ReaderPool::hasIdleThread() const
{
    const std::lock_guard lock(m_shared->mutex);
    return m_shared->idle > int(m_shared->tasks.size());
}

void ReaderPool::submit(const ReadJob &job, std::function<void(const ReadAnswer &)> done)
{
    const std::lock_guard lock(m_shared->mutex);
    m_shared->tasks.push_back({job, std::move(done)});
    m_shared->work.notify_one();
}

void ReaderPool::stop()
{
    std::unique_lock lock(m_shared->mutex);
    if (m_shared->threads.empty())
        return;
    m_shared->stop = true;
    m_shared->receiver = nullptr;
    m_shared->tasks.clear();
    m_shared->work.notify_all();
    const bool allEnded =
        m_shared->ended.wait_for(lock, std::chrono::milliseconds(kReaderStopWaitMs),
                                 [this] { return m_shared->running == 0; });
    m_shared->abandoned = !allEnded;
    std::vector<std::thread> threads = std::move(m_shared->threads);
    m_shared->threads.clear();
    lock.unlock();
    for (std::thread &thread : threads) {
        if (allEnded)
            thread.join();
        else
            thread.detach(); // holds its share of the pool's state until it ends
    }
}

} // namespace Web
