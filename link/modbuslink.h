#pragma once

#include "linktimeouts.h"

#include <QString>
#include <QtGlobal>

// The seven operations of the instrument's link library, with its argument
// orders, 32-bit integers and buffer packing. `port` is the serial port number
// (1..20, resolved by portDevicePath) and `address` the instrument's module
// (slave) address, 1..247. Register, input and coil number n is protocol address n-1.
// A register read that fails leaves the caller's buffer untouched and returns -1;
// a bit read that fails sets the slots it would have filled to kLinkNoBits.

constexpr qint32 kLinkWriteFailed = -8888;
// Bits packed into one slot of a bit read's buffer.
constexpr int kLinkBitsPerSlot = 8;
// What a failed bit read leaves in its slots: no byte, so that a caller that
// takes only 0..255 keeps what it had instead of the buffer's older contents.
constexpr qint32 kLinkNoBits = -1;

// Opens the port with baud code 0/1/2 (4800/9600/19200 bit/s) and parity code
// 0/1/2 (none/odd/even), 8 data bits, 1 stop bit, on the device portDevicePath
// names now. Opening an open port again reopens it with the new settings (and a
// failed reopening leaves it closed).
// Returns 0 on success, -1 on failure (bad code, no device, not a terminal,
// or the device held by another program: errno EBUSY, see portInUse).
// An open port is held exclusively: flock() on the device keeps every tool of
// ours out (root's too), TIOCEXCL keeps out any other program that is not root's.
qint32 OpenPort_Modbus(qint32 port, qint32 baudCode, qint32 parityCode);
// OpenPort_Modbus on the device `path` instead of the one the port number names now.
qint32 openPortDevice(qint32 port, const QString &path, qint32 baudCode, qint32 parityCode);
// Whether another program holds the device at `path` as an open port of ours
// holds it (flock() or TIOCEXCL): true when it cannot be taken now. False for
// a device that is free or cannot be opened for another reason.
bool portInUse(const QString &path);
// Closes the port if it is open, releasing its hold on the device. Returns 0.
qint32 ClosePort_Modbus(qint32 port);
// Input registers first..first+count-1 into buffer[0..count-1] (signed 16-bit values).
qint32 Get_3X_DX(qint32 port, qint32 address, qint32 first, qint32 count, qint32 *buffer);
// Holding registers first..first+count-1 into buffer[0..count-1] (signed 16-bit values).
qint32 Get_4X_DX(qint32 port, qint32 address, qint32 first, qint32 count, qint32 *buffer);
// 16 discrete inputs packed 8 per slot into buffer[0] and buffer[1]; bit i of a
// slot is the i-th input of its eight. On failure both slots hold kLinkNoBits.
qint32 Get_1X_B16(qint32 port, qint32 address, qint32 first, qint32 *buffer);
// 16 coils, packed like Get_1X_B16. An instrument with only 8 coils fills slot 0
// and leaves slot 1 untouched (also when that read fails: slot 0 holds kLinkNoBits).
qint32 Get_0X_B16(qint32 port, qint32 address, qint32 first, qint32 *buffer);
// Writes one holding register; kLinkWriteFailed when the exchange failed, the
// port is not open, or the value does not fit 16 bits (-32768..65535 are sent as
// their 16-bit pattern; anything else is not sent).
qint32 Set_4X_D1(qint32 port, qint32 address, qint32 reg, qint32 value);

// The device path of port number n: $ZELMAR_PORT_<n> when set, otherwise
// /dev/ttyUSB<n-1> when it exists, else /dev/ttyS<n-1> (\\.\COM<n> on Windows).
QString portDevicePath(qint32 port);

// The folder of the serial adapters' stable names: $ZELMAR_SERIAL_BY_ID when
// set, otherwise /dev/serial/by-id.
QString serialByIdFolder();
// The stable name of the device at `path`: the entry of `byIdFolder` that leads
// to the same device (the first by name), so that an adapter plugged in again
// under another number is found by it; `path` itself when none does, when the
// device does not exist, or when `path` is in that folder already.
QString stableDevicePath(const QString &path, const QString &byIdFolder = serialByIdFolder());
// The device that "打开" opens for port number n and its retries keep to:
// stableDevicePath(portDevicePath(n)).
QString resolvePortDevice(qint32 port);
