#include "webdata.h"

#include "csvexport.h"
#include "instants.h"
#include "journalrows.h"
#include "livesnapshot.h"
#include "numbers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace Web
{

QByteArray historyJson(const QVector<RingRow> &rows, RecordTable ring, const ChartLook &look,
                       const ScalingTimeline &scaling)
{
    QJsonArray list;
    QJsonArray rowDecimals;
    InstantResolver instants;
    qint64 lastUtc = 0;
    for (const RingRow &row : rows) {
        const QDateTime instant = instants.next(row.date, row.time, row.utcOffset);
        QJsonArray line{isoWithOffset(instant)};
        for (int k = 0; k < kRecordedValueCount; ++k)
            line.append((row.missing & (1u << k))
                            ? QJsonValue()
                            : QJsonValue(singleText(row.values[k]).toDouble()));
        line.append(row.quality ? QJsonValue(*row.quality) : QJsonValue());
        lastUtc = instant.toSecsSinceEpoch();
        QJsonArray decimals;
        for (int ch = 0; ch < kScaledChannels; ++ch) {
            const ChannelScaling *inForce = scaling.at(ch, lastUtc);
            decimals.append(inForce ? QJsonValue(inForce->decimals) : QJsonValue());
        }
        rowDecimals.append(decimals);
        list.append(line);
    }
    QJsonArray units;
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        const ChannelScaling *inForce = rows.isEmpty() ? nullptr : scaling.at(ch, lastUtc);
        units.append(inForce ? QJsonValue(inForce->unit) : QJsonValue());
    }
    units.append(QStringLiteral("%"));
    QJsonArray curves;
    for (const QString &colour : look.curves)
        curves.append(colour);
    const QJsonObject object{
        {QStringLiteral("ring"),
         ring == RecordTable::PvData ? QStringLiteral("1s") : QStringLiteral("10s")},
        {QStringLiteral("look"), QJsonObject{{QStringLiteral("curves"), curves},
                                             {QStringLiteral("background"), look.background},
                                             {QStringLiteral("grid"), look.grid},
                                             {QStringLiteral("band"), look.band}}},
        {QStringLiteral("units"), units},
        {QStringLiteral("decimals"), rowDecimals},
        {QStringLiteral("rows"), list}};
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray historyCsv(const QVector<RingRow> &rows, const ScalingTimeline &scaling)
{
    return History::csvBody(rows, scaling);
}

QByteArray eventsJson(const std::vector<NumberedEvent> &events, qint32 newest)
{
    QJsonArray list;
    for (const NumberedEvent &row : events)
        list.append(QJsonObject{{QStringLiteral("id"), row.id},
                                {QStringLiteral("time"), isoWithOffset(row.event.when)},
                                {QStringLiteral("kind"), eventKindName(row.event.kind)},
                                {QStringLiteral("kindText"), Journal::kindText(row.event.kind)},
                                {QStringLiteral("source"), row.event.source},
                                {QStringLiteral("detail"), row.event.detail}});
    return QJsonDocument(
               QJsonObject{{QStringLiteral("newest"), newest}, {QStringLiteral("events"), list}})
        .toJson(QJsonDocument::Compact);
}

QByteArray errorJson(const QString &reason)
{
    return QJsonDocument(QJsonObject{{QStringLiteral("error"), reason}})
        .toJson(QJsonDocument::Compact);
}

QString linkStateClass(const QString &linkState)
{
    // The snapshot's codes are lower-case words joined by hyphens; anything
    // else is no state the style sheet colours, and never reaches the markup.
    static const QRegularExpression kCode(QStringLiteral("^[a-z]+(-[a-z]+)*$"));
    return QStringLiteral("state-") +
           (kCode.match(linkState).hasMatch() ? linkState : QStringLiteral("unknown"));
}

QByteArray indexPage(const std::vector<ListedInstrument> &instruments)
{
    QString items;
    for (const ListedInstrument &in : instruments)
        items += QStringLiteral("<li><a href=\"/a/%1/\">地址 %1</a> <span class=\"state %2\" "
                                "id=\"state-%1\">%3</span></li>\n")
                     .arg(in.address)
                     .arg(linkStateClass(in.linkState), in.linkText.toHtmlEscaped());
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"zh-CN\"><head><meta charset=\"utf-8\">"
                          "<meta name=\"viewport\" content=\"width=device-width, "
                          "initial-scale=1\"><title>ZELMAR 仪表</title>"
                          "<link rel=\"stylesheet\" href=\"/page.css\"></head>"
                          "<body><header><h1>ZELMAR 仪表</h1></header>"
                          "<main><ul id=\"instruments\">\n%1</ul></main></body></html>\n")
        .arg(items)
        .toUtf8();
}

} // namespace Web
