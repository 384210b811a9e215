#include "historianreader.h"

#include "daytime.h"
#include "historianserver.h"
#include "historianurl.h"

#include <QAtomicInt>

namespace
{

constexpr std::chrono::milliseconds kReadingTimeout{60000};

std::optional<StationHistory> refused(const QString &reason, QString *error)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

// The local date and time to the second, with its offset: in an hour the
// clocks repeat, the local time alone names two instants.
QDateTime wholeSecond(const QDateTime &moment)
{
    const QDateTime local = moment.toLocalTime();
    const QTime time = local.time();
    return QDateTime(local.date(), QTime(time.hour(), time.minute(), time.second()),
                     Qt::OffsetFromUTC, local.offsetFromUtc());
}

} // namespace

bool isHistorianSource(const QString &source)
{
    return isHistorianAddress(source);
}

Event localEventOf(const ServerEvent &event)
{
    const std::optional<EventKind> kind = eventKindFromName(event.kind);
    if (kind)
        return Event{wholeSecond(event.ts), *kind, event.source, event.detail, event.state};
    return Event{wholeSecond(event.ts), EventKind::Historian, event.source,
                 event.kind + QStringLiteral(": ") + event.detail};
}

std::optional<StationHistory> readStationHistory(const QString &source, RecordTable table,
                                                 const QDateTime &from, const QDateTime &to,
                                                 bool withEvents, QString *error)
{
    const HistorianTarget target = parseHistorianUrl(source);
    if (!target.isValid())
        return refused(target.error, error);
    if (target.station.isEmpty())
        return refused(QStringLiteral("historian address names no station: add ?station=NAME"),
                       error);
    // A name of its own for each reading: readers may run on several threads at once.
    static QAtomicInt readings;
    HistorianServer server(QStringLiteral("historian-read-%1").arg(readings.fetchAndAddRelaxed(1)));
    // A long range may take the server a while; a server that does not answer
    // at all is given up within the same bound.
    server.setStatementTimeout(kReadingTimeout);
    const StatementWatch::Armed armed = server.watchExchange();
    if (!server.open(target))
        return refused(server.lastError(), error);
    const std::optional<QVector<ServerSample>> samples = server.readSamples(
        target.station,
        table == RecordTable::PvData ? SampleTable::Seconds : SampleTable::TenSeconds, from, to);
    if (!samples) {
        const QString cutOff = server.cutOffReason();
        return refused(cutOff.isEmpty() ? server.lastError() : cutOff, error);
    }
    StationHistory history;
    history.records.reserve(samples->size());
    for (const ServerSample &sample : *samples) {
        const QDateTime local = sample.ts.toLocalTime();
        history.records.append({daySerial(local.date()), dayFraction(local.time()), sample.values,
                                sample.quality, local.offsetFromUtc()});
    }
    // The station's scaling entries, by which its rows read in engineering values.
    const std::optional<QVector<ScalingEntry>> scaling = server.readScaling(target.station);
    if (!scaling)
        return refused(server.lastError(), error);
    history.scaling = *scaling;
    if (!withEvents)
        return history;
    const std::optional<ServerEvent> before =
        server.readLastEventBefore(target.station, eventKindName(EventKind::Link), from);
    const std::optional<QVector<ServerEvent>> events = server.readEvents(target.station, from, to);
    if (!events)
        return refused(server.lastError(), error);
    if (before)
        history.events.push_back(localEventOf(*before));
    for (const ServerEvent &event : *events)
        history.events.push_back(localEventOf(event));
    return history;
}

std::optional<QVector<StationRecord>> readStationRecords(const QString &source, RecordTable table,
                                                         const QDateTime &from, const QDateTime &to,
                                                         QString *error)
{
    std::optional<StationHistory> history =
        readStationHistory(source, table, from, to, false, error);
    if (!history)
        return std::nullopt;
    return std::move(history->records);
}
