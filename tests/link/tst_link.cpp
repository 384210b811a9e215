#include "modbuslink.h"
#include "poller.h"
#include "shared.h"
#include "simulator.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <array>
#include <csignal>
#include <memory>

// The seven link operations against zelmar-sim on a pseudo-terminal.
class TestLink : public QObject
{
    Q_OBJECT

private:
    static constexpr qint32 kPort = 1;
    static constexpr qint32 kAddress = 1;
    static constexpr qint32 kBaud9600 = 1;
    static constexpr qint32 kParityNone = 0;
    static constexpr qint32 kUntouched = 12345; // what a failed read must leave

    using Buffer = std::array<qint32, 130>; // room for any read a test asks for
    static Buffer untouchedBuffer()
    {
        Buffer b;
        b.fill(kUntouched);
        return b;
    }
    static bool allUntouched(const Buffer &b)
    {
        return std::all_of(b.begin(), b.end(), [](qint32 v) { return v == kUntouched; });
    }
    // Both bit reads fail, each leaving its two slots without a byte and nothing
    // beyond them changed.
    static bool failedBitReadsHoldNoBits(qint32 address)
    {
        for (auto read : {Get_1X_B16, Get_0X_B16}) {
            Buffer buf = untouchedBuffer();
            if (read(kPort, address, 1, buf.data()) == 0 || buf[0] != kLinkNoBits ||
                buf[1] != kLinkNoBits ||
                !std::all_of(buf.begin() + 2, buf.end(), [](qint32 v) { return v == kUntouched; }))
                return false;
        }
        return true;
    }
    // Starts zelmar-sim publishing at `link`, without waiting for it.
    static std::unique_ptr<QProcess> launchSimulator(const QString &link)
    {
        auto sim = std::make_unique<QProcess>();
        sim->start(Simulator::program(), {QStringLiteral("--link"), link});
        return sim;
    }
    // Whether the symlink at `link` names a pseudo-terminal (the simulator's own).
    static bool namesATerminal(const QString &link)
    {
        return QFileInfo(link).symLinkTarget().startsWith(QLatin1String("/dev/pts/"));
    }
    // Stops a simulator with SIGTERM and waits for it.
    static bool terminateSimulator(QProcess &sim)
    {
        sim.terminate();
        return sim.waitForFinished(kSimulatorWaitMs) && sim.exitCode() == 0;
    }
    static constexpr int kSimulatorWaitMs = 3000;

    // Starts a simulator with `args` on kPort and opens the port at 9600, no parity.
    static bool startAndOpen(Simulator &sim)
    {
        return sim.start(kPort) && OpenPort_Modbus(kPort, kBaud9600, kParityNone) == 0;
    }

private slots:
    void cleanup() { ClosePort_Modbus(kPort); }

    void inputRegistersKeepTheirSign();
    void firstRegisterIsNumberOne();
    void discreteInputsPackEightPerSlot_data();
    void discreteInputsPackEightPerSlot();
    void coilsFillSlotZero_data();
    void coilsFillSlotZero();
    void holdingRegistersNumberedAsTheInstrumentHoldsThem();
    void writeReachesTheInstrument_data();
    void writeReachesTheInstrument();
    void writeThatDoesNotFitIsNotSent_data();
    void writeThatDoesNotFitIsNotSent();
    void readOutsideTheRegistersFails_data();
    void readOutsideTheRegistersFails();
    void silentInstrumentFails();
    void portNeverOpenedFails();
    void closedPortFails();
    void openingAgainUsesTheNewSettings();
    void badCodesFailAndLeaveThePortClosed_data();
    void badCodesFailAndLeaveThePortClosed();
    void otherSlaveAddressGetsNoAnswer_data();
    void otherSlaveAddressGetsNoAnswer();
    void instrumentAtAnotherAddress();
    void failedBitReadsLeaveThePollersTablesAlone_data();
    void failedBitReadsLeaveThePollersTablesAlone();
    void failedEightCoilReadLeavesSlotOne();
    void deviceThatIsNotASerialPort_data();
    void deviceThatIsNotASerialPort();
    void portDevicePathResolution_data();
    void portDevicePathResolution();
    void timeoutsFitThePollTick_data();
    void timeoutsFitThePollTick();

