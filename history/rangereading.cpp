#include "rangereading.h"

#include <QMetaObject>

#include <memory>

namespace History
{

namespace
{
// The reader of the worker thread: created, used and closed there, as a Qt
// SQL connection must be.
class ReadingWorker : public QObject
{
public:
    explicit ReadingWorker(const QString &connectionName) : m_reader(connectionName) {}
    RingReader &reader() { return m_reader; }

private:
    RingReader m_reader;
};

QString nextConnectionName()
{
    static std::atomic<int> count{0};
    return QStringLiteral("history-reading-%1").arg(++count);
}
} // namespace

LocalRange readLocalRange(RingReader &reader, const QString &path, const QDateTime &from,
                          const QDateTime &to)
{
    LocalRange range;
    // The axis runs with real time from the range's start, where its places
    // are the local times; rows and events stand at their instants on it.
    range.axis = TimeAxis(QTimeZone::systemTimeZone(), from);
    range.from = range.axis.positionOf(from);
    range.to = range.axis.positionOf(to);
    range.opened = reader.isOpen() || reader.open(path) == RingReader::OpenResult::Opened;
    if (!range.opened) {
        range.error = reader.lastError();
        return range;
    }
    const auto [low, high] = range.axis.localBounds(range.from, range.to);
    range.ring = chooseRing(reader, low, high);
    range.read =
        readPlacedRange(reader, range.ring, range.axis, range.from, range.to, range.places);
    range.events = readChartEvents(reader, range.from, range.to, range.places, range.axis);
    // A file recorded before the scaling was read has no entries: its rows stay raw.
    range.scaling = scaleRows(range.read.rows, readerScaling(reader));
    return range;
}

RangeReading::RangeReading(const QString &databasePath, QObject *parent)
    : QObject(parent), m_databasePath(databasePath)
{
    m_thread.setObjectName(QStringLiteral("history-reading"));
    m_worker = new ReadingWorker(nextConnectionName());
    m_worker->moveToThread(&m_thread);
    // Deleted on the thread as it ends, so that its connection goes there too.
    connect(&m_thread, &QThread::finished, m_worker, &QObject::deleteLater);
    m_thread.start();
}

RangeReading::~RangeReading()
{
    cancel();
    m_thread.quit();
    m_thread.wait();
}

void RangeReading::ask(const QDateTime &from, const QDateTime &to)
{
    const int request = ++m_latest;
    auto *worker = static_cast<ReadingWorker *>(m_worker);
    QMetaObject::invokeMethod(
        worker,
        [this, worker, request, from, to] {
            if (request != m_latest.load())
                return; // overtaken before it began
            LocalRange range = readLocalRange(worker->reader(), m_databasePath, from, to);
            range.request = request;
            QMetaObject::invokeMethod(
                this, [this, range] { deliver(range); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void RangeReading::cancel()
{
    m_answered = ++m_latest;
}

void RangeReading::deliver(const LocalRange &range)
{
    if (range.request != m_latest.load())
        return;
    m_answered = range.request;
    emit answered(range);
}

} // namespace History
