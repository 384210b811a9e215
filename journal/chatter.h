#pragma once

#include "events.h"
#include "inputchanges.h"

#include <QDateTime>

#include <array>
#include <chrono>
#include <deque>
#include <vector>

namespace Journal
{

// A state is chattering when it changes this often within kChatterWindow: the
// fifth change of a state that was off is its third "ON", and three alarms in a
// minute is what alarm management (ISA-18.2, EEMUA 191) calls chattering. Four
// changes a minute are still journaled one by one, as any alarm that comes and
// goes twice.
constexpr int kChatterChanges = 5;
constexpr std::chrono::seconds kChatterWindow{60};
// Events of chattering states, all states together, per hour at most: the
// summaries, every "抖动结束", and all a state journals within kChatterMemory
// after it calmed (its single changes and its next onset). Beside that budget a
// state journals on its own only its first burst after an hour's calm: at most
// kChatterChanges - 1 changes and one onset an hour. So however the states
// chatter, steadily or in bursts between quiet minutes, they write at most
// kChatterEventsPerHour + kWatchedStates * kChatterChanges = 160 events an
// hour (3840 a day, 26 days of the 100000-event ring), and at most the budget
// in an hour after their first bursts: the link and configuration events of
// the weeks before stay in the ring. What the budget holds back is counted
// into the state's next summary or its total.
constexpr int kChatterEventsPerHour = 60;
// How long a state that calmed is remembered as one that chattered.
constexpr std::chrono::hours kChatterMemory{1};

/*
 * Chattering of the watched states (discrete inputs and relays), one state
 * machine per state:
 *
 *     Normal --change, fewer than kChatterChanges within kChatterWindow--> Normal
 *            (the change journaled as before) [ChatterFilter::change]
 *     Normal --the kChatterChanges-th change within kChatterWindow--> Chattering
 *            (one "抖动" event with the count) [ChatterFilter::change]
 *     Normal, within kChatterMemory after it calmed --change, the hour's budget
 *            spent--> Chattering (held back, counted) [ChatterFilter::change]
 *     Chattering --change--> Chattering (counted, not journaled) [ChatterFilter::change]
 *     Chattering --a minute after the onset or the last summary, with changes
 *            in it--> Chattering (one summary: the count and the state now) [ChatterFilter::due]
 *     Chattering --a whole such minute without a change, within the budget-->
 *            Normal (one "抖动结束" event: the state it settled in and the
 *            total; its calm remembered for kChatterMemory) [ChatterFilter::due]
 *     any --reset() ("打开", "关闭")--> Normal (a chattering state's counted
 *            changes given as a last summary, and its calm remembered) [ChatterFilter::reset]
 *
 * The alarms' acknowledgement sees every poll, chattering or not.
 */
class ChatterFilter
{
public:
    // The events to journal for `change` at `when`: the change itself, a
    // "抖动" event at the onset, or nothing while the state chatters.
    std::vector<Event> change(const StateChange &change, const QDateTime &when);
    // The summaries and "抖动结束" events due at `now`, in state order.
    std::vector<Event> due(const QDateTime &now);
    // Every state back to Normal; a chattering state's changes not yet
    // summarised are given as a last summary at `now`.
    std::vector<Event> reset(const QDateTime &now);

    bool isChattering(int index) const { return m_states.at(index).chattering; }

private:
    struct PerState {
        std::deque<QDateTime> recent; // changes within kChatterWindow, oldest first
        bool chattering = false;
        QDateTime periodStart;   // start of the summary minute running now
        QDateTime unsummarised;  // start of the changes not yet in a summary
        int changesInPeriod = 0; // changes in the summary minute running now
        int unsummarisedChanges = 0;
        qint64 total = 0; // changes since the onset
        bool on = false;
        float value = 0;
        QDateTime calmed; // when it last stopped chattering; invalid: never
    };
    Event summary(int index, const PerState &s, const QDateTime &at) const;
    bool mayJournal(const QDateTime &now);
    static bool calmedLately(const PerState &s, const QDateTime &now);
    static void startChattering(PerState &s, const QDateTime &when, int counted);

    std::array<PerState, kWatchedStates> m_states{};
    std::deque<QDateTime> m_budgeted; // events of the budget journaled within the last hour
};

} // namespace Journal