    // The simulator behaves as the instrument would.
    void alarmsFollowValuesAndConfiguration_data();
    void alarmsFollowValuesAndConfiguration();
    void writingTheAlarmValueClearsTheAlarm();
    void retransmissionFollowsItsChannel_data();
    void retransmissionFollowsItsChannel();
    void brokenFramesDoNotStopTheInstrument();
    void channelValuesMove();
    void simulatorRefusesAPathThatIsNotItsOwn_data();
    void simulatorRefusesAPathThatIsNotItsOwn();
    void simulatorReplacesAStaleLinkAndRemovesIt_data();
    void simulatorReplacesAStaleLinkAndRemovesIt();
    void simulatorLeavesWhatReplacedItsLink_data();
    void simulatorLeavesWhatReplacedItsLink();
};

void TestLink::inputRegistersKeepTheirSign()
{
    Simulator sim({"--values", "100,-5,32767,-32768,0,-1", "--freeze"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()), 0);
    const std::array<qint32, 6> expected{100, -5, 32767, -32768, 0, -1};
    for (size_t i = 0; i < expected.size(); ++i)
        QCOMPARE(buf[i], expected[i]);
    QCOMPARE(buf[16], kUntouched); // nothing beyond the count
}

void TestLink::firstRegisterIsNumberOne()
{
    Simulator sim({"--values", "11,22,33,44", "--freeze"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_3X_DX(kPort, kAddress, 2, 2, buf.data()), 0);
    QCOMPARE(buf[0], 22);
    QCOMPARE(buf[1], 33);
    QCOMPARE(buf[2], kUntouched);
}

void TestLink::discreteInputsPackEightPerSlot_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<qint32>("slot0");
    QTest::addColumn<qint32>("slot1");
    QTest::newRow("inputs 1, 3 and 16") << "8005" << 0x05 << 0x80;
    QTest::newRow("none") << "0000" << 0 << 0;
    QTest::newRow("all") << "FFFF" << 255 << 255;
    QTest::newRow("input 9 only") << "0100" << 0 << 1;
    QTest::newRow("input 8 only") << "0080" << 0x80 << 0;
}

void TestLink::discreteInputsPackEightPerSlot()
{
    QFETCH(QString, mask);
    Simulator sim({"--inputs", mask});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_1X_B16(kPort, kAddress, 1, buf.data()), 0);
    QTEST(buf[0], "slot0");
    QTEST(buf[1], "slot1");
    QCOMPARE(buf[2], kUntouched);
}

void TestLink::coilsFillSlotZero_data()
{
    QTest::addColumn<QString>("mask");
    QTest::addColumn<qint32>("slot0");
    QTest::newRow("relays 1 and 3, coils 6 and 8") << "A5" << 0xA5;
    QTest::newRow("none") << "00" << 0;
    QTest::newRow("relay 4") << "08" << 0x08;
}

void TestLink::coilsFillSlotZero()
{
    QFETCH(QString, mask);
    Simulator sim({"--coils", mask});
    QVERIFY(startAndOpen(sim));
    // Twice: the first read learns that the instrument has 8 coils, the second relies on it.
    for (int round = 0; round < 2; ++round) {
        Buffer buf = untouchedBuffer();
        QCOMPARE(Get_0X_B16(kPort, kAddress, 1, buf.data()), 0);
        QTEST(buf[0], "slot0");
        QCOMPARE(buf[1], kUntouched);
    }
}

void TestLink::holdingRegistersNumberedAsTheInstrumentHoldsThem()
{
    Simulator sim({"--hold", "18=2", "--hold", "1=-150", "--hold", "64=-7", "--address", "1"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_4X_DX(kPort, kAddress, 1, 32, buf.data()), 0);
    QCOMPARE(buf[0], -150); // register 1
    QCOMPARE(buf[16], 1);   // register 17, the instrument's address
    QCOMPARE(buf[17], 2);   // register 18, the baud-rate code
    QCOMPARE(buf[32], kUntouched);
    QCOMPARE(Get_4X_DX(kPort, kAddress, 33, 32, buf.data()), 0);
    QCOMPARE(buf[31], -7); // register 64
}

void TestLink::writeReachesTheInstrument_data()
{
    QTest::addColumn<qint32>("reg");
    QTest::addColumn<qint32>("value");
    QTest::addColumn<qint32>("readBack");
    QTest::newRow("negative alarm value") << 2 << -1234 << -1234;
    QTest::newRow("password") << 45 << 9999 << 9999;
    QTest::newRow("lowest 16-bit") << 1 << -32768 << -32768;
    QTest::newRow("65535 is the pattern of -1") << 64 << 65535 << -1;
    QTest::newRow("zero") << 21 << 0 << 0;
}

void TestLink::writeReachesTheInstrument()
{
    QFETCH(qint32, reg);
    QFETCH(qint32, value);
    QFETCH(qint32, readBack);
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    QCOMPARE(Set_4X_D1(kPort, kAddress, reg, value), 0);
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_4X_DX(kPort, kAddress, reg, 1, buf.data()), 0);
    QCOMPARE(buf[0], readBack);
    QCOMPARE(sim.writes(), QStringList{QStringLiteral("write %1 %2").arg(reg).arg(readBack)});
}

