// The windowless recorder (zelmar --record): the session that opens the port,
// polls and records each instrument, forwards to the historian, logs each
// change of state in one line, and stops within its time budget.

#include "recordmode.h"

#include "clock.h"
#include "commandline.h"
#include "daytime.h"
#include "forwarder.h"
#include "healthmonitor.h"
#include "historianurl.h"
#include "journal.h"
#include "linkquality.h"
#include "modbuslink.h"
#include "poller.h"
#include "portconnection.h"
#include "recorder.h"
#include "ringquery.h"
#include "scalinglog.h"
#include "scalingwatch.h"
#include "shared.h"
#include "store.h"
#include "tablefreshness.h"
#include "unwrittenevents.h"
#include "webview.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QThread>

#include <algorithm>
#include <array>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

constexpr int kPolledRegisters = 16;
constexpr int kPolledInputs = 16;
constexpr int kPolledCoils = 8;
const char *const kBaudTexts[] = {"4800", "9600", "19200"};
const char *const kParityTexts[] = {"none", "odd", "even"};

// Exchanges an instrument answered: with the data asked for, or with an exception.
qint64 answeredExchanges(const LinkCounters &counters)
{
    return counters.goodReplies + counters.exceptions;
}

// SIGTERM and SIGINT reach the event loop through a socket pair: a signal
// handler may only write a byte.
int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[0], &byte, 1);
}

// Qt's own messages (its PostgreSQL driver's "Unable to free statement: FATAL:
// …" on a connection the server ended, for instance) are lines of this log
// too: standard error holds nothing but the log's one-line form.
void logQtMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    logLine(message.simplified());
}

} // namespace

// One instrument on the line: its poller, its recorder and forwarder, its
// journal, and its copy of the tables that the poller fills and the recorder reads.
struct RecordSession::Instrument {
    int address = 0;
    QString databasePath;
    std::unique_ptr<Poller> poller;
    std::unique_ptr<Recorder> recorder;
    // Its link and recording changes and the forwarder's events, in its own database.
    std::unique_ptr<HealthMonitor> monitor;
    // Its alarm, relay and input changes, the opening, the tool's start and end.
    std::unique_ptr<EventJournal> journal;
    std::unique_ptr<Historian> historian;
    // Its scaling, read after the polls at each opening of the port.
    std::unique_ptr<ScalingWatch> scaling;
    // Its last poll read the values (the instrument answered them).
    bool valuesAnswered = false;
    // Whether the values it records were read (an exception reply reads none),
    // and its other tables.
    PolledTables tables;
    // Its own last reply and failure: the port's are those of whichever
    // instrument was polled last.
    std::optional<QDateTime> lastReply;
    QString reason;
    // Its state on the link and the one before, for its rows' quality.
    LinkState state = LinkState::NotOpened;
    LinkState cameFrom = LinkState::NotOpened;
    std::array<qint32, kPolledRegisters> registers{};
    std::array<float, kPolledRegisters> values{};
    std::array<qint32, kPolledInputs> inputs{};
    std::array<qint32, kPolledCoils> coils{};
    double pvLastDate = 0, pvLastTime = 0, lpvLastDate = 0, lpvLastTime = 0;
    // What the log said last, so that only changes are logged.
    bool recordingKnown = false;
    bool wasRecording = false;
    // The file took rows in this run: a recording database, where the
    // events a stop cannot write may wait beside it.
    bool everRecorded = false;
    std::optional<HistorianStatus> historianLogged;
};

QString linkStateLine(LinkState to, const QString &reason)
{
    const qint64 retrySeconds =
        std::chrono::duration_cast<std::chrono::seconds>(PortReconnection::kRetryInterval).count();
    QString line = QStringLiteral("link: ") + QLatin1String(linkStateWords(to).english);
    // Only a state with a failure behind it gives its reason.
    const bool failed =
        to == LinkState::NoAnswer || to == LinkState::PortLost || to == LinkState::OpenFailed;
    if (failed)
        line += QStringLiteral(": ") + reason;
    if (to == LinkState::PortLost)
        line += QStringLiteral("; reopening every %1 s").arg(retrySeconds);
    if (to == LinkState::OpenFailed)
        line += QStringLiteral("; trying again every %1 s").arg(retrySeconds);
    return line;
}

