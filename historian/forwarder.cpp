#include "forwarder.h"

#include "daytime.h"
#include "recorder.h"

#include <QSysInfo>

#include <algorithm>
#include <functional>

namespace
{

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

QDateTime recordedAt(double date, double time)
{
    return QDateTime(dateFromSerial(date), timeFromFraction(time));
}

QString momentText(double date, double time)
{
    return ::momentText(recordedAt(date, time));
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
    // A tool is known by its machine unless told otherwise.
    if (m_settings.host.isEmpty())
        m_settings.host = QSysInfo::machineHostName();
    if (m_settings.machine.isEmpty()) {
        const QByteArray machineId = QSysInfo::machineUniqueId();
        m_settings.machine = machineId.isEmpty() ? m_settings.host : QString::fromLatin1(machineId);
    }
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

void Forwarder::lastLook()
{
    if (!m_stopping && m_server.isOpen())
        cycle();
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

void Forwarder::refuseLater(const QString &reason)
{
    // Said once: asking again changes nothing until an administrator does,
    // so the next look is the longest wait and the state stays as it is.
    m_server.close();
    m_retryDelay = m_settings.retryCeiling;
    setStatus(HistorianStatus::State::Refused, m_status.rowsBehind, reason);
    m_timer.start(m_retryDelay);
}

bool Forwarder::connectServer()
{
    const StationIdentity identity{m_settings.machine, m_settings.host, m_settings.serialPort,
                                   m_settings.address};
    // An upgrade of a large table takes a while: the state says so meanwhile.
    const auto upgrading = [this] {
        setStatus(HistorianStatus::State::Upgrading, m_status.rowsBehind);
    };
    return m_server.open(m_settings.target) && m_server.ensureSchema(upgrading) &&
           m_server.registerStation(m_settings.station, identity, m_settings.linkSettings) ==
               StationClaim::Registered;
}

void Forwarder::primeResolver(InstantResolver &resolver, RecordTable table,
                              const ForwardPosition &last)
{
    resolver = InstantResolver();
    if (last.id <= 0)
        return;
    // The last row sent, resolved again, so that a batch after a restart in
    // the repeated autumn hour goes on with the offset the server has.
    const std::optional<RecordedRow> row = m_source.readRow(table, last.id);
    if (row && row->date == last.date && row->time == last.time)
        resolver.next(row->date, row->time, row->utcOffset);
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
            primeResolver(m_resolvers[ringIndex(table)], table, *position);
        }
        const std::optional<ForwardPosition> events =
            m_source.readPosition(positionKey(), QLatin1String(kEventsRingName));
        if (!events) {
            m_timer.start(m_settings.checkInterval);
            return;
        }
        m_eventPosition = *events;
        m_eventResolver = InstantResolver();
        if (m_eventPosition.id > 0)
            m_eventResolver.next(m_eventPosition.date, m_eventPosition.time, std::nullopt);
        const std::optional<ForwardPosition> scaling =
            m_source.readPosition(positionKey(), QLatin1String(kScalingPositionName));
        if (!scaling) {
            m_timer.start(m_settings.checkInterval);
            return;
        }
        m_scalingPosition = *scaling;
        m_positionsLoaded = true;
    }
    if (!m_server.isOpen()) {
        if (m_status.state == HistorianStatus::State::Unreachable)
            setStatus(HistorianStatus::State::Connecting, m_status.rowsBehind);
        if (!connectServer()) {
            if (m_server.refused())
                refuseLater(m_server.lastError());
            else
                retryLater(m_server.lastError());
            return;
        }
    }
    qint64 behind = 0;
    const std::function<qint64()> sources[] = {
        [this] { return forwardScaling(); },
        [this] { return forwardRing(RecordTable::PvData); },
        [this] { return forwardRing(RecordTable::LpvWdjl); },
        [this] { return forwardEvents(); },
    };
    for (const std::function<qint64()> &forward : sources) {
        const qint64 pending = forward();
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

// One ring as forwardBatch() sends it: a ring of samples or the events ring,
// each read, resolved and sent in its own way.
template <typename Row> struct Forwarder::RingSide {
    QString name;     // as the lost-span event names it
    qint32 ringIds;   // ids 1 .. ringIds
    qint32 batchRows; // rows at most in one transaction
    qint32 newest;    // the ring's newest id (0: empty)
    ForwardPosition &last;
    InstantResolver &resolver;
    std::function<std::optional<Row>(qint32 id)> readOne;
    std::function<std::optional<QVector<Row>>(qint32 afterId, qint32 lastId)> readRows;
    std::function<void(const ForwardPosition &last)> writePosition;
    // Resolves the rows' instants with `resolver` and sends them; false when
    // the server failed.
    std::function<bool(const QVector<Row> &rows, InstantResolver &resolver)> send;
};

template <typename Row> qint64 Forwarder::forwardBatch(const RingSide<Row> &ring)
{
    ForwardPosition &last = ring.last;
    bool intact = false;
    if (last.id > 0) {
        const std::optional<Row> row = ring.readOne(last.id);
        if (!row && !m_source.lastError().isEmpty())
            return kLocalFailed;
        intact = row && row->date == last.date && row->time == last.time;
    }
    bool ringFull = false;
    const qint32 oldestIfFull = ring.newest % ring.ringIds + 1;
    if (!intact && ring.newest > 0) {
        ringFull = ring.readOne(oldestIfFull).has_value();
        if (!m_source.lastError().isEmpty())
            return kLocalFailed;
    }
    const RingSpan span = pendingSpan(last.id, intact, ring.newest, ringFull, ring.ringIds);
    if (last.id > 0 && !intact && ring.newest > 0) {
        const std::optional<Row> oldest = ring.readOne(ringFull ? oldestIfFull : 1);
        if (!reportLostSpan(ring.name, last,
                            oldest ? std::optional(recordedAt(oldest->date, oldest->time))
                                   : std::nullopt))
            return kServerFailed;
        // Said once: from here on the ring is sent from its oldest row, as on
        // a first run, and a restart does not say it again.
        last = {};
        ring.resolver = InstantResolver();
        ring.writePosition(last);
    }

    const BatchRanges ranges = batchRanges(span, ring.batchRows, ring.ringIds);
    QVector<Row> rows;
    for (const IdRange &range : {ranges.first, ranges.second}) {
        if (range.lastId <= range.afterId)
            continue;
        const std::optional<QVector<Row>> part = ring.readRows(range.afterId, range.lastId);
        if (!part)
            return kLocalFailed;
        rows += *part;
    }
    if (rows.isEmpty())
        return 0;

    // Resolved on a copy: a batch that fails is resolved again from the same row.
    InstantResolver resolver = ring.resolver;
    if (!ring.send(rows, resolver))
        return kServerFailed;
    ring.resolver = resolver;

    const Row &sent = rows.last();
    last = {sent.id, sent.date, sent.time};
    // A position that could not be stored is stored with the next batch; after
    // a crash in between, the rows go again and the server leaves them out.
    ring.writePosition(last);
    return std::max<qint64>(
        0, span.count - ((sent.id - span.afterId + ring.ringIds - 1) % ring.ringIds + 1));
}

qint64 Forwarder::forwardRing(RecordTable table)
{
    const std::optional<SlVoid> counters = m_source.readCounters();
    if (!counters)
        return kLocalFailed;
    const qint32 newest =
        ringCounter(table == RecordTable::PvData ? counters->newestPv : counters->newestLpv);
    const RingSide<RecordedRow> ring{
        QLatin1String(ringTableName(table)),
        kRecordRingIds,
        m_settings.batchRows,
        newest,
        m_positions[ringIndex(table)],
        m_resolvers[ringIndex(table)],
        [this, table](qint32 id) { return m_source.readRow(table, id); },
        [this, table](qint32 afterId, qint32 lastId) {
            return m_source.readRows(table, afterId, lastId);
        },
        [this, table](const ForwardPosition &last) {
            m_source.writePosition(positionKey(), table, last);
        },
        [this, table](const QVector<RecordedRow> &rows, InstantResolver &resolver) {
            QVector<ServerSample> samples;
            samples.reserve(rows.size());
            for (const RecordedRow &row : rows) {
                const QDateTime at = resolver.next(row.date, row.time, row.utcOffset);
                samples.append({at, row.values, row.quality, at.offsetFromUtc(), row.id});
            }
            // Rows the server has already (a batch whose commit was not confirmed,
            // sent again) are left out by their key; nothing else can meet them, as
            // no other tool forwards under this station's name.
            return m_server.insertSamples(m_settings.station, sampleTable(table), samples)
                .has_value();
        },
    };
    return forwardBatch(ring);
}

qint64 Forwarder::forwardEvents()
{
    const std::optional<qint32> newest = m_source.readNewestEventId();
    if (!newest)
        return kLocalFailed;
    const RingSide<RecordedEvent> ring{
        QLatin1String(kEventsRingName),
        EventLog::kEventRingIds,
        m_settings.eventBatchRows,
        *newest,
        m_eventPosition,
        m_eventResolver,
        [this](qint32 id) { return m_source.readEvent(id); },
        [this](qint32 afterId, qint32 lastId) { return m_source.readEvents(afterId, lastId); },
        [this](const ForwardPosition &last) {
            m_source.writePosition(positionKey(), QLatin1String(kEventsRingName), last);
        },
        [this](const QVector<RecordedEvent> &events, InstantResolver &resolver) {
            QVector<ServerEvent> sent;
            sent.reserve(events.size());
            for (const RecordedEvent &event : events) {
                const QDateTime at = resolver.next(event.date, event.time, std::nullopt);
                // The forwarder's own notes went to the server when they happened.
                if (event.kind != eventKindName(EventKind::Historian))
                    sent.append(
                        {at, event.kind, event.source, event.detail, event.id, event.state});
            }
            return m_server.insertEvents(m_settings.station, sent).has_value();
        },
    };
    return forwardBatch(ring);
}

qint64 Forwarder::forwardScaling()
{
    const std::optional<qint32> newest = m_source.readNewestScalingId();
    if (!newest)
        return kLocalFailed;
    ForwardPosition &last = m_scalingPosition;
    if (last.id > 0) {
        // Entries are never deleted: one no longer there as it was sent
        // means another file at the path (a new database). Its entries all go
        // from the first; the server keeps one of each already sent.
        const std::optional<StoredScalingEntry> sent = m_source.readScalingEntry(last.id);
        if (!sent && !m_source.lastError().isEmpty())
            return kLocalFailed;
        if (!sent || sent->date != last.date || sent->time != last.time)
            last = {};
    }
    if (*newest <= last.id)
        return 0;
    const std::optional<QVector<StoredScalingEntry>> stored =
        m_source.readScalingEntries(last.id, m_settings.scalingBatchRows);
    if (!stored)
        return kLocalFailed;
    if (stored->isEmpty())
        return 0;
    QVector<ScalingEntry> entries;
    for (const StoredScalingEntry &row : *stored) {
        // A damaged entry scales nothing here either: passed over, not sent.
        if (row.entry)
            entries.append(*row.entry);
    }
    if (!m_server.insertScaling(m_settings.station, entries))
        return kServerFailed;
    const StoredScalingEntry &sent = stored->last();
    last = {sent.id, sent.date, sent.time};
    m_source.writePosition(positionKey(), QLatin1String(kScalingPositionName), last);
    return std::max<qint64>(0, *newest - sent.id);
}

bool Forwarder::reportLostSpan(const QString &ring, const ForwardPosition &last,
                               const std::optional<QDateTime> &oldest)
{
    const QString until = oldest ? momentText(*oldest) : QStringLiteral("the oldest row");
    const QString detail =
        QStringLiteral("%1 rows recorded after %2 and before %3 were overwritten in the local "
                       "ring before they reached the server")
            .arg(ring, momentText(last.date, last.time), until);
    return writeEvent(QStringLiteral("lost-span"), detail);
}

bool Forwarder::writeEvent(const QString &kind, const QString &detail)
{
    const ServerEvent event{QDateTime::currentDateTime(), kind, QLatin1String(kEventSource), detail,
                            std::nullopt};
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

void Historian::requestStop(StopMode mode)
{
    if (!m_forwarder || m_stopping.isValid())
        return;
    m_stopping.start();
    if (mode == StopMode::AfterLastLook)
        QMetaObject::invokeMethod(m_forwarder, &Forwarder::lastLook, Qt::QueuedConnection);
    else
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
        m_forwarder->requestStop();
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
