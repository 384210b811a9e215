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
// Summaries of all chattering states together, per hour at most: however many
// states chatter, their summaries take at most 1440 of the 100000-event ring
// a day (beside one onset and one calm event per episode), where two alarms
// flipping every 0.55 s wrote over 300000 before; the link and configuration
// events of the weeks before stay in the ring. A summary held back is carried
// into the next one of its state.
constexpr int kChatterSummariesPerHour = 60;

/*
 * Chattering of the watched states (discrete inputs and relays), one state
 * machine per state:
 *
 *     Normal --change, fewer than kChatterChanges within kChatterWindow--> Normal
 *            (the change journaled as before) [ChatterFilter::change]
 *     Normal --the kChatterChanges-th change within kChatterWindow--> Chattering
 *            (one "抖动" event with the count) [ChatterFilter::change]
 *     Chattering --change--> Chattering (counted, not journaled) [ChatterFilter::change]
 *     Chattering --a minute after the onset or the last summary, with changes
 *            in it--> Chattering (one summary: the count and the state now) [ChatterFilter::due]
 *     Chattering --a whole such minute without a change--> Normal (one
 *            "抖动结束" event: the state it settled in and the total) [ChatterFilter::due]
 *     any --reset() ("打开", "关闭")--> Normal (a chattering state's counted
 *            changes given as a last summary) [ChatterFilter::reset]
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
    };
    Event summary(int index, const PerState &s, const QDateTime &at) const;
    bool mayJournalSummary(const QDateTime &now);

    std::array<PerState, kWatchedStates> m_states{};
    std::deque<QDateTime> m_summaries; // journaled within the last hour
};

} // namespace Journal
