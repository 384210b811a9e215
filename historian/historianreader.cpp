#include "historianreader.h"

#include "daytime.h"
#include "historianserver.h"
#include "historianurl.h"

#include <QAtomicInt>

namespace
{

constexpr std::chrono::milliseconds kReadingTimeout{60000};

std::optional<QVector<PvRecord>> refused(const QString &reason, QString *error)
{
    if (error)
        *error = reason;
    return std::nullopt;
}

} // namespace

bool isHistorianSource(const QString &source)
{
    return isHistorianAddress(source);
}

std::optional<QVector<PvRecord>> readStationRecords(const QString &source, RecordTable table,
                                                    const QDateTime &from, const QDateTime &to,
                                                    QString *error)
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
    QVector<PvRecord> records;
    records.reserve(samples->size());
    for (const ServerSample &sample : *samples) {
        const QDateTime local = sample.ts.toLocalTime();
        records.append({daySerial(local.date()), dayFraction(local.time()), sample.values});
    }
    return records;
}
