#include "linkquality.h"

#include "recorder.h"

RowQuality rowQualityFor(LinkState state, LinkState cameFrom)
{
    switch (state) {
    case LinkState::Live:
        return RowQuality::Good;
    case LinkState::NoAnswer:
        return RowQuality::Held;
    case LinkState::PortLost:
    case LinkState::OpenFailed:
        return RowQuality::CommFailure;
    case LinkState::Opening:
        return cameFrom == LinkState::PortLost || cameFrom == LinkState::OpenFailed
                   ? RowQuality::CommFailure
                   : RowQuality::NotConnected;
    case LinkState::NotOpened:
        break;
    }
    return RowQuality::NotConnected;
}

LinkQuality::LinkQuality(LinkHealth *link, QObject *parent)
    : QObject(parent), m_quality(rowQualityFor(link->state(), LinkState::NotOpened))
{
    connect(link, &LinkHealth::stateChanged, this,
            [this](LinkState from, LinkState to, const QString &) { onStateChanged(from, to); });
}

void LinkQuality::onStateChanged(LinkState from, LinkState to)
{
    m_quality = rowQualityFor(to, from);
}

void recordQualityOf(Recorder *recorder, LinkHealth *link)
{
    auto *quality = new LinkQuality(link, recorder);
    recorder->setQualitySource([quality] { return quality->current(); });
}
