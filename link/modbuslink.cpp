#include "modbuslink.h"

#include "linkhealth.h"

#include <modbus/modbus.h>

#include <QDir>
#include <QFileInfo>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <map>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace
{

constexpr std::array<char, 3> kParities{'N', 'O', 'E'};
constexpr int kFirstSlave = 1;
constexpr int kLastSlave = 247;
constexpr int kPackedBits = 16;
constexpr int kReadFailed = -1;

// An open port: its libmodbus context, and whether the instrument has been found
// to hold only 8 coils (a 16-coil read was refused with "illegal data address").
struct OpenPort {
    modbus_t *ctx = nullptr;
    bool eightCoils = false;
};

// The open ports, by port number. Every call comes from the one UI thread.
std::map<qint32, OpenPort> &openPorts()
{
    static std::map<qint32, OpenPort> ports;
    return ports;
}

// The context of an open port, ready to talk to slave `address`; nullptr when the
// port is not open or the address is not a slave address.
OpenPort *portFor(qint32 port, qint32 address)
{
    auto it = openPorts().find(port);
    if (it == openPorts().end() || address < kFirstSlave || address > kLastSlave)
        return nullptr;
    if (modbus_set_slave(it->second.ctx, address) != 0)
        return nullptr;
    // Drop anything a late reply left behind, so it is not taken for this reply.
    modbus_flush(it->second.ctx);
    return &it->second;
}

bool validRange(qint32 first, qint32 count, int maxCount)
{
    return count >= 1 && count <= maxCount && first >= 1 && first <= 0x10000 - count + 1;
}

void toTimeval(int us, uint32_t &sec, uint32_t &usec)
{
    sec = static_cast<uint32_t>(us / 1'000'000);
    usec = static_cast<uint32_t>(us % 1'000'000);
}

using RegisterRead = int (*)(modbus_t *, int, int, uint16_t *);

qint32 readRegisters(RegisterRead read, qint32 port, qint32 address, qint32 first, qint32 count,
                     qint32 *buffer)
{
    OpenPort *open = portFor(port, address);
    if (!open || !buffer || !validRange(first, count, MODBUS_MAX_READ_REGISTERS))
        return kReadFailed;
    std::array<uint16_t, MODBUS_MAX_READ_REGISTERS> words{};
    ExchangeWatch watch(port, address);
    if (!watch.done(read(open->ctx, first - 1, count, words.data()) == count))
        return kReadFailed;
    for (int i = 0; i < count; ++i)
        buffer[i] = static_cast<int16_t>(words[i]); // the instrument's values are signed
    return 0;
}

using BitRead = int (*)(modbus_t *, int, int, uint8_t *);

// Reads `count` bits (8 or 16) from number `first` on and packs them 8 per slot
// into buffer[0..count/8-1]; false, with the buffer untouched, when the exchange failed.
bool readPackedBits(BitRead read, modbus_t *ctx, qint32 first, int count, qint32 *buffer)
{
    std::array<uint8_t, kPackedBits> bits{};
    if (read(ctx, first - 1, count, bits.data()) != count)
        return false;
    for (int slot = 0; slot * kLinkBitsPerSlot < count; ++slot) {
        qint32 packed = 0;
        for (int i = 0; i < kLinkBitsPerSlot; ++i)
            if (bits[slot * kLinkBitsPerSlot + i])
                packed |= 1 << i;
        buffer[slot] = packed;
    }
    return true;
}

// A failed read of `count` bits: the slots it would have filled hold no byte.
qint32 noBits(qint32 *buffer, int count)
{
    if (buffer) {
        for (int slot = 0; slot * kLinkBitsPerSlot < count; ++slot)
            buffer[slot] = kLinkNoBits;
    }
    return kReadFailed;
}

// Takes the open device `fd` for this tool alone: false when another holds it.
// flock() is what tools of ours see, root's included; TIOCEXCL then refuses
// any later open() of the device but root's, as serial terminals do.
bool holdExclusively(int fd)
{
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return false;
    ::ioctl(fd, TIOCEXCL);
    return true;
}

} // namespace

bool portInUse(const QString &path)
{
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == EBUSY;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    ::close(fd);
    return held;
}

qint32 OpenPort_Modbus(qint32 port, qint32 baudCode, qint32 parityCode)
{
    return openPortDevice(port, portDevicePath(port), baudCode, parityCode);
}

qint32 openPortDevice(qint32 port, const QString &path, qint32 baudCode, qint32 parityCode)
{
    ClosePort_Modbus(port);
    if (baudCode < 0 || baudCode >= static_cast<qint32>(kLinkBaudRates.size()) || parityCode < 0 ||
        parityCode >= static_cast<qint32>(kParities.size()))
        return kReadFailed;
    if (port < 1 || path.isEmpty())
        return kReadFailed;
    modbus_t *ctx = modbus_new_rtu(QFile::encodeName(path).constData(), kLinkBaudRates[baudCode],
                                   kParities[parityCode], 8, 1);
    if (!ctx)
        return kReadFailed;
    // connect() configures the line with tcsetattr, which fails on anything that
    // is not a terminal, so a regular file or a pipe is refused here.
    if (modbus_connect(ctx) != 0) {
        modbus_free(ctx);
        return kReadFailed;
    }
    // One tool on a line: two polling the same instrument take each other's
    // replies and record them as their own.
    if (!holdExclusively(modbus_get_socket(ctx))) {
        modbus_close(ctx);
        modbus_free(ctx);
        errno = EBUSY;
        return kReadFailed;
    }
    const LinkTimeouts t = linkTimeouts(baudCode);
    uint32_t sec = 0;
    uint32_t usec = 0;
    toTimeval(t.responseUs, sec, usec);
    modbus_set_response_timeout(ctx, sec, usec);
    toTimeval(t.byteUs, sec, usec);
    modbus_set_byte_timeout(ctx, sec, usec);
    modbus_set_error_recovery(ctx, MODBUS_ERROR_RECOVERY_NONE);
    modbus_flush(ctx);
    openPorts()[port] = OpenPort{ctx, false};
    return 0;
}

