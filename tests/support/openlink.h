#pragma once

#include <QtGlobal>

// "打开" as the overview leaves it behind, without the overview: port `port`,
// 9600 bit/s, no parity, module address 1 in CommSettings, the port opened and
// its result stored. Returns the opening's result (0 when it opened).
qint32 openLinkAsOverview(int port);
