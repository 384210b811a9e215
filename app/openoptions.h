#pragma once

#include <QString>
#include <QStringList>

// The windowed tool's unattended start, for a PC that must poll and record
// again after a power cut with no one at it:
//   zelmar --open --port N --address A --baud 4800|9600|19200 --parity none|odd|even [--mute]
struct OpenOptions {
    bool open = false; // --open: "打开" pressed as soon as the overview is shown
    int port = 1;
    int address = 1;
    int baudCode = 1;   // 0/1/2: 4800/9600/19200 bit/s
    int parityCode = 0; // 0/1/2: none/odd/even
    bool muted = false; // --mute: unacknowledged alarms do not sound the bell
    QString error;      // why the command line cannot be used; empty when it can

    bool isValid() const { return error.isEmpty(); }
};

// Whether the arguments (program name first) carry any of these options.
bool wantsOpenOptions(const QStringList &arguments);

// Reads them (program name first). The link's choices are the recorder's,
// checked as it checks them, but one address from 1 to 16 (the overview's
// list), and only with --open. Anything else gives an error in one line.
OpenOptions parseOpenOptions(const QStringList &arguments);

// Once the overview is shown: its lists set to the choices and "打开" pressed
// when --open was given, the bell silenced when --mute was.
void applyOpenOptions(const OpenOptions &options);
