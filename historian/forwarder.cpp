#include "forwarder.h"

#include "daytime.h"
#include "recorder.h"

#include <QCoreApplication>
#include <QSysInfo>

#include <algorithm>

namespace
{

constexpr char kHistorianEnvironment[] = "ZELMAR_HISTORIAN";
constexpr char kStationEnvironment[] = "ZELMAR_STATION";
constexpr char kEventSource[] = "forwarder";

int ringIndex(RecordTable table)
{
    return table == RecordTable::PvData ? 0 : 1;
}

SampleTable sampleTable(RecordTable table)
{
    return table == RecordTable::PvData ? SampleTable::Seconds : SampleTable::TenSeconds;
}

const char *tableText(RecordTable table)
{
    return table == RecordTable::PvData ? "pv_data" : "Lpv_wdjl";
}

QDateTime recordedAt(double date, double time)
{
    return QDateTime(dateFromSerial(date), timeFromFraction(time));
}

QString momentText(double date, double time)
{
    return recordedAt(date, time).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

ForwarderSettings forwarderSettingsFromEnvironment(const QString &databasePath, int serialPort,
                                                   int address, const QString &linkSettings)
{
    ForwarderSettings settings;
    const QString url = qEnvironmentVariable(kHistorianEnvironment);
    if (!url.trimmed().isEmpty())
        settings.target = parseHistorianUrl(url);
    settings.station = stationName(qEnvironmentVariable(kStationEnvironment),
                                   QSysInfo::machineHostName(), serialPort);
    settings.databasePath = databasePath;
    settings.serialPort = serialPort;
    settings.address = address;
    settings.linkSettings = linkSettings;
    return settings;
}

Forwarder::Forwarder(const ForwarderSettings &settings, const QString &connectionName)
    : m_settings(settings), m_source(connectionName + QStringLiteral("-local")),
      m_server(connectionName + QStringLiteral("-server"))
{
    m_server.setStatementTimeout(settings.statementTimeout);
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, &Forwarder::cycle);
}

Forwarder::~Forwarder() = default;

void Forwarder::start()
{
    setStatus(HistorianStatus::State::Connecting, 0);
    cycle();
}

void Forwarder::stop()
{
    m_timer.stop();
    m_server.close();
    m_source.close();
    QThread::currentThread()->quit();
}

void Forwarder::recorded()
{
    const bool waitingForRows = m_status.state == HistorianStatus::State::Forwarding ||
                                m_status.state == HistorianStatus::State::Behind;
    if (waitingForRows && m_server.isOpen() && m_timer.isActive())
        m_timer.start(std::chrono::milliseconds(0));
}

QString Forwarder::positionKey() const
{
    return m_settings.target.address() + QLatin1Char('#') + m_settings.station;
}

void Forwarder::setStatus(HistorianStatus::State state, qint64 behind, const QString &reason)
{
    if (m_status.state == state && m_status.rowsBehind == behind && m_status.reason == reason)
        return;
    m_status = {state, behind, reason};
    emit statusChanged(m_status);
}

void Forwarder::retryLater(const QString &serverReason)
{
    // libpq only sees a connection that went away; the cut-off knows why.
    const QString cutOff = m_server.cutOffReason();
    const QString reason = cutOff.isEmpty() ? serverReason : cutOff;
    m_server.close();
    m_retryDelay = nextRetryDelay(m_retryDelay, m_settings.firstRetry, m_settings.retryCeiling);
    // The server's messages run over several lines; a status is one line,
    // in the strip and in the recorder's log alike.
    setStatus(HistorianStatus::State::Unreachable, m_status.rowsBehind, reason.simplified());
    m_timer.start(m_retryDelay);
}

bool Forwarder::connectServer()
{
    return m_server.open(m_settings.target) && m_server.ensureSchema() &&
           m_server.registerStation(m_settings.station, m_settings.serialPort, m_settings.address,
                                    m_settings.linkSettings);
}

void Forwarder::cycle()
{
    if (m_stopping)
        return;
    // Whatever the server does, this round of work with it ends in time.
    const StatementWatch::Armed armed = m_server.watchExchange();
    // The recorder makes the local database; until it exists there is nothing to send.
    if (!m_source.isOpen() && !m_source.open(m_settings.databasePath)) {
        m_timer.start(m_settings.checkInterval);
        return;
    }
    if (!m_positionsLoaded) {
        for (RecordTable table : {RecordTable::PvData, RecordTable::LpvWdjl}) {
            const std::optional<ForwardPosition> position =
                m_source.readPosition(positionKey(), table);
            if (!position) {
                m_timer.start(m_settings.checkInterval);
                return;
            }
            m_positions[ringIndex(table)] = *position;
        }
        m_positionsLoaded = true;
    }
    if (!m_server.isOpen()) {
        if (m_status.state == HistorianStatus::State::Unreachable)
            setStatus(HistorianStatus::State::Connecting, m_status.rowsBehind);
        if (!connectServer()) {
            retryLater(m_server.lastError());
            return;
        }
    }
    qint64 behind = 0;
    for (RecordTable table : {RecordTable::PvData, RecordTable::LpvWdjl}) {
        const qint64 pending = forwardRing(table);
        if (pending < 0) {
            if (pending == kLocalFailed) {
                // The local file failed, not the server: open it afresh later.
                m_source.close();
                m_timer.start(m_settings.checkInterval);
            } else {
                retryLater(m_server.lastError());
            }
            return;
        }
        behind += pending;
    }
    m_retryDelay = std::chrono::milliseconds(0);
    setStatus(behind > 0 ? HistorianStatus::State::Behind : HistorianStatus::State::Forwarding,
              behind);
    // Catching up goes on at once; otherwise the next look follows the recorder's pace.
    m_timer.start(behind > 0 ? std::chrono::milliseconds(0) : m_settings.checkInterval);
}

qint64 Forwarder::forwardRing(RecordTable table)
{
    const std::optional<SlVoid> counters = m_source.readCounters();
    if (!counters)
        return kLocalFailed;
    const qint32 newest =
        ringCounter(table == RecordTable::PvData ? counters->newestPv : counters->newestLpv);
    ForwardPosition &last = m_positions[ringIndex(table)];

    bool intact = false;
    if (last.id > 0) {
        const std::optional<RecordedRow> row = m_source.readRow(table, last.id);
        if (!row && !m_source.lastError().isEmpty())
            return kLocalFailed;
        intact = row && row->date == last.date && row->time == last.time;
    }
    bool ringFull = false;
    const qint32 oldestIfFull = newest % kRecordRingIds + 1;
    if (!intact && newest > 0) {
        ringFull = m_source.readRow(table, oldestIfFull).has_value();
        if (!m_source.lastError().isEmpty())
            return kLocalFailed;
    }
    const RingSpan span = pendingSpan(last.id, intact, newest, ringFull);
    if (last.id > 0 && !intact && newest > 0) {
        if (!reportLostSpan(table, last, ringFull ? oldestIfFull : 1))
            return kServerFailed;
        // Said once: from here on the ring is sent from its oldest row, as on a first run.
        last = {};
    }

    const BatchRanges ranges = batchRanges(span, m_settings.batchRows);
    QVector<RecordedRow> rows;
    for (const IdRange &range : {ranges.first, ranges.second}) {
        if (range.lastId <= range.afterId)
            continue;
        const std::optional<QVector<RecordedRow>> part =
            m_source.readRows(table, range.afterId, range.lastId);
        if (!part)
            return kLocalFailed;
        rows += *part;
    }
    if (rows.isEmpty())
        return 0;

    QVector<ServerSample> samples;
    samples.reserve(rows.size());
    for (const RecordedRow &row : rows)
        samples.append({recordedAt(row.date, row.time), row.values});
    const std::optional<int> inserted =
        m_server.insertSamples(m_settings.station, sampleTable(table), samples);
    if (!inserted)
        return kServerFailed;

    bool &reported = m_duplicatesReported[ringIndex(table)];
    if (*inserted < rows.size() && !reported) {
        // Rows of this station at these times were there already: another tool
        // forwards under the same station name, a batch whose commit was not
        // confirmed went again, or a restart recorded one second twice. Said
        // once until batches go in whole again.
        const QString detail =
            QStringLiteral("%1 of %2 rows of %3 from %4 to %5 were on the server already for "
                           "this station and were dropped (another tool with the same station "
                           "name, a batch sent again, or one second recorded twice)")
                .arg(rows.size() - *inserted)
                .arg(rows.size())
                .arg(QLatin1String(tableText(table)),
                     momentText(rows.first().date, rows.first().time),
                     momentText(rows.last().date, rows.last().time));
        if (!writeEvent(QStringLiteral("duplicate"), detail))
            return kServerFailed;
        reported = true;
    } else if (*inserted == rows.size()) {
        reported = false;
    }

    const RecordedRow &sent = rows.last();
    last = {sent.id, sent.date, sent.time};
    // A position that could not be stored is stored with the next batch; after
    // a crash in between, the rows go again and the server drops them.
    m_source.writePosition(positionKey(), table, last);
    return std::max<qint64>(
        0, span.count - ((sent.id - span.afterId + kRecordRingIds - 1) % kRecordRingIds + 1));
}

bool Forwarder::reportLostSpan(RecordTable table, const ForwardPosition &last, qint32 oldestId)
{
    const std::optional<RecordedRow> oldest = m_source.readRow(table, oldestId);
    const QString until =
        oldest ? momentText(oldest->date, oldest->time) : QStringLiteral("the oldest row");
    const QString detail =
        QStringLiteral("%1 rows recorded after %2 and before %3 were overwritten in the local "
                       "ring before they reached the server")
            .arg(QLatin1String(tableText(table)), momentText(last.date, last.time), until);
    return writeEvent(QStringLiteral("lost-span"), detail);
}

bool Forwarder::writeEvent(const QString &kind, const QString &detail)
{
    const ServerEvent event{QDateTime::currentDateTime(), kind, QLatin1String(kEventSource),
                            detail};
    if (!m_server.insertEvent(m_settings.station, event))
        return false;
    emit eventWritten(m_settings.station, event);
    return true;
}

Historian::Historian(const ForwarderSettings &settings, const QString &connectionName,
                     QObject *parent)
    : QObject(parent), m_settings(settings), m_connectionName(connectionName)
{
    m_thread.setObjectName(QStringLiteral("historian"));
}

Historian::~Historian()
{
    stop();
}

void Historian::setStatus(const HistorianStatus &status)
{
    m_status = status;
    emit statusChanged(m_status);
}

void Historian::start()
{
    if (m_forwarder)
        return;
    if (!m_settings.target.isValid()) {
        setStatus({HistorianStatus::State::Invalid, 0, m_settings.target.error});
        return;
    }
    if (m_settings.target.host.isEmpty())
        return; // no historian configured
    m_forwarder = new Forwarder(m_settings, m_connectionName);
    m_forwarder->moveToThread(&m_thread);
    connect(m_forwarder, &Forwarder::statusChanged, this, &Historian::setStatus);
    connect(m_forwarder, &Forwarder::eventWritten, this, &Historian::eventWritten);
    m_thread.start();
    QMetaObject::invokeMethod(m_forwarder, &Forwarder::start, Qt::QueuedConnection);
}

void Historian::recorded()
{
    if (m_forwarder)
        QMetaObject::invokeMethod(m_forwarder, &Forwarder::recorded, Qt::QueuedConnection);
}

void Historian::requestStop()
{
    if (!m_forwarder || m_stopping.isValid())
        return;
    m_stopping.start();
    m_forwarder->requestStop();
    // Queued behind the batch under way; it ends the forwarder's thread.
    QMetaObject::invokeMethod(m_forwarder, &Forwarder::stop, Qt::QueuedConnection);
}

void Historian::stop()
{
    if (!m_forwarder)
        return;
    requestStop();
    const qint64 left = kStopGrace.count() - m_stopping.elapsed();
    if (!m_thread.wait(QDeadlineTimer(std::max<qint64>(0, left)))) {
        // The server does not answer: what the batch held stays pending locally.
        m_forwarder->abortServer();
        m_thread.wait();
    }
    delete m_forwarder;
    m_forwarder = nullptr;
    m_stopping.invalidate();
}

Event localHistorianEvent(const QString &station, const ServerEvent &event)
{
    const QDateTime when = event.ts.toLocalTime();
    return Event{QDateTime(when.date(),
                           QTime(when.time().hour(), when.time().minute(), when.time().second())),
                 EventKind::Historian, QStringLiteral("%1 (station %2)").arg(event.source, station),
                 event.kind + QStringLiteral(": ") + event.detail};
}

Historian *toolHistorian()
{
    static Historian *const instance = [] {
        auto *historian = new Historian(forwarderSettingsFromEnvironment(databasePath(), 1, 1, {}));
        QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, historian,
                         &Historian::stop);
        historian->start();
        return historian;
    }();
    return instance;
}
