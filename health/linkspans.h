#pragma once

#include "events.h"

#include <QDateTime>

#include <optional>
#include <vector>

// A stretch of time in which the link was not live; `to` is empty while it lasts.
struct NotLiveSpan {
    QDateTime from;
    std::optional<QDateTime> to;
};

// The spans in which the link was not live between `from` and `to`, read from
// stored link events (oldest first; events of other kinds and link events
// recording no state, by code or words, are passed over). A change to any
// state but live opens a span, a change to live closes it. An event before
// `from` gives the state at `from`: the last link event before the range
// belongs in `events` for a span that began earlier. Spans are cut to `from`
// .. `to`; one still open ends at `to`; events at or after `to` are not read.
std::vector<NotLiveSpan> notLiveSpansOf(const std::vector<Event> &events, const QDateTime &from,
                                        const QDateTime &to);

// Drops from `spans` (oldest first) those that ended before `oldest`: a span
// that ended exactly at `oldest` stays, one still open always does.
void dropSpansEndedBefore(std::vector<NotLiveSpan> &spans, const QDateTime &oldest);
