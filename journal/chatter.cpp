#include "chatter.h"

#include "numbers.h"

namespace Journal
{

namespace
{

constexpr qint64 kWindowSeconds = kChatterWindow.count();
constexpr qint64 kHourSeconds = 3600;
constexpr qint64 kMemorySeconds =
    std::chrono::duration_cast<std::chrono::seconds>(kChatterMemory).count();

QString stateWord(bool on)
{
    return on ? QStringLiteral("ON") : QStringLiteral("OFF");
}

// "次/分钟" for one minute, "次/3分钟" for summaries held back and carried.
QString perMinutes(qint64 minutes)
{
    return minutes <= 1 ? QStringLiteral("次/分钟") : QStringLiteral("次/%1分钟").arg(minutes);
}

} // namespace

std::vector<Event> ChatterFilter::change(const StateChange &change, const QDateTime &when)
{
    PerState &s = m_states.at(change.index);
    s.on = change.on;
    s.value = change.value;
    if (change.starting)
        return {changeEvent(change, when)};
    if (s.chattering) {
        ++s.changesInPeriod;
        ++s.unsummarisedChanges;
        ++s.total;
        return {};
    }
    // Changes a minute or more before this one are not within its minute; a
    // change stamped after this one (the clock was set back) no longer counts.
    const QDateTime windowStart = when.addSecs(-kWindowSeconds);
    while (!s.recent.empty() && (s.recent.front() <= windowStart || s.recent.back() > when)) {
        if (s.recent.back() > when)
            s.recent.pop_back();
        else
            s.recent.pop_front();
    }
    s.recent.push_back(when);
    // A state that chattered within the hour journals from the budget, its
    // first changes of a burst included; when it is spent, the change is held
    // back and the state counted as chattering again.
    if (calmedLately(s, when) && !mayJournal(when)) {
        startChattering(s, when, 1);
        return {};
    }
    if (int(s.recent.size()) < kChatterChanges)
        return {changeEvent(change, when)};

    startChattering(s, when, 0);
    s.total = kChatterChanges;
    const QString detail = QStringLiteral("抖动 %1 %2 %3 %4")
                               .arg(kChatterChanges)
                               .arg(perMinutes(1), stateWord(s.on), singleText(s.value));
    return {Event{when, stateKind(change.index), stateName(change.index), detail}};
}

std::vector<Event> ChatterFilter::due(const QDateTime &now)
{
    std::vector<Event> events;
    for (int i = 0; i < kWatchedStates; ++i) {
        PerState &s = m_states[i];
        if (!s.chattering)
            continue;
        if (now < s.periodStart) // the clock was set back: the minute starts again
            s.periodStart = now;
        if (s.periodStart.secsTo(now) < kWindowSeconds)
            continue;
        if (s.changesInPeriod == 0) {
            // Calm waits for the budget, still chattering: a change meanwhile is counted.
            if (!mayJournal(now))
                continue;
            const QString detail = QStringLiteral("%1 %2 抖动结束 共 %3 次")
                                       .arg(stateWord(s.on), singleText(s.value))
                                       .arg(s.total);
            events.push_back(Event{now, stateKind(i), stateName(i), detail});
            s = PerState{};
            s.calmed = now;
            continue;
        }
        s.periodStart = now;
        s.changesInPeriod = 0;
        if (!mayJournal(now))
            continue;
        events.push_back(summary(i, s, now));
        s.unsummarised = now;
        s.unsummarisedChanges = 0;
    }
    return events;
}

std::vector<Event> ChatterFilter::reset(const QDateTime &now)
{
    std::vector<Event> events;
    for (int i = 0; i < kWatchedStates; ++i) {
        const bool chattering = m_states[i].chattering;
        if (chattering && m_states[i].unsummarisedChanges > 0)
            events.push_back(summary(i, m_states[i], now));
        const QDateTime calmed = chattering ? now : m_states[i].calmed;
        m_states[i] = PerState{};
        m_states[i].calmed = calmed;
    }
    return events;
}

Event ChatterFilter::summary(int index, const PerState &s, const QDateTime &at) const
{
    const qint64 minutes = (s.unsummarised.secsTo(at) + kWindowSeconds / 2) / kWindowSeconds;
    const QString detail = QStringLiteral("抖动 %1 %2 %3 %4")
                               .arg(s.unsummarisedChanges)
                               .arg(perMinutes(minutes), stateWord(s.on), singleText(s.value));
    return Event{at, stateKind(index), stateName(index), detail};
}

bool ChatterFilter::mayJournal(const QDateTime &now)
{
    const QDateTime hourAgo = now.addSecs(-kHourSeconds);
    while (!m_budgeted.empty() && (m_budgeted.front() <= hourAgo || m_budgeted.back() > now)) {
        if (m_budgeted.back() > now)
            m_budgeted.pop_back();
        else
            m_budgeted.pop_front();
    }
    if (int(m_budgeted.size()) >= kChatterEventsPerHour)
        return false;
    m_budgeted.push_back(now);
    return true;
}

bool ChatterFilter::calmedLately(const PerState &s, const QDateTime &now)
{
    // A clock set back before the calm counts as within the hour.
    return s.calmed.isValid() && now < s.calmed.addSecs(kMemorySeconds);
}

void ChatterFilter::startChattering(PerState &s, const QDateTime &when, int counted)
{
    s.chattering = true;
    s.recent.clear();
    s.periodStart = when;
    s.unsummarised = when;
    s.changesInPeriod = counted;
    s.unsummarisedChanges = counted;
    s.total = counted;
}

} // namespace Journal
