// zelmar-sim: a Modbus RTU slave that answers on a pseudo-terminal as the
// ZELMAR indicator would. See --help.

#include "instrument.h"

#include <modbus/modbus.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace
{

// How often the loop looks at the stop, vanish and return flags: a device
// that returns is back within this time.
constexpr int kPollIntervalMs = 50;
// A request of unknown length ends when the line has been quiet this long
// (3.5 characters at 4800 bit/s is 8 ms).
constexpr int kFrameGapMs = 10;
constexpr int kMinFrameLength = 4; // address, function, CRC
constexpr int kFunctionWriteSingle = 0x06;
constexpr int kFunctionWriteMultiple = 0x10;

const char kHelp[] =
    "Usage: zelmar-sim --link PATH [options]\n"
    "\n"
    "Simulates the ZELMAR four-channel indicator as a Modbus RTU slave on a\n"
    "pseudo-terminal, published as the symlink PATH (point ZELMAR_PORT_<n> at it).\n"
    "Runs until SIGTERM or SIGINT, then removes the link if it still names its\n"
    "terminal. An existing file at PATH is never replaced, only a symlink that an\n"
    "earlier simulator left (to a pseudo-terminal, or to nothing).\n"
    "\n"
    "Options:\n"
    "  --link PATH         where to publish the pseudo-terminal (required)\n"
    "  --address N         answer only slave address N (1..247, default 1)\n"
    "  --silent            answer nothing (writes are still logged)\n"
    "  --log FILE          append \"write REG VALUE\" per register write received\n"
    "  --hold REG=VALUE    preset holding register REG (1..64); repeatable\n"
    "  --inputs HEX16      fix discrete inputs 1..16 (bit 0 = input 1)\n"
    "  --coils HEX8        fix coils 1..8 (bit 0 = coil 1)\n"
    "  --values v1,v2,...  fix input registers 1..n\n"
    "  --freeze            stop the channel values from moving\n"
    "  --chatter HEX16:MS  discrete inputs in the mask (bit 0 = input 1) flip every\n"
    "                      MS milliseconds, as a chattering alarm does (with\n"
    "                      --inputs or what the values give)\n"
    "  --help              show this text\n"
    "\n"
    "Faults (for tests and demonstrations):\n"
    "  --delay MS          wait MS milliseconds before each reply\n"
    "  --drop PERCENT      answer nothing to PERCENT of the requests (0..100); a\n"
    "                      dropped request is not carried out either\n"
    "  --corrupt PERCENT   send PERCENT of the replies with a wrong CRC (0..100)\n"
    "                      Both are spread evenly and predictably: with 25, the\n"
    "                      4th, 8th, 12th ... request is dropped; --corrupt counts\n"
    "                      only the requests that were not dropped.\n"
    "  --exception FIRST-LAST[:CODE]\n"
    "                      answer any read or write of registers FIRST..LAST\n"
    "                      (input or holding, numbered from 1) with exception\n"
    "                      CODE (1..255, default 2, illegal data address)\n"
    "  --reply-address N   put slave address N in the replies (a wrong address)\n"
    "  --vanish-after S    after S seconds the device vanishes: the pseudo-terminal\n"
    "                      closes and the link is removed, as when a USB adapter\n"
    "                      is pulled out\n"
    "  --return-after S    S seconds after vanishing it returns on a new\n"
    "                      pseudo-terminal, published at the same link\n"
    "  SIGUSR1 makes the device vanish at once, SIGUSR2 makes it return.\n"
    "\n"
    "Registers (number n = protocol address n-1):\n"
    "  input 1..4    channel values, slow waves that cross their alarm values\n"
    "  input 5       retransmission 0..100 % of the channel in holding 21,\n"
    "                between holding 24 (low) and 23 (high)\n"
    "  input 6       cold-junction temperature 25; inputs 7..16 are 0\n"
    "  discrete 1..12  per channel: alarm, open circuit, short circuit\n"
    "  discrete 13..16 alarms 1..4\n"
    "  coils 1..4    relays: follow the alarms (holding 49 = 0) or are on while\n"
    "                the channel is below its set value (holding 49 = 1)\n"
    "  holding 1..64 configuration; alarm n: set value 2n-1, alarm value 2n,\n"
    "                mode 9+2(n-1) (0 none, 1 upper, 2 lower, 3 upper deviation,\n"
    "                4 lower deviation, 5 band). Registers 17..20 (address, baud,\n"
    "                parity, delay) are stored but do not change how it answers.\n";

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_vanish = 0;
volatile std::sig_atomic_t g_return = 0;

void onSignal(int)
{
    g_stop = 1;
}

void onVanishSignal(int)
{
    g_vanish = 1;
}

void onReturnSignal(int)
{
    g_return = 1;
}

bool parseInt(const std::string &text, int base, long min, long max, long &out)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, base);
    if (errno != 0 || *end != '\0' || v < min || v > max)
        return false;
    out = v;
    return true;
}

