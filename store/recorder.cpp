#include "recorder.h"

#include "clock.h"
#include "daytime.h"
#include "numbers.h"
#include "shared.h"

#include <QScopeGuard>

#include <cmath>

qint64 secondsSinceRecording(double date, double time, double lastDate, double lastTime)
{
    const double seconds = std::fabs((date - lastDate) + (time - lastTime)) * kSecondsPerDay;
    return static_cast<qint64>(roundHalfEven(seconds));
}

qint32 ringCounter(qint32 counter)
{
    return (counter >= kRecordRingIds || counter < 0) ? 0 : counter;
}

Recorder::Recorder(QObject *parent, const QString &connectionName)
    : QObject(parent), m_store(connectionName)
{
    m_timer1.setInterval(kTimer1Interval);
    connect(&m_timer1, &QTimer::timeout, this, &Recorder::tick);
}

Recorder::~Recorder() = default;

void Recorder::load(const QString &path)
{
    m_store.follow(path, SystemClock::now());
    m_timer1.start();
}

void Recorder::setQualitySource(std::function<RowQuality()> source)
{
    m_qualitySource = std::move(source);
}

qint64 Recorder::okitime() const
{
    const QDateTime now = SystemClock::now();
    return secondsSinceRecording(daySerial(now.date()), dayFraction(now.time()), PvLastDate,
                                 PvLastTime);
}

qint64 Recorder::Rec1_time() const
{
    const QDateTime now = SystemClock::now();
    return secondsSinceRecording(daySerial(now.date()), dayFraction(now.time()), LpvLastDate,
                                 LpvLastTime);
}

void Recorder::tick()
{
    // One reading of the clock for the whole tick: a row never pairs the old
    // day's time with the new day's date at midnight.
    const QDateTime now = SystemClock::now();
    const auto tellOutcome = qScopeGuard([this] { emit ticked(); });
    if (!m_store.keepOpen(now))
        return;

    // Read on every tick, so that counters changed by another program count.
    const std::optional<SlVoid> counters = m_store.readCounters();
    if (!counters) {
        // A file that no longer answers is closed now and opened afresh after the wait.
        m_store.keepOpen(now);
        return;
    }
    m_pvCounter = ringCounter(counters->newestPv);
    m_lpvCounter = ringCounter(counters->newestLpv);

    const double date = daySerial(now.date());
    const double time = dayFraction(now.time());
    // Both rings' rows of one tick share one quality and the offset of the
    // clock's reading, which places them on the time line unambiguously.
    const RowQuality quality = m_qualitySource ? m_qualitySource() : RowQuality::NotConnected;
    const qint32 utcOffset = now.offsetFromUtc();
    recordIfDue(RecordTable::PvData, kPvIntervalSeconds, date, time, quality, utcOffset,
                m_pvCounter, PvLastDate, PvLastTime, PvRecorded);
    recordIfDue(RecordTable::LpvWdjl, kLpvIntervalSeconds, date, time, quality, utcOffset,
                m_lpvCounter, LpvLastDate, LpvLastTime, LpvRecorded);
}

void Recorder::recordIfDue(RecordTable table, qint64 intervalSeconds, double date, double time,
                           RowQuality quality, qint32 utcOffset, qint32 &counter, double &lastDate,
                           double &lastTime, bool &recordedFlag)
{
    if (secondsSinceRecording(date, time, lastDate, lastTime) < intervalSeconds)
        return;
    std::array<float, kRecordedValueCount> values{};
    for (int i = 0; i < kRecordedValueCount; ++i)
        values[i] = ProcessValues[i];
    const qint32 id = counter + 1;
    // A failed recording leaves sl_void, the last date and time and the flag
    // as they were: the recording stays due, and the next tick tries the same
    // id again instead of naming a row that still holds an older round's data.
    if (!m_store.recordRow(table, id, date, time, values, quality, utcOffset))
        return;
    counter = id;
    lastDate = date;
    lastTime = time;
    if (OverviewOpen)
        recordedFlag = true;
}

Recorder *mscom()
{
    // Lives until the process ends, like the hidden window it stands for.
    static Recorder *const instance = [] {
        auto *recorder = new Recorder;
        recorder->load();
        return recorder;
    }();
    return instance;
}
