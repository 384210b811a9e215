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

// This machine's offset from UTC at `utcSeconds`, as the local time of the instant says.
qint32 zoneOffsetAt(qint64 utcSeconds)
{
    return QDateTime::fromSecsSinceEpoch(utcSeconds, Qt::UTC).toLocalTime().offsetFromUtc();
}

// Milliseconds a day.
constexpr qint64 kMSecsPerDay = kWholeSecondsPerDay * 1000;

// `value` / `divisor` rounded down (instants before 1970 included).
qint64 floorDivision(qint64 value, qint64 divisor)
{
    const qint64 quotient = value / divisor;
    return quotient - ((value % divisor) < 0 ? 1 : 0);
}

} // namespace

qint32 LocalOffsets::at(qint64 utcSeconds)
{
    if (utcSeconds >= m_from && utcSeconds <= m_to)
        return m_offset;
    const qint32 offset = zoneOffsetAt(utcSeconds);
    qint64 last = utcSeconds + kWholeSecondsPerDay;
    if (zoneOffsetAt(last) != offset) {
        // The clocks change within the day: its last second of `offset`.
        qint64 changed = last;
        last = utcSeconds;
        while (changed - last > 1) {
            const qint64 middle = last + (changed - last) / 2;
            (zoneOffsetAt(middle) == offset ? last : changed) = middle;
        }
    }
    m_from = utcSeconds;
    m_to = last;
    m_offset = offset;
    return offset;
}

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

namespace
{

// The core of a reading: the rows of `table` handed to `each` as the server
// sends them, then, with `withEvents`, the events of the range.
std::optional<StationHistory> readStation(const QString &source, RecordTable table,
                                          const QDateTime &from, const QDateTime &to,
                                          bool withEvents, const StationRecordSink &each,
                                          QVector<ScalingEntry> *scalingRead, QString *error)
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
    // The station's scaling entries, by which its rows read in engineering
    // values: read first, so that a reader writing rows as they arrive knows
    // them before the first.
    std::optional<QVector<ScalingEntry>> scaling = server.readScaling(target.station);
    if (!scaling)
        return refused(server.lastError(), error);
    if (scalingRead)
        *scalingRead = *scaling;
    // The local date and time by arithmetic on the instant and its offset:
    // a local time per row cost more than the rest of the reading.
    static const double epochSerial = daySerial(QDate(1970, 1, 1));
    LocalOffsets offsets;
    const auto toRecord = [&offsets, &each](const ServerSample &sample) {
        const qint64 utcMSecs = sample.ts.toMSecsSinceEpoch();
        const qint32 offset = offsets.at(floorDivision(utcMSecs, 1000));
        const qint64 localMSecs = utcMSecs + qint64(offset) * 1000;
        const qint64 days = floorDivision(localMSecs, kMSecsPerDay);
        const qint64 secondOfDay = (localMSecs - days * kMSecsPerDay) / 1000;
        return each(StationRecord{epochSerial + double(days), double(secondOfDay) / kSecondsPerDay,
                                  sample.values, sample.quality, offset});
    };
    if (!server.readSamples(target.station,
                            table == RecordTable::PvData ? SampleTable::Seconds
                                                         : SampleTable::TenSeconds,
                            from, to, toRecord)) {
        const QString cutOff = server.cutOffReason();
        return refused(cutOff.isEmpty() ? server.lastError() : cutOff, error);
    }
    StationHistory history;
    history.scaling = std::move(*scaling);
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

} // namespace

std::optional<StationHistory> readStationHistory(const QString &source, RecordTable table,
                                                 const QDateTime &from, const QDateTime &to,
                                                 bool withEvents, QString *error)
{
    QVector<StationRecord> records;
    std::optional<StationHistory> history = readStation(
        source, table, from, to, withEvents,
        [&records](const StationRecord &record) {
            records.append(record);
            return true;
        },
        nullptr, error);
    if (history)
        history->records = std::move(records);
    return history;
}

bool readStationRecords(const QString &source, RecordTable table, const QDateTime &from,
                        const QDateTime &to, const StationRecordSink &each,
                        QVector<ScalingEntry> *scaling, QString *error)
{
    return readStation(source, table, from, to, false, each, scaling, error).has_value();
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
