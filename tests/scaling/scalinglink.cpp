#include "scalinglink.h"

#include "modbuslink.h"
#include "poller.h"
#include "portconnection.h"
#include "scalingwatch.h"
#include "shared.h"
#include "simulator.h"

#include <QSignalSpy>
#include <QTest>

#include <limits>
#include <memory>

using std::chrono::microseconds;
using std::chrono::milliseconds;

namespace
{
constexpr qint32 kPort = 1;
constexpr qint32 kAddress = 1;
constexpr qint32 kBaud9600 = 1;
constexpr qint32 kParityNone = 0;

std::unique_ptr<Simulator> g_sim;

// Starts the simulator with `arguments` and opens the port to it.
bool startAndOpen(const QStringList &arguments)
{
    g_sim = std::make_unique<Simulator>(arguments);
    CommSettings[CommIndex::Port] = kPort;
    CommSettings[CommIndex::Address] = kAddress;
    // Opened as "打开" opens it, so that the link's health names each failure.
    return g_sim->start(kPort) && openConnection(QString::number(kPort), kBaud9600, kParityNone,
                                                 QString::number(kAddress)) == 0;
}

// One real poll, then the watch's turn in the gap after it, as the tool gives it.
PollDelivery pollThenWatch(Poller &poller, ScalingWatch &watch)
{
    PollDelivery delivered;
    QObject::connect(&poller, &Poller::polled, &watch,
                     [&delivered](const PollDelivery &d) { delivered = d; });
    poller.tick();
    QObject::disconnect(&poller, &Poller::polled, &watch, nullptr);
    watch.afterPoll(kPort, kAddress, kBaud9600, delivered.registers, poller.sinceTickStart());
    return delivered;
}
} // namespace

void TestScalingLink::cleanup()
{
    closeConnection();
    g_sim.reset();
}

void TestScalingLink::slotRule_data()
{
    QTest::addColumn<qint64>("usedUs");
    QTest::addColumn<bool>("fits");
    // At 9600 bit/s a read of 24 registers may take 94 ms + 53 characters + 26 ms;
    // it must end 20 ms before the next poll's slot.
    const microseconds worst = holdingReadWorstCase(kBaud9600, kScalingRegisterCount);
    const qint64 lastFit = (milliseconds(500) - worst - milliseconds(20)).count();
    QTest::newRow("just polled") << qint64(100'000) << true;
    QTest::newRow("the last that fits") << lastFit << true;
    QTest::newRow("a microsecond later") << lastFit + 1 << false;
    QTest::newRow("a silent poll's three time-outs and more") << qint64(450'000) << false;
    QTest::newRow("no poll yet") << std::numeric_limits<qint64>::max() << false;
}

void TestScalingLink::slotRule()
{
    QFETCH(qint64, usedUs);
    QFETCH(bool, fits);
    const microseconds worst = holdingReadWorstCase(kBaud9600, kScalingRegisterCount);
    QVERIFY(worst > milliseconds(150) && worst < milliseconds(200));
    QCOMPARE(fitsInSlot(microseconds(usedUs), worst, milliseconds(500)), fits);
    // A baud code the link does not know never fits.
    QVERIFY(!fitsInSlot(milliseconds(0), holdingReadWorstCase(3, 24), milliseconds(500)));
}

void TestScalingLink::scalingRegisters_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<bool>("scaling");
    QTest::newRow("24 retransmission low") << 24 << false;
    QTest::newRow("25 CH1 input type") << 25 << true;
    QTest::newRow("26 CH1 decimal point") << 26 << true;
    QTest::newRow("28 CH1 input low") << 28 << true;
    QTest::newRow("29 CH1 zero shift") << 29 << false;
    QTest::newRow("30 CH2 input type") << 30 << true;
    QTest::newRow("43 CH4 input low") << 43 << true;
    QTest::newRow("44 CH4 zero shift") << 44 << false;
    QTest::newRow("45 password, first after the channels") << 45 << false;
    QTest::newRow("47 filter") << 47 << false;
    QTest::newRow("48 temperature unit") << 48 << true;
    QTest::newRow("49 relay function") << 49 << false;
}

void TestScalingLink::scalingRegisters()
{
    QFETCH(int, reg);
    QFETCH(bool, scaling);
    QCOMPARE(isScalingRegister(reg), scaling);
}

void TestScalingLink::decimalPointRead_data()
{
    QTest::addColumn<int>("dp");
    QTest::addColumn<QString>("shown"); // CH1 = -5 as the instrument's display reads it
    QTest::newRow("dp 0") << 0 << "-5";
    QTest::newRow("dp 1") << 1 << "-0.5";
    QTest::newRow("dp 2") << 2 << "-0.05";
    QTest::newRow("dp 3") << 3 << "-0.005";
    QTest::newRow("dp 4") << 4 << "-0.0005";
    QTest::newRow("dp 5: out of range, raw") << 5 << "";
}

void TestScalingLink::decimalPointRead()
{
    QFETCH(int, dp);
    QFETCH(QString, shown);
    QVERIFY(startAndOpen({"--values", "-5,2515,300,400", "--hold", QStringLiteral("26=%1").arg(dp),
                          "--hold", "25=0", "--hold", "48=0"}));
    Poller poller;
    ScalingWatch watch;
    QSignalSpy problems(&watch, &ScalingWatch::readProblem);
    watch.requestRead();
    QVERIFY(pollThenWatch(poller, watch).registers);
    QCOMPARE(watch.reads(), 1);
    QCOMPARE(InputRegisters[0], -5);
    if (shown.isEmpty()) {
        QVERIFY(!watch.known()[0]);
        QCOMPARE(problems.size(), 1);
        QVERIFY(problems.at(0).at(0).toString().contains(QStringLiteral("CH1 小数点 5 超出 0～4")));
    } else {
        QVERIFY(watch.known()[0]);
        QCOMPARE(engineeringText(InputRegisters[0], watch.known()[0]->decimals), shown);
        QCOMPARE(watch.known()[0]->unit, QStringLiteral("°C"));
        QCOMPARE(problems.size(), 0);
    }
    // The other channels read well whatever CH1 holds.
    QVERIFY(watch.known()[1]);
}

void TestScalingLink::unitsByInputType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("temperatureUnit");
    QTest::addColumn<QString>("unit");
    QTest::newRow("K thermocouple in °F") << 0 << 1 << "°F";
    QTest::newRow("PT1000 in K") << 13 << 2 << "K";
    QTest::newRow("0-400 Ω") << 15 << 0 << "Ω";
    QTest::newRow("4-20 mA, named by the operator") << 19 << 0 << "MPa";
}