void TestLink::writeThatDoesNotFitIsNotSent_data()
{
    QTest::addColumn<qint32>("reg");
    QTest::addColumn<qint32>("value");
    QTest::newRow("65536") << 1 << 65536;
    QTest::newRow("-32769") << 1 << -32769;
    QTest::newRow("register 0") << 0 << 1;
    QTest::newRow("register beyond the address space") << 65537 << 1;
}

void TestLink::writeThatDoesNotFitIsNotSent()
{
    QFETCH(qint32, reg);
    QFETCH(qint32, value);
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    QCOMPARE(Set_4X_D1(kPort, kAddress, reg, value), kLinkWriteFailed);
    QVERIFY(sim.writes().isEmpty());
}

void TestLink::readOutsideTheRegistersFails_data()
{
    QTest::addColumn<qint32>("first");
    QTest::addColumn<qint32>("count");
    QTest::newRow("register 0") << 0 << 1;
    QTest::newRow("no registers") << 1 << 0;
    QTest::newRow("more than one request can carry") << 1 << 126;
    QTest::newRow("past the last address") << 65536 << 2;
    QTest::newRow("past the instrument's 16 input registers") << 10 << 16;
}

void TestLink::readOutsideTheRegistersFails()
{
    QFETCH(qint32, first);
    QFETCH(qint32, count);
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_3X_DX(kPort, kAddress, first, count, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QVERIFY(Get_3X_DX(kPort, kAddress, 1, 16, nullptr) != 0);
    QCOMPARE(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()), 0); // the line is still in step
}

void TestLink::silentInstrumentFails()
{
    Simulator sim({"--silent"});
    QVERIFY(startAndOpen(sim));
    QCOMPARE(Set_4X_D1(kPort, kAddress, 3, 77), kLinkWriteFailed);
    QCOMPARE(sim.writes(), QStringList{"write 3 77"}); // it heard the request
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()) != 0);
    QVERIFY(Get_4X_DX(kPort, kAddress, 1, 32, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QVERIFY(failedBitReadsHoldNoBits(kAddress));

    // When it speaks again, the same port works after reopening on the new terminal.
    QVERIFY(sim.restart({}));
    QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 3, 78), 0);
}

void TestLink::portNeverOpenedFails()
{
    Simulator sim;
    QVERIFY(sim.start(kPort));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 1), kLinkWriteFailed);
    QVERIFY(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()) != 0);
    QVERIFY(Get_4X_DX(kPort, kAddress, 1, 32, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QVERIFY(failedBitReadsHoldNoBits(kAddress));
    // Port 0 and address 0: the settings before the operator first opens.
    QCOMPARE(Set_4X_D1(0, 0, 1, 1), kLinkWriteFailed);
    QVERIFY(Get_3X_DX(0, 0, 1, 16, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QVERIFY(sim.writes().isEmpty()); // nothing reached the instrument
}

void TestLink::closedPortFails()
{
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 5), 0);
    QCOMPARE(ClosePort_Modbus(kPort), 0);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 6), kLinkWriteFailed);
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_4X_DX(kPort, kAddress, 1, 1, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QCOMPARE(ClosePort_Modbus(kPort), 0); // closing twice is harmless
    QCOMPARE(sim.writes(), QStringList{"write 1 5"});
}

void TestLink::openingAgainUsesTheNewSettings()
{
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    for (qint32 baud = 0; baud <= 2; ++baud) {
        for (qint32 parity = 0; parity <= 2; ++parity) {
            QCOMPARE(OpenPort_Modbus(kPort, baud, parity), 0);
            QCOMPARE(Set_4X_D1(kPort, kAddress, 20, baud * 3 + parity), 0);
        }
    }
    QCOMPARE(sim.writes().size(), 9);
    QCOMPARE(sim.writes().last(), QStringLiteral("write 20 8"));
}

