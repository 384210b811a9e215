#include "livesnapshot.h"

#include "numbers.h"

#include <QColor>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace
{

// Past the registers' 16 bits by far: no integer of the instrument's.
constexpr float kLargestScaledRaw = 1e9f;

// A value as the windows write it (shortest decimal of the single-precision
// value), not the nearest double's long expansion.
QJsonValue number(float value)
{
    return singleText(value).toDouble();
}

QJsonArray boxes(const LiveSnapshot::Box *first, int count)
{
    QJsonArray list;
    for (int i = 0; i < count; ++i)
        list.append(QJsonObject{{QStringLiteral("name"), first[i].name},
                                {QStringLiteral("text"), first[i].text},
                                {QStringLiteral("colour"), first[i].colour},
                                {QStringLiteral("stale"), first[i].stale}});
    return list;
}

} // namespace

QString isoWithOffset(const QDateTime &moment)
{
    if (!moment.isValid())
        return {};
    // Qt writes UTC as "Z"; every instant that leaves the tool has "+hh:mm".
    const QDateTime shifted = moment.toOffsetFromUtc(moment.offsetFromUtc());
    const int minutes = qAbs(shifted.offsetFromUtc()) / 60;
    return shifted.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss")) +
           QStringLiteral("%1%2:%3")
               .arg(shifted.offsetFromUtc() < 0 ? QStringLiteral("-") : QStringLiteral("+"))
               .arg(minutes / 60, 2, 10, QLatin1Char('0'))
               .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString colourText(quint32 rgb)
{
    return QColor(QRgb(rgb)).name();
}

QByteArray liveJson(const LiveSnapshot &s)
{
    static const char *const kValueNames[] = {"ch1", "ch2", "ch3", "ch4", "da"};
    static const char *const kExtraNames[] = {"ir6", "ir7", "ir8"};
    QJsonObject object;
    object.insert(QStringLiteral("address"), s.moduleAddress);
    object.insert(QStringLiteral("sequence"), qint64(s.sequence));
    object.insert(QStringLiteral("time"), isoWithOffset(s.time));
    // The same instant in milliseconds since 1970 (UTC), for programs that time the view.
    object.insert(QStringLiteral("timeMs"), s.time.toMSecsSinceEpoch());
    for (int i = 0; i < LiveSnapshot::kValues; ++i)
        object.insert(QLatin1String(kValueNames[i]), number(s.values[i]));
    for (int i = 0; i < LiveSnapshot::kExtras; ++i)
        object.insert(QLatin1String(kExtraNames[i]), number(s.extras[i]));
    QJsonArray channels;
    for (int ch = 0; ch < kScaledChannels; ++ch) {
        const float raw = s.values[ch];
        const std::optional<ChannelScaling> &scaling = s.scaling[ch];
        // Scaled only as the instrument's own integer; anything else goes as it is.
        const bool scaled = scaling && std::fabs(raw) < kLargestScaledRaw && raw == std::trunc(raw);
        channels.append(QJsonObject{
            {QStringLiteral("value"),
             scaled ? engineeringValue(qint32(raw), scaling->decimals) : number(raw)},
            {QStringLiteral("text"),
             scaled ? engineeringText(qint32(raw), scaling->decimals) : singleText(raw)},
            {QStringLiteral("raw"), number(raw)},
            {QStringLiteral("decimals"), scaling ? QJsonValue(scaling->decimals) : QJsonValue()},
            {QStringLiteral("unit"), scaling ? QJsonValue(scaling->unit) : QJsonValue()}});
    }
    object.insert(QStringLiteral("channels"), channels);
    // The retransmission value is whole per cent of the instrument's output.
    object.insert(QStringLiteral("daUnit"), QStringLiteral("%"));
    object.insert(QStringLiteral("valuesStale"), s.valuesStale);
    object.insert(QStringLiteral("quality"), s.quality ? QJsonValue(*s.quality) : QJsonValue());
    object.insert(QStringLiteral("qualityText"), s.qualityText);
    QJsonArray inputs, relays;
    for (bool on : s.inputs)
        inputs.append(on ? 1 : 0);
    for (bool on : s.relays)
        relays.append(on ? 1 : 0);
    object.insert(QStringLiteral("inputs"), inputs);
    object.insert(QStringLiteral("relays"), relays);
    object.insert(QStringLiteral("inputBoxes"), boxes(s.inputBoxes.data(), LiveSnapshot::kInputs));
    object.insert(QStringLiteral("relayBoxes"), boxes(s.relayBoxes.data(), LiveSnapshot::kRelays));
    object.insert(
        QStringLiteral("link"),
        QJsonObject{{QStringLiteral("state"), s.linkState},
                    {QStringLiteral("text"), s.linkText},
                    {QStringLiteral("colour"), s.linkColour},
                    {QStringLiteral("reason"), s.linkReason},
                    {QStringLiteral("detail"), s.linkDetail},
                    {QStringLiteral("lastReply"),
                     s.lastReply ? QJsonValue(isoWithOffset(*s.lastReply)) : QJsonValue()}});
    object.insert(QStringLiteral("recording"),
                  QJsonObject{{QStringLiteral("on"), s.recording},
                              {QStringLiteral("text"), s.recordingText},
                              {QStringLiteral("colour"), s.recordingColour}});
    object.insert(QStringLiteral("unacknowledged"),
                  s.unacknowledged ? QJsonValue(*s.unacknowledged) : QJsonValue());
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}
