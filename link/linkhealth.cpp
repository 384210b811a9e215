#include "linkhealth.h"

#include "clock.h"
#include "linktimeouts.h"

#include <modbus/modbus.h>

#include <QFileInfo>

#include <cerrno>
#include <cstring>

ExchangeOutcome classifyExchangeError(int err)
{
    if (err >= EMBXILFUN && err <= EMBXGTAR)
        return ExchangeOutcome::Exception;
    switch (err) {
    case ETIMEDOUT:
        return ExchangeOutcome::Timeout;
    case EMBBADCRC:
    case EMBBADDATA:
    case EMBMDATA:
    case EMBBADSLAVE:
    case EMBBADEXC:
    case EMBUNKEXC:
        return ExchangeOutcome::Damaged;
    case EIO:
    case ENXIO:
    case ENODEV:
    case EBADF:
    case ECONNRESET:
    case EPIPE:
        return ExchangeOutcome::PortGone;
    default:
        return ExchangeOutcome::Other;
    }
}

QString exchangeFailureText(int err, qint32 address, int responseTimeoutMs)
{
    if (err == ETIMEDOUT)
        return QStringLiteral("no reply from address %1 in %2 ms")
            .arg(address)
            .arg(responseTimeoutMs);
    if (err == EMBBADCRC)
        return QStringLiteral("CRC error");
    if (err >= EMBXILFUN && err <= EMBXGTAR) {
        QString what = QString::fromLocal8Bit(modbus_strerror(err));
        if (!what.isEmpty())
            what[0] = what[0].toLower();
        return QStringLiteral("exception %1 (%2)").arg(err - MODBUS_ENOBASE).arg(what);
    }
    return QString::fromLocal8Bit(modbus_strerror(err));
}

QString openFailureText(const QString &path, int err)
{
    // A device held by another tool: the system's "Device or resource busy"
    // does not say by whom.
    const QString what = err == EBUSY ? QStringLiteral("port in use by another program")
                         : err        ? QString::fromLocal8Bit(std::strerror(err))
                                      : QStringLiteral("cannot be opened");
    return path.isEmpty() ? what : path + QStringLiteral(": ") + what;
}

namespace
{

// The codes of errno and libmodbus that a link call leaves, in Chinese.
struct ErrorText {
    int err;
    const char *text;
};
const ErrorText kErrorTexts[] = {
    {ETIMEDOUT, "无应答"},
    {EMBBADCRC, "校验错误 (CRC)"},
    {EMBBADDATA, "应答数据无效"},
    {EMBBADEXC, "异常码无效"},
    {EMBUNKEXC, "未知异常"},
    {EMBMDATA, "数据过多"},
    {EMBBADSLAVE, "应答地址不符"},
    {EMBXILFUN, "非法功能"},
    {EMBXILADD, "非法数据地址"},
    {EMBXILVAL, "非法数据值"},
    {EMBXSFAIL, "仪表故障"},
    {EMBXACK, "已确认, 处理中"},
    {EMBXSBUSY, "仪表忙"},
    {EMBXNACK, "否定确认"},
    {EMBXMEMPAR, "存储器奇偶校验错误"},
    {EMBXGPATH, "网关路径不可用"},
    {EMBXGTAR, "网关目标无应答"},
    {ENOENT, "设备不存在"},
    {ENODEV, "无此设备"},
    {ENXIO, "设备已断开"},
    {EIO, "输入/输出错误"},
    {EACCES, "无权访问"},
    {EPERM, "不允许操作"},
    {EBUSY, "端口被占用"},
    {ENOTTY, "不是串口设备"},
    {EISDIR, "是文件夹"},
    {EINVAL, "参数无效"},
    {EBADF, "端口未打开"},
    {ECONNRESET, "连接被重置"},
    {EPIPE, "连接已断开"},
    {ENOMEM, "内存不足"},
    {EAGAIN, "暂时不可用"},
};

} // namespace

QString linkErrorChinese(int err)
{
    for (const ErrorText &entry : kErrorTexts)
        if (entry.err == err)
            return QString::fromUtf8(entry.text);
    return QStringLiteral("错误 %1").arg(err);
}