QString recordingStateLine(const RecordingStatus &status, bool resumed)
{
    if (!status.recording)
        return QStringLiteral("cannot record into %1: %2").arg(status.path, status.reason);
    return (resumed ? QStringLiteral("recording resumed into ")
                    : QStringLiteral("recording into ")) +
           status.path;
}

QString recordDatabasePath(const RecordOptions &options, int address)
{
    const QString base = options.databasePath.isEmpty() ? databasePath() : options.databasePath;
    return options.addresses.size() > 1 ? addressDatabasePath(base, address) : base;
}

void logLine(const QString &text)
{
    const QString line =
        QStringLiteral("zelmar: %1 %2\n").arg(momentText(QDateTime::currentDateTime()), text);
    std::fputs(line.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

RecordSession::RecordSession(const RecordOptions &options, QObject *parent)
    : QObject(parent), m_options(options)
{
    m_pollTimer.setInterval(Poller::kPollInterval);
    m_recordTimer.setInterval(Recorder::kTimer1Interval);
    connect(&m_pollTimer, &QTimer::timeout, this, &RecordSession::poll);
    connect(&m_recordTimer, &QTimer::timeout, this, &RecordSession::record);
    connect(linkHealth(), &LinkHealth::stateChanged, this, &RecordSession::noteLink);
    connect(linkHealth(), &LinkHealth::addressStateChanged, this, &RecordSession::noteInstrument);
}

RecordSession::~RecordSession()
{
    shutDown();
}

void RecordSession::start()
{
    const bool several = m_options.addresses.size() > 1;
    const QString linkText =
        QStringLiteral("%1 %2").arg(QLatin1String(kBaudTexts[m_options.baudCode]),
                                    QLatin1String(kParityTexts[m_options.parityCode]));
    for (int address : m_options.addresses) {
        auto instrument = std::make_unique<Instrument>();
        Instrument &in = *instrument;
        Instrument *target = &in;
        in.address = address;
        in.databasePath = recordDatabasePath(m_options, address);
        linkHealth()->watchInstrument(address);
        in.poller = std::make_unique<Poller>();
        in.recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("mscom-a%1").arg(address));
        in.monitor = std::make_unique<HealthMonitor>(linkHealth(), nullptr, address);
        in.monitor->watchRecorder(in.recorder.get());
        connect(in.monitor->recording(), &RecordingWatch::stateChanged, this,
                [this, target](const RecordingStatus &status) { noteRecording(*target, status); });
        in.journal = std::make_unique<EventJournal>();
        in.journal->toolStarted();
        // The poller reports with this instrument's tables in place (swapIn).
        connect(in.poller.get(), &Poller::polled, in.journal.get(), &EventJournal::pollDelivered);
        connect(in.poller.get(), &Poller::polled, this, [target](const PollDelivery &delivery) {
            target->tables.read(delivery);
            target->valuesAnswered = delivery.registers;
        });
        watchScaling(in);
        in.recorder->setQualitySource([target] {
            return instrumentRowQuality(target->state, target->cameFrom,
                                        target->tables.values.fresh());
        });
        in.recorder->load(in.databasePath);
        // This session drives every recorder's tick itself, with that
        // instrument's tables in place; the recorder's own clock only ticks.
        QObject::disconnect(&in.recorder->timer1(), nullptr, in.recorder.get(), nullptr);

        ForwarderSettings settings =
            forwarderSettingsFromEnvironment(in.databasePath, m_options.port, address, linkText);
        if (several)
            settings.station = addressStation(settings.station, address);
        if (!settings.target.host.isEmpty() || !settings.target.isValid()) {
            in.historian =
                std::make_unique<Historian>(settings, QStringLiteral("historian-a%1").arg(address));
            connect(
                in.historian.get(), &Historian::statusChanged, this,
                [this, target](const HistorianStatus &status) { noteHistorian(*target, status); });
            // Its events reach the instrument's events table once the recorder has made it.
            in.monitor->watchHistorian(in.historian.get());
            if (settings.target.isValid())
                logLine(QStringLiteral("address %1: forwarding as station %2 to %3")
                            .arg(address)
                            .arg(settings.station, settings.target.address()));
            in.historian->start();
        }
        m_instruments.push_back(std::move(instrument));
    }
    openPort();
    for (auto &instrument : m_instruments) {
        CommSettings[CommIndex::Address] = instrument->address;
        instrument->journal->linkOpened();
    }
    m_pollTimer.start();
    m_recordTimer.start();
}

void RecordSession::watchScaling(Instrument &in)
{
    Instrument *target = &in;
    in.scaling = std::make_unique<ScalingWatch>();
    // The unit names the database keeps, then those of --unit, which are kept in their place.
    OperatorUnits units{};
    {
        RingReader reader(QStringLiteral("scaling-units-a%1").arg(in.address));
        if (reader.open(in.databasePath) == RingReader::OpenResult::Opened) {
            if (const std::optional<OperatorUnits> stored =
                    readOperatorUnits(QSqlDatabase::database(reader.connectionName(), false)))
                units = *stored;
        }
    }
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        const std::optional<QString> &named = m_options.units[ch];
        if (!named || *named == units[ch])
            continue;
        units[ch] = *named;
        in.recorder->noteOperatorUnit(ch, *named, SystemClock::now());
        logLine(QStringLiteral("address %1: unit of channel %2: %3")
                    .arg(in.address)
                    .arg(ch + 1)
                    .arg(named->isEmpty() ? QStringLiteral("(none)") : *named));
    }
    in.scaling->setOperatorUnits(units);
    connect(in.scaling.get(), &ScalingWatch::scalingChanged, this,
            [target](const KnownScaling &known) {
                target->recorder->noteScaling(known, SystemClock::now());
                QStringList channels;
                for (int ch = 0; ch < kScaledChannels; ++ch)
                    if (known[ch])
                        channels << QStringLiteral("CH%1 %2 %3")
                                        .arg(ch + 1)
                                        .arg(known[ch]->decimals)
                                        .arg(known[ch]->unit.isEmpty() ? QStringLiteral("-")
                                                                       : known[ch]->unit);
                logLine(QStringLiteral("address %1: scaling (decimals, unit): %2")
                            .arg(target->address)
                            .arg(channels.join(QStringLiteral(", "))));
            });
    connect(in.scaling.get(), &ScalingWatch::readProblem, this, [target](const QString &text) {
        target->monitor->noteScaling(text);
        logLine(QStringLiteral("address %1: scaling: %2").arg(target->address).arg(text));
    });
}

