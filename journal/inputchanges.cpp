#include "inputchanges.h"

#include "inputnames.h"
#include "numbers.h"

#include <QStringList>

namespace Journal
{

static_assert(kDiscreteInputs == kDiscreteInputCount);

std::vector<StateChange> detectChanges(const KnownStates &known, const StateSnapshot &polled,
                                       const std::array<float, kChannels> &values)
{
    std::vector<StateChange> changes;
    if (polled.delivered.none())
        return changes;
    for (int i = 0; i < kWatchedStates; ++i) {
        if (!polled.delivered[i])
            continue;
        const bool on = polled.states[i] != 0;
        const bool wasKnown = known.delivered[i];
        if (wasKnown ? on == (known.states[i] != 0) : !on)
            continue;
        changes.push_back({i, on, !wasKnown, values[stateChannel(i) - 1]});
    }
    return changes;
}

KnownStates mergeKnown(const KnownStates &known, const StateSnapshot &polled)
{
    KnownStates merged = known;
    for (int i = 0; i < kWatchedStates; ++i) {
        if (polled.delivered[i])
            merged.states[i] = polled.states[i] != 0;
    }
    merged.delivered |= polled.delivered;
    return merged;
}

EventKind stateKind(int index)
{
    if (index >= kDiscreteInputs)
        return EventKind::Relay;
    if (index >= kFirstAlarmOutput)
        return EventKind::AlarmOutput;
    switch (index % kStatesPerChannel) {
    case 1:
        return EventKind::OpenCircuit;
    case 2:
        return EventKind::ShortCircuit;
    default:
        return EventKind::Alarm;
    }
}

int stateChannel(int index)
{
    if (index >= kDiscreteInputs)
        return qBound(1, index - kDiscreteInputs + 1, kChannels);
    if (index >= kFirstAlarmOutput)
        return index - kFirstAlarmOutput + 1;
    return qBound(1, index / kStatesPerChannel + 1, kChannels);
}

QString stateName(int index)
{
    if (index >= 0 && index < kDiscreteInputs)
        return QString::fromUtf8(kDiscreteInputNames[index]);
    if (index >= kDiscreteInputs && index < kWatchedStates)
        return QStringLiteral("继电器%1").arg(index - kDiscreteInputs + 1);
    return {};
}

int stateIndexOf(const QString &name)
{
    for (int i = 0; i < kWatchedStates; ++i)
        if (stateName(i) == name)
            return i;
    return -1;
}

Event changeEvent(const StateChange &change, const QDateTime &when)
{
    QStringList detail{change.on ? QStringLiteral("ON") : QStringLiteral("OFF"),
                       singleText(change.value)};
    if (change.starting)
        detail << QStringLiteral("起始");
    return Event{when, stateKind(change.index), stateName(change.index), detail.join(u' ')};
}

} // namespace Journal