void TestLink::badCodesFailAndLeaveThePortClosed_data()
{
    QTest::addColumn<qint32>("baud");
    QTest::addColumn<qint32>("parity");
    QTest::newRow("baud 3") << 3 << 0;
    QTest::newRow("baud -1") << -1 << 0;
    QTest::newRow("parity 3") << 1 << 3;
    QTest::newRow("parity -1") << 1 << -1;
}

void TestLink::badCodesFailAndLeaveThePortClosed()
{
    QFETCH(qint32, baud);
    QFETCH(qint32, parity);
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    QVERIFY(OpenPort_Modbus(kPort, baud, parity) != 0);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 1), kLinkWriteFailed);
    QVERIFY(sim.writes().isEmpty());
}

void TestLink::otherSlaveAddressGetsNoAnswer_data()
{
    QTest::addColumn<qint32>("address");
    QTest::newRow("another instrument") << 2;
    QTest::newRow("broadcast 0") << 0;
    QTest::newRow("248, beyond the slave addresses") << 248;
    QTest::newRow("negative") << -1;
}

void TestLink::otherSlaveAddressGetsNoAnswer()
{
    QFETCH(qint32, address);
    Simulator sim({"--freeze"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_3X_DX(kPort, address, 1, 16, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    QVERIFY(failedBitReadsHoldNoBits(address));
    QCOMPARE(Set_4X_D1(kPort, address, 1, 1), kLinkWriteFailed);
    QVERIFY(sim.writes().isEmpty());
    // The right address still works afterwards: no stale bytes are left behind.
    QCOMPARE(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()), 0);
}

void TestLink::instrumentAtAnotherAddress()
{
    Simulator sim({"--address", "16"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_4X_DX(kPort, kAddress, 17, 1, buf.data()) != 0);
    QCOMPARE(buf[0], kUntouched);
    QCOMPARE(Get_4X_DX(kPort, 16, 17, 1, buf.data()), 0);
    QCOMPARE(buf[0], 16);
}

void TestLink::failedBitReadsLeaveThePollersTablesAlone_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("instrument hangs") << "stopped";
    QTest::newRow("instrument answers from another address") << "address";
}

// The two bit reads share one receive buffer: after a good poll a failed input
// read must not hand the coil byte to the inputs, nor anything else to a table.
void TestLink::failedBitReadsLeaveThePollersTablesAlone()
{
    QFETCH(QString, fault);
    // Relays 2, 4 and 5; inputs 1, 3 and 16: no slot of one looks like the other.
    const QStringList patterns{"--inputs", "8005", "--coils", "1A", "--freeze"};
    Simulator sim(patterns);
    QVERIFY(startAndOpen(sim));
    resetSharedState();
    CommSettings[CommIndex::Port] = kPort;
    CommSettings[CommIndex::Address] = kAddress;
    Poller poller;
    auto tables = [] {
        QList<qint32> shown;
        for (int i = 0; i < 16; ++i)
            shown << InputStates[i];
        for (int i = 0; i < 8; ++i)
            shown << CoilStates[i];
        return shown;
    };
    poller.tick();
    const QList<qint32> good{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, // inputs
                             0, 1, 0, 1, 1, 0, 0, 0};                        // relays
    QCOMPARE(tables(), good);

    if (fault == QLatin1String("stopped")) {
        QVERIFY(sim.pause());
    } else {
        QVERIFY(sim.restart(QStringList{"--address", "2"} + patterns));
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
    }
    poller.tick();
    poller.tick();
    QCOMPARE(tables(), good);
    sim.resume();
}

void TestLink::failedEightCoilReadLeavesSlotOne()
{
    Simulator sim({"--coils", "1A"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_0X_B16(kPort, kAddress, 1, buf.data()), 0); // learns the 8 coils
    QVERIFY(sim.pause());
    buf = untouchedBuffer();
    QVERIFY(Get_0X_B16(kPort, kAddress, 1, buf.data()) != 0);
    QCOMPARE(buf[0], kLinkNoBits);
    QCOMPARE(buf[1], kUntouched);
    sim.resume();
}

void TestLink::deviceThatIsNotASerialPort_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("regular file") << "file";
    QTest::newRow("folder") << "folder";
    QTest::newRow("missing path") << "missing";
    QTest::newRow("character device that is not a terminal") << "/dev/null";
}

void TestLink::deviceThatIsNotASerialPort()
{
    QFETCH(QString, kind);
    constexpr qint32 kOddPort = 9;
    QTemporaryDir dir;
    QString path = kind;
    if (kind == "file") {
        path = dir.filePath("regular");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("not a serial port");
    } else if (kind == "folder") {
        path = dir.path();
    } else if (kind == "missing") {
        path = dir.filePath("nothing-here");
    }
    qputenv("ZELMAR_PORT_9", QFile::encodeName(path));
    QVERIFY(OpenPort_Modbus(kOddPort, kBaud9600, kParityNone) != 0);
    QCOMPARE(Set_4X_D1(kOddPort, kAddress, 1, 1), kLinkWriteFailed);
    Buffer buf = untouchedBuffer();
    QVERIFY(Get_3X_DX(kOddPort, kAddress, 1, 16, buf.data()) != 0);
    QVERIFY(allUntouched(buf));
    qunsetenv("ZELMAR_PORT_9");
    if (kind == "file") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("not a serial port")); // nothing was written into it
    }
}