void TestScalingLink::unitsByInputType()
{
    QFETCH(int, type);
    QFETCH(int, temperatureUnit);
    QFETCH(QString, unit);
    QVERIFY(startAndOpen({"--hold", QStringLiteral("25=%1").arg(type), "--hold",
                          QStringLiteral("48=%1").arg(temperatureUnit)}));
    Poller poller;
    ScalingWatch watch;
    watch.setOperatorUnits({QStringLiteral("MPa"), QString(), QString(), QString()});
    watch.requestRead();
    pollThenWatch(poller, watch);
    QVERIFY(watch.known()[0]);
    QCOMPARE(watch.known()[0]->inputType, type);
    QCOMPARE(watch.known()[0]->unit, unit);
}

void TestScalingLink::readRefusedKeepsLastKnown()
{
    QVERIFY(startAndOpen({"--hold", "26=1"}));
    Poller poller;
    ScalingWatch watch;
    watch.requestRead();
    pollThenWatch(poller, watch);
    QVERIFY(watch.known()[0]);
    // The instrument now refuses registers 25..48: the poll goes on, the scaling stays.
    QVERIFY(g_sim->restart({"--hold", "26=2", "--exception", "25-48"}));
    QCOMPARE(
        openConnection(QString::number(kPort), kBaud9600, kParityNone, QString::number(kAddress)),
        0);
    QSignalSpy problems(&watch, &ScalingWatch::readProblem);
    QSignalSpy changes(&watch, &ScalingWatch::scalingChanged);
    watch.requestRead();
    QVERIFY(pollThenWatch(poller, watch).registers);
    QCOMPARE(watch.failures(), 1);
    QCOMPARE(watch.known()[0]->decimals, 1);
    QCOMPARE(changes.size(), 0);
    QCOMPARE(problems.size(), 1);
    const QString text = problems.at(0).at(0).toString();
    QVERIFY2(text.contains(QStringLiteral("异常应答 2")) && text.contains(QStringLiteral("沿用")),
             qPrintable(text));
    // Not asked again at every poll, and not said twice.
    QVERIFY(watch.readWaits());
    pollThenWatch(poller, watch);
    QCOMPARE(watch.reads(), 2);
    QCOMPARE(problems.size(), 1);
}

void TestScalingLink::readTimedOutStaysRaw()
{
    // Every fifth request goes unanswered: the first poll's four (the 16-coil read
    // refused, the 8-coil one after it) are answered, the read after them not.
    QVERIFY(startAndOpen({"--drop", "20"}));
    Poller poller;
    ScalingWatch watch;
    QSignalSpy problems(&watch, &ScalingWatch::readProblem);
    watch.requestRead();
    QVERIFY(pollThenWatch(poller, watch).registers);
    QCOMPARE(watch.failures(), 1);
    QVERIFY(!watch.known()[0]);
    QCOMPARE(problems.size(), 1);
    QVERIFY2(problems.at(0).at(0).toString().contains(QStringLiteral("数值保持原始整数")),
             qPrintable(problems.at(0).at(0).toString()));
}

void TestScalingLink::writeOfDecimalPointRereads()
{
    QVERIFY(startAndOpen({"--hold", "26=1"}));
    Poller poller;
    ScalingWatch watch;
    QSignalSpy changes(&watch, &ScalingWatch::scalingChanged);
    watch.requestRead();
    pollThenWatch(poller, watch);
    QCOMPARE(changes.size(), 1);
    // A write of the zero shift asks for nothing; one of the decimal point does.
    QVERIFY(Set_4X_D1(kPort, kAddress, 29, 3) != kLinkWriteFailed);
    watch.noteWrite(29);
    QVERIFY(!watch.readWaits());
    QVERIFY(Set_4X_D1(kPort, kAddress, 26, 2) != kLinkWriteFailed);
    watch.noteWrite(26);
    QVERIFY(watch.readWaits());
    pollThenWatch(poller, watch);
    QCOMPARE(changes.size(), 2);
    QCOMPARE(watch.known()[0]->decimals, 2);
    // Read again with nothing changed: no change told.
    watch.requestRead();
    pollThenWatch(poller, watch);
    QCOMPARE(watch.reads(), 3);
    QCOMPARE(changes.size(), 2);
}

void TestScalingLink::noReadWithoutRoomOrAnswer()
{
    QVERIFY(startAndOpen({}));
    ScalingWatch watch;
    watch.requestRead();
    watch.afterPoll(kPort, kAddress, kBaud9600, true, milliseconds(400));
    watch.afterPoll(kPort, kAddress, kBaud9600, false, milliseconds(50));
    QCOMPARE(watch.reads(), 0);
    QVERIFY(watch.readWaits());
    watch.afterPoll(kPort, kAddress, kBaud9600, true, milliseconds(50));
    QCOMPARE(watch.reads(), 1);
    QVERIFY(!watch.readWaits());
}
