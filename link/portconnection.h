#pragma once

#include <QString>
#include <QtGlobal>

// Opening and closing the link to the instrument, as the overview's "打开" and
// "关闭" do it. The settings travel through CommSettings, where the poller and
// the configuration window read them on every call.

constexpr int kNoOptionSelected = -1;

// The integer value of a list text: its leading number rounded to a 32-bit
// integer ("1 " -> 1, "COM3" -> 0, "" -> 0); a value that does not
// fit in 32 bits gives `previous`, as the storing statement is skipped.
qint32 listNumber(const QString &text, qint32 previous);

// "打开": stores the port and address read from the list texts and the selected
// baud-rate and parity option indexes (0..2; kNoOptionSelected leaves the stored
// code as it is) in CommSettings, opens the port with them on the device
// resolvePortDevice names (the link's retries keep to that device) and stores the
// result. Opening an open port reopens it. Returns the opening's result.
qint32 openConnection(const QString &portText, int baudIndex, int parityIndex,
                      const QString &addressText);

// "关闭": closes the port of the last opening (CommSettings[0]), whatever the
// port list shows now; port 0 before any opening.
void closeConnection();