void TestLink::portDevicePathResolution_data()
{
    QTest::addColumn<qint32>("port");
    QTest::addColumn<QByteArray>("variable");
    QTest::addColumn<QString>("expected");
    QTest::newRow("variable set") << 3 << QByteArray("/tmp/my-port") << "/tmp/my-port";
    QTest::newRow("port 20, variable set") << 20 << QByteArray("/dev/ttyACM0") << "/dev/ttyACM0";
    QTest::newRow("port 0 has no device") << 0 << QByteArray() << QString();
    QTest::newRow("no variable: the serial port numbered from 0")
        << 18 << QByteArray() << "/dev/ttyS17";
    QTest::newRow("negative port") << -4 << QByteArray() << QString();
}

void TestLink::portDevicePathResolution()
{
    QFETCH(qint32, port);
    QFETCH(QByteArray, variable);
    const QByteArray name = "ZELMAR_PORT_" + QByteArray::number(port);
    if (QFile::exists(QStringLiteral("/dev/ttyUSB%1").arg(port - 1)))
        QSKIP("a USB serial adapter is plugged in at this number");
    if (!variable.isEmpty())
        qputenv(name.constData(), variable);
    const QString path = portDevicePath(port);
    qunsetenv(name.constData());
    QTEST(path, "expected");
}

void TestLink::timeoutsFitThePollTick_data()
{
    QTest::addColumn<qint32>("baudCode");
    QTest::addColumn<int>("bitsPerSecond");
    QTest::newRow("4800") << 0 << 4800;
    QTest::newRow("9600") << 1 << 9600;
    QTest::newRow("19200") << 2 << 19200;
}

void TestLink::timeoutsFitThePollTick()
{
    QFETCH(qint32, baudCode);
    QFETCH(int, bitsPerSecond);
    constexpr int kPollTickUs = 500'000;
    constexpr int kLongestReplyBytes = 69; // 32 holding registers
    constexpr int kInstrumentDelayUs = 60'000;
    const LinkTimeouts t = linkTimeouts(baudCode);
    const int characterUs = 11 * 1'000'000 / bitsPerSecond;
    // Long enough for the instrument's largest configured delay and for a reply's
    // bytes; short enough that a silent instrument leaves the poll tick its time.
    QVERIFY(t.responseUs > kInstrumentDelayUs + 8 * characterUs);
    QVERIFY(t.byteUs > 3 * characterUs);
    QVERIFY(3 * t.responseUs < kPollTickUs);
    QVERIFY(t.responseUs + kLongestReplyBytes * characterUs < kPollTickUs);
    // Also for no-baud codes: nothing.
    QCOMPARE(linkTimeouts(3).responseUs, 0);
}

