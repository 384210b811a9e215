#include "poller.h"

#include "linkhealth.h"
#include "modbuslink.h"
#include "shared.h"

#include <QCoreApplication>
#include <QTimer>

namespace
{
// The instrument's first 16 input registers hold the four channel values, the
// retransmission value and the rest; inputs and coils are numbered from 1.
constexpr qint32 kFirstRegister = 1;
constexpr qint32 kRegisterCount = 16;
constexpr qint32 kFirstBit = 1;
constexpr qint32 kLargestSlot = 255;
} // namespace

PollerReads PollerReads::link()
{
    return {Get_3X_DX, Get_1X_B16, Get_0X_B16};
}

Poller::Poller(QObject *parent) : QObject(parent), m_timer1(new QTimer(this))
{
    setObjectName(QStringLiteral("Met1"));
    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kPollInterval);
    connect(m_timer1, &QTimer::timeout, this, &Poller::tick);
}

void Poller::startPolling()
{
    m_timer1->start();
}

void Poller::stopPolling()
{
    m_timer1->stop();
}

bool Poller::isPolling() const
{
    return m_timer1->isActive();
}

void Poller::D_Byte(quint8 b)
{
    for (int i = 0; i < kLinkBitsPerSlot; ++i)
        m_bits[i] = (b >> i) & 1;
}

template <typename Table> bool Poller::storeBits(qint32 slot, Table &table, int first)
{
    if (slot < 0 || slot > kLargestSlot)
        return false;
    D_Byte(quint8(slot));
    for (int i = 0; i < kLinkBitsPerSlot; ++i)
        table.set(first + i, m_bits[i]);
    return true;
}

void Poller::tick()
{
    // The settings are read anew for each exchange: "关闭" or a new "打开" may
    // run during a yield.
    // The results are only reported to observers: the tables take what the
    // slots hold either way.
    // The link tells an unanswered poll from a silent instrument by its polls.
    m_tickClock.start();
    linkHealth()->pollStarted(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address]);
    PollDelivery delivery;
    delivery.registers =
        m_reads.inputRegisters(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address],
                               kFirstRegister, kRegisterCount, InputRegisters.data()) == 0;
    for (int i = 0; i < kRegisterCount; ++i)
        ProcessValues[i] = float(InputRegisters[i]);

    QCoreApplication::processEvents();

    const bool inputsRead =
        m_reads.discreteInputs(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address],
                               kFirstBit, m_words.data()) == 0;
    const bool low = storeBits(m_words[0], InputStates, 0);
    const bool high = storeBits(m_words[1], InputStates, kLinkBitsPerSlot);
    delivery.inputsLow = inputsRead && low;
    delivery.inputsHigh = inputsRead && high;

    QCoreApplication::processEvents();

    const bool coilsRead =
        m_reads.coils(CommSettings[CommIndex::Port], CommSettings[CommIndex::Address], kFirstBit,
                      m_words.data()) == 0;
    delivery.coils = storeBits(m_words[0], CoilStates, 0) && coilsRead;

    emit polled(delivery);
}

std::chrono::microseconds Poller::sinceTickStart() const
{
    if (!m_tickClock.isValid())
        return std::chrono::microseconds::max();
    return std::chrono::microseconds(m_tickClock.nsecsElapsed() / 1000);
}

Poller *Met1()
{
    static Poller *instance = new Poller;
    return instance;
}
