#include "linkspans.h"

#include "healthtexts.h"

#include <algorithm>

std::vector<NotLiveSpan> notLiveSpansOf(const std::vector<Event> &events, const QDateTime &from,
                                        const QDateTime &to)
{
    std::vector<NotLiveSpan> spans;
    for (const Event &event : events) {
        if (event.kind != EventKind::Link || event.when >= to)
            continue;
        const std::optional<LinkState> state = HealthTexts::linkStateOfEvent(event);
        if (!state)
            continue;
        const QDateTime at = std::max(event.when, from);
        const bool open = !spans.empty() && !spans.back().to;
        if (!linkLive(*state) && !open) {
            spans.push_back({at, std::nullopt});
        } else if (linkLive(*state) && open) {
            // A span that ended before the range leaves nothing.
            if (at > spans.back().from)
                spans.back().to = at;
            else
                spans.pop_back();
        }
    }
    if (!spans.empty() && !spans.back().to)
        spans.back().to = to;
    return spans;
}

void dropSpansEndedBefore(std::vector<NotLiveSpan> &spans, const QDateTime &oldest)
{
    spans.erase(
        std::remove_if(spans.begin(), spans.end(),
                       [&oldest](const NotLiveSpan &span) { return span.to && *span.to < oldest; }),
        spans.end());
}