struct Options {
    std::string link;
    int address = 1;
    bool silent = false;
    std::string log;
    std::vector<std::pair<int, int>> holds;
    std::optional<uint16_t> inputs;
    std::optional<uint8_t> coils;
    uint16_t chatterMask = 0;
    int chatterMs = 0;
    std::vector<int16_t> values;
    bool freeze = false;
    int delayMs = 0;
    int dropPercent = 0;
    int corruptPercent = 0;
    int exceptionFirst = 0; // 0: no exception range
    int exceptionLast = 0;
    int exceptionCode = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    int replyAddress = 0;    // 0: the own address
    double vanishAfter = -1; // seconds; negative: never
    double returnAfter = -1;
};

// Parses "FIRST-LAST[:CODE]" into the options' exception range.
bool parseExceptionRange(const std::string &text, Options &o)
{
    const auto dash = text.find('-');
    const auto colon = text.find(':');
    long first = 0, last = 0, code = MODBUS_EXCEPTION_ILLEGAL_DATA_ADDRESS;
    if (dash == std::string::npos || !parseInt(text.substr(0, dash), 10, 1, 65536, first) ||
        !parseInt(text.substr(dash + 1,
                              colon == std::string::npos ? std::string::npos : colon - dash - 1),
                  10, first, 65536, last) ||
        (colon != std::string::npos && !parseInt(text.substr(colon + 1), 10, 1, 255, code)))
        return false;
    o.exceptionFirst = static_cast<int>(first);
    o.exceptionLast = static_cast<int>(last);
    o.exceptionCode = static_cast<int>(code);
    return true;
}

bool parseSeconds(const std::string &text, double &out)
{
    char *end = nullptr;
    errno = 0;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || v < 0)
        return false;
    out = v;
    return true;
}

// Returns the options, or nullopt after printing why the command line is wrong.
std::optional<Options> parseOptions(int argc, char **argv, bool &help)
{
    Options o;
    auto fail = [](const std::string &why) {
        std::fprintf(stderr, "zelmar-sim: %s (try --help)\n", why.c_str());
        return std::nullopt;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long v = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
            return o;
        } else if (arg == "--silent") {
            o.silent = true;
        } else if (arg == "--freeze") {
            o.freeze = true;
        } else if (!hasValue) {
            return fail("unknown option or missing value: " + arg);
        } else if (arg == "--link") {
            o.link = argv[++i];
        } else if (arg == "--log") {
            o.log = argv[++i];
        } else if (arg == "--address") {
            if (!parseInt(argv[++i], 10, 1, 247, v))
                return fail("bad address");
            o.address = static_cast<int>(v);
        } else if (arg == "--inputs") {
            if (!parseInt(argv[++i], 16, 0, 0xFFFF, v))
                return fail("bad --inputs mask");
            o.inputs = static_cast<uint16_t>(v);
        } else if (arg == "--chatter") {
            const std::string option = argv[++i];
            const size_t colon = option.find(':');
            long ms = 0;
            if (colon == std::string::npos ||
                !parseInt(option.substr(0, colon), 16, 1, 0xFFFF, v) ||
                !parseInt(option.substr(colon + 1), 10, 1, 3600000, ms))
                return fail("bad --chatter " + option);
            o.chatterMask = static_cast<uint16_t>(v);
            o.chatterMs = static_cast<int>(ms);
        } else if (arg == "--coils") {
            if (!parseInt(argv[++i], 16, 0, 0xFF, v))
                return fail("bad --coils mask");
            o.coils = static_cast<uint8_t>(v);
        } else if (arg == "--hold") {
            const std::string preset = argv[++i];
            const auto eq = preset.find('=');
            long reg = 0;
            if (eq == std::string::npos ||
                !parseInt(preset.substr(0, eq), 10, 1, Instrument::kHoldingRegisters, reg) ||
                !parseInt(preset.substr(eq + 1), 10, -32768, 65535, v))
                return fail("bad --hold " + preset);
            o.holds.emplace_back(static_cast<int>(reg), static_cast<int>(v));
        } else if (arg == "--delay") {
            if (!parseInt(argv[++i], 10, 0, 60000, v))
                return fail("bad --delay");
            o.delayMs = static_cast<int>(v);
        } else if (arg == "--drop" || arg == "--corrupt") {
            if (!parseInt(argv[++i], 10, 0, 100, v))
                return fail("bad " + arg);
            (arg == "--drop" ? o.dropPercent : o.corruptPercent) = static_cast<int>(v);
        } else if (arg == "--exception") {
            if (!parseExceptionRange(argv[++i], o))
                return fail(std::string("bad --exception ") + argv[i]);
        } else if (arg == "--reply-address") {
            if (!parseInt(argv[++i], 10, 1, 247, v))
                return fail("bad --reply-address");
            o.replyAddress = static_cast<int>(v);
        } else if (arg == "--vanish-after" || arg == "--return-after") {
            if (!parseSeconds(argv[++i], arg == "--vanish-after" ? o.vanishAfter : o.returnAfter))
                return fail("bad " + arg);
        } else if (arg == "--values") {
            std::string list = argv[++i];
            size_t start = 0;
            while (start <= list.size()) {
                const size_t comma = std::min(list.find(',', start), list.size());
                if (!parseInt(list.substr(start, comma - start), 10, -32768, 65535, v) ||
                    o.values.size() == Instrument::kInputRegisters)
                    return fail("bad --values " + list);
                o.values.push_back(static_cast<int16_t>(v));
                start = comma + 1;
            }
        } else {
            return fail("unknown option " + arg);
        }
    }
    if (o.link.empty())
        return fail("--link PATH is required");
    return o;
}

