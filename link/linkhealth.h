#pragma once

#include "answerrule.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QtGlobal>

#include <array>
#include <chrono>
#include <map>
#include <optional>

// Whether the link to the instrument works, kept by the link itself from
// every exchange: the windows only show it.
enum class LinkState {
    NotOpened,  // never opened, or closed by "关闭"
    Opening,    // the port is open; no exchange has ended yet
    Live,       // the instrument answers (a reply since the last run of misses)
    NoAnswer,   // two polls in a row went unanswered (AnswerRule)
    PortLost,   // the device went away under the open port (the port reopens it)
    OpenFailed, // the port could not be opened (the port tries again)
};

// A link state as data: its code (what stays the same whatever the language),
// its Chinese word (the windows, the events table) and its English word (the
// recorder's log). One row per state, in linkStateWords().
struct LinkStateWords {
    LinkState state;
    const char *code;
    const char *chinese;
    const char *english;
};
// The row of `state`.
const LinkStateWords &linkStateWords(LinkState state);
// Every state's row, in the order of the enumeration.
const std::array<LinkStateWords, 6> &linkStateTable();
// The state of a stored code; nullopt for a code this build does not know.
std::optional<LinkState> linkStateOfCode(const QString &code);

// Whether the port is open in `state` (an exchange may be tried on it).
bool linkPortOpen(LinkState state);
// Whether the instrument is heard in `state`: only then does what was read
// stand as a reading. Every other state is "not live" (the chart's band, the
// stale marks).
bool linkLive(LinkState state);

// What one exchange came to, from libmodbus's errno.
enum class ExchangeOutcome {
    Good,      // a reply
    Exception, // the instrument refused the request (EMBXILFUN .. EMBXGTAR)
    Timeout,   // ETIMEDOUT: no reply in time
    Damaged,   // EMBBADCRC, EMBBADDATA, EMBMDATA, EMBBADSLAVE, EMBBADEXC, EMBUNKEXC
    PortGone,  // EIO, ENXIO, ENODEV, EBADF, ECONNRESET, EPIPE: the device is gone
    Other,     // anything else
};

// The outcome of an exchange that failed with `err` (errno after the call).
ExchangeOutcome classifyExchangeError(int err);
// The reason of a failed exchange in the system's words: "no reply from
// address 1 in 94 ms", "CRC error", "exception 2 (illegal data address)", or
// libmodbus's own text.
QString exchangeFailureText(int err, qint32 address, int responseTimeoutMs);
// The reason of a failed opening: "<path>: <strerror>".
QString openFailureText(const QString &path, int err);
// The same reasons as the operator reads them, in Chinese: "地址 1 在 94 ms 内无应答",
// "校验错误 (CRC)", "异常应答 2 (非法数据地址)", "/dev/ttyUSB0: 设备不存在".
QString exchangeFailureChinese(int err, qint32 address, int responseTimeoutMs);
QString openFailureChinese(const QString &path, int err);
// What `err` (errno, or libmodbus's code) means, in Chinese: "设备不存在",
// "非法数据地址"; "错误 <number>" for a code without a text of its own.
QString linkErrorChinese(int err);

// The numbers of one opened port since "打开" or the last reset.
struct LinkCounters {
    qint64 requests = 0;    // exchanges started on the line
    qint64 goodReplies = 0; // replies that carried the data asked for
    qint64 timeouts = 0;
    qint64 damaged = 0; // CRC and framing errors
    qint64 exceptions = 0;
    qint64 otherFailures = 0; // port gone and anything else
    qint64 failedPolls = 0;   // polls with an unanswered exchange, outages or not
    qint64 reopens = 0;       // successful reopenings by the link itself
    double lastReplyMs = 0;
    double meanReplyMs = 0;
    double maxReplyMs = 0;
};

// The settings of the port the link watches, as the last opening used them.
struct LinkSettings {
    qint32 port = 0;
    qint32 baudCode = 1;
    qint32 parityCode = 0;
    qint32 address = 1;
    QString path;
};

