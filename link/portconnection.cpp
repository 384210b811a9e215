#include "portconnection.h"

#include "modbuslink.h"
#include "numbers.h"
#include "shared.h"

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
    const qint32 result =
        OpenPort_Modbus(CommSettings[CommIndex::Port], CommSettings[CommIndex::BaudCode],
                        CommSettings[CommIndex::ParityCode]);
    CommSettings[CommIndex::OpenResult] = result;
    return result;
}

void closeConnection()
{
    ClosePort_Modbus(CommSettings[CommIndex::Port]);
}