void TestLink::alarmsFollowValuesAndConfiguration_data()
{
    // Start configuration: alarm values 250, 110, 130, 90; modes upper, upper,
    // lower, upper; set values 200, 100, 150, 60; relays follow the alarms.
    QTest::addColumn<QString>("values");
    QTest::addColumn<QStringList>("holds");
    QTest::addColumn<qint32>("inputs1to8");
    QTest::addColumn<qint32>("inputs9to16");
    QTest::addColumn<qint32>("coils");
    QTest::newRow("no alarm") << "100,50,200,50" << QStringList{} << 0 << 0 << 0;
    QTest::newRow("channel 1 above its alarm value")
        << "260,50,200,50" << QStringList{} << 0x01 << 0x10 << 0x01;
    QTest::newRow("channel 3 below its alarm value (lower limit)")
        << "100,50,120,50" << QStringList{} << 0x40 << 0x40 << 0x04;
    QTest::newRow("alarm mode 0 raises nothing")
        << "260,50,200,50" << QStringList{"--hold", "9=0"} << 0 << 0 << 0;
    QTest::newRow("channel 4 outside its deviation band")
        << "100,50,200,200" << QStringList{"--hold", "15=5"} << 0 << 0x82 << 0x08;
    QTest::newRow("relays as on/off control below the set values")
        << "100,50,200,50" << QStringList{"--hold", "49=1"} << 0 << 0 << 0x0B;
}

void TestLink::alarmsFollowValuesAndConfiguration()
{
    QFETCH(QString, values);
    QFETCH(QStringList, holds);
    Simulator sim(QStringList{"--values", values} + holds);
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_1X_B16(kPort, kAddress, 1, buf.data()), 0);
    QTEST(buf[0], "inputs1to8");
    QTEST(buf[1], "inputs9to16");
    QCOMPARE(Get_0X_B16(kPort, kAddress, 1, buf.data()), 0);
    QTEST(buf[0], "coils");
}

void TestLink::writingTheAlarmValueClearsTheAlarm()
{
    Simulator sim({"--values", "260,50,200,50"});
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_1X_B16(kPort, kAddress, 1, buf.data()), 0);
    QCOMPARE(buf[0], 0x01);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 2, 300), 0);
    QCOMPARE(Get_1X_B16(kPort, kAddress, 1, buf.data()), 0);
    QCOMPARE(buf[0], 0);
    QCOMPARE(buf[1], 0);
}

void TestLink::retransmissionFollowsItsChannel_data()
{
    QTest::addColumn<QString>("values");
    QTest::addColumn<QStringList>("holds");
    QTest::addColumn<qint32>("percent");
    QTest::newRow("channel 1 at 150 of 0..300") << "150,0" << QStringList{} << 50;
    QTest::newRow("channel 2 chosen") << "150,75" << QStringList{"--hold", "21=2"} << 25;
    QTest::newRow("other range") << "75" << QStringList{"--hold", "23=100", "--hold", "24=50"}
                                 << 50;
    QTest::newRow("above the high end") << "400" << QStringList{} << 100;
    QTest::newRow("below the low end") << "-20" << QStringList{} << 0;
}

void TestLink::retransmissionFollowsItsChannel()
{
    QFETCH(QString, values);
    QFETCH(QStringList, holds);
    Simulator sim(QStringList{"--values", values} + holds);
    QVERIFY(startAndOpen(sim));
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_3X_DX(kPort, kAddress, 5, 1, buf.data()), 0);
    QTEST(buf[0], "percent");
}

void TestLink::brokenFramesDoNotStopTheInstrument()
{
    Simulator sim({"--freeze"});
    QVERIFY(sim.start(kPort));
    {
        QFile line(sim.linkPath());
        QVERIFY(line.open(QIODevice::WriteOnly | QIODevice::Unbuffered));
        // A truncated request, bytes with a bad CRC, and a request missing its last byte.
        line.write(QByteArray::fromHex("0103"));
        line.write(QByteArray::fromHex("ffffffff0000"));
        line.write(QByteArray::fromHex("01030000001000"));
    }
    QTest::qWait(50);
    QVERIFY(sim.isRunning());
    QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
    Buffer buf = untouchedBuffer();
    QCOMPARE(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()), 0);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 4, 120), 0);
    QCOMPARE(sim.writes(), QStringList{"write 4 120"});
}

void TestLink::channelValuesMove()
{
    Simulator sim;
    QVERIFY(startAndOpen(sim));
    Buffer first = untouchedBuffer();
    QCOMPARE(Get_3X_DX(kPort, kAddress, 1, 4, first.data()), 0);
    // Slow waves: within a few seconds at least one of the four channels changes.
    Buffer now = first;
    QTRY_VERIFY_WITH_TIMEOUT(Get_3X_DX(kPort, kAddress, 1, 4, now.data()) == 0 &&
                                 !std::equal(now.begin(), now.begin() + 4, first.begin()),
                             5000);
    for (int i = 0; i < 4; ++i)
        QVERIFY(now[i] > -200 && now[i] < 1300); // believable engineering values
}