QString exchangeFailureChinese(int err, qint32 address, int responseTimeoutMs)
{
    if (err == ETIMEDOUT)
        return QStringLiteral("地址 %1 在 %2 ms 内无应答").arg(address).arg(responseTimeoutMs);
    if (err >= EMBXILFUN && err <= EMBXGTAR)
        return QStringLiteral("异常应答 %1 (%2)")
            .arg(err - MODBUS_ENOBASE)
            .arg(linkErrorChinese(err));
    return linkErrorChinese(err);
}

QString openFailureChinese(const QString &path, int err)
{
    const QString what = err ? linkErrorChinese(err) : QStringLiteral("无法打开");
    return path.isEmpty() ? what : path + QStringLiteral(": ") + what;
}

const std::array<LinkStateWords, 6> &linkStateTable()
{
    static const std::array<LinkStateWords, 6> table{{
        {LinkState::NotOpened, "not_opened", "未打开", "closed"},
        {LinkState::Opening, "opening", "正在打开", "port open, waiting for the first reply"},
        {LinkState::Live, "live", "在线", "live"},
        {LinkState::NoAnswer, "no_answer", "无应答", "no answer"},
        {LinkState::PortLost, "port_lost", "端口丢失", "port lost"},
        {LinkState::OpenFailed, "open_failed", "打开失败", "cannot open the port"},
    }};
    return table;
}

const LinkStateWords &linkStateWords(LinkState state)
{
    for (const LinkStateWords &row : linkStateTable())
        if (row.state == state)
            return row;
    return linkStateTable().front();
}

std::optional<LinkState> linkStateOfCode(const QString &code)
{
    for (const LinkStateWords &row : linkStateTable())
        if (code == QLatin1String(row.code))
            return row.state;
    return std::nullopt;
}

bool linkLive(LinkState state)
{
    return state == LinkState::Live;
}

bool linkPortOpen(LinkState state)
{
    return state == LinkState::Opening || state == LinkState::Live || state == LinkState::NoAnswer;
}

LinkHealth::LinkHealth(QObject *parent) : QObject(parent) {}

std::optional<QDateTime> LinkHealth::lastGoodExchange() const
{
    if (!m_lastGood)
        return std::nullopt;
    const auto ago = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - *m_lastGood);
    return SystemClock::now().addMSecs(-ago.count());
}

void LinkHealth::resetCounters()
{
    m_counters = LinkCounters{};
}

void LinkHealth::openPressed(const LinkSettings &settings)
{
    m_settings = settings;
    m_everOpened = false;
    m_lastGood.reset();
    resetCounters();
}

void LinkHealth::opened(bool ok, int err)
{
    // A port opened anew, or not at all: every instrument has to be heard again.
    for (auto &entry : m_instruments)
        entry.second.rule = AnswerRule{};
    if (ok) {
        m_everOpened = true;
        setState(LinkState::Opening, {});
        reportInstruments();
        return;
    }
    noteFailure(openFailureText(m_settings.path, err), openFailureChinese(m_settings.path, err));
    // A port that worked before stays "lost" while it cannot be opened again.
    setState(m_everOpened ? LinkState::PortLost : LinkState::OpenFailed, m_lastFailure);
    reportInstruments();
}

void LinkHealth::reopened(bool ok, int err)
{
    if (ok)
        ++m_counters.reopens;
    opened(ok, err);
}

void LinkHealth::closed()
{
    setState(LinkState::NotOpened, {});
    reportInstruments();
}