void RecordSession::openPort()
{
    // A port that cannot be opened now is tried again by the link itself.
    if (openConnection(QString::number(m_options.port), m_options.baudCode, m_options.parityCode,
                       QString::number(m_options.addresses.first())) == 0) {
        logLine(QStringLiteral("port %1 (%2) open at %3 bit/s, parity %4")
                    .arg(m_options.port)
                    .arg(linkHealth()->settings().path,
                         QLatin1String(kBaudTexts[m_options.baudCode]),
                         QLatin1String(kParityTexts[m_options.parityCode])));
    }
}

void RecordSession::noteLink(LinkState, LinkState to, const QString &reason)
{
    // Values read before the port went away are no reading of the port opened
    // anew, and the instrument found there may be scaled otherwise.
    if (to == LinkState::Opening)
        for (auto &instrument : m_instruments) {
            instrument->tables.reset();
            instrument->scaling->requestRead();
        }
    logLine(QStringLiteral("port %1: ").arg(m_options.port) + linkStateLine(to, reason));
}

void RecordSession::noteInstrument(qint32 address, LinkState from, LinkState to,
                                   const QString &reason)
{
    for (auto &instrument : m_instruments) {
        if (instrument->address == address) {
            instrument->state = to;
            instrument->cameFrom = from;
        }
    }
    // The port's own changes (opening, lost, closed) have their line already.
    if (to == LinkState::Live)
        logLine(QStringLiteral("address %1: instrument answers").arg(address));
    else if (to == LinkState::NoAnswer)
        logLine(
            QStringLiteral("address %1: instrument does not answer: %2").arg(address).arg(reason));
}