void TestLink::simulatorRefusesAPathThatIsNotItsOwn_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("a regular file") << "file";
    QTest::newRow("a folder") << "folder";
    QTest::newRow("a symlink to a regular file") << "link to file";
    QTest::newRow("a symlink to a folder") << "link to folder";
}

void TestLink::simulatorRefusesAPathThatIsNotItsOwn()
{
    QFETCH(QString, kind);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("port");
    const QString data = dir.filePath("data");
    const QByteArray contents("someone else's file\n");
    {
        QFile file(data);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(contents);
    }
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    if (kind == "file")
        QVERIFY(QFile::copy(data, link));
    else if (kind == "folder")
        QVERIFY(QDir(dir.path()).mkdir("port"));
    else
        QVERIFY(QFile::link(kind == "link to file" ? data : dir.filePath("folder"), link));
    const QFileInfo before(link);

    auto sim = launchSimulator(link);
    QVERIFY(sim->waitForFinished(kSimulatorWaitMs));
    QVERIFY(sim->exitCode() != 0);

    const QFileInfo after(link);
    QVERIFY(after.exists());
    QCOMPARE(after.isSymLink(), before.isSymLink());
    QCOMPARE(after.symLinkTarget(), before.symLinkTarget());
    QCOMPARE(after.isDir(), before.isDir());
    QFile file(data);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), contents);
    if (kind == "file") {
        QFile copy(link);
        QVERIFY(copy.open(QIODevice::ReadOnly));
        QCOMPARE(copy.readAll(), contents);
    }
}

void TestLink::simulatorReplacesAStaleLinkAndRemovesIt_data()
{
    QTest::addColumn<QString>("target");
    QTest::newRow("nothing (killed simulator)") << "/dev/pts/nonexistent-zelmar";
    QTest::newRow("a missing file") << "missing";
}

void TestLink::simulatorReplacesAStaleLinkAndRemovesIt()
{
    QFETCH(QString, target);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("port");
    QVERIFY(QFile::link(target, link));
    const QString stale = QFileInfo(link).symLinkTarget();
    auto sim = launchSimulator(link);
    QTRY_VERIFY_WITH_TIMEOUT(namesATerminal(link) && QFileInfo(link).symLinkTarget() != stale,
                             kSimulatorWaitMs);
    QVERIFY(terminateSimulator(*sim));
    QVERIFY(!QFileInfo(link).isSymLink());
}

void TestLink::simulatorLeavesWhatReplacedItsLink_data()
{
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<int>("signalNumber");
    QTest::newRow("a file, then ended") << "file" << int(SIGTERM);
    QTest::newRow("a file, then vanished") << "file" << int(SIGUSR1);
    QTest::newRow("another link, then ended") << "link" << int(SIGTERM);
    QTest::newRow("another link, then vanished") << "link" << int(SIGUSR1);
    QTest::newRow("its own link, then vanished") << "" << int(SIGUSR1);
}

void TestLink::simulatorLeavesWhatReplacedItsLink()
{
    QFETCH(QString, replacement);
    QFETCH(int, signalNumber);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString link = dir.filePath("port");
    auto sim = launchSimulator(link);
    QTRY_VERIFY_WITH_TIMEOUT(namesATerminal(link), kSimulatorWaitMs);
    if (replacement == "file") {
        QVERIFY(QFile::remove(link));
        QFile file(link);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("put here by another program\n");
    } else if (replacement == "link") {
        QVERIFY(QFile::remove(link));
        QVERIFY(QFile::link(dir.path(), link));
    }
    QVERIFY(::kill(static_cast<pid_t>(sim->processId()), signalNumber) == 0);
    if (signalNumber == SIGUSR1) {
        QByteArray said;
        QTRY_VERIFY_WITH_TIMEOUT((said += sim->readAllStandardError()).contains("vanished"),
                                 kSimulatorWaitMs);
    }
    QVERIFY(terminateSimulator(*sim));
    const QFileInfo after(link);
    if (replacement.isEmpty()) {
        QVERIFY(!after.exists() && !after.isSymLink());
        return;
    }
    QVERIFY(after.exists());
    QCOMPARE(after.isSymLink(), replacement == "link");
}

QTEST_GUILESS_MAIN(TestLink)
#include "tst_link.moc"
