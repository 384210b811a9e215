#include "recorder.h"

#include "clock.h"
#include "daytime.h"
#include "numbers.h"
#include "shared.h"

#include <QScopeGuard>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

qint64 secondsSinceRecording(double date, double time, double lastDate, double lastTime)
{
    const double seconds = std::fabs((date - lastDate) + (time - lastTime)) * kSecondsPerDay;
    return static_cast<qint64>(roundHalfEven(seconds));
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

const std::deque<RowToRecord> &Recorder::waiting(RecordTable table) const
{
    return table == RecordTable::PvData ? m_pvBacklog.rows : m_lpvBacklog.rows;
}

qint64 Recorder::lostRows(RecordTable table) const
{
    return table == RecordTable::PvData ? m_pvBacklog.lost.rows : m_lpvBacklog.lost.rows;
}

QString recordingLossDetail(LossCause cause, const RecordingLoss &loss)
{
    const auto span = [](const RingLoss &ring) {
        if (ring.rows == 0)
            return QString();
        const auto text = [](double serial) { return momentText(dateTimeOf(serial)); };
        return QStringLiteral(" %1 - %2").arg(text(ring.first), text(ring.last));
    };
    const QString why = cause == LossCause::Overflow
                            ? QStringLiteral("记录未能写入，超出内存等待上限")
                            : QStringLiteral("记录未能写入，停止时数据库不接受写入");
    return QStringLiteral("%1: 丢失 1 秒记录 %2 行%3, 10 秒记录 %4 行%5")
        .arg(why)
        .arg(loss.pv.rows)
        .arg(span(loss.pv))
        .arg(loss.lpv.rows)
        .arg(span(loss.lpv));
}

QString recordingLossText(const RecordingLoss &loss)
{
    const auto span = [](const RingLoss &ring) {
        if (ring.rows == 0)
            return QString();
        const auto text = [](double serial) { return momentText(dateTimeOf(serial)); };
        return QStringLiteral(" (%1 - %2)").arg(text(ring.first), text(ring.last));
    };
    return QStringLiteral("%1 rows of the 1-second ring%2 and %3 of the 10-second ring%4")
        .arg(loss.pv.rows)
        .arg(span(loss.pv))
        .arg(loss.lpv.rows)
        .arg(span(loss.lpv));
}

void Recorder::tick()
{
    // One reading of the clock for the whole tick: a row never pairs the old
    // day's time with the new day's date at midnight.
    const QDateTime now = SystemClock::now();
    const auto tellOutcome = qScopeGuard([this] {
        // What the file did not take this tick waits, within the bound.
        keepWithinBound(m_pvBacklog, kPvBacklog);
        keepWithinBound(m_lpvBacklog, kLpvBacklog);
        emit ticked();
    });

    // Rows are taken whether or not the file takes them now: those it does
    // not take wait for it.
    const double date = daySerial(now.date());
    const double time = dayFraction(now.time());
    // Both rings' rows of one tick share one quality and the offset of the
    // clock's reading, which places them on the time line unambiguously.
    const RowQuality quality = m_qualitySource ? m_qualitySource() : RowQuality::NotConnected;
    const qint32 utcOffset = now.offsetFromUtc();
    takeIfDue(m_pvBacklog, ringSampleSeconds(RecordTable::PvData), date, time, quality, utcOffset,
              PvLastDate, PvLastTime);
    takeIfDue(m_lpvBacklog, ringSampleSeconds(RecordTable::LpvWdjl), date, time, quality, utcOffset,
              LpvLastDate, LpvLastTime);

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
    writeWaiting(RecordTable::PvData, m_pvBacklog, m_pvCounter, PvLastDate, PvLastTime, PvRecorded);
    writeWaiting(RecordTable::LpvWdjl, m_lpvBacklog, m_lpvCounter, LpvLastDate, LpvLastTime,
                 LpvRecorded);
    noteLoss(now);
    writeScaling();
}

void Recorder::takeIfDue(Backlog &backlog, qint64 intervalSeconds, double date, double time,
                         RowQuality quality, qint32 utcOffset, double lastDate, double lastTime)
{
    const double newestDate = backlog.rows.empty() ? lastDate : backlog.rows.back().date;
    const double newestTime = backlog.rows.empty() ? lastTime : backlog.rows.back().time;
    if (secondsSinceRecording(date, time, newestDate, newestTime) < intervalSeconds)
        return;
    RowToRecord row;
    row.date = date;
    row.time = time;
    for (int i = 0; i < kRecordedValueCount; ++i)
        row.values[i] = ProcessValues[i];
    row.quality = quality;
    row.utcOffset = utcOffset;
    backlog.rows.push_back(row);
}

void Recorder::keepWithinBound(Backlog &backlog, int bound)
{
    // The newest hour is kept: the oldest waiting rows give way.
    while (int(backlog.rows.size()) > bound) {
        const RowToRecord &oldest = backlog.rows.front();
        if (backlog.lost.rows == 0)
            backlog.lost.first = oldest.date + oldest.time;
        backlog.lost.last = oldest.date + oldest.time;
        ++backlog.lost.rows;
        backlog.rows.pop_front();
    }
}

void Recorder::writeWaiting(RecordTable table, Backlog &backlog, qint32 &counter, double &lastDate,
                            double &lastTime, bool &recordedFlag)
{
    while (!backlog.rows.empty()) {
        const int count = std::min<int>(int(backlog.rows.size()), kRowsPerWrite);
        // The rows are contiguous in a deque only piece by piece: copied out.
        const std::vector<RowToRecord> rows(backlog.rows.begin(), backlog.rows.begin() + count);
        const qint32 id = nextRingId(counter);
        // A failed recording leaves sl_void, the last date and time and the
        // flag as they were: the rows keep waiting, and the next tick tries
        // the same ids again instead of naming rows that still hold an older
        // round's data.
        if (!m_store.recordRows(table, id, rows.data(), count))
            return;
        qint32 last = id;
        for (int k = 1; k < count; ++k)
            last = nextRingId(last);
        counter = last;
        lastDate = rows.back().date;
        lastTime = rows.back().time;
        if (OverviewOpen)
            recordedFlag = true;
        backlog.rows.erase(backlog.rows.begin(), backlog.rows.begin() + count);
        if (count == kRowsPerWrite)
            return; // the rest on the next ticks
    }
}

void Recorder::noteLoss(const QDateTime &now)
{
    if (!m_events->pending().empty())
        m_events->flush();
    if (m_pvBacklog.lost.rows == 0 && m_lpvBacklog.lost.rows == 0)
        return;
    if (!m_pvBacklog.rows.empty() || !m_lpvBacklog.rows.empty())
        return; // still writing what survived: the loss is told after it
    const QString detail =
        recordingLossDetail(LossCause::Overflow, {m_pvBacklog.lost, m_lpvBacklog.lost});
    // Written, or waiting in the events' own queue for the next flush.
    eventsHere().appendEvent(Event{now, EventKind::Recording, m_store.path(), detail});
    m_pvBacklog.lost = {};
    m_lpvBacklog.lost = {};
}

EventLog &Recorder::eventsHere()
{
    if (!m_events->isOpen() || m_events->path() != m_store.path()) {
        moveEventLog(m_events, m_store.path());
        if (!m_events->isOpen())
            m_events->open(m_store.path());
    }
    return *m_events;
}

void Recorder::noteScaling(const KnownScaling &known, const QDateTime &when)
{
    m_scalingBacklog.push_back({known, when});
    while (int(m_scalingBacklog.size()) > kScalingBacklog)
        m_scalingBacklog.pop_front();
}

void Recorder::noteOperatorUnit(int channel, const QString &unit, const QDateTime &when)
{
    m_unitBacklog.push_back({channel, unit, when});
    while (int(m_unitBacklog.size()) > kScalingBacklog)
        m_unitBacklog.pop_front();
}

void Recorder::writeScaling()
{
    if (m_scalingBacklog.empty() && m_unitBacklog.empty())
        return;
    const QSqlDatabase db = m_store.database();
    // A file whose tables of these names are someone else's keeps its rows
    // recorded; its scaling is not, and the readings wait for another file.
    if (!prepareScalingTables(db))
        return;
    while (!m_unitBacklog.empty()) {
        const UnitNamed &named = m_unitBacklog.front();
        if (!writeOperatorUnit(db, named.channel, named.unit, named.when))
            return;
        eventsHere().appendEvent(
            Event{named.when, EventKind::Scaling, channelName(named.channel),
                  named.unit.isEmpty()
                      ? QStringLiteral("CH%1 单位名称已清除").arg(named.channel + 1)
                      : QStringLiteral("CH%1 单位名称 %2").arg(named.channel + 1).arg(named.unit)});
        m_unitBacklog.pop_front();
    }
    while (!m_scalingBacklog.empty()) {
        const std::optional<QVector<ScalingEntry>> stored = readScalingEntries(db);
        if (!stored)
            return;
        const KnownScaling before = latestScaling(*stored);
        const ScalingReadingAt &reading = m_scalingBacklog.front();
        const QVector<ScalingEntry> changes = scalingChanges(before, reading.known, reading.when);
        if (!appendScalingEntries(db, changes))
            return;
        for (const ScalingEntry &entry : changes)
            eventsHere().appendEvent(Event{reading.when, EventKind::Scaling,
                                           channelName(entry.channel),
                                           scalingChangeText(entry, before[entry.channel])});
        m_scalingBacklog.pop_front();
    }
}

bool Recorder::writeWaitingNow()
{
    const QDateTime now = SystemClock::now();
    // The stop does not wait out the reopening interval: it is the last chance.
    if (!m_store.isOpen())
        m_store.follow(m_store.path(), now);
    if (m_store.keepOpen(now)) {
        if (const std::optional<SlVoid> counters = m_store.readCounters()) {
            m_pvCounter = ringCounter(counters->newestPv);
            m_lpvCounter = ringCounter(counters->newestLpv);
            // All of it, not a thousand rows a tick: there is no next tick.
            for (std::size_t before = 0; before != m_pvBacklog.rows.size();) {
                before = m_pvBacklog.rows.size();
                writeWaiting(RecordTable::PvData, m_pvBacklog, m_pvCounter, PvLastDate, PvLastTime,
                             PvRecorded);
            }
            for (std::size_t before = 0; before != m_lpvBacklog.rows.size();) {
                before = m_lpvBacklog.rows.size();
                writeWaiting(RecordTable::LpvWdjl, m_lpvBacklog, m_lpvCounter, LpvLastDate,
                             LpvLastTime, LpvRecorded);
            }
            noteLoss(now);
        } else {
            m_store.keepOpen(now);
        }
    }
    return m_pvBacklog.rows.empty() && m_lpvBacklog.rows.empty();
}

RecordingLoss Recorder::giveUpWaiting()
{
    keepWithinBound(m_pvBacklog, 0);
    keepWithinBound(m_lpvBacklog, 0);
    return {std::exchange(m_pvBacklog.lost, {}), std::exchange(m_lpvBacklog.lost, {})};
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
