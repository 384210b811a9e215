#include "modbuslink.h"

// Placeholder until the libmodbus implementation lands.
qint32 OpenPort_Modbus(qint32, qint32, qint32) { return -1; }
qint32 ClosePort_Modbus(qint32) { return 0; }
qint32 Get_3X_DX(qint32, qint32, qint32, qint32, qint32 *) { return -1; }
qint32 Get_4X_DX(qint32, qint32, qint32, qint32, qint32 *) { return -1; }
qint32 Get_1X_B16(qint32, qint32, qint32, qint32 *) { return -1; }
qint32 Get_0X_B16(qint32, qint32, qint32, qint32 *) { return -1; }
qint32 Set_4X_D1(qint32, qint32, qint32, qint32) { return kLinkWriteFailed; }
QString portDevicePath(qint32) { return {}; }
