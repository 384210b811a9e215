#include "webconnection.h"

#include <QList>

namespace Web
{

namespace
{

// "HTTP/1.0" and the carriage return before the line's end.
constexpr qsizetype kVersionTail = 9;

bool hasToken(const QByteArray &list, const QByteArray &token)
{
    for (const QByteArray &part : list.split(','))
        if (part.trimmed().toLower() == token)
            return true;
    return false;
}

} // namespace

Framing framingOf(bool getOrHead, const QByteArray &contentLength,
                  const QByteArray &transferEncoding, qsizetype bodySize)
{
    if (!contentLength.isEmpty() && !transferEncoding.isEmpty())
        return Framing::Ambiguous;
    if (getOrHead &&
        (bodySize > 0 || !transferEncoding.isEmpty() || contentLength.trimmed().toLongLong() != 0))
        return Framing::BodyNotExpected;
    return Framing::Clear;
}

bool closesAfterAnswer(bool http10, const QByteArray &connection)
{
    if (hasToken(connection, "close"))
        return true;
    return http10 && !hasToken(connection, "keep-alive");
}

void RequestLines::feed(QByteArrayView bytes)
{
    for (const char c : bytes) {
        if (c != '\n') {
            ++m_lineLength;
            m_tail.append(c);
            if (m_tail.size() > kVersionTail)
                m_tail.remove(0, m_tail.size() - kVersionTail);
            continue;
        }
        const bool empty = m_lineLength == 0 || (m_lineLength == 1 && m_tail == "\r");
        if (m_atRequest && !empty) {
            const QByteArray line = m_tail.endsWith('\r') ? m_tail.chopped(1) : m_tail;
            m_http10 = line.endsWith("HTTP/1.0");
            m_atRequest = false;
        } else if (empty && !m_atRequest) {
            m_atRequest = true;
        }
        m_tail.clear();
        m_lineLength = 0;
    }
}

Verdict connectionVerdict(const ConnectionTimes &times, qint64 now)
{
    if (times.following)
        return Verdict::Keep;
    if (times.unsentSince)
        return now - *times.unsentSince > kUndrainedMs ? Verdict::Undrained : Verdict::Keep;
    if (times.answerPending)
        return Verdict::Keep;
    // The first request counts from the connection, each later one from its first byte.
    const std::optional<qint64> asked = times.lastAnswered ? times.requestStarted : times.connected;
    if (asked)
        return now - *asked > kRequestDeadlineMs ? Verdict::TooSlow : Verdict::Keep;
    return now - *times.lastAnswered > kIdleKeepAliveMs ? Verdict::Idle : Verdict::Keep;
}

bool reclaimable(const ConnectionTimes &times, qint64 now)
{
    return !times.following && !times.answerPending && !times.unsentSince &&
           !times.requestStarted &&
           now - times.lastAnswered.value_or(times.connected) >= kReclaimableAfterMs;
}

bool RefusalPace::refused(qint64 now)
{
    if (now - m_windowStart > kRefusalWindowMs) {
        m_windowStart = now;
        m_count = 0;
    }
    if (++m_count < kRefusalBurst)
        return false;
    m_count = 0;
    m_windowStart = now;
    return true;
}

} // namespace Web
