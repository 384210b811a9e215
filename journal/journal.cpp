#include "journal.h"

#include "clock.h"
#include "configevents.h"
#include "poller.h"
#include "shared.h"
#include "store.h"

#include <QStringList>
#include <QTimer>

#include <algorithm>

namespace
{

// The overview's baud-rate and parity options, by the codes "打开" stores.
const std::array<const char *, 3> kBaudTexts = {"4800", "9600", "19200"};
const std::array<const char *, 3> kParityTexts = {"无校验", "奇校验", "偶校验"};

QString codeText(const std::array<const char *, 3> &texts, qint32 code)
{
    return code >= 0 && code < qint32(texts.size()) ? QString::fromUtf8(texts[code])
                                                    : QString::number(code);
}

QString portSource()
{
    return QStringLiteral("端口 %1").arg(CommSettings[CommIndex::Port]);
}

const QString kTool = QStringLiteral("ZELMAR");

} // namespace

EventJournal::EventJournal(QObject *parent) : QObject(parent), m_flushTimer(new QTimer(this))
{
    m_flushTimer->setInterval(kFlushInterval);
    connect(m_flushTimer, &QTimer::timeout, this, [this] { m_log->flush(); });
    m_flushTimer->start();
}

void EventJournal::open(const QString &path)
{
    moveEventLog(m_log, path);
    if (!m_log->isOpen())
        m_log->open(path);
    m_marks.clear();
    // The newest stored events only, read down the ring without a scan of it all.
    const QDateTime since = SystemClock::now().addDays(-kMarkDays);
    std::vector<Event> newest = m_log->newestEvents(kMarksKept);
    for (auto it = newest.rbegin(); it != newest.rend(); ++it)
        if (it->when >= since)
            keepMark(*it);
}

void EventJournal::close()
{
    m_log->close();
}

void EventJournal::toolStarted()
{
    record(Event{SystemClock::now(), EventKind::ToolStart, kTool, QStringLiteral("启动")});
}

void EventJournal::toolEnded()
{
    record(Event{SystemClock::now(), EventKind::ToolEnd, kTool, QStringLiteral("退出")});
}

void EventJournal::linkOpened()
{
    m_watching = true;
    m_known = {};
    for (const Event &event : m_chatter.reset(SystemClock::now()))
        record(event);
    const QStringList settings{QStringLiteral("打开"),
                               codeText(kBaudTexts, CommSettings[CommIndex::BaudCode]),
                               codeText(kParityTexts, CommSettings[CommIndex::ParityCode]),
                               QStringLiteral("地址%1").arg(CommSettings[CommIndex::Address]),
                               CommSettings[CommIndex::OpenResult] == 0 ? QStringLiteral("成功")
                                                                        : QStringLiteral("未成功")};
    record(Event{SystemClock::now(), EventKind::Link, portSource(), settings.join(u' ')});
}

void EventJournal::linkClosed()
{
    m_watching = false;
    for (const Event &event : m_chatter.reset(SystemClock::now()))
        record(event);
    record(Event{SystemClock::now(), EventKind::Link, portSource(), QStringLiteral("关闭")});
}

void EventJournal::pollDelivered(const PollDelivery &delivery)
{
    Journal::StateSnapshot polled;
    for (int i = 0; i < Journal::kDiscreteInputs; ++i) {
        polled.states[i] = InputStates[i] != 0;
        polled.delivered[i] = i < 8 ? delivery.inputsLow : delivery.inputsHigh;
    }
    for (int i = 0; i < Journal::kRelays; ++i) {
        polled.states[Journal::kDiscreteInputs + i] = CoilStates[i] != 0;
        polled.delivered[Journal::kDiscreteInputs + i] = delivery.coils;
    }
    std::array<float, Journal::kChannels> values{};
    for (int i = 0; i < Journal::kChannels; ++i)
        values[i] = ProcessValues[i];
    observe(polled, values);
}

void EventJournal::observe(const Journal::StateSnapshot &polled,
                           const std::array<float, Journal::kChannels> &values)
{
    if (!m_watching)
        return;
    const std::vector<Journal::StateChange> changes =
        Journal::detectChanges(m_known, polled, values);
    const QDateTime now = SystemClock::now();
    const bool alarmsMoved = m_alarms.observe(polled, m_known, now);
    m_known = Journal::mergeKnown(m_known, polled);
    for (const Journal::StateChange &change : changes)
        for (const Event &event : m_chatter.change(change, now))
            record(event);
    for (const Event &event : m_chatter.due(now))
        record(event);
    if (alarmsMoved)
        emit alarmsChanged();
}

int EventJournal::acknowledgeAlarms()
{
    const std::vector<Journal::AcknowledgedAlarm> covered = m_alarms.acknowledgeAll();
    if (covered.empty())
        return 0;
    record(Journal::acknowledgementEvent(covered, SystemClock::now()));
    emit alarmsChanged();
    return int(covered.size());
}

void EventJournal::configWritten(int reg, qint32 value, WriteOutcome outcome,
                                 std::optional<qint32> shownBefore)
{
    record(Journal::configWriteEvent(reg, shownBefore, value, outcome, SystemClock::now()));
}

void EventJournal::record(const Event &event)
{
    m_log->appendEvent(event);
    keepMark(event);
    emit recorded(event);
}

void EventJournal::keepMark(const Event &event)
{
    if (!Journal::isMarkEvent(event))
        return;
    // Events arrive in time order, except after the clock was set back: those
    // are put in their place so that a range search stays a binary search.
    const auto at =
        std::upper_bound(m_marks.begin(), m_marks.end(), event.when,
                         [](const QDateTime &when, const Event &e) { return when < e.when; });
    m_marks.insert(at, event);
    const QDateTime oldest = m_marks.back().when.addDays(-kMarkDays);
    while (!m_marks.empty() && (int(m_marks.size()) > kMarksKept || m_marks.front().when < oldest))
        m_marks.pop_front();
}

std::vector<Event> EventJournal::marksBetween(const QDateTime &from, const QDateTime &to) const
{
    const auto first =
        std::lower_bound(m_marks.begin(), m_marks.end(), from,
                         [](const Event &e, const QDateTime &when) { return e.when < when; });
    std::vector<Event> marks;
    for (auto it = first; it != m_marks.end() && it->when <= to; ++it)
        marks.push_back(*it);
    return marks;
}

EventJournal *eventJournal()
{
    static EventJournal *instance = new EventJournal;
    return instance;
}

void startJournal()
{
    EventJournal *journal = eventJournal();
    journal->open(databasePath());
    journal->toolStarted();
}
