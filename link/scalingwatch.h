#pragma once

// Reads the instrument's scaling (holding registers 25..48) in the gap after a
// poll, at each opening of the port and after each configuration write of one
// of those registers, and keeps the last scaling known per channel.

#include "scaling.h"

#include <QObject>
#include <QString>
#include <QtGlobal>

#include <chrono>
#include <optional>

// The longest one read of `count` holding registers can block the line at
// baud code 0/1/2: the wait for the first byte of the reply and the reply's
// own bytes (address, function, length, two per register, CRC).
std::chrono::microseconds holdingReadWorstCase(qint32 baudCode, int count);
// Whether a read that may take `worstCase` still ends within the poll's slot
// when `usedOfSlot` of it is gone: the next poll never waits for it.
bool fitsInSlot(std::chrono::microseconds usedOfSlot, std::chrono::microseconds worstCase,
                std::chrono::microseconds slot);
// Whether a configuration write of holding register `reg` can change the scaling
// (a channel's input type, decimal point, input limits, or the temperature unit).
bool isScalingRegister(int reg);

// The scaling of one instrument as the link last read it.
//
//   idle    --requestRead() ("打开", a port reopened, a write of a scaling register)--> due
//   due     --afterPoll(): the poll was answered and the read fits the slot; read well--> idle
//             (scalingChanged when what is known changed; readProblem for a value
//              out of range, whose channel keeps its last known scaling)
//   due     --afterPoll(): the read failed (exception, time-out)--> retrying (readProblem)
//   retrying --afterPoll() kRetryInterval after the failure--> as due
// A poll that was not answered, or left too little of its slot, leaves the state as it is.
class ScalingWatch : public QObject
{
    Q_OBJECT
public:
    // Holding registers first..first+count-1 into buffer: Get_4X_DX, or a test's substitute.
    using HoldingRead = qint32 (*)(qint32 port, qint32 address, qint32 first, qint32 count,
                                   qint32 *buffer);
    // A failed read is tried again this long after, not at every poll: an
    // instrument that refuses registers 25..48 is asked once in a while.
    static constexpr std::chrono::seconds kRetryInterval{10};

    explicit ScalingWatch(QObject *parent = nullptr);

    // Replaces the read (tests); nullptr restores Get_4X_DX.
    void setRead(HoldingRead read);
    // Asks for a read after the next poll that leaves room for it.
    void requestRead();
    // requestRead() when a write of `reg` can change the scaling.
    void noteWrite(int reg);
    // Whether a read waits (due or retrying).
    bool readWaits() const { return m_due; }

    // After a poll of instrument `address` on `port` at `baudCode`: reads the
    // scaling when one waits, the poll was `answered`, and `usedOfSlot` of the
    // poll interval leaves room for the read.
    void afterPoll(qint32 port, qint32 address, qint32 baudCode, bool answered,
                   std::chrono::microseconds usedOfSlot);

    // The operator's names of the linear channels' units; what is known takes them at once.
    void setOperatorUnits(const OperatorUnits &units);
    const OperatorUnits &operatorUnits() const { return m_units; }
    // The scaling known per channel; nothing for a channel never read well.
    const KnownScaling &known() const { return m_known; }
    // Why the last read failed or was partly unusable; empty after a good read.
    QString problem() const { return m_problem; }
    // Reads made and reads failed since construction.
    int reads() const { return m_reads; }
    int failures() const { return m_failures; }

signals:
    // What is known changed (a first read, a change at the instrument, a unit named).
    void scalingChanged(const KnownScaling &known);
    // A read failed or held values out of range: the words for the journal and
    // the details view. Said once until the problem changes or a read succeeds.
    void readProblem(const QString &text);

private:
    void read(qint32 port, qint32 address);
    void setProblem(const QString &text);

    HoldingRead m_read = nullptr;
    KnownScaling m_known;
    OperatorUnits m_units;
    bool m_due = false;
    std::optional<std::chrono::steady_clock::time_point> m_retryAfter;
    QString m_problem;
    int m_reads = 0;
    int m_failures = 0;
};

// The windowed tool's watch of the instrument the overview opened.
ScalingWatch *toolScalingWatch();
