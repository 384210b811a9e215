#pragma once

#include "historianurl.h"
#include "scalinglog.h"
#include "statementwatch.h"

#include <QDateTime>
#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <array>
#include <chrono>
#include <functional>
#include <optional>

// The two sample tables of the server, one per local ring.
enum class SampleTable {
    Seconds,    // samples_1s, from pv_data
    TenSeconds, // samples_10s, from Lpv_wdjl
};

// The version of the server's tables this build makes and uses (table
// zelmar_schema). Tables made before the version was kept are version 1;
// version 3 added the stations' scaling entries and the engineering views.
constexpr int kServerSchemaVersion = 3;

// One row of a sample table: a station's eight values at one moment.
struct ServerSample {
    // The instant of the recording; sent with its own offset from UTC when it
    // carries one (Qt::OffsetFromUTC), else with the machine's offset at that time.
    QDateTime ts;
    std::array<float, 8> values{};
    std::optional<qint16> quality;   // empty: recorded before quality was kept
    std::optional<qint32> utcOffset; // seconds east of UTC where it was recorded
    qint32 ringId = 0; // the local ring's id: with ts the row's key (a clock set back repeats ts)
};

// An entry of the server's events journal.
struct ServerEvent {
    QDateTime ts;
    QString kind;   // a local event kind ("link", "alarm", ...) or the forwarder's ("lost-span")
    QString source; // what it happened to, or "forwarder"
    QString detail;
    // The id in the station's local events ring, for an event forwarded from
    // it; with station and ts the key that keeps it from being sent twice.
    std::optional<qint32> localId;
    // The code of the state a forwarded link event records (the local events'
    // ev_state); empty for other events and for rows sent by earlier versions.
    QString state{};
};

// Who uses a station name on the server: the first tool that registers it owns it.
struct StationIdentity {
    QString machine; // /etc/machine-id, or the host name where there is none
    QString host;    // the host name, for messages
    int port = 0;    // the serial port number
    int address = 0; // the instrument's Modbus address
};

// Why registerStation() did not register.
enum class StationClaim { Registered, OwnedByOther, Failed };

Q_DECLARE_METATYPE(ServerEvent)

// The time as the server stores it: the local date and time with the
// machine's offset from UTC at that moment ("2026-03-01T08:00:00+01:00"), or
// with its own offset when it carries one (Qt::OffsetFromUTC).
QString timestampText(const QDateTime &time);

// Where the server's notices go (a warning, one line each, "historian server:
// WARNING: …"), from the thread of the connection that received it; none set:
// they are left out. libpq's own printing to standard error is never used; the
// server ending a session is the reason of the failure that follows instead.
void setServerNoticeLog(void (*log)(const QString &line));

// One PostgreSQL connection (Qt's QPSQL driver) to the historian, owned by the
// thread that opened it. All SQL of the server lives here.
class HistorianServer
{
public:
    // A closed connection that will carry `connectionName`, unique in the process.
    explicit HistorianServer(const QString &connectionName);
    ~HistorianServer();
    HistorianServer(const HistorianServer &) = delete;
    HistorianServer &operator=(const HistorianServer &) = delete;

    // How long the server may work on one statement before it cancels it (a
    // table locked by someone else, for instance); 10 s unless set before open().
    void setStatementTimeout(std::chrono::milliseconds timeout) { m_statementTimeout = timeout; }
    // How long one exchange (a login, a batch, a reading) may take before it is
    // cut off from this side: the statement time-out and a margin for the network.
    std::chrono::milliseconds exchangeLimit() const;
    // Arms the cut-off for one exchange for the guard's lifetime:
    //   const StatementWatch::Armed armed = server.watchExchange();
    StatementWatch::Armed watchExchange() { return {m_watch, exchangeLimit()}; }
    // Cuts off the exchange under way and every later one (a stop). Any thread.
    void abort() { m_watch.abort(); }
    // Why the last exchange was cut off from this side; empty when it was not.
    QString cutOffReason() const { return m_watch.cutOffReason(); }

    // Logs in with the address's parameters (TLS, time-outs, the password
    // file) and sets the statement time-out. False, with the server's reason
    // in lastError(), when the server cannot be reached, refuses the login or
    // the driver is not installed.
    bool open(const HistorianTarget &target);
    void close();
    bool isOpen() const;