void RecordSession::swapIn(Instrument &in)
{
    for (int i = 0; i < kPolledRegisters; ++i) {
        InputRegisters[i] = in.registers[i];
        ProcessValues[i] = in.values[i];
    }
    for (int i = 0; i < kPolledInputs; ++i)
        InputStates[i] = in.inputs[i];
    for (int i = 0; i < kPolledCoils; ++i)
        CoilStates[i] = in.coils[i];
    PvLastDate = in.pvLastDate;
    PvLastTime = in.pvLastTime;
    LpvLastDate = in.lpvLastDate;
    LpvLastTime = in.lpvLastTime;
    CommSettings[CommIndex::Address] = in.address;
}

void RecordSession::swapOut(Instrument &in)
{
    for (int i = 0; i < kPolledRegisters; ++i) {
        in.registers[i] = InputRegisters[i];
        in.values[i] = ProcessValues[i];
    }
    for (int i = 0; i < kPolledInputs; ++i)
        in.inputs[i] = InputStates[i];
    for (int i = 0; i < kPolledCoils; ++i)
        in.coils[i] = CoilStates[i];
    in.pvLastDate = PvLastDate;
    in.pvLastTime = PvLastTime;
    in.lpvLastDate = LpvLastDate;
    in.lpvLastTime = LpvLastTime;
}

void RecordSession::poll()
{
    if (!linkPortOpen(linkHealth()->state()) || m_polling)
        return;
    m_polling = true;
    QElapsedTimer slot;
    slot.start();
    for (auto &instrument : m_instruments) {
        if (m_shutDown)
            break;
        swapIn(*instrument);
        const LinkCounters before = linkHealth()->counters();
        instrument->poller->tick();
        noteExchanges(*instrument, before);
        if (m_pollListener) {
            PolledState polled;
            // On the recorder's line an instrument's place is its Modbus address.
            polled.address = instrument->address;
            polled.moduleAddress = instrument->address;
            polled.state = instrument->state;
            polled.cameFrom = instrument->cameFrom;
            polled.valuesRead = instrument->tables.values.fresh();
            polled.tables = instrument->tables;
            polled.reason = instrument->reason;
            polled.lastReply = instrument->lastReply;
            polled.recording = instrument->monitor->recording();
            m_pollListener(polled);
        }
        swapOut(*instrument);
        // A recording tick that fell into this poll's yields runs now, with
        // every instrument's own tables in place.
        if (m_recordPending) {
            m_recordPending = false;
            m_polling = false;
            record();
            m_polling = true;
        }
    }
    // Scaling reads go in the gap after every instrument's poll, one at a
    // time while the slot has room for it: the next poll never waits for one.
    for (auto &instrument : m_instruments) {
        if (m_shutDown || !instrument->scaling->readWaits())
            continue;
        instrument->scaling->afterPoll(m_options.port, instrument->address, m_options.baudCode,
                                       instrument->valuesAnswered,
                                       std::chrono::microseconds(slot.nsecsElapsed() / 1000));
    }
    m_polling = false;
}

void RecordSession::noteExchanges(Instrument &in, const LinkCounters &before)
{
    // The exchanges of one poll are all this instrument's: a reply among them
    // is its reply, the link's last failure after a failed one is its failure.
    const LinkHealth *link = linkHealth();
    const LinkCounters &after = link->counters();
    if (answeredExchanges(after) != answeredExchanges(before)) {
        in.lastReply = QDateTime::currentDateTime();
        in.reason.clear();
    } else if (after.requests != before.requests) {
        in.reason = link->lastFailureChinese();
    }
}

void RecordSession::record()
{
    if (m_polling) {
        m_recordPending = true;
        return;
    }
    for (auto &instrument : m_instruments) {
        swapIn(*instrument);
        const qint32 before = instrument->recorder->pvCounter();
        instrument->recorder->tick();
        swapOut(*instrument);
        // Events that the database could not take at the time (locked, full) follow later.
        if (!instrument->monitor->events().pending().empty())
            instrument->monitor->events().flush();
        if (instrument->historian && instrument->recorder->pvCounter() != before)
            instrument->historian->recorded();
    }
}

void RecordSession::noteRecording(Instrument &in, const RecordingStatus &status)
{
    const bool resumed = status.recording && in.recordingKnown && !in.wasRecording;
    in.recordingKnown = true;
    in.wasRecording = status.recording;
    in.everRecorded = in.everRecorded || status.recording;
    // The journal's events go where the recorder records, once it can.
    if (status.recording && !in.journal->log().isOpen())
        in.journal->open(status.path);
    logLine(QStringLiteral("address %1: ").arg(in.address) + recordingStateLine(status, resumed));
}

