#pragma once

#include "store.h"

#include <QMetaType>
#include <QString>
#include <QtGlobal>

#include <chrono>

// What a window shows about the historian: the state, how many recorded rows
// the server still lacks, and why the server cannot be used.
struct HistorianStatus {
    enum class State {
        Off,         // no historian configured
        Invalid,     // the configured address cannot be used; recording goes on locally
        Connecting,  // first attempt, or a retry after a wait
        Upgrading,   // the server's tables are of an earlier version: being upgraded
        Forwarding,  // every recorded row is on the server
        Behind,      // connected, rowsBehind rows still to send
        Unreachable, // the last attempt failed; waiting to try again
        // The server will not take this tool's rows (its tables not ours or
        // not upgradable with this login, the station name another tool's);
        // recording goes on locally, and it is asked again now and then.
        Refused,
    };
    State state = State::Off;
    qint64 rowsBehind = 0;
    QString reason; // Invalid and Unreachable: why
};
Q_DECLARE_METATYPE(HistorianStatus)

// A historian state as data: its code, its Chinese and its English words
// (with %1 for the rows behind, where it has them). One row per state, in
// historianStateWords(); Off has no words: nothing is shown.
struct HistorianStateWords {
    HistorianStatus::State state;
    const char *code;
    const char *chinese;
    const char *english;
};
// The row of `state`.
const HistorianStateWords &historianStateWords(HistorianStatus::State state);
// The words of `status` in one language's column: the state's word, the rows
// behind in its place, and ": " and the reason after it when there is one to
// give (Invalid, Unreachable, Refused); empty when Off.
QString historianStateSentence(const HistorianStatus &status,
                               const char *HistorianStateWords::*words, const QString &reason);

// The status as one line: "forwarding", "behind by N rows", "server
// unreachable: reason", "refused by the server: reason", "historian address invalid: reason",
// "connecting", or empty when no historian is configured.
QString historianStatusText(const HistorianStatus &status);

// The forwarder's waits between attempts to reach the server: the first, then
// doubled up to the ceiling. However long the server was away, the next attempt
// comes at most the ceiling after the last one failed, and a failed attempt
// takes at most the login time-out (5 s): rows flow again within 10 s of the
// server's return.
constexpr std::chrono::milliseconds kFirstRetry{1000};
constexpr std::chrono::milliseconds kRetryCeiling{4000};

// The wait before the next attempt after `previous` (zero before the first
// failure): `first`, then doubled, never more than `ceiling`.
std::chrono::milliseconds nextRetryDelay(std::chrono::milliseconds previous,
                                         std::chrono::milliseconds first = kFirstRetry,
                                         std::chrono::milliseconds ceiling = kRetryCeiling);

// Whether the recorder's log says anything when the status goes from `logged`
// (what the log said last) to `now`: a new state, or a new reason for being
// unreachable or invalid. The attempt of each retry ("connecting" after
// "unreachable") and a retry that fails for the same reason are no change.
bool historianChangeWorthALine(const HistorianStatus &logged, const HistorianStatus &now);

// The ids of one ring still to send: `count` ids after `afterId`, counted
// round a ring of ids 1 .. ringIds (the recording rings' 65500 unless given).
struct RingSpan {
    qint32 afterId = 0;
    qint32 count = 0;
};

// What the forwarder sends next in one ring, from the id of the last row it
// sent (0: none yet) and the ring's newest id:
//  - nothing sent yet: every row the ring holds, the oldest first (from
//    newest + 1 when `ringFull`, else from id 1);
//  - the last row sent still as it was (`lastIntact`): the ids after it up to newest;
//  - the last row sent overwritten (the ring came round before it was sent
//    on): the whole ring, from its oldest row, and the caller reports the
//    rows lost between.
RingSpan pendingSpan(qint32 lastSentId, bool lastIntact, qint32 newestId, bool ringFull,
                     qint32 ringIds = kRecordRingIds);

// The ids of a batch of at most `limit` rows from the start of `span`: one
// range (afterId, lastId], or two when it crosses the ring's last id (the second from 0).
struct IdRange {
    qint32 afterId = 0;
    qint32 lastId = 0;
};
struct BatchRanges {
    IdRange first;
    IdRange second; // empty (lastId 0) unless the batch wraps
};
BatchRanges batchRanges(const RingSpan &span, qint32 limit, qint32 ringIds = kRecordRingIds);
