#include "historianstatus.h"

#include "store.h"

#include <algorithm>

QString historianStatusText(const HistorianStatus &status)
{
    switch (status.state) {
    case HistorianStatus::State::Off:
        return {};
    case HistorianStatus::State::Invalid:
        return QStringLiteral("historian address invalid: ") + status.reason;
    case HistorianStatus::State::Connecting:
        return QStringLiteral("connecting");
    case HistorianStatus::State::Forwarding:
        return QStringLiteral("forwarding");
    case HistorianStatus::State::Behind:
        return QStringLiteral("behind by %1 rows").arg(status.rowsBehind);
    case HistorianStatus::State::Unreachable:
        return QStringLiteral("server unreachable: ") + status.reason;
    case HistorianStatus::State::Refused:
        return QStringLiteral("refused by the server: ") + status.reason;
    }
    return {};
}

bool historianChangeWorthALine(const HistorianStatus &logged, const HistorianStatus &now)
{
    using State = HistorianStatus::State;
    if (logged.state == State::Unreachable && now.state == State::Connecting)
        return false;
    if (logged.state != now.state)
        return true;
    return (now.state == State::Unreachable || now.state == State::Invalid) &&
           logged.reason != now.reason;
}

std::chrono::milliseconds nextRetryDelay(std::chrono::milliseconds previous,
                                         std::chrono::milliseconds first,
                                         std::chrono::milliseconds ceiling)
{
    if (previous.count() <= 0)
        return std::min(first, ceiling);
    return std::min(previous * 2, ceiling);
}

RingSpan pendingSpan(qint32 lastSentId, bool lastIntact, qint32 newestId, bool ringFull,
                     qint32 ringIds)
{
    if (newestId <= 0 || newestId > ringIds)
        return {};
    if (lastSentId > 0 && lastIntact)
        return {lastSentId, (newestId - lastSentId + ringIds) % ringIds};
    if (ringFull)
        return {newestId, ringIds};
    return {0, newestId};
}

BatchRanges batchRanges(const RingSpan &span, qint32 limit, qint32 ringIds)
{
    BatchRanges ranges;
    const qint32 count = std::min(span.count, limit);
    if (count <= 0)
        return ranges;
    const qint32 after = span.afterId % ringIds;
    const qint32 end = after + count;
    ranges.first = {after, std::min(end, ringIds)};
    if (end > ringIds)
        ranges.second = {0, end - ringIds};
    return ranges;
}
