#pragma once

#include "events.h"

#include <QDateTime>
#include <QString>
#include <QtGlobal>

#include <array>
#include <bitset>
#include <vector>

// Change detection over the instrument's watched states: the 16 discrete inputs
// (per channel alarm, open circuit and short circuit; alarms 1 to 4) and the 4
// relays. Plain functions over two snapshots, so that the poller's observer, the
// tests and the benchmark all run the same code.

namespace Journal
{

constexpr int kDiscreteInputs = 16;
constexpr int kRelays = 4;
constexpr int kWatchedStates = kDiscreteInputs + kRelays; // relays follow the inputs
constexpr int kChannels = 4;
constexpr int kStatesPerChannel = 3; // alarm, open circuit, short circuit
constexpr int kFirstAlarmOutput = kChannels * kStatesPerChannel; // inputs 13..16

// The states one poll delivered. Element i of `states` is discrete input i+1
// (0..15) or relay i-15 (16..19); only the elements set in `delivered` came
// from the instrument at this poll, the others are unknown.
struct StateSnapshot {
    std::array<quint8, kWatchedStates> states{};
    std::bitset<kWatchedStates> delivered;
};

// One change of one watched state, or its value at the start (starting).
struct StateChange {
    int index = 0; // 0..19, as in StateSnapshot
    bool on = false;
    bool starting = false; // the state found by the first poll that delivered it
    float value = 0;       // the channel's value at that poll
};

// What the journal knows of each watched state: the last delivered one, or
// nothing yet (before the first good poll after "打开").
using KnownStates = StateSnapshot;

// The changes from `known` to the states `polled` delivered, in index order. A
// state known before gives an event only when it differs; a state not known
// before gives a starting event when it is on and nothing when it is off; a
// state the poll did not deliver gives nothing. `values` are the four channel
// values of that poll.
std::vector<StateChange> detectChanges(const KnownStates &known, const StateSnapshot &polled,
                                       const std::array<float, kChannels> &values);

// `known` after a poll: every delivered state taken, the others kept.
KnownStates mergeKnown(const KnownStates &known, const StateSnapshot &polled);

// The kind an event of state `index` is journaled as.
EventKind stateKind(int index);
// The channel (1..4) a state belongs to; alarm output n and relay n go with channel n.
int stateChannel(int index);
// The name of a state as the operator knows it: the status box texts
// ("通道一报警", "1有报警") and "继电器1".."继电器4".
QString stateName(int index);
// The index of a state name; -1 for a name that is none.
int stateIndexOf(const QString &name);

// The journal event of a change at `when`: the state's kind, its name as the
// source, and "ON"/"OFF", the value and for a starting state "起始" as the detail.
Event changeEvent(const StateChange &change, const QDateTime &when);

} // namespace Journal
