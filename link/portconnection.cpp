#include "portconnection.h"

#include "linkhealth.h"
#include "modbuslink.h"
#include "numbers.h"
#include "shared.h"

#include <cerrno>

namespace
{
constexpr int kOptionCount = 3; // baud 4800/9600/19200, parity none/odd/even

// The option index is the code the link and the instrument use for the setting.
void storeOptionCode(int index, int commIndex)
{
    if (index >= 0 && index < kOptionCount)
        CommSettings[commIndex] = index;
}
} // namespace

qint32 listNumber(const QString &text, qint32 previous)
{
    return toInt32(leadingNumber(text)).value_or(previous);
}

qint32 openConnection(const QString &portText, int baudIndex, int parityIndex,
                      const QString &addressText)
{
    CommSettings[CommIndex::Port] = listNumber(portText, CommSettings[CommIndex::Port]);
    storeOptionCode(baudIndex, CommIndex::BaudCode);
    storeOptionCode(parityIndex, CommIndex::ParityCode);
    CommSettings[CommIndex::Address] = listNumber(addressText, CommSettings[CommIndex::Address]);
    portReconnection();
    const LinkSettings settings{CommSettings[CommIndex::Port], CommSettings[CommIndex::BaudCode],
                                CommSettings[CommIndex::ParityCode],
                                CommSettings[CommIndex::Address],
                                resolvePortDevice(CommSettings[CommIndex::Port])};
    linkHealth()->openPressed(settings);
    errno = 0;
    // The device is named once here: the link's retries reopen this device
    // only, never another one that the port number comes to stand for.
    const qint32 result =
        openPortDevice(settings.port, settings.path, settings.baudCode, settings.parityCode);
    linkHealth()->opened(result == 0, errno);
    CommSettings[CommIndex::OpenResult] = result;
    return result;
}

void closeConnection()
{
    ClosePort_Modbus(CommSettings[CommIndex::Port]);
    linkHealth()->closed();
}

PortReconnection::PortReconnection(LinkHealth *health, QObject *parent)
    : QObject(parent), m_health(health)
{
    m_retryTimer.setInterval(kRetryInterval);
    connect(&m_retryTimer, &QTimer::timeout, this, &PortReconnection::retry);
    connect(health, &LinkHealth::stateChanged, this,
            [this](LinkState, LinkState to, const QString &) { follow(to); });
}

void PortReconnection::follow(LinkState to)
{
    if (to == LinkState::PortLost) {
        // Closed once the current call has returned: it may still hold the context.
        QTimer::singleShot(0, this, &PortReconnection::closeLostPort);
    }
    if (to == LinkState::PortLost || to == LinkState::OpenFailed) {
        if (!m_retryTimer.isActive())
            m_retryTimer.start();
    } else {
        m_retryTimer.stop();
    }
}

void PortReconnection::closeLostPort()
{
    if (m_health->state() == LinkState::PortLost)
        ClosePort_Modbus(m_health->settings().port);
}

void PortReconnection::retry()
{
    const LinkState state = m_health->state();
    if (state != LinkState::PortLost && state != LinkState::OpenFailed) {
        m_retryTimer.stop();
        return;
    }
    const LinkSettings &settings = m_health->settings();
    errno = 0;
    // The device of "打开", not whatever the port number names now: while a
    // pulled adapter is away, /dev/ttyS<n> must not stand in for it.
    const bool ok =
        openPortDevice(settings.port, settings.path, settings.baudCode, settings.parityCode) == 0;
    m_health->reopened(ok, errno);
}

PortReconnection *portReconnection()
{
    static PortReconnection *const instance = new PortReconnection(linkHealth());
    return instance;
}
