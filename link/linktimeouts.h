#pragma once

#include <QtGlobal>

#include <array>

// The baud rates of baud codes 0/1/2, as the instrument and the link number them.
constexpr std::array<int, 3> kLinkBaudRates{4800, 9600, 19200};

// The time-outs of one exchange at baud code 0/1/2, in microseconds: how long a
// call waits for the first byte of a reply, and for each further byte. Zero for
// a baud code outside 0..2.
struct LinkTimeouts {
    int responseUs = 0;
    int byteUs = 0;
};
LinkTimeouts linkTimeouts(qint32 baudCode);