// The link's health: state, counters, last good exchange, last failure. It
// only records what the port's openings and exchanges came to; reopening a
// lost port is the port's own work (PortReconnection), which reports here.
//
// While the port is open, whether each instrument on it answers follows the
// two-poll rule (AnswerRule, polls told apart by pollStarted()); the port is
// live while any instrument answers, no answer once every instrument heard
// of is silent, opening before any verdict.
//
// States of the port and the function behind each transition:
//   NotOpened  --opened(ok)-->                     Opening
//   NotOpened  --opened(fail)-->                   OpenFailed  (retries start)
//   Opening, NoAnswer, Live --exchanged(reply or exception)--> Live
//   Opening, Live --exchanged(time-out, damaged, other) in the second
//              poll in a row without a reply, every instrument silent--> NoAnswer
//   Opening, Live --exchanged(time-out, damaged, other) otherwise-->   unchanged
//              (counted: failedPolls)
//   Opening, Live, NoAnswer --exchanged(port gone, or the
//              device node gone)-->             PortLost
//   PortLost, OpenFailed --reopened(ok)-->         Opening     (reopens + 1)
//   PortLost, OpenFailed --reopened(fail)-->       unchanged
//   any        --opened() of "打开" again-->         Opening or OpenFailed
//   any        --closed() by "关闭"-->              NotOpened
class LinkHealth : public QObject
{
    Q_OBJECT
public:
    // Not opened, no counts, no retries.
    explicit LinkHealth(QObject *parent = nullptr);

    // The link's state after the last opening, exchange or retry.
    LinkState state() const { return m_state; }
    // The state of the instrument at `address`: the port's state while the
    // port is not open, otherwise whether that instrument answers (Opening
    // before any verdict on it).
    LinkState addressState(qint32 address) const;
    // The counters of the watched port.
    const LinkCounters &counters() const { return m_counters; }
    // The port and settings of the last "打开" (the retries use the same).
    const LinkSettings &settings() const { return m_settings; }
    // When the last exchange got a reply; nullopt before the first.
    std::optional<QDateTime> lastGoodExchange() const;
    // The reason of the last failure (exchange or opening); empty before any.
    QString lastFailure() const { return m_lastFailure; }
    // The same reason in Chinese, as the windows and the events table give it.
    QString lastFailureChinese() const { return m_lastFailureChinese; }
    // Sets every counter to zero.
    void resetCounters();

    // "打开": the operator opens `settings`; counters start from zero.
    void openPressed(const LinkSettings &settings);
    // The outcome of opening the watched port (by "打开" or by a retry); `err`
    // is errno after a failed opening.
    void opened(bool ok, int err);
    // The outcome of the port's own reopening of the watched port after it
    // was lost or failed to open: opened(), and a success counted in reopens.
    void reopened(bool ok, int err);
    // "关闭": the watched port is closed.
    void closed();
    // One exchange on `port` with `address` ended: `ok`, or failed with `err`
    // (errno), after `took`. Exchanges on other ports are not counted.
    void exchanged(qint32 port, qint32 address, bool ok, int err, std::chrono::microseconds took);
    // Makes the instrument at `address` known, so that addressStateChanged
    // tells its changes from now on (also those of the port before its first
    // poll); an exchange or a poll with an address makes it known as well.
    void watchInstrument(qint32 address);
    // A poll of the instrument at `address` on `port` begins: the exchanges
    // that follow, until its next poll, belong to it.
    void pollStarted(qint32 port, qint32 address);

signals:
    // The state changed; `reason` is the failure behind it, empty when live.
    void stateChanged(LinkState from, LinkState to, const QString &reason);
    // The state of the instrument at `address` (addressState) changed.
    void addressStateChanged(qint32 address, LinkState from, LinkState to, const QString &reason);

private:
    struct Instrument {
        AnswerRule rule;
        QString lastFailure;
        LinkState reported = LinkState::NotOpened; // as addressStateChanged last told it
    };

    void setState(LinkState state, const QString &reason);
    void noteFailure(const QString &english, const QString &chinese);
    // The port's state from its instruments' verdicts, while it is open.
    void followInstruments();
    // Tells each instrument's change of addressState().
    void reportInstruments();
    Instrument &instrument(qint32 address);

    LinkState m_state = LinkState::NotOpened;
    std::map<qint32, Instrument> m_instruments;
    LinkCounters m_counters;
    LinkSettings m_settings;
    // The last good exchange on the steady clock: taking the date and time of
    // day on every exchange would cost more than the rest of the bookkeeping.
    std::optional<std::chrono::steady_clock::time_point> m_lastGood;
    QString m_lastFailure;
    QString m_lastFailureChinese;
    bool m_everOpened = false;
};

// The link's single health record, created on first use.
LinkHealth *linkHealth();

// Times one exchange with the instrument and reports it to linkHealth():
//   ExchangeWatch watch(port, address);
//   if (!watch.done(modbus_read_registers(...) == count)) ...
// done() leaves errno as the call left it, for the caller to look at.
class ExchangeWatch
{
public:
    // Starts timing an exchange with `address` on `port`.
    ExchangeWatch(qint32 port, qint32 address);
    // Reports the exchange as good (`ok`) or failed with the current errno; returns `ok`.
    bool done(bool ok);

private:
    qint32 m_port;
    qint32 m_address;
    std::chrono::steady_clock::time_point m_start;
};