void RecordSession::noteHistorian(Instrument &in, const HistorianStatus &status)
{
    if (in.historianLogged && !historianChangeWorthALine(*in.historianLogged, status))
        return;
    in.historianLogged = status;
    logLine(QStringLiteral("address %1: forwarder: %2")
                .arg(in.address)
                .arg(historianStatusText(status)));
}

void RecordSession::shutDown()
{
    if (m_shutDown)
        return;
    m_shutDown = true;
    m_pollTimer.stop();
    m_recordTimer.stop();
    // The stop's own events first, so that they are written and forwarded
    // with the last rows.
    for (auto &instrument : m_instruments)
        instrument->journal->linkClosed();
    closeConnection();
    for (auto &instrument : m_instruments)
        instrument->journal->toolEnded();
    writeWhatWaits();
    for (auto &instrument : m_instruments)
        keepWhatIsUnwritten(*instrument);
    // All forwarders take their last look side by side: a server that does
    // not answer holds the stop up for one grace period, not one per instrument.
    for (auto &instrument : m_instruments) {
        if (instrument->historian)
            instrument->historian->requestStop(Historian::StopMode::AfterLastLook);
    }
    for (auto &instrument : m_instruments) {
        if (instrument->historian)
            instrument->historian->stop();
    }
    m_instruments.clear();
    logLine(QStringLiteral("stopped; port %1 released").arg(m_options.port));
}

namespace
{
// The events logs an instrument's events wait in: its health monitor's and its
// journal's (one and the same once both follow the recording database).
std::vector<EventLog *> eventLogsOf(HealthMonitor &monitor, EventJournal &journal)
{
    std::vector<EventLog *> logs{&monitor.events()};
    if (&journal.log() != &monitor.events())
        logs.push_back(&journal.log());
    return logs;
}
} // namespace

void RecordSession::writeWhatWaits()
{
    for (auto &instrument : m_instruments) {
        // A journal that never reached the file (it took no rows yet) tries it now.
        if (instrument->everRecorded && !instrument->journal->log().isOpen())
            instrument->journal->open(instrument->databasePath);
    }
    const QDeadlineTimer deadline(kStopWriteBudget);
    for (;;) {
        bool done = true;
        for (auto &instrument : m_instruments) {
            swapIn(*instrument);
            done = instrument->recorder->writeWaitingNow() && done;
            swapOut(*instrument);
            for (EventLog *log : eventLogsOf(*instrument->monitor, *instrument->journal)) {
                // A log that never learnt its file has nowhere to write.
                if (!log->path().isEmpty())
                    done = log->flush() == 0 && done;
            }
        }
        if (done || deadline.hasExpired())
            return;
        QThread::msleep(static_cast<unsigned long>(kStopWriteRetry.count()));
    }
}

void RecordSession::keepWhatIsUnwritten(Instrument &in)
{
    const RecordingLoss loss = in.recorder->giveUpWaiting();
    std::vector<Event> events;
    for (EventLog *log : eventLogsOf(*in.monitor, *in.journal)) {
        const std::vector<Event> waiting = log->takeWaiting();
        events.insert(events.end(), waiting.begin(), waiting.end());
    }
    if (!loss.any() && events.empty())
        return;
    const qsizetype eventCount = qsizetype(events.size());
    if (loss.any())
        events.push_back(Event{SystemClock::now(), EventKind::Recording, in.databasePath,
                               recordingLossDetail(LossCause::Stop, loss)});
    std::stable_sort(events.begin(), events.end(),
                     [](const Event &a, const Event &b) { return a.when < b.when; });
    QString error = QStringLiteral("the file took no rows in this run");
    const bool kept = in.everRecorded && keepUnwrittenEvents(in.databasePath, events, &error);
    const QString why = in.monitor->recording()->status().reason;
    QString line = QStringLiteral("address %1: stopped before all was written into %2")
                       .arg(in.address)
                       .arg(in.databasePath);
    if (!why.isEmpty())
        line += QStringLiteral(" (%1)").arg(why);
    line += QStringLiteral(": ");
    if (loss.any())
        line += recordingLossText(loss) + QStringLiteral(" lost; ");
    const QString eventsText = QStringLiteral("%1 events").arg(eventCount);
    const QString what = !loss.any() ? eventsText
                         : eventCount == 0
                             ? QStringLiteral("the rows-lost event")
                             : eventsText + QStringLiteral(" and the rows-lost event");
    line += kept ? QStringLiteral("%1 wait in %2 for the next start")
                       .arg(what, unwrittenEventsPath(in.databasePath))
                 : QStringLiteral("%1 lost too: %2").arg(what, error);
    logLine(line);
}

