#include "scalingwatch.h"

#include "linkhealth.h"
#include "linktimeouts.h"
#include "modbuslink.h"
#include "poller.h"

#include <algorithm>

namespace
{
// A read reply's bytes beside its registers: address, function, byte count, CRC.
constexpr int kReplyFrameBytes = 5;
constexpr int kBitsPerCharacter = 11;
// Room left at the slot's end for the timer's own lateness.
constexpr std::chrono::microseconds kSlotMargin{20'000};

std::chrono::steady_clock::time_point steadyNow()
{
    return std::chrono::steady_clock::now();
}
} // namespace

std::chrono::microseconds holdingReadWorstCase(qint32 baudCode, int count)
{
    const LinkTimeouts timeouts = linkTimeouts(baudCode);
    if (timeouts.responseUs == 0)
        return std::chrono::microseconds::max();
    const double characterUs = 1e6 * kBitsPerCharacter / kLinkBaudRates[baudCode];
    const int replyBytes = kReplyFrameBytes + 2 * count;
    return std::chrono::microseconds(timeouts.responseUs + qint64(replyBytes * characterUs) +
                                     timeouts.byteUs);
}

bool fitsInSlot(std::chrono::microseconds usedOfSlot, std::chrono::microseconds worstCase,
                std::chrono::microseconds slot)
{
    // Unknown times (a baud code the link does not know, no poll yet) never fit.
    if (worstCase >= slot || usedOfSlot >= slot || usedOfSlot.count() < 0)
        return false;
    return usedOfSlot + worstCase + kSlotMargin <= slot;
}

bool isScalingRegister(int reg)
{
    if (reg == kTemperatureUnitRegister)
        return true;
    const int offset = reg - kScalingFirstRegister;
    if (offset < 0 || offset >= kScaledChannels * kChannelRegisterStride)
        return false;
    // The zero shift (the fifth register of a channel) changes values, not their scaling.
    return offset % kChannelRegisterStride <= kInputLowerOffset;
}

ScalingWatch::ScalingWatch(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("ScalingWatch"));
}

void ScalingWatch::setRead(HoldingRead read)
{
    m_read = read;
}

void ScalingWatch::requestRead()
{
    m_due = true;
    m_retryAfter.reset();
}

void ScalingWatch::noteWrite(int reg)
{
    if (isScalingRegister(reg))
        requestRead();
}

void ScalingWatch::afterPoll(qint32 port, qint32 address, qint32 baudCode, bool answered,
                             std::chrono::microseconds usedOfSlot)
{
    if (!m_due || !answered)
        return;
    if (m_retryAfter && steadyNow() < *m_retryAfter)
        return;
    const auto slot = std::chrono::duration_cast<std::chrono::microseconds>(Poller::kPollInterval);
    if (!fitsInSlot(usedOfSlot, holdingReadWorstCase(baudCode, kScalingRegisterCount), slot))
        return;
    read(port, address);
}

void ScalingWatch::read(qint32 port, qint32 address)
{
    ScalingRegisters registers{};
    ++m_reads;
    const HoldingRead read = m_read ? m_read : Get_4X_DX;
    if (read(port, address, kScalingFirstRegister, kScalingRegisterCount, registers.data()) != 0) {
        ++m_failures;
        m_retryAfter = steadyNow() + kRetryInterval;
        const QString why = linkHealth()->lastFailureChinese();
        setProblem(QStringLiteral("读取标度失败%1，%2")
                       .arg(why.isEmpty() ? QString() : QStringLiteral(": ") + why,
                            std::any_of(m_known.begin(), m_known.end(),
                                        [](const auto &channel) { return bool(channel); })
                                ? QStringLiteral("沿用上次读到的标度")
                                : QStringLiteral("数值保持原始整数")));
        return;
    }
    m_due = false;
    m_retryAfter.reset();
    const ScalingReading reading = scalingFromRegisters(registers, m_units);
    const KnownScaling merged = mergeScaling(m_known, reading.channels);
    setProblem(reading.problems.isEmpty() ? QString()
                                          : reading.problems.join(QStringLiteral("; ")) +
                                                QStringLiteral("，该通道沿用上次读到的标度"));
    if (merged != m_known) {
        m_known = merged;
        emit scalingChanged(m_known);
    }
}

void ScalingWatch::setProblem(const QString &text)
{
    if (text == m_problem)
        return;
    m_problem = text;
    if (!text.isEmpty())
        emit readProblem(text);
}

void ScalingWatch::setOperatorUnits(const OperatorUnits &units)
{
    m_units = units;
    const KnownScaling named = withOperatorUnits(m_known, units);
    if (named != m_known) {
        m_known = named;
        emit scalingChanged(m_known);
    }
}

ScalingWatch *toolScalingWatch()
{
    static ScalingWatch *const instance = new ScalingWatch;
    return instance;
}
