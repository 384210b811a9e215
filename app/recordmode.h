#pragma once

#include "scaling.h"

#include "linkhealth.h"
#include "recordingstate.h"
#include "recordoptions.h"
#include "rowquality.h"
#include "tablefreshness.h"

#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class Historian;
class RecordingWatch;
class Poller;
class Recorder;
struct HistorianStatus;
struct PolledState;

// The windowless recorder: opens the port, polls every instrument on the line
// in turn (the real poller, one per address), records each into its own
// database (the real recorder) and forwards to the historian when one is
// configured. One line on standard error for each change of state.
//
// Each instrument's database keeps the journal the windowed tool keeps: its
// link and recording changes (a health monitor following that address, by
// the link's two-poll rule, and the recorder), its alarm, relay and input
// changes and the opening (an event journal on its poller), the tool's start
// and end, and the forwarder's events. Each instrument answers or not on its
// own: a silent one is not live while the others are.
//
// Several instruments share the one set of tables that the poller fills and
// the recorder reads: each instrument keeps its own copy, put in place around
// its poll and its recording tick and saved again after (swapIn / swapOut).
//
// The port is opened once [openPort]; from then on the port's reconnection
// (portReconnection()) reopens a port whose device went away, or that could not
// be opened, every 2 s, and polling goes on once it is open again. Each change of
// the link's state is one line [noteLink]; SIGTERM or SIGINT [shutDown] closes
// the port and the process ends.
//
// The stop [shutDown], one step after the other, each bounded:
//   journal 关闭, close the port (未打开), journal 退出
//   --> write what waits in memory, rows and events, trying again while the
//       file takes no writes, for at most kStopWriteBudget [writeWhatWaits]
//   --> what is still unwritten: one log line naming it; the events, and the
//       lost rows as one "rows lost" event, kept beside the file for its
//       next opening [keepWhatIsUnwritten]
//   --> each forwarder's last look, side by side, within Historian::kStopGrace
//   --> port released, process ends
class RecordSession : public QObject
{
    Q_OBJECT
public:
    explicit RecordSession(const RecordOptions &options, QObject *parent = nullptr);
    ~RecordSession() override;

    // Opens the databases and the port and starts the clocks.
    void start();
    // Told after each instrument's poll, with its tables still in place: its
    // own last reply (the port's other instruments aside; nullopt when it never
    // replied since the recorder started) and its own failure, in Chinese.
    void setPollListener(std::function<void(const PolledState &)> listener)
    {
        m_pollListener = std::move(listener);
    }
    // Stops polling and recording (a recording under way has completed: it
    // runs on this thread), writes what waits in memory (for at most
    // kStopWriteBudget while the file takes no writes), lets each forwarder
    // send the last rows and events (cut off after Historian::kStopGrace when
    // the server does not answer), releases the port.
    void shutDown();

    // How long a stop tries to write the rows and events that wait in memory
    // into a file that takes no writes now (another program holds it
    // locked), and how often within that time. With the forwarders' grace
    // after it, a stop stays within a few seconds, well inside the 15 s the
    // service's unit allows before it kills.
    static constexpr std::chrono::milliseconds kStopWriteBudget{3000};
    static constexpr std::chrono::milliseconds kStopWriteRetry{100};

private:
    struct Instrument;

    void openPort();
    // Gives the instrument its scaling watch, its unit names (stored, then --unit) and its wiring.
    void watchScaling(Instrument &instrument);
    void poll();
    void record();
    // Notes `in`'s own last reply and failure from the link's counts before its poll.
    void noteExchanges(Instrument &in, const LinkCounters &before);
    void swapIn(Instrument &instrument);
    void swapOut(Instrument &instrument);
    void noteRecording(Instrument &instrument, const RecordingStatus &status);
    void noteHistorian(Instrument &instrument, const HistorianStatus &status);
    void noteLink(LinkState from, LinkState to, const QString &reason);
    void writeWhatWaits();
    void keepWhatIsUnwritten(Instrument &instrument);
    void noteInstrument(qint32 address, LinkState from, LinkState to, const QString &reason);

    RecordOptions m_options;
    std::vector<std::unique_ptr<Instrument>> m_instruments;
    QTimer m_pollTimer;
    QTimer m_recordTimer;
    bool m_polling = false;       // inside a poll, whose yields may run other timers
    bool m_recordPending = false; // a recording tick fell into a poll's yield
    bool m_shutDown = false;
    std::function<void(const PolledState &)> m_pollListener;
};

// The recording database of the instrument at `address`: --db (or the usual
// one), with "-a<address>" when the line carries several.
QString recordDatabasePath(const RecordOptions &options, int address);

// Sends "zelmar: <local time> <text>" to standard error.
void logLine(const QString &text);

// The log line of a change of the link's state: "link: live", "link: no answer:
// <reason>", "link: port lost: <reason>; reopening every 2 s", ...
QString linkStateLine(LinkState to, const QString &reason);

// The log line of a change of an instrument's recording state, with the
// reason the strip shows: "recording into <path>", "recording resumed into
// <path>", "cannot record into <path>: locked by another program".
QString recordingStateLine(const RecordingStatus &status, bool resumed);

// The exit code of what the recorder refuses to start with: a command line
// it cannot use, or a port another program holds. The service's unit does
// not restart it after this code (RestartPreventExitStatus=2).
constexpr int kRecordUsageError = 2;

// Runs the windowless recorder until SIGTERM or SIGINT; the exit code (a
// command line or a database path that cannot be used, or a port in use by
// another program: its reason on standard error and kRecordUsageError).
int runRecordMode(int argc, char *argv[]);