void LinkHealth::exchanged(qint32 port, qint32 address, bool ok, int err,
                           std::chrono::microseconds took)
{
    // A lost port's context is being closed: its last calls change nothing.
    if (port != m_settings.port || !linkPortOpen(m_state))
        return;
    ++m_counters.requests;
    Instrument &in = instrument(address);
    if (ok) {
        const double ms = took.count() / 1000.0;
        ++m_counters.goodReplies;
        m_counters.lastReplyMs = ms;
        m_counters.maxReplyMs = qMax(m_counters.maxReplyMs, ms);
        m_counters.meanReplyMs += (ms - m_counters.meanReplyMs) / m_counters.goodReplies;
        m_lastGood = std::chrono::steady_clock::now();
        in.rule.replied();
        followInstruments();
        return;
    }
    ExchangeOutcome outcome = classifyExchangeError(err);
    const int timeoutMs = linkTimeouts(m_settings.baudCode).responseUs / 1000;
    noteFailure(exchangeFailureText(err, address, timeoutMs),
                exchangeFailureChinese(err, address, timeoutMs));
    switch (outcome) {
    case ExchangeOutcome::Exception:
        // The instrument answered: the link works, the request did not.
        ++m_counters.exceptions;
        in.rule.replied();
        followInstruments();
        return;
    case ExchangeOutcome::Timeout:
        ++m_counters.timeouts;
        break;
    case ExchangeOutcome::Damaged:
        ++m_counters.damaged;
        break;
    case ExchangeOutcome::PortGone:
    case ExchangeOutcome::Other:
        ++m_counters.otherFailures;
        break;
    case ExchangeOutcome::Good:
        break;
    }
    // An unplugged adapter takes its device node with it.
    if (outcome != ExchangeOutcome::PortGone && !QFileInfo::exists(m_settings.path)) {
        outcome = ExchangeOutcome::PortGone;
        noteFailure(openFailureText(m_settings.path, ENOENT),
                    openFailureChinese(m_settings.path, ENOENT));
    }
    if (outcome != ExchangeOutcome::PortGone) {
        if (!in.rule.pollFailed())
            ++m_counters.failedPolls;
        in.rule.missed();
        in.lastFailure = m_lastFailure;
        followInstruments();
        return;
    }
    setState(LinkState::PortLost, m_lastFailure);
    reportInstruments();
}

void LinkHealth::noteFailure(const QString &english, const QString &chinese)
{
    m_lastFailure = english;
    m_lastFailureChinese = chinese;
}

void LinkHealth::pollStarted(qint32 port, qint32 address)
{
    if (port != m_settings.port || !linkPortOpen(m_state))
        return;
    instrument(address).rule.pollStarted();
    reportInstruments();
}

void LinkHealth::watchInstrument(qint32 address)
{
    instrument(address);
    reportInstruments();
}

LinkState LinkHealth::addressState(qint32 address) const
{
    if (!linkPortOpen(m_state))
        return m_state;
    const auto found = m_instruments.find(address);
    if (found == m_instruments.end())
        return LinkState::Opening;
    switch (found->second.rule.verdict()) {
    case AnswerRule::Verdict::Answers:
        return LinkState::Live;
    case AnswerRule::Verdict::Silent:
        return LinkState::NoAnswer;
    case AnswerRule::Verdict::Unknown:
        break;
    }
    return LinkState::Opening;
}

LinkHealth::Instrument &LinkHealth::instrument(qint32 address)
{
    return m_instruments[address];
}

void LinkHealth::followInstruments()
{
    bool answers = false;
    bool silent = false;
    for (const auto &entry : m_instruments) {
        answers = answers || entry.second.rule.verdict() == AnswerRule::Verdict::Answers;
        silent = silent || entry.second.rule.verdict() == AnswerRule::Verdict::Silent;
    }
    const LinkState state = answers  ? LinkState::Live
                            : silent ? LinkState::NoAnswer
                                     : LinkState::Opening;
    setState(state, state == LinkState::NoAnswer ? m_lastFailure : QString());
    reportInstruments();
}

void LinkHealth::reportInstruments()
{
    for (auto &[address, in] : m_instruments) {
        const LinkState state = addressState(address);
        if (state == in.reported)
            continue;
        const LinkState from = in.reported;
        in.reported = state;
        const QString reason = state == LinkState::NoAnswer ? in.lastFailure
                               : state == LinkState::PortLost || state == LinkState::OpenFailed
                                   ? m_lastFailure
                                   : QString();
        emit addressStateChanged(address, from, state, reason);
    }
}

void LinkHealth::setState(LinkState state, const QString &reason)
{
    if (state == m_state)
        return;
    const LinkState from = m_state;
    m_state = state;
    emit stateChanged(from, state, reason);
}

LinkHealth *linkHealth()
{
    static LinkHealth *const instance = new LinkHealth;
    return instance;
}

ExchangeWatch::ExchangeWatch(qint32 port, qint32 address)
    : m_port(port), m_address(address), m_start(std::chrono::steady_clock::now())
{
}

bool ExchangeWatch::done(bool ok)
{
    const int err = errno;
    const auto took = std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::steady_clock::now() - m_start);
    linkHealth()->exchanged(m_port, m_address, ok, err, took);
    errno = err;
    return ok;
}
