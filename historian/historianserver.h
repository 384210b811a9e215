#pragma once

#include "historianurl.h"
#include "statementwatch.h"

#include <QDateTime>
#include <QMetaType>
#include <QSqlDatabase>
#include <QString>
#include <QVector>

#include <array>
#include <chrono>
#include <optional>

// The two sample tables of the server, one per local ring.
enum class SampleTable {
    Seconds,    // samples_1s, from pv_data
    TenSeconds, // samples_10s, from Lpv_wdjl
};

// One row of a sample table: a station's eight values at one moment.
struct ServerSample {
    QDateTime ts; // local date and time of the recording machine
    std::array<float, 8> values{};
};

// An entry of the server's events journal.
struct ServerEvent {
    QDateTime ts;
    QString kind;   // "lost-span", "duplicate", ...
    QString source; // "forwarder"
    QString detail;
};

Q_DECLARE_METATYPE(ServerEvent)

// The time as the server stores it: the local date and time with the
// machine's offset from UTC at that moment ("2026-03-01T08:00:00+01:00").
QString timestampText(const QDateTime &localTime);

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

    // Creates the tables that are missing (stations, samples_1s, samples_10s,
    // events). False when a table of one of these names exists with other
    // columns or without its key: it is left exactly as it is.
    bool ensureSchema();

    // Adds the station or marks it seen now, with its serial port, module address and settings.
    bool registerStation(const QString &station, int port, int address, const QString &settings);

    // Sends `samples` of one station as one transaction (inserting nothing
    // that the server already has for that station and time) and marks the
    // station seen. The number of rows the server did not have; nullopt when
    // the transaction failed and nothing was written.
    std::optional<int> insertSamples(const QString &station, SampleTable table,
                                     const QVector<ServerSample> &samples);

    // Writes one entry of the events journal; false when it failed.
    bool insertEvent(const QString &station, const ServerEvent &event);

    // The samples of `station` from `from` to `to` (both included), in time
    // order; nullopt when the query fails.
    std::optional<QVector<ServerSample>> readSamples(const QString &station, SampleTable table,
                                                     const QDateTime &from,
                                                     const QDateTime &to) const;

    QString lastError() const { return m_lastError; }

private:
    QSqlDatabase database() const;
    bool fail(const QString &what, const QString &reason) const;

    QString m_connectionName;
    mutable QString m_lastError;
    std::chrono::milliseconds m_statementTimeout{10000};
    StatementWatch m_watch;
};