// A pseudo-terminal whose slave side stays open in this process, so that the
// tool may close and reopen its port without the terminal going away.
struct PseudoTerminal {
    int master = -1;
    int keepSlave = -1;
    std::string slaveName;
};

std::optional<PseudoTerminal> openPseudoTerminal()
{
    PseudoTerminal pty;
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0)
        return std::nullopt;
    const char *name = ptsname(pty.master);
    if (!name)
        return std::nullopt;
    pty.slaveName = name;
    pty.keepSlave = open(name, O_RDWR | O_NOCTTY);
    if (pty.keepSlave < 0)
        return std::nullopt;
    termios tios{};
    if (tcgetattr(pty.keepSlave, &tios) != 0)
        return std::nullopt;
    cfmakeraw(&tios);
    if (tcsetattr(pty.keepSlave, TCSANOW, &tios) != 0)
        return std::nullopt;
    return pty;
}

// The target of the symlink at `path`, or nullopt when `path` is no symlink.
std::optional<std::string> linkTarget(const std::string &path)
{
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0)
        return std::nullopt;
    target.resize(static_cast<size_t>(length));
    return target;
}

// Whether the symlink at `link` is one that an earlier simulator left behind
// (killed before it could remove it): it names a pseudo-terminal, or nothing
// any more. Any other file at that path belongs to someone else.
bool isStaleLink(const std::string &link)
{
    const auto target = linkTarget(link);
    if (!target)
        return false;
    struct stat st {
    };
    const bool dangling = stat(link.c_str(), &st) != 0 && errno == ENOENT;
    return dangling || target->rfind("/dev/pts/", 0) == 0;
}

// Publishes the slave's name at `link`, replacing a stale link of an earlier
// simulator but never another file.
bool publishLink(const std::string &link, const std::string &target)
{
    struct stat st {
    };
    if (lstat(link.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "zelmar-sim: %s exists and is not a symlink\n", link.c_str());
            return false;
        }
        if (!isStaleLink(link)) {
            std::fprintf(stderr, "zelmar-sim: %s is a symlink to another file\n", link.c_str());
            return false;
        }
        unlink(link.c_str());
    }
    if (symlink(target.c_str(), link.c_str()) != 0) {
        std::fprintf(stderr, "zelmar-sim: cannot create %s: %s\n", link.c_str(),
                     std::strerror(errno));
        return false;
    }
    return true;
}

// Removes the link that publishLink() made, but only while it still names
// this terminal: a file or link put there since by someone else stays.
void withdrawLink(const std::string &link, const std::string &target)
{
    if (linkTarget(link) == target)
        unlink(link.c_str());
}

