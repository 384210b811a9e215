#pragma once

#include "events.h"
#include "historianstatus.h"
#include "linkhealth.h"
#include "recordingstate.h"

#include <QColor>
#include <QDateTime>
#include <QString>

#include <optional>

// The texts and colours with which the windows show the link's and the
// recorder's health. Plain functions: the windows only put them on screen.
namespace HealthTexts
{

constexpr QRgb kLiveColour = qRgb(0, 160, 0);       // green: live
constexpr QRgb kNoAnswerColour = qRgb(230, 160, 0); // amber: no answer
constexpr QRgb kFaultColour = qRgb(210, 0, 0);      // red: port lost, open failed
constexpr QRgb kIdleColour = qRgb(150, 150, 150);   // grey: not opened, opening
constexpr QRgb kNotRecordingColour = kFaultColour;  // recording stopped
constexpr qint64 kResumedShownSeconds = 60;         // "记录已恢复" stands this long

// The state in words: "未打开", "正在打开", "在线", "无应答", "端口丢失", "打开失败".
QString linkStateText(LinkState state);
// The state's colour: green live, amber no answer, red lost or failed, grey otherwise.
QColor linkStateColour(LinkState state);
// The port and its settings: "端口 1  9600 无校验  地址 1  /dev/ttyUSB0".
QString linkSettingsText(const LinkSettings &settings);
// The device the link keeps to and the node it leads to now: "设备 <path>",
// "设备 <stable name> → /dev/ttyUSB1" for an adapter's stable name, or
// "设备 <path>（不存在）" while it is away; empty before any "打开".
QString deviceText(const QString &path);
// How long ago `then` was at `now`: "12 秒前", "5 分钟前", "3 小时前".
QString ageText(const QDateTime &then, const QDateTime &now);
// What the strip says beside the state: nothing while live or not opened;
// otherwise the age of the last good reply ("最后应答 12 秒前" or "从未应答")
// and the reason.
QString linkDetailText(LinkState state, const QString &reason,
                       const std::optional<QDateTime> &lastGood, const QDateTime &now);

// What the strip says beside "在线": the replies against the requests since
// "打开", "应答 162 / 请求 164", so that the operator sees them climb.
QString liveCountsText(const LinkCounters &counters);

// The recording state: "记录中  60 行/分钟", "记录已恢复  3 行/分钟" in the
// minute after a fault, "未记录: database read-only", or "记录状态未知"
// before the recorder's first tick. In the first minute after the start the
// rows of the seconds counted so far: "记录中  12 行/12 秒".
QString recordingText(const RecordingStatus &status, bool known, const QDateTime &now);
// Its colour: green while recording, red while not, grey when not known.
QColor recordingColour(const RecordingStatus &status, bool known);
// "最新记录 2026-03-14 12:00:05", or "无记录" before this process recorded a row.
QString newestRowText(const std::optional<QDateTime> &newestRow);

// The historian's state: "历史库 转发中", "历史库 落后 120 行", "历史库 正在连接",
// "历史库 服务器不可达: <reason>", "历史库 地址无效: <reason>"; empty when no
// historian is configured.
QString historianText(const HistorianStatus &status);
// Its colour: green forwarding, amber behind or connecting, red unreachable or invalid.
QColor historianColour(const HistorianStatus &status);

// The detail of a link event: "无应答: no reply from address 1 in 94 ms", "在线".
QString linkEventDetail(LinkState state, const QString &reason);
// The state a link event's detail names (as linkEventDetail wrote it); nullopt
// for a detail of no state.
std::optional<LinkState> linkStateOfDetail(const QString &detail);
// The state a link event records: by its code where it carries one (a code
// this build does not know: none), else by its detail's words, as events of
// earlier versions were written.
std::optional<LinkState> linkStateOfEvent(const Event &event);
// The source of a link event: "端口 1 /dev/ttyUSB0".
QString linkEventSource(const LinkSettings &settings);
// The detail of a recording event: "记录中" (or "记录已恢复"), "未记录: <reason>".
QString recordingEventDetail(const RecordingStatus &status, bool resumed);
// The counters of the details view, two lines: "请求 16  应答 9  失败轮询 5  超时 4
// 校验/帧错误 3  异常应答 0  其他 0  重连 0" and "应答时间 最近 12.3 ms  平均 11.0 ms  最大 15.2
// ms".
QString countersText(const LinkCounters &counters);
// One line of the details view: "2026-03-14 12:00:05  链路  端口 1 ...  无应答: ...".
QString eventLine(const Event &event);

} // namespace HealthTexts
