#pragma once

#include "linkhealth.h"

#include <QObject>
#include <QString>
#include <QTimer>
#include <QtGlobal>

#include <chrono>

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

// Reopening a port whose device went away, or that could not be opened: the
// device of the last "打开" is opened again every kRetryInterval until it opens,
// or the operator closes or opens the port. It follows the link's health and
// reports each try there (LinkHealth::reopened), which only records it.
//
// States and the function behind each transition:
//   idle     --health turns PortLost-->   retrying  (the lost context closed by
//                                                    closeLostPort once the
//                                                    failing call has returned)
//   idle     --health turns OpenFailed--> retrying
//   retrying --retry() opens-->           idle      (health turns Opening)
//   retrying --retry() fails-->           retrying  (next try after the interval)
//   retrying --health turns NotOpened or Opening ("关闭", "打开")--> idle
class PortReconnection : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRetryInterval{2000};

    // Follows `health`'s state from now on; idle.
    explicit PortReconnection(LinkHealth *health, QObject *parent = nullptr);
    // Whether the port is tried again every kRetryInterval.
    bool retrying() const { return m_retryTimer.isActive(); }

private:
    void follow(LinkState to);
    void retry();
    void closeLostPort();

    LinkHealth *m_health = nullptr;
    QTimer m_retryTimer;
};

// The reconnection of the port of "打开", following linkHealth(); created on
// first use (openConnection() makes sure it is there before the first opening).
PortReconnection *portReconnection();