uint16_t crc16(const uint8_t *data, int length)
{
    uint16_t crc = 0xFFFF;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? static_cast<uint16_t>((crc >> 1) ^ 0xA001)
                            : static_cast<uint16_t>(crc >> 1);
    }
    return crc;
}

// The length of a request once its first bytes are in, from its function code;
// 0 while not yet known or for a function the instrument does not know.
int expectedLength(const uint8_t *frame, int length)
{
    if (length < 2)
        return 0;
    const int function = frame[1];
    if (function >= 0x01 && function <= 0x06)
        return 8; // address, function, start, count or value, CRC
    if ((function == 0x0F || function == kFunctionWriteMultiple) && length >= 7)
        return 9 + frame[6]; // ... count, byte count, data, CRC
    return 0;
}

// Reads one request: up to its expected length, or, for a request whose length
// is unknown, everything until the line goes quiet. Returns the length kept.
int readFrame(int fd, uint8_t *frame, int capacity)
{
    int length = 0;
    for (;;) {
        const ssize_t got = read(fd, frame + length, static_cast<size_t>(capacity - length));
        if (got > 0)
            length += static_cast<int>(got);
        else if (got < 0 && errno != EINTR && errno != EAGAIN)
            return length;
        const int expected = expectedLength(frame, length);
        if ((expected > 0 && length >= expected) || length == capacity)
            return length;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, kFrameGapMs) <= 0 || !(pfd.revents & POLLIN))
            return length;
    }
}

// Drops whatever arrives until the line goes quiet, to find the start of the next request.
void drainUntilQuiet(int fd)
{
    uint8_t junk[256];
    pollfd pfd{fd, POLLIN, 0};
    while (poll(&pfd, 1, kFrameGapMs) > 0 && (pfd.revents & POLLIN))
        if (read(fd, junk, sizeof junk) <= 0)
            return;
}

// Whether a frame is a whole request with a good CRC (low byte first on the wire).
bool frameIntact(const uint8_t *frame, int length)
{
    if (length < kMinFrameLength)
        return false;
    const uint16_t crc = crc16(frame, length - 2);
    return frame[length - 2] == (crc & 0xFF) && frame[length - 1] == (crc >> 8);
}

// Logs each register write of a request, as "write REG VALUE" (1-based, signed).
void logWrites(FILE *log, const uint8_t *req, int length)
{
    if (!log || length < 6)
        return;
    const int header = 1; // RTU: the slave address precedes the function code
    const int function = req[header];
    auto word = [&](int at) { return static_cast<uint16_t>(req[at] << 8 | req[at + 1]); };
    if (function == kFunctionWriteSingle) {
        std::fprintf(log, "write %d %d\n", word(header + 1) + 1,
                     static_cast<int16_t>(word(header + 3)));
    } else if (function == kFunctionWriteMultiple && length >= header + 6) {
        const int first = word(header + 1);
        const int count = word(header + 3);
        for (int i = 0; i < count && header + 6 + 2 * i + 1 < length; ++i)
            std::fprintf(log, "write %d %d\n", first + i + 1,
                         static_cast<int16_t>(word(header + 6 + 2 * i)));
    }
    std::fflush(log);
}

void copyToMapping(const Instrument &ins, modbus_mapping_t *map)
{
    for (int i = 0; i < Instrument::kInputRegisters; ++i)
        map->tab_input_registers[i] = ins.inputRegisters()[i];
    for (int i = 0; i < Instrument::kDiscreteInputs; ++i)
        map->tab_input_bits[i] = ins.discreteInputs()[i];
    for (int i = 0; i < Instrument::kCoils; ++i)
        map->tab_bits[i] = ins.coils()[i];
}

// Whether request number n (1, 2, ...) is one of `percent` in a hundred,
// spread evenly: with 25 the 4th, 8th, 12th ... The same n always gives the
// same answer, so a test knows exactly which requests fail.
bool evenShare(long n, int percent)
{
    return (n * percent) / 100 > ((n - 1) * percent) / 100;
}

// Whether a register request (read or write of input or holding registers)
// touches registers first..last (numbered from 1).
bool touchesRegisters(const uint8_t *req, int length, int first, int last)
{
    if (first == 0 || length < 6)
        return false;
    const int function = req[1];
    const int start = (req[2] << 8 | req[3]) + 1;
    int count = 0;
    if (function == 0x03 || function == 0x04 || function == kFunctionWriteMultiple)
        count = req[4] << 8 | req[5];
    else if (function == kFunctionWriteSingle)
        count = 1;
    return count > 0 && start <= last && start + count - 1 >= first;
}

