#include "historianstatus.h"

#include "store.h"

#include <algorithm>
#include <array>

const HistorianStateWords &historianStateWords(HistorianStatus::State state)
{
    using State = HistorianStatus::State;
    static const std::array<HistorianStateWords, 8> table{{
        {State::Off, "off", "", ""},
        {State::Invalid, "invalid", "地址无效", "historian address invalid"},
        {State::Connecting, "connecting", "正在连接", "connecting"},
        {State::Upgrading, "upgrading", "正在升级", "upgrading the server's tables"},
        {State::Forwarding, "forwarding", "转发中", "forwarding"},
        {State::Behind, "behind", "落后 %1 行", "behind by %1 rows"},
        {State::Unreachable, "unreachable", "服务器不可达", "server unreachable"},
        {State::Refused, "refused", "被拒绝", "refused by the server"},
    }};
    for (const HistorianStateWords &row : table)
        if (row.state == state)
            return row;
    return table.front();
}

QString historianStateSentence(const HistorianStatus &status,
                               const char *HistorianStateWords::*words, const QString &reason)
{
    using State = HistorianStatus::State;
    if (status.state == State::Off)
        return {};
    QString sentence = QString::fromUtf8(historianStateWords(status.state).*words);
    if (status.state == State::Behind)
        sentence = sentence.arg(status.rowsBehind);
    if (status.state == State::Invalid || status.state == State::Unreachable ||
        status.state == State::Refused)
        sentence += QStringLiteral(": ") + reason;
    return sentence;
}

QString historianStatusText(const HistorianStatus &status)
{
    return historianStateSentence(status, &HistorianStateWords::english, status.reason);
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
