#include "openlink.h"

#include "modbuslink.h"
#include "shared.h"

namespace
{
constexpr qint32 kBaud9600 = 1;
constexpr qint32 kNoParity = 0;
constexpr qint32 kFirstAddress = 1;
} // namespace

qint32 openLinkAsOverview(int port)
{
    CommSettings[CommIndex::Port] = port;
    CommSettings[CommIndex::BaudCode] = kBaud9600;
    CommSettings[CommIndex::ParityCode] = kNoParity;
    CommSettings[CommIndex::Address] = kFirstAddress;
    CommSettings[CommIndex::OpenResult] = OpenPort_Modbus(port, kBaud9600, kNoParity);
    return CommSettings[CommIndex::OpenResult];
}
