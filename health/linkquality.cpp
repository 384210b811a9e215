#include "linkquality.h"

#include "poller.h"
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

RowQuality instrumentRowQuality(LinkState state, LinkState cameFrom, bool valuesRead)
{
    if (state == LinkState::Live && !valuesRead)
        return RowQuality::Held;
    return rowQualityFor(state, cameFrom);
}

LinkQuality::LinkQuality(LinkHealth *link, QObject *parent)
    : QObject(parent), m_state(link->state())
{
    connect(link, &LinkHealth::stateChanged, this,
            [this](LinkState from, LinkState to, const QString &) { onStateChanged(from, to); });
}

RowQuality LinkQuality::current() const
{
    return instrumentRowQuality(m_state, m_cameFrom, m_values.fresh());
}

void LinkQuality::onStateChanged(LinkState from, LinkState to)
{
    m_state = to;
    m_cameFrom = from;
    // Values read before the port went away are no reading of the port opened anew.
    if (to == LinkState::Opening)
        m_values.reset();
}

LinkQuality *recordQualityOf(Recorder *recorder, LinkHealth *link, Poller *poller)
{
    auto *quality = new LinkQuality(link, recorder);
    QObject::connect(poller, &Poller::polled, quality, [quality](const PollDelivery &delivery) {
        quality->valuesPolled(delivery.registers);
    });
    recorder->setQualitySource([quality] { return quality->current(); });
    return quality;
}
