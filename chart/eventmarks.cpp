#include "eventmarks.h"

#include "daytime.h"

namespace Journal
{

namespace
{
const QString kOn = QStringLiteral("ON");
const QString kOff = QStringLiteral("OFF");

bool detailBeginsWith(const Event &event, const QString &word)
{
    return event.detail.startsWith(word) &&
           (event.detail.size() == word.size() || event.detail.at(word.size()) == u' ');
}
} // namespace

bool isOnEvent(const Event &event)
{
    return detailBeginsWith(event, kOn);
}

bool isOffEvent(const Event &event)
{
    return detailBeginsWith(event, kOff);
}

bool isMarkEvent(const Event &event)
{
    switch (event.kind) {
    case EventKind::Alarm:
    case EventKind::OpenCircuit:
    case EventKind::ShortCircuit:
    case EventKind::AlarmOutput:
    case EventKind::ConfigWrite:
        return true;
    default:
        return false;
    }
}

Mark markOf(const Event &event)
{
    return Mark{daySerial(event.when.date()) + dayFraction(event.when.time()), event.kind,
                isOffEvent(event), event.source + u' ' + event.detail};
}

QColor markColour(EventKind kind)
{
    switch (kind) {
    case EventKind::Alarm:
        return QColor(255, 0, 0);
    case EventKind::AlarmOutput:
        return QColor(160, 0, 0);
    case EventKind::OpenCircuit:
        return QColor(255, 128, 0);
    case EventKind::ShortCircuit:
        return QColor(128, 0, 128);
    case EventKind::ConfigWrite:
        return QColor(0, 0, 255);
    default:
        return QColor(64, 64, 64);
    }
}

} // namespace Journal
