#pragma once

#include "answerrule.h"
#include "linkhealth.h"

struct PollDelivery;

// Whether the values a table shows were read from the instrument. A table is
// fresh from its first successful read until its reads failed in two polls in
// a row, by the rule that tells an imperfect line from a silent instrument:
// one lost read leaves the last values standing as a reading, but zeros that
// no read ever replaced, or values an exception reply keeps from being read
// again, are never shown as one, whether or not the instrument answers.
class TableFreshness
{
public:
    static constexpr int kFailedReadsForStale = AnswerRule::kFailedPollsForSilence;

    // The port was opened anew: nothing has been read yet.
    void reset();
    // One read of the table ended: `ok` when it delivered the table.
    void read(bool ok);
    // Whether the table holds what the instrument said.
    bool fresh() const { return m_everRead && m_failedInRow < kFailedReadsForStale; }

private:
    bool m_everRead = false;
    int m_failedInRow = 0;
};

// Whether the values of `table` are marked stale with the link in `state`:
// while the link is not live, or the table not fresh.
bool staleReading(LinkState state, const TableFreshness &table);

// The freshness of each table one instrument's polls read: its values (input
// registers), the two halves of its discrete inputs (each read apart) and its relays.
struct PolledTables {
    TableFreshness values;
    TableFreshness inputsLow;  // discrete inputs 1..8
    TableFreshness inputsHigh; // discrete inputs 9..16
    TableFreshness relays;

    // The poller's report of one poll.
    void read(const PollDelivery &delivery);
    // The port was opened anew: nothing has been read yet.
    void reset();
};
