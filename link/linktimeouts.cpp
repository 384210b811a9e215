#include "linktimeouts.h"

// Time-outs. libmodbus waits `response` for the first byte of a reply (the clock
// starts when the request has been handed to the driver), then `byte` between
// any two bytes. Both follow the baud rate, with one character = 11 bits (start,
// 8 data, parity or second stop slot, stop):
//
//   response = an 8-byte request on the wire + the instrument's largest
//              communication delay (register 20, 0..60 ms) + 25 ms margin
//              for a USB adapter's latency and the instrument's own turnaround
//   byte     = 5 character times + 20 ms margin (USB adapters deliver a reply
//              in chunks a few milliseconds apart)
//
//   baud    response   byte     silent instrument: one call blocks about
//   4800     103 ms    31 ms    103 ms (a poll's three calls 309 ms)
//   9600      94 ms    26 ms     94 ms (282 ms)
//   19200     90 ms    23 ms     90 ms (270 ms)
//
// So a silent instrument costs a poll at most about 0.3 s of its 500 ms tick.
// No retries: libmodbus's error recovery is off, and a failed exchange is
// reported at once; the configuration window repeats a failed write itself.

namespace
{

constexpr int kBitsPerCharacter = 11;
constexpr int kRequestBytes = 8;
constexpr int kInstrumentDelayUs = 60'000;
constexpr int kResponseMarginUs = 25'000;
constexpr int kByteCharacters = 5;
constexpr int kByteMarginUs = 20'000;

} // namespace

LinkTimeouts linkTimeouts(qint32 baudCode)
{
    if (baudCode < 0 || baudCode >= static_cast<qint32>(kLinkBaudRates.size()))
        return {};
    const double characterUs = 1e6 * kBitsPerCharacter / kLinkBaudRates[baudCode];
    LinkTimeouts t;
    t.responseUs =
        static_cast<int>(kRequestBytes * characterUs) + kInstrumentDelayUs + kResponseMarginUs;
    t.byteUs = static_cast<int>(kByteCharacters * characterUs) + kByteMarginUs;
    return t;
}