    // Brings the server's tables to kServerSchemaVersion: creates what is
    // missing (zelmar_schema, stations, samples_1s, samples_10s, events,
    // channel_scaling and the views samples_1s_eng, samples_10s_eng) in one
    // transaction, and upgrades tables of earlier versions in place,
    // keeping every row and rewriting none: new columns and a sequence for new
    // rows, then the new keys' indexes built while the tables stay in use (no
    // statement time-out: as long as the tables are large), then the keys and
    // the version. `upgrading` is called before an upgrade begins. An upgrade
    // cut off is taken up again by the next call. False, with everything as it
    // was, when a table of one of these names is not ours (other columns or
    // key), the tables are of a newer version, or the login lacks the rights
    // to create or alter them; refused() then tells such a lasting refusal
    // from a failed connection.
    bool ensureSchema(const std::function<void()> &upgrading = {});
    // Whether the last ensureSchema() or registerStation() was refused by the
    // server's content or rights rather than failed on the way.
    bool refused() const { return m_refused; }

    // Adds the station with `identity` and its settings, or marks it seen now
    // when `identity` owns it (or a station row of version 1 names no owner
    // yet). OwnedByOther, with the owner in lastError(), when another tool
    // registered the name first.
    StationClaim registerStation(const QString &station, const StationIdentity &identity,
                                 const QString &settings);

    // Sends `samples` of one station as one transaction, in their order
    // (inserting nothing that the server already has for that station, ts
    // and ring id) and marks the station seen. The number of rows the server
    // did not have; nullopt when the transaction failed and nothing was written.
    std::optional<int> insertSamples(const QString &station, SampleTable table,
                                     const QVector<ServerSample> &samples);

    // Writes one entry of the events journal; false when it failed.
    bool insertEvent(const QString &station, const ServerEvent &event);
    // Writes `events` of one station in one transaction, skipping those with
    // a localId the server has already (same station, id and time). The
    // number written; nullopt when nothing was written.
    std::optional<int> insertEvents(const QString &station, const QVector<ServerEvent> &events);

    // Writes `entries` (channel_scaling) of one station in one statement; an
    // entry the server has already (same station, channel and instant) takes
    // the values sent, so a batch sent again changes nothing and, as in the
    // recording database, the last written of one instant is in force. The
    // number written; nullopt when nothing was written.
    std::optional<int> insertScaling(const QString &station, const QVector<ScalingEntry> &entries);
    // The scaling entries of `station`, in the order they took effect (each
    // `since` in UTC); none on a server without them (an earlier version's),
    // nullopt when the query fails. Entries outside the instrument's codes are left out.
    std::optional<QVector<ScalingEntry>> readScaling(const QString &station) const;

    // The samples of `station` from `from` to `to` (both included), in the
    // order they were recorded; nullopt when the query fails.
    std::optional<QVector<ServerSample>> readSamples(const QString &station, SampleTable table,
                                                     const QDateTime &from,
                                                     const QDateTime &to) const;
    // The same rows handed to `each` one by one as the server sends them, so a
    // reader can write each row while the server reads the next. `each`
    // returning false takes no more (the rest is read and dropped). False when
    // the query fails or a row cannot be read (the rows before it were given).
    bool readSamples(const QString &station, SampleTable table, const QDateTime &from,
                     const QDateTime &to,
                     const std::function<bool(const ServerSample &)> &each) const;
    // The events of `station` from `from` to `to` (both included), oldest
    // first; nullopt when the query fails.
    std::optional<QVector<ServerEvent>> readEvents(const QString &station, const QDateTime &from,
                                                   const QDateTime &to) const;
    // The newest event of `station` of `kind` before `before`, for a span that
    // began before a range; nullopt when there is none or the query fails.
    std::optional<ServerEvent> readLastEventBefore(const QString &station, const QString &kind,
                                                   const QDateTime &before) const;

    QString lastError() const { return m_lastError; }

private:
    QSqlDatabase database() const;
    bool fail(const QString &what, const QString &reason) const;
    // libpq's notice processor: the connection's notices and the errors it
    // receives between exchanges (the server ending the session).
    static void noticeReceived(void *server, const char *message);
    // Whether the connection was lost (with the reason in lastError(), under `what`).
    bool lost(const QString &what) const;

    bool refuse(const QString &what, const QString &reason);

    QString m_connectionName;
    mutable QString m_lastError;
    std::chrono::milliseconds m_statementTimeout{10000};
    StatementWatch m_watch;
    bool m_refused = false;
    bool m_eventStates = true; // the events table has the state column (ensureSchema)
    QString m_sessionEnd;      // why the server ended the session, as it said; since open()
};
