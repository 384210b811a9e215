#include "healthtexts.h"

#include "daytime.h"
#include <QFileInfo>

#include <algorithm>
#include <array>

namespace HealthTexts
{

namespace
{
const std::array<const char *, 3> kBauds{"4800", "9600", "19200"};
const std::array<const char *, 3> kParities{"无校验", "奇校验", "偶校验"};

QString codeText(const std::array<const char *, 3> &names, qint32 code)
{
    return code >= 0 && code < qint32(names.size()) ? QString::fromUtf8(names[code])
                                                    : QStringLiteral("?");
}
} // namespace

QString linkStateText(LinkState state)
{
    return QString::fromUtf8(linkStateWords(state).chinese);
}

QColor linkStateColour(LinkState state)
{
    switch (state) {
    case LinkState::Live:
        return QColor(kLiveColour);
    case LinkState::NoAnswer:
        return QColor(kNoAnswerColour);
    case LinkState::PortLost:
    case LinkState::OpenFailed:
        return QColor(kFaultColour);
    case LinkState::NotOpened:
    case LinkState::Opening:
        break;
    }
    return QColor(kIdleColour);
}

QString linkSettingsText(const LinkSettings &settings)
{
    // The device path last: it is the part a narrow field may cut short.
    return QStringLiteral("端口 %1  %2 %3  地址 %4  %5")
        .arg(settings.port)
        .arg(codeText(kBauds, settings.baudCode), codeText(kParities, settings.parityCode))
        .arg(settings.address)
        .arg(settings.path)
        .trimmed();
}

QString deviceText(const QString &path)
{
    if (path.isEmpty())
        return {};
    const QFileInfo device(path);
    const QString node = device.canonicalFilePath();
    if (node.isEmpty())
        return QStringLiteral("设备 %1（不存在）").arg(path);
    if (!device.isSymLink())
        return QStringLiteral("设备 %1").arg(path);
    return QStringLiteral("设备 %1 → %2").arg(path, node);
}

QString ageText(const QDateTime &then, const QDateTime &now)
{
    const qint64 seconds = qMax<qint64>(0, then.secsTo(now));
    if (seconds < kSecondsPerMinute)
        return QStringLiteral("%1 秒前").arg(seconds);
    if (seconds < kSecondsPerHour)
        return QStringLiteral("%1 分钟前").arg(seconds / kSecondsPerMinute);
    return QStringLiteral("%1 小时前").arg(seconds / kSecondsPerHour);
}

QString linkDetailText(LinkState state, const QString &reason,
                       const std::optional<QDateTime> &lastGood, const QDateTime &now)
{
    if (state == LinkState::Live || state == LinkState::NotOpened)
        return {};
    const QString age = lastGood ? QStringLiteral("最后应答 ") + ageText(*lastGood, now)
                                 : QStringLiteral("从未应答");
    if (state == LinkState::Opening || reason.isEmpty())
        return age;
    // The age first: the reason may be long (a device path) and is cut short.
    return age + QStringLiteral("  ") + reason;
}

QString liveCountsText(const LinkCounters &counters)
{
    return QStringLiteral("应答 %1 / 请求 %2").arg(counters.goodReplies).arg(counters.requests);
}

QString recordingText(const RecordingStatus &status, bool known, const QDateTime &now)
{
    if (!known)
        return QStringLiteral("记录状态未知");
    if (!status.recording)
        return QStringLiteral("未记录: ") + status.reason;
    const bool resumed =
        status.resumedAt && qAbs(status.resumedAt->secsTo(now)) < kResumedShownSeconds;
    // In the first minute of counting (after every start) the rows of the
    // seconds counted so far, the first second included, not a rate of a
    // minute that has not yet passed.
    const qint64 counted = status.countingSince ? status.countingSince->secsTo(now)
                                                : RecordingWatch::kRowWindowSeconds;
    const QString rate =
        counted >= 0 && counted < RecordingWatch::kRowWindowSeconds
            ? QStringLiteral("%1 行/%2 秒").arg(status.rowsLastMinute).arg(counted + 1)
            : QStringLiteral("%1 行/分钟").arg(status.rowsLastMinute);
    return (resumed ? QStringLiteral("记录已恢复  ") : QStringLiteral("记录中  ")) + rate;
}

QColor recordingColour(const RecordingStatus &status, bool known)
{
    if (!known)
        return QColor(kIdleColour);
    return QColor(status.recording ? kLiveColour : kNotRecordingColour);
}

QString newestRowText(const std::optional<QDateTime> &newestRow)
{
    if (!newestRow)
        return QStringLiteral("无记录");
    return QStringLiteral("最新记录 ") + momentText(*newestRow);
}

QString linkEventDetail(LinkState state, const QString &reason)
{
    return reason.isEmpty() ? linkStateText(state)
                            : linkStateText(state) + QStringLiteral(": ") + reason;
}

std::optional<LinkState> linkStateOfDetail(const QString &detail)
{
    for (const LinkStateWords &row : linkStateTable()) {
        const QString name = QString::fromUtf8(row.chinese);
        if (detail == name || detail.startsWith(name + QStringLiteral(": ")))
            return row.state;
    }
    return std::nullopt;
}

std::optional<LinkState> linkStateOfEvent(const Event &event)
{
    if (!event.state.isEmpty())
        return linkStateOfCode(event.state);
    return linkStateOfDetail(event.detail);
}

QString linkEventSource(const LinkSettings &settings)
{
    return QStringLiteral("端口 %1 %2").arg(settings.port).arg(settings.path);
}

QString recordingEventDetail(const RecordingStatus &status, bool resumed)
{
    if (!status.recording)
        return QStringLiteral("未记录: ") + status.reason;
    return resumed ? QStringLiteral("记录已恢复") : QStringLiteral("记录中");
}

QString countersText(const LinkCounters &c)
{
    return QStringLiteral("请求 %1  应答 %2  失败轮询 %3  超时 %4  校验/帧错误 %5  异常应答 %6  "
                          "其他 %7  重连 %8\n"
                          "应答时间 最近 %9 ms  平均 %10 ms  最大 %11 ms")
        .arg(c.requests)
        .arg(c.goodReplies)
        .arg(c.failedPolls)
        .arg(c.timeouts)
        .arg(c.damaged)
        .arg(c.exceptions)
        .arg(c.otherFailures)
        .arg(c.reopens)
        .arg(c.lastReplyMs, 0, 'f', 1)
        .arg(c.meanReplyMs, 0, 'f', 1)
        .arg(c.maxReplyMs, 0, 'f', 1);
}

QString historianText(const HistorianStatus &status)
{
    if (status.state == HistorianStatus::State::Off)
        return {};
    // The reason on one line: the strip's field is one line high.
    return QStringLiteral("历史库 ") + historianStateSentence(status, &HistorianStateWords::chinese,
                                                              status.reason.simplified());
}

QColor historianColour(const HistorianStatus &status)
{
    switch (status.state) {
    case HistorianStatus::State::Forwarding:
        return QColor(kLiveColour);
    case HistorianStatus::State::Behind:
    case HistorianStatus::State::Connecting:
    case HistorianStatus::State::Upgrading:
        return QColor(kNoAnswerColour);
    case HistorianStatus::State::Invalid:
    case HistorianStatus::State::Unreachable:
    case HistorianStatus::State::Refused:
        return QColor(kFaultColour);
    case HistorianStatus::State::Off:
        break;
    }
    return QColor(kIdleColour);
}

QString eventLine(const Event &event)
{
    QString kind;
    switch (event.kind) {
    case EventKind::Link:
        kind = QStringLiteral("链路");
        break;
    case EventKind::Recording:
        kind = QStringLiteral("记录");
        break;
    case EventKind::Historian:
        kind = QStringLiteral("历史库");
        break;
    default:
        kind = eventKindName(event.kind);
        break;
    }
    return QStringLiteral("%1  %2  %3  %4")
        .arg(momentText(event.when), kind, event.source, event.detail);
}

} // namespace HealthTexts