// The reply that libmodbus wrote into the pipe, as it would go on the line.
std::vector<uint8_t> takeReply(int pipeRead)
{
    std::vector<uint8_t> reply;
    uint8_t chunk[MODBUS_RTU_MAX_ADU_LENGTH];
    ssize_t got = 0;
    while ((got = read(pipeRead, chunk, sizeof chunk)) > 0)
        reply.insert(reply.end(), chunk, chunk + got);
    return reply;
}

void setCrc(std::vector<uint8_t> &frame)
{
    if (frame.size() < kMinFrameLength)
        return;
    const uint16_t crc = crc16(frame.data(), static_cast<int>(frame.size()) - 2);
    frame[frame.size() - 2] = static_cast<uint8_t>(crc & 0xFF);
    frame[frame.size() - 1] = static_cast<uint8_t>(crc >> 8);
}

// The instrument's serial line: a pseudo-terminal published at the link, or
// nothing while the device has vanished.
class Device
{
public:
    explicit Device(std::string link) : m_link(std::move(link)) {}
    ~Device() { vanish(); }

    // Opens a fresh pseudo-terminal and publishes it; false after saying why.
    bool appear()
    {
        const auto pty = openPseudoTerminal();
        if (!pty) {
            std::fprintf(stderr, "zelmar-sim: cannot create a pseudo-terminal: %s\n",
                         std::strerror(errno));
            return false;
        }
        if (!publishLink(m_link, pty->slaveName)) {
            closeTerminal(*pty);
            return false;
        }
        m_pty = *pty;
        return true;
    }
    // Removes the link and closes the terminal: the tool's open port reads and
    // writes fail with EIO from now on, and reopening finds no device.
    void vanish()
    {
        if (!m_pty)
            return;
        withdrawLink(m_link, m_pty->slaveName);
        closeTerminal(*m_pty);
        m_pty.reset();
    }
    bool present() const { return m_pty.has_value(); }
    int master() const { return m_pty ? m_pty->master : -1; }
    const std::string &slaveName() const { return m_pty->slaveName; }

private:
    static void closeTerminal(const PseudoTerminal &pty)
    {
        close(pty.keepSlave);
        close(pty.master);
    }

    std::string m_link;
    std::optional<PseudoTerminal> m_pty;
};

} // namespace