qint32 ClosePort_Modbus(qint32 port)
{
    auto it = openPorts().find(port);
    if (it != openPorts().end()) {
        // The tty keeps TIOCEXCL as long as any holder keeps it open (the
        // simulator keeps its pseudo-terminal): cleared, or no one could open it after us.
        ::ioctl(modbus_get_socket(it->second.ctx), TIOCNXCL);
        modbus_close(it->second.ctx);
        modbus_free(it->second.ctx);
        openPorts().erase(it);
    }
    return 0;
}

qint32 Get_3X_DX(qint32 port, qint32 address, qint32 first, qint32 count, qint32 *buffer)
{
    return readRegisters(modbus_read_input_registers, port, address, first, count, buffer);
}

qint32 Get_4X_DX(qint32 port, qint32 address, qint32 first, qint32 count, qint32 *buffer)
{
    return readRegisters(modbus_read_registers, port, address, first, count, buffer);
}

qint32 Get_1X_B16(qint32 port, qint32 address, qint32 first, qint32 *buffer)
{
    OpenPort *open = portFor(port, address);
    if (!open || !buffer || !validRange(first, kPackedBits, MODBUS_MAX_READ_BITS))
        return noBits(buffer, kPackedBits);
    return ExchangeWatch(port, address)
                   .done(readPackedBits(modbus_read_input_bits, open->ctx, first, kPackedBits,
                                        buffer))
               ? 0
               : noBits(buffer, kPackedBits);
}

qint32 Get_0X_B16(qint32 port, qint32 address, qint32 first, qint32 *buffer)
{
    OpenPort *open = portFor(port, address);
    if (!open || !buffer || !validRange(first, kPackedBits, MODBUS_MAX_READ_BITS))
        return noBits(buffer, kPackedBits);
    // The instrument has 8 coils (its relays); a 16-coil read is refused, so after
    // the first refusal only slot 0 is read and slot 1 is left as it was.
    if (!open->eightCoils) {
        if (ExchangeWatch(port, address)
                .done(readPackedBits(modbus_read_bits, open->ctx, first, kPackedBits, buffer)))
            return 0;
        if (errno != EMBXILADD)
            return noBits(buffer, kPackedBits);
        open->eightCoils = true;
    }
    return ExchangeWatch(port, address)
                   .done(
                       readPackedBits(modbus_read_bits, open->ctx, first, kLinkBitsPerSlot, buffer))
               ? 0
               : noBits(buffer, kLinkBitsPerSlot);
}

qint32 Set_4X_D1(qint32 port, qint32 address, qint32 reg, qint32 value)
{
    // Values from -32768 to 65535 travel as their 16-bit pattern; anything wider
    // cannot be written and fails like a failed exchange, without sending.
    if (reg < 1 || reg > 0x10000 || value < INT16_MIN || value > UINT16_MAX)
        return kLinkWriteFailed;
    OpenPort *open = portFor(port, address);
    if (!open)
        return kLinkWriteFailed;
    ExchangeWatch watch(port, address);
    if (!watch.done(modbus_write_register(open->ctx, reg - 1, static_cast<uint16_t>(value)) == 1))
        return kLinkWriteFailed;
    return 0;
}

QString portDevicePath(qint32 port)
{
    if (port < 1)
        return {};
    const QByteArray configured = qgetenv(QByteArray("ZELMAR_PORT_") + QByteArray::number(port));
    if (!configured.isEmpty())
        return QFile::decodeName(configured);
#ifdef Q_OS_WIN
    return QStringLiteral("\\\\.\\COM%1").arg(port);
#else
    const QString usb = QStringLiteral("/dev/ttyUSB%1").arg(port - 1);
    if (QFileInfo::exists(usb))
        return usb;
    return QStringLiteral("/dev/ttyS%1").arg(port - 1);
#endif
}

QString serialByIdFolder()
{
    const QString configured = qEnvironmentVariable("ZELMAR_SERIAL_BY_ID");
    return configured.isEmpty() ? QStringLiteral("/dev/serial/by-id") : configured;
}

QString stableDevicePath(const QString &path, const QString &byIdFolder)
{
    const QString device = QFileInfo(path).canonicalFilePath();
    const QDir folder(byIdFolder);
    if (device.isEmpty() || byIdFolder.isEmpty() ||
        QFileInfo(path).absoluteDir().canonicalPath() == folder.canonicalPath())
        return path;
    // udev names each adapter there by its maker, model and serial number, and
    // moves the name to the adapter's new node when it is plugged in again.
    const QFileInfoList names =
        folder.entryInfoList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
    for (const QFileInfo &name : names) {
        if (name.canonicalFilePath() == device)
            return name.absoluteFilePath();
    }
    return path;
}

QString resolvePortDevice(qint32 port)
{
    return stableDevicePath(portDevicePath(port));
}
