#pragma once

#include "events.h"
#include "forwardsource.h"
#include "historianserver.h"
#include "historianstatus.h"
#include "historianurl.h"
#include "instants.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>

// What one forwarder feeds from where.
struct ForwarderSettings {
    HistorianTarget target;
    QString station;
    QString databasePath; // the local recording database
    int serialPort = 0;   // for the stations table, and with machine and address the
    int address = 0;      // identity that owns the station name on the server
    QString machine;      // empty: /etc/machine-id, or the host name where there is none
    QString host;         // empty: the host name; for the message a tool refused the name sees
    QString linkSettings; // for the stations table, e.g. "9600 none"
    // How often the local rings are looked at when the server has everything.
    std::chrono::milliseconds checkInterval{1000};
    std::chrono::milliseconds firstRetry{kFirstRetry};
    std::chrono::milliseconds retryCeiling{kRetryCeiling};
    // Rows per transaction while catching up: large batches keep catching up
    // well ahead of any recording rate.
    int batchRows = 5000;
    // Events per transaction.
    int eventBatchRows = 1000;
    // Scaling entries per statement (a few per change of the instrument's
    // configuration: a batch is all of them but after a file of many years).
    int scalingBatchRows = 1000;
    // How long the server may work on one statement; an exchange is cut off
    // from this side 5 s after that.
    std::chrono::milliseconds statementTimeout{10000};
};

// The variable that names the historian's address.
constexpr char kHistorianEnvironment[] = "ZELMAR_HISTORIAN";

// The forwarder's settings from the environment: $ZELMAR_HISTORIAN (the
// address) and $ZELMAR_STATION (the name; default host name and port number).
// An empty target address (no error, no host) when no historian is configured.
ForwarderSettings forwarderSettingsFromEnvironment(const QString &databasePath, int serialPort,
                                                   int address, const QString &linkSettings);

// The forwarder's work, on its own thread with its own connections: copies the
// rows that the recorder wrote into the local rings, the events of the
// local events ring and the channels' scaling entries to the server, oldest first, one transaction
// per batch, each row with its quality and the instant resolved in ring order, and remembers how
// far it got.
//
// States (HistorianStatus::State) and the function behind each transition:
//   Connecting  --login, schema and station row done [connectServer]--> Behind / Forwarding
//   Connecting  --the server's tables of an earlier version [connectServer]--> Upgrading
//   Upgrading   --upgraded, station row done [connectServer]--> Behind / Forwarding
//   Upgrading   --the upgrade cut off or failed [retryLater]--> Unreachable
//   Connecting  --any of them failed [retryLater]--> Unreachable
//   Connecting  --tables not ours, no rights to upgrade them, or the station
//                 name owned by another tool [refuseLater]--> Refused
//   Refused     --the longest wait is over, and the server still refuses [cycle]--> Refused
//   Refused     --the server takes the tool now [cycle]--> Behind / Forwarding
//   Unreachable --the back-off wait is over [cycle]--> Connecting
//   Behind      --a batch sent, rows left [forwardRing]--> Behind (next batch at once)
//   Behind      --the last batch sent [cycle]--> Forwarding
//   Forwarding  --the recorder wrote rows [cycle, each checkInterval]--> Behind / Forwarding
//   Behind / Forwarding --a batch or event failed [retryLater]--> Unreachable
//   Connecting / Behind / Forwarding --the server did not answer in time, the
//              exchange cut off [retryLater]--> Unreachable
//   any        --requestStop() [any thread], then stop()--> thread ended
//   Behind / Forwarding --the tool stops [lastLook], then stop()--> thread ended
// A batch that fails is rolled back on the server and its rows stay pending;
// the position moves only after a commit.
class Forwarder : public QObject
{
    Q_OBJECT
public:
    Forwarder(const ForwarderSettings &settings, const QString &connectionName);
    ~Forwarder() override;

