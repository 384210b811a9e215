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
