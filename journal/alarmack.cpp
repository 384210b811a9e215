#include "alarmack.h"

#include "journalrows.h"

#include <QStringList>

namespace Journal
{

namespace
{
const QString kPanel = QStringLiteral("ALM");
} // namespace

bool AlarmAcknowledgement::observe(int index, bool on, const QDateTime &when, bool starting)
{
    if (index < 0 || index >= kAcknowledgedAlarms)
        return false;
    Entry &entry = m_entries[std::size_t(index)];
    const AlarmState before = entry.state;
    switch (before) {
    case AlarmState::Normal:
        if (on)
            entry = Entry{AlarmState::Unacknowledged, when, starting};
        break;
    case AlarmState::Unacknowledged:
        if (!on)
            entry.state = AlarmState::Returned;
        break;
    case AlarmState::Returned:
        // Chattering stays one entry, timed from its first "ON".
        if (on)
            entry.state = AlarmState::Unacknowledged;
        break;
    case AlarmState::Acknowledged:
        if (!on)
            entry.state = AlarmState::Normal;
        break;
    }
    return entry.state != before;
}

bool AlarmAcknowledgement::observe(const StateSnapshot &polled, const KnownStates &knownBefore,
                                   const QDateTime &when)
{
    bool changed = false;
    for (int i = 0; i < kAcknowledgedAlarms; ++i) {
        if (polled.delivered[std::size_t(i)])
            changed |= observe(i, polled.states[std::size_t(i)] != 0, when,
                               !knownBefore.delivered[std::size_t(i)]);
    }
    return changed;
}

std::vector<AcknowledgedAlarm> AlarmAcknowledgement::acknowledgeAll()
{
    std::vector<AcknowledgedAlarm> covered;
    for (int i = 0; i < kAcknowledgedAlarms; ++i) {
        Entry &entry = m_entries[std::size_t(i)];
        if (entry.state == AlarmState::Unacknowledged) {
            covered.push_back({i, entry.since, entry.sinceStart, false});
            entry.state = AlarmState::Acknowledged;
        } else if (entry.state == AlarmState::Returned) {
            covered.push_back({i, entry.since, entry.sinceStart, true});
            entry.state = AlarmState::Normal;
        }
    }
    return covered;
}

AlarmState AlarmAcknowledgement::state(int index) const
{
    if (index < 0 || index >= kAcknowledgedAlarms)
        return AlarmState::Normal;
    return m_entries[std::size_t(index)].state;
}

bool AlarmAcknowledgement::isUnacknowledged(int index) const
{
    const AlarmState s = state(index);
    return s == AlarmState::Unacknowledged || s == AlarmState::Returned;
}

std::bitset<kAcknowledgedAlarms> AlarmAcknowledgement::unacknowledged() const
{
    std::bitset<kAcknowledgedAlarms> bits;
    for (int i = 0; i < kAcknowledgedAlarms; ++i)
        bits[std::size_t(i)] = isUnacknowledged(i);
    return bits;
}

Event acknowledgementEvent(const std::vector<AcknowledgedAlarm> &alarms, const QDateTime &when)
{
    QStringList parts;
    for (const AcknowledgedAlarm &alarm : alarms) {
        QString part = stateName(alarm.index) + u' ' +
                       durationText(alarm.since.secsTo(when), alarm.sinceStart);
        if (alarm.returned)
            part += QStringLiteral(" 已恢复");
        parts << part;
    }
    return Event{when, EventKind::Operator, kPanel,
                 QStringLiteral("确认 ") + parts.join(QStringLiteral(", "))};
}

Event muteEvent(bool muted, const QDateTime &when)
{
    return Event{when, EventKind::Operator, kPanel,
                 muted ? QStringLiteral("静音") : QStringLiteral("取消静音")};
}

} // namespace Journal