namespace
{

// The recorder's web view for `options`: one page per instrument on the line,
// each over its own database; nullptr with `error` when it cannot start.
std::unique_ptr<WebView> startRecordWebView(const QString &value, const RecordOptions &options,
                                            QString &error)
{
    QMap<int, QString> databases;
    for (int address : options.addresses)
        databases.insert(address, recordDatabasePath(options, address));
    const WebSettings settings = webSettings(value, QProcessEnvironment::systemEnvironment(),
                                             options.addresses, databases, error);
    if (!error.isEmpty())
        return nullptr;
    auto view = std::make_unique<WebView>(settings);
    error = view->start();
    if (!error.isEmpty())
        return nullptr;
    return view;
}

// Publishes each of the session's polls to `view`, each instrument's snapshots
// numbered on their own.
void followPolls(RecordSession &session, WebView &view)
{
    auto sequences = std::make_shared<QMap<int, quint64>>();
    session.setPollListener([&view, sequences](const PolledState &polled) {
        view.publish(
            snapshotOfTables(polled, ++(*sequences)[polled.address], QDateTime::currentDateTime()));
    });
}

} // namespace

int runRecordMode(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    nameTool();
    const RecordOptions options = parseRecordOptions(QCoreApplication::arguments());
    if (!options.isValid()) {
        std::fprintf(stderr, "zelmar: %s\n", options.error.toLocal8Bit().constData());
        return kRecordUsageError;
    }
    if (!options.help.isEmpty()) {
        std::fputs(options.help.toLocal8Bit().constData(), stdout);
        return 0;
    }
    // $ZELMAR_DB is as much the recorder's input as --db.
    const QString problem =
        databasePathProblem(options.databasePath.isEmpty() ? databasePath() : options.databasePath);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "zelmar: ZELMAR_DB: %s\n", problem.toLocal8Bit().constData());
        return kRecordUsageError;
    }
    // The recordings are no one else's business: files 0640 and folders 0750
    // at most, or tighter where the service's UMask= says so.
    ::umask(::umask(0) | S_IWGRP | S_IRWXO);

    // Another tool polling the same line would take this one's replies: refused before anything
    // starts.
    const QString device = resolvePortDevice(options.port);
    if (portInUse(device)) {
        std::fprintf(stderr, "zelmar: port %d (%s): 端口被占用: port in use by another program\n",
                     options.port, QFile::encodeName(device).constData());
        return kRecordUsageError;
    }
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalPipe) != 0)
        return 1;
    QSocketNotifier notifier(g_signalPipe[1], QSocketNotifier::Read);
    RecordSession session(options);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char byte = 0;
        [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[1], &byte, 1);
        logLine(QStringLiteral("stopping"));
        QCoreApplication::quit();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    // The web view starts before the port: an address it cannot serve ends the recorder at once.
    std::unique_ptr<WebView> web;
    const QString webValue = webOptionValue(QCoreApplication::arguments());
    if (!webValue.isEmpty()) {
        QString error;
        web = startRecordWebView(webValue, options, error);
        if (!web) {
            std::fprintf(stderr, "zelmar: %s\n", error.toLocal8Bit().constData());
            return 1;
        }
        followPolls(session, *web);
        logLine(QStringLiteral("web view on ") + web->url());
    }
    logLine(QStringLiteral("recording without a window"));
    setServerNoticeLog(logLine); // a historian server's warnings are lines of this log
    qInstallMessageHandler(logQtMessage);
    const QString warning = lineCapacityWarning(options);
    if (!warning.isEmpty())
        logLine(warning);
    session.start();
    const int code = app.exec();
    session.shutDown();
    return code;
}