    // No further exchange begins (any thread).
    void requestStop() { m_stopping = true; }
    // Cuts off the exchange under way and any later one (any thread).
    void abortServer() { m_server.abort(); }

public slots:
    // Begins forwarding (on the forwarder's thread).
    void start();
    // Ends forwarding, closes both connections and ends the forwarder's thread.
    void stop();
    // The recorder wrote a row: look at once instead of at the next check,
    // unless a back-off wait is running (a new row does not bring a server back).
    void recorded();
    // The tool stops: one more look now, while the server is connected, so
    // that the last rows and the stop's own events reach it in this run.
    // Nothing when it is not connected (a login could outlast the stop).
    void lastLook();

signals:
    void statusChanged(const HistorianStatus &status);
    // An event the forwarder wrote to the server's journal (a lost span), for the local journal
    // too.
    void eventWritten(const QString &station, const ServerEvent &event);

private:
    void cycle();
    bool connectServer();
    void retryLater(const QString &reason);
    void refuseLater(const QString &reason);
    // forwardRing's results below zero.
    static constexpr qint64 kLocalFailed = -1;  // the recording database could not be read
    static constexpr qint64 kServerFailed = -2; // the reason is in the server's lastError()
    // Sends one batch of `table`'s ring; the rows still pending after it, or
    // one of the failures above.
    qint64 forwardRing(RecordTable table);
    // Sends one batch of the events ring; as forwardRing.
    qint64 forwardEvents();
    // Sends the scaling entries not sent yet (first, so that rows arriving
    // with a new decimal point read scaled at once); as forwardRing.
    qint64 forwardScaling();
    // What forwardRing and forwardEvents share: one batch of a ring, with a
    // lost span reported first when the ring overtook the last row sent.
    template <typename Row> struct RingSide;
    template <typename Row> qint64 forwardBatch(const RingSide<Row> &ring);
    bool reportLostSpan(const QString &ring, const ForwardPosition &last,
                        const std::optional<QDateTime> &oldest);
    // The resolver of a ring set to go on after its last row sent.
    void primeResolver(InstantResolver &resolver, RecordTable table, const ForwardPosition &last);
    bool writeEvent(const QString &kind, const QString &detail);
    void setStatus(HistorianStatus::State state, qint64 behind, const QString &reason = {});
    QString positionKey() const;

    ForwarderSettings m_settings;
    ForwardSource m_source;
    HistorianServer m_server;
    QTimer m_timer{this};
    std::chrono::milliseconds m_retryDelay{0};
    bool m_positionsLoaded = false;
    std::array<ForwardPosition, 2> m_positions{};
    ForwardPosition m_eventPosition;
    ForwardPosition m_scalingPosition;
    std::array<InstantResolver, 2> m_resolvers;
    InstantResolver m_eventResolver;
    HistorianStatus m_status;
    std::atomic<bool> m_stopping{false};
};

// The historian as a window or the windowless recorder sees it: starts the
// forwarder on a thread of its own and keeps its last status. Nothing here
// waits for the network, except stop(), which lets the batch under way finish
// for at most kStopGrace and then cuts it off.
class Historian : public QObject
{
    Q_OBJECT
public:
    // `connectionName` names the forwarder's connections (unique in the process).
    explicit Historian(const ForwarderSettings &settings,
                       const QString &connectionName = QStringLiteral("historian"),
                       QObject *parent = nullptr);
    ~Historian() override;

    // How long stop() lets an exchange under way finish before cutting it off.
    static constexpr std::chrono::milliseconds kStopGrace{2000};

    // Starts the forwarder's thread; an invalid address only sets the status.
    void start();
    // How a stop treats what the server has not got yet.
    enum class StopMode {
        Now,           // no further exchange begins
        AfterLastLook, // one more look first (Forwarder::lastLook), within kStopGrace
    };
    // Begins stopping without waiting. Several historians stop side by side
    // when each is asked first and stopped after.
    void requestStop(StopMode mode = StopMode::Now);
    // Stops it: a batch under way (and the last look) completes or, kStopGrace
    // after requestStop(), is cut off and rolled back (its rows stay in the
    // local ring for the next run). A login under way ends within its connect_timeout.
    void stop();
    // Tells the forwarder that the recorder wrote a row (never waits).
    void recorded();

    // The last status the forwarder reported.
    HistorianStatus status() const { return m_status; }
    const ForwarderSettings &settings() const { return m_settings; }

signals:
    void statusChanged(const HistorianStatus &status);
    // An event the forwarder wrote to the server; the local events journal,
    // where there is one, records it too.
    void eventWritten(const QString &station, const ServerEvent &event);

private:
    void setStatus(const HistorianStatus &status);

    ForwarderSettings m_settings;
    QString m_connectionName;
    QThread m_thread;
    Forwarder *m_forwarder = nullptr;
    HistorianStatus m_status;
    QElapsedTimer m_stopping; // since requestStop()
};

// The local events table's row of an event the forwarder wrote to the server
// for `station`: kind "historian", source "forwarder (station NAME)", detail
// "<server kind>: <detail>", at the event's local time. Events of this kind
// are not forwarded again.
Event localHistorianEvent(const QString &station, const ServerEvent &event);