int main(int argc, char **argv)
{
    bool help = false;
    const auto options = parseOptions(argc, argv, help);
    if (help) {
        std::fputs(kHelp, stdout);
        return 0;
    }
    if (!options)
        return 2;
    const Options &o = *options;

    Instrument instrument(o.address);
    for (const auto &[reg, value] : o.holds)
        instrument.setHolding(reg, static_cast<int16_t>(value));
    if (!o.values.empty())
        instrument.fixValues(o.values);
    if (o.inputs)
        instrument.fixInputs(*o.inputs);
    if (o.coils)
        instrument.fixCoils(*o.coils);
    if (o.chatterMask)
        instrument.chatter(o.chatterMask, o.chatterMs);

    FILE *log = nullptr;
    if (!o.log.empty() && !(log = std::fopen(o.log.c_str(), "a"))) {
        std::fprintf(stderr, "zelmar-sim: cannot open log %s\n", o.log.c_str());
        return 1;
    }

    // The RTU back end writes its replies into a pipe, from which they go to
    // the line late, damaged or not at all; the device name is never opened.
    modbus_t *ctx = modbus_new_rtu("/dev/null", 9600, 'N', 8, 1);
    modbus_mapping_t *map =
        modbus_mapping_new(Instrument::kCoils, Instrument::kDiscreteInputs,
                           Instrument::kHoldingRegisters, Instrument::kInputRegisters);
    if (!ctx || !map) {
        std::fprintf(stderr, "zelmar-sim: libmodbus set-up failed\n");
        return 1;
    }
    int replyPipe[2] = {-1, -1};
    if (pipe2(replyPipe, O_NONBLOCK) != 0) {
        std::fprintf(stderr, "zelmar-sim: cannot create a pipe: %s\n", std::strerror(errno));
        return 1;
    }
    modbus_set_slave(ctx, o.address);
    modbus_set_socket(ctx, replyPipe[1]);
    std::copy(instrument.holdingRegisters().begin(), instrument.holdingRegisters().end(),
              map->tab_registers);

    struct sigaction sa {
    };
    sa.sa_handler = onSignal; // no SA_RESTART: poll() returns so the loop sees the flag
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    sa.sa_handler = onVanishSignal;
    sigaction(SIGUSR1, &sa, nullptr);
    sa.sa_handler = onReturnSignal;
    sigaction(SIGUSR2, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Device device(o.link);
    if (!device.appear())
        return 1;
    std::fprintf(stderr, "zelmar-sim: address %d on %s -> %s%s\n", o.address, o.link.c_str(),
                 device.slaveName().c_str(), o.silent ? " (silent)" : "");

    using Clock = std::chrono::steady_clock;
    const auto started = Clock::now();
    auto secondsSince = [](Clock::time_point t) {
        return std::chrono::duration<double>(Clock::now() - t).count();
    };
    std::optional<Clock::time_point> vanishedAt;
    bool timedVanishDone = false;
    long requests = 0; // requests for this address with a good CRC
    long answered = 0; // of those, the ones not dropped
    uint8_t req[MODBUS_RTU_MAX_ADU_LENGTH];
    while (!g_stop) {
        if (device.present() && (g_vanish || (!timedVanishDone && o.vanishAfter >= 0 &&
                                              secondsSince(started) >= o.vanishAfter))) {
            timedVanishDone = timedVanishDone || !g_vanish;
            g_vanish = 0;
            device.vanish();
            vanishedAt = Clock::now();
            std::fprintf(stderr, "zelmar-sim: vanished\n");
        }
        if (!device.present()) {
            const bool timedReturn =
                o.returnAfter >= 0 && secondsSince(*vanishedAt) >= o.returnAfter;
            if ((g_return || timedReturn) && device.appear()) {
                std::fprintf(stderr, "zelmar-sim: returned -> %s\n", device.slaveName().c_str());
            } else {
                g_return = 0;
                poll(nullptr, 0, kPollIntervalMs);
                continue;
            }
            g_return = 0;
        }
        pollfd pfd{device.master(), POLLIN, 0};
        const int ready = poll(&pfd, 1, kPollIntervalMs);
        if (ready <= 0 || !(pfd.revents & POLLIN))
            continue;
        // The framing is done here rather than by modbus_receive(): on a request
        // for another address libmodbus waits for that slave's reply and would
        // swallow the next request as if it were one. No other slave is here.
        const int length = readFrame(device.master(), req, static_cast<int>(sizeof req));
        if (!frameIntact(req, length)) {
            drainUntilQuiet(device.master());
            continue; // a broken frame gets no answer
        }
        if (req[0] != o.address)
            continue; // for another slave: no answer
        if (evenShare(++requests, o.dropPercent))
            continue; // lost on the way: not applied, no answer
        logWrites(log, req, length);
        if (o.silent)
            continue;
        const bool corrupt = evenShare(++answered, o.corruptPercent);
        const double seconds = o.freeze ? 0.0 : secondsSince(started);
        std::copy(map->tab_registers, map->tab_registers + Instrument::kHoldingRegisters,
                  instrument.holdingRegisters().begin());
        instrument.update(seconds);
        instrument.flipChattering(secondsSince(started));
        copyToMapping(instrument, map);
        if (touchesRegisters(req, length, o.exceptionFirst, o.exceptionLast))
            modbus_reply_exception(ctx, req, static_cast<unsigned>(o.exceptionCode));
        else
            modbus_reply(ctx, req, length, map); // writes land in the mapping
        std::vector<uint8_t> reply = takeReply(replyPipe[0]);
        if (reply.size() < kMinFrameLength)
            continue;
        if (o.replyAddress > 0) {
            reply[0] = static_cast<uint8_t>(o.replyAddress);
            setCrc(reply);
        }
        if (corrupt)
            reply.back() ^= 0xFF;
        if (o.delayMs > 0)
            poll(nullptr, 0, o.delayMs);
        if (write(device.master(), reply.data(), reply.size()) < 0)
            continue; // nobody listens: the reply is lost like on a real line
    }

    device.vanish();
    modbus_mapping_free(map);
    modbus_free(ctx);
    if (log)
        std::fclose(log);
    close(replyPipe[0]);
    close(replyPipe[1]);
    return 0;
}
