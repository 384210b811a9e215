#pragma once

#include "events.h"
#include "inputchanges.h"

#include <QDateTime>

#include <array>
#include <bitset>
#include <vector>

namespace Journal
{

/*
 * Acknowledgement of the instrument's alarms: each channel's alarm, open
 * circuit and short circuit, and the alarm outputs (discrete inputs 1..16),
 * one entry per alarm however often it changes.
 *
 *     Normal --comes on [observe]--> Unacknowledged
 *     Unacknowledged --goes off [observe]--> Returned (still unacknowledged)
 *     Returned --comes on again [observe]--> Unacknowledged (the same entry)
 *     Unacknowledged --[acknowledgeAll]--> Acknowledged
 *     Returned --[acknowledgeAll]--> Normal
 *     Acknowledged --goes off [observe]--> Normal
 *
 * A state the instrument did not deliver changes nothing (a silent instrument
 * gives no false "off"). An alarm found on by the first poll after the start
 * is unacknowledged like any other: nothing is remembered between starts.
 */
enum class AlarmState { Normal, Unacknowledged, Returned, Acknowledged };

constexpr int kAcknowledgedAlarms = kDiscreteInputs; // the relays are no alarms

// One alarm an acknowledgement covered.
struct AcknowledgedAlarm {
    int index = 0;           // 0..15, as in StateSnapshot
    QDateTime since;         // when it came on for the entry acknowledged
    bool sinceStart = false; // found on by the first poll: it came on earlier
    bool returned = false;   // it went off before the acknowledgement
};

class AlarmAcknowledgement
{
public:
    // One delivered state of alarm `index` (0..15) at `when`; `starting` when
    // it is the first delivery since the link was opened. True when the alarm's
    // state changed.
    bool observe(int index, bool on, const QDateTime &when, bool starting);
    // Every alarm `polled` delivered; `knownBefore` tells which states were
    // known before this poll. True when any alarm's state changed.
    bool observe(const StateSnapshot &polled, const KnownStates &knownBefore,
                 const QDateTime &when);
    // The operator acknowledges every unacknowledged alarm: the alarms
    // covered, in index order (none when nothing was unacknowledged).
    std::vector<AcknowledgedAlarm> acknowledgeAll();

    AlarmState state(int index) const;
    bool isUnacknowledged(int index) const;
    // The unacknowledged alarms (on or returned), bit i for alarm i.
    std::bitset<kAcknowledgedAlarms> unacknowledged() const;
    int unacknowledgedCount() const { return int(unacknowledged().count()); }

private:
    struct Entry {
        AlarmState state = AlarmState::Normal;
        QDateTime since;
        bool sinceStart = false;
    };
    std::array<Entry, kAcknowledgedAlarms> m_entries{};
};

// The journal event of an acknowledgement: "确认" and, per alarm, its name
// and the time from its "ON" to the acknowledgement ("≥" when it was found on
// at the start), "已恢复" when it had gone off by then.
Event acknowledgementEvent(const std::vector<AcknowledgedAlarm> &alarms, const QDateTime &when);
// The journal event of the audible signal silenced (`muted`) or sounding again.
Event muteEvent(bool muted, const QDateTime &when);

} // namespace Journal
