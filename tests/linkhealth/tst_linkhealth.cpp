// The link's health against zelmar-sim's faults: states, counters, reasons,
// reconnection, and the faults themselves as the link sees them.
#include "answerrule.h"
#include "linkhealth.h"
#include "modbuslink.h"
#include "poller.h"
#include "portconnection.h"
#include "shared.h"
#include "simulator.h"

#include <modbus/modbus.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <array>
#include <cerrno>
#include <fcntl.h>
#include <thread>
#include <unistd.h>

Q_DECLARE_METATYPE(LinkState)

namespace
{
constexpr qint32 kPort = 1;
constexpr qint32 kAddress = 1;
constexpr int kBaud9600 = 1;
constexpr int kParityNone = 0;
// Long enough for a retry (every 2 s) and the exchange after it.
constexpr int kRecoveryWaitMs = 6000;

using Buffer = std::array<qint32, 64>;

// One input-register read as the poller makes it; true when it got a reply.
bool readValues()
{
    Buffer buf{};
    return Get_3X_DX(kPort, kAddress, 1, 16, buf.data()) == 0;
}

// One poll of a single read: the link tells polls apart by their start.
bool pollOnce(qint32 address = kAddress)
{
    linkHealth()->pollStarted(kPort, address);
    Buffer buf{};
    return Get_3X_DX(kPort, address, 1, 16, buf.data()) == 0;
}

// "打开" on port 1, 9600 bit/s, no parity, address 1.
void pressOpen()
{
    openConnection(QStringLiteral("1 "), kBaud9600, kParityNone, QStringLiteral("1 "));
}

// A pseudo-terminal with nothing behind it, as port 1; its master side (to
// close when done), or -1.
int barePseudoTerminal()
{
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0)
        return -1;
    qputenv("ZELMAR_PORT_1", ptsname(master));
    return master;
}

// Opens the simulator's port, polls once, makes the device vanish and polls
// again: the link is then "port lost".
bool loseThePort(Simulator &sim)
{
    if (!sim.start(kPort))
        return false;
    pressOpen();
    const bool polled = readValues();
    return polled && sim.vanish() && !readValues() && linkHealth()->state() == LinkState::PortLost;
}

// Plays `steps` to a rule: '|' a poll starts, 'r' a reply, 'm' no reply.
AnswerRule played(const QString &steps)
{
    AnswerRule rule;
    for (const QChar step : steps) {
        if (step == u'|')
            rule.pollStarted();
        else if (step == u'r')
            rule.replied();
        else
            rule.missed();
    }
    return rule;
}

QList<LinkState> statesOf(const QSignalSpy &spy)
{
    QList<LinkState> states;
    for (const QList<QVariant> &args : spy)
        states << args.at(1).value<LinkState>();
    return states;
}
} // namespace

class TestLinkHealth : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { qRegisterMetaType<LinkState>(); }
    void init() { resetSharedState(); }
    void cleanup()
    {
        closeConnection();
        qunsetenv("ZELMAR_PORT_1");
        qunsetenv("ZELMAR_SERIAL_BY_ID");
    }

    void failureReasonsInTheSystemsWords_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("outcome");
        QTest::newRow("time-out") << int(ETIMEDOUT) << "no reply from address 1 in 94 ms"
                                  << int(ExchangeOutcome::Timeout);
        QTest::newRow("crc") << int(EMBBADCRC) << "CRC error" << int(ExchangeOutcome::Damaged);
        QTest::newRow("exception 2") << int(EMBXILADD) << "exception 2 (illegal data address)"
                                     << int(ExchangeOutcome::Exception);
        QTest::newRow("exception 1") << int(EMBXILFUN) << "exception 1 (illegal function)"
                                     << int(ExchangeOutcome::Exception);
        QTest::newRow("unplugged")
            << int(EIO) << "Input/output error" << int(ExchangeOutcome::PortGone);
        QTest::newRow("wrong slave")
            << int(EMBBADSLAVE) << QString::fromLocal8Bit(modbus_strerror(EMBBADSLAVE))
            << int(ExchangeOutcome::Damaged);
    }
    void failureReasonsInTheSystemsWords()
    {
        QFETCH(int, err);
        QFETCH(QString, text);
        QFETCH(int, outcome);
        QCOMPARE(exchangeFailureText(err, 1, 94), text);
        QCOMPARE(int(classifyExchangeError(err)), outcome);
    }

    // Every code a link call leaves, as the operator reads it.
    void failureReasonsInChinese_data()
    {
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("text");
        QTest::newRow("time-out") << int(ETIMEDOUT) << "地址 1 在 94 ms 内无应答";
        QTest::newRow("crc") << int(EMBBADCRC) << "校验错误 (CRC)";
        QTest::newRow("bad data") << int(EMBBADDATA) << "应答数据无效";
        QTest::newRow("bad exception code") << int(EMBBADEXC) << "异常码无效";
        QTest::newRow("unknown exception") << int(EMBUNKEXC) << "未知异常";
        QTest::newRow("too many data") << int(EMBMDATA) << "数据过多";
        QTest::newRow("wrong slave") << int(EMBBADSLAVE) << "应答地址不符";
        QTest::newRow("first exception") << int(EMBXILFUN) << "异常应答 1 (非法功能)";
        QTest::newRow("exception 2") << int(EMBXILADD) << "异常应答 2 (非法数据地址)";
        QTest::newRow("instrument busy") << int(EMBXSBUSY) << "异常应答 6 (仪表忙)";
        QTest::newRow("last exception") << int(EMBXGTAR) << "异常应答 11 (网关目标无应答)";
        QTest::newRow("unplugged") << int(EIO) << "输入/输出错误";
        QTest::newRow("device gone") << int(ENXIO) << "设备已断开";
        QTest::newRow("no device") << int(ENODEV) << "无此设备";
        QTest::newRow("closed") << int(EBADF) << "端口未打开";
        QTest::newRow("reset") << int(ECONNRESET) << "连接被重置";
        QTest::newRow("pipe") << int(EPIPE) << "连接已断开";
        QTest::newRow("a code without a text") << int(EDOM) << "错误 33";
    }
    void failureReasonsInChinese()
    {
        QFETCH(int, err);
        QFETCH(QString, text);
        QCOMPARE(exchangeFailureChinese(err, 1, 94), text);
    }

    void openFailureInChinese_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("err");
        QTest::addColumn<QString>("text");
        QTest::newRow("missing") << "/dev/ttyUSB0" << int(ENOENT) << "/dev/ttyUSB0: 设备不存在";
        QTest::newRow("no right") << "/dev/ttyS0" << int(EACCES) << "/dev/ttyS0: 无权访问";
        QTest::newRow("not permitted") << "/dev/ttyS0" << int(EPERM) << "/dev/ttyS0: 不允许操作";
        QTest::newRow("taken") << "/dev/ttyS0" << int(EBUSY) << "/dev/ttyS0: 端口被占用";
        QTest::newRow("not a terminal") << "/tmp/x" << int(ENOTTY) << "/tmp/x: 不是串口设备";
        QTest::newRow("a folder") << "/tmp" << int(EISDIR) << "/tmp: 是文件夹";
        QTest::newRow("bad settings") << "/dev/ttyS0" << int(EINVAL) << "/dev/ttyS0: 参数无效";
        QTest::newRow("no errno") << "/dev/ttyS0" << 0 << "/dev/ttyS0: 无法打开";
        QTest::newRow("no path") << "" << int(EACCES) << "无权访问";
    }
    void openFailureInChinese()
    {
        QFETCH(QString, path);
        QFETCH(int, err);
        QFETCH(QString, text);
        QCOMPARE(openFailureChinese(path, err), text);
    }

    void openFailureNamesThePath()
    {
        QCOMPARE(openFailureText(QStringLiteral("/dev/ttyUSB0"), ENOENT),
                 QStringLiteral("/dev/ttyUSB0: No such file or directory"));
        QCOMPARE(openFailureText({}, EACCES), QStringLiteral("Permission denied"));
    }

    // The simulator's faults, as libmodbus reports them.
    void simulatorFaults_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("err");
        QTest::newRow("late reply") << QStringList{"--delay", "300"} << int(ETIMEDOUT);
        QTest::newRow("dropped") << QStringList{"--drop", "100"} << int(ETIMEDOUT);
        QTest::newRow("corrupted") << QStringList{"--corrupt", "100"} << int(EMBBADCRC);
        QTest::newRow("exception range") << QStringList{"--exception", "3-4"} << int(EMBXILADD);
        QTest::newRow("exception code") << QStringList{"--exception", "16-16:4"} << int(EMBXSFAIL);
    }
    void simulatorFaults()
    {
        QFETCH(QStringList, args);
        QFETCH(int, err);
        Simulator sim(args);
        QVERIFY(sim.start(kPort));
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        errno = 0;
        QVERIFY(!readValues());
        QCOMPARE(errno, err);
    }

    void simulatorRefusesBadFaultOptions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::newRow("drop above 100") << QStringList{"--drop", "101"};
        QTest::newRow("negative corrupt") << QStringList{"--corrupt", "-1"};
        QTest::newRow("negative delay") << QStringList{"--delay", "-5"};
        QTest::newRow("range backwards") << QStringList{"--exception", "5-3"};
        QTest::newRow("range without dash") << QStringList{"--exception", "5"};
        QTest::newRow("exception code 0") << QStringList{"--exception", "1-2:0"};
        QTest::newRow("vanish not a number") << QStringList{"--vanish-after", "soon"};
        QTest::newRow("return negative") << QStringList{"--return-after", "-1"};
        QTest::newRow("reply address 0") << QStringList{"--reply-address", "0"};
        QTest::newRow("missing value") << QStringList{"--drop"};
    }
    void simulatorRefusesBadFaultOptions()
    {
        QFETCH(QStringList, args);
        QTemporaryDir dir;
        QProcess sim;
        sim.start(Simulator::program(), QStringList{"--link", dir.filePath("port")} + args);
        QVERIFY(sim.waitForFinished(3000));
        QCOMPARE(sim.exitCode(), 2);
        QVERIFY(sim.readAllStandardError().contains("try --help"));
        QVERIFY(!QFile::exists(dir.filePath("port")));
    }

    void simulatorHelpDescribesTheFaults()
    {
        QProcess sim;
        sim.start(Simulator::program(), {"--help"});
        QVERIFY(sim.waitForFinished(3000));
        const QByteArray help = sim.readAllStandardOutput();
        for (const char *option :
             {"--delay MS", "--drop PERCENT", "--corrupt PERCENT", "--exception FIRST-LAST",
              "--reply-address N", "--vanish-after S", "--return-after S", "SIGUSR1", "SIGUSR2"})
            QVERIFY2(help.contains(option), option);
    }

    void timedVanishAndReturn()
    {
        Simulator sim({"--vanish-after", "0.3", "--return-after", "0.5"});
        QVERIFY(sim.start(kPort));
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(sim.linkPath()), 3000);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(sim.linkPath()), 3000);
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        QVERIFY(readValues());
    }

    void shortDelayAndRegistersOutsideTheRangeAnswer()
    {
        Simulator sim({"--delay", "20", "--exception", "17-20"});
        QVERIFY(sim.start(kPort));
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        QVERIFY(readValues());
        Buffer buf{};
        QVERIFY(Get_4X_DX(kPort, kAddress, 1, 16, buf.data()) == 0);
        QVERIFY(Get_4X_DX(kPort, kAddress, 17, 1, buf.data()) != 0);
        QCOMPARE(Set_4X_D1(kPort, kAddress, 18, 1), kLinkWriteFailed);
    }

    void replyFromAnotherAddressIsNotTaken()
    {
        Simulator sim({"--reply-address", "2"});
        QVERIFY(sim.start(kPort));
        pressOpen();
        QVERIFY(!pollOnce());
        QVERIFY(!pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->counters().goodReplies, 0);
    }

    void vanishedDeviceFailsWithIo()
    {
        Simulator sim;
        QVERIFY(sim.start(kPort));
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        QVERIFY(readValues());
        QVERIFY(sim.vanish());
        errno = 0;
        QVERIFY(!readValues());
        QCOMPARE(classifyExchangeError(errno), ExchangeOutcome::PortGone);
        QVERIFY(OpenPort_Modbus(kPort, kBaud9600, kParityNone) != 0);
        QVERIFY(sim.comeBack());
        QCOMPARE(OpenPort_Modbus(kPort, kBaud9600, kParityNone), 0);
        QVERIFY(readValues());
    }

    void eachStateReachedAndLeft()
    {
        // Of every three requests the second and third are lost: good, lost,
        // lost, good ... One poll without a reply is no outage; two are.
        Simulator sim({"--drop", "67"});
        QVERIFY(sim.start(kPort));
        QSignalSpy changes(linkHealth(), &LinkHealth::stateChanged);
        QCOMPARE(linkHealth()->state(), LinkState::NotOpened);
        pressOpen();
        QCOMPARE(linkHealth()->state(), LinkState::Opening);
        QVERIFY(pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QVERIFY(linkHealth()->lastGoodExchange().has_value());
        QVERIFY(!pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(linkHealth()->counters().failedPolls, qint64(1));
        QVERIFY(!pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->lastFailure(), QStringLiteral("no reply from address 1 in 94 ms"));
        QCOMPARE(changes.last().at(2).toString(), linkHealth()->lastFailure());
        QVERIFY(pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        closeConnection();
        QCOMPARE(linkHealth()->state(), LinkState::NotOpened);
        QCOMPARE(statesOf(changes),
                 (QList<LinkState>{LinkState::Opening, LinkState::Live, LinkState::NoAnswer,
                                   LinkState::Live, LinkState::NotOpened}));
    }

    // The rule that tells an imperfect line from a silent instrument, one row
    // per edge: a run of misses within one poll, across two, broken by a reply.
    void twoPollRule_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<bool>("pollFailed");
        const int unknown = int(AnswerRule::Verdict::Unknown);
        const int answers = int(AnswerRule::Verdict::Answers);
        const int silent = int(AnswerRule::Verdict::Silent);
        QTest::newRow("nothing yet") << "" << unknown << false;
        QTest::newRow("first poll unanswered") << "|mmm" << unknown << true;
        QTest::newRow("two polls unanswered") << "|mmm|m" << silent << true;
        QTest::newRow("one failed poll") << "|rrr|mmm" << answers << true;
        QTest::newRow("then a good one") << "|rrr|mmm|r" << answers << false;
        QTest::newRow("two failed polls") << "|rrr|mmm|m" << silent << true;
        QTest::newRow("last of one, first of the next") << "|rrm|m" << silent << true;
        QTest::newRow("a reply between") << "|rrm|rm" << answers << true;
        QTest::newRow("reply after the miss") << "|rrm|mr" << answers << true;
        QTest::newRow("silent, then a reply") << "|m|m|r" << answers << false;
        QTest::newRow("silent, miss again") << "|m|m|m" << silent << true;
        QTest::newRow("a poll without exchanges between") << "|r|m||m" << silent << true;
        QTest::newRow("misses outside any poll") << "rmmmmmm" << answers << true;
        QTest::newRow("new poll clears the flag") << "|m|" << unknown << false;
    }
    void twoPollRule()
    {
        QFETCH(QString, steps);
        QFETCH(int, verdict);
        QFETCH(bool, pollFailed);
        const AnswerRule rule = played(steps);
        QCOMPARE(int(rule.verdict()), verdict);
        QCOMPARE(rule.pollFailed(), pollFailed);
    }

    // The real poller against a line that loses one request in ten: failed
    // polls are counted, the link stays live throughout.
    void oneLostRequestInTenIsNoOutage()
    {
        Simulator sim({"--drop", "10"});
        QVERIFY(sim.start(kPort));
        QSignalSpy changes(linkHealth(), &LinkHealth::stateChanged);
        pressOpen();
        Poller poller;
        for (int i = 0; i < 10; ++i)
            poller.tick();
        // The first poll asks for 16 coils, is refused and reads the 8 there
        // are: 31 requests, of which 10, 20 and 30 were lost, in polls 3, 7 and 10.
        QCOMPARE(linkHealth()->counters().requests, qint64(31));
        QCOMPARE(linkHealth()->counters().timeouts, qint64(3));
        QCOMPARE(linkHealth()->counters().failedPolls, qint64(3));
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(statesOf(changes), (QList<LinkState>{LinkState::Opening, LinkState::Live}));
    }

    // An instrument that hangs: its first unanswered poll is counted, the
    // second turns the link to no answer.
    void secondUnansweredPollIsNoAnswer()
    {
        Simulator sim;
        QVERIFY(sim.start(kPort));
        pressOpen();
        Poller poller;
        poller.tick();
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QSignalSpy changes(linkHealth(), &LinkHealth::stateChanged);
        QVERIFY(sim.pause());
        poller.tick();
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(linkHealth()->counters().failedPolls, qint64(1));
        QCOMPARE(changes.count(), 0);
        poller.tick();
        QCOMPARE(linkHealth()->state(), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->counters().failedPolls, qint64(2));
        QCOMPARE(statesOf(changes), QList<LinkState>{LinkState::NoAnswer});
        QVERIFY(sim.resume());
    }

    // Two instruments on one line, the second silent: each has its own state,
    // and the port stays live while one answers.
    void eachInstrumentAnswersOnItsOwn()
    {
        Simulator sim;
        QVERIFY(sim.start(kPort));
        pressOpen();
        linkHealth()->watchInstrument(2);
        QCOMPARE(linkHealth()->addressState(2), LinkState::Opening);
        QSignalSpy changes(linkHealth(), &LinkHealth::addressStateChanged);
        Poller poller;
        for (int i = 0; i < 2; ++i) {
            for (qint32 address : {1, 2}) {
                CommSettings[CommIndex::Address] = address;
                poller.tick();
            }
        }
        CommSettings[CommIndex::Address] = kAddress;
        QCOMPARE(linkHealth()->addressState(1), LinkState::Live);
        QCOMPARE(linkHealth()->addressState(2), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QList<QString> told;
        for (const QList<QVariant> &args : changes)
            told << QStringLiteral("%1 %2 %3")
                        .arg(args.at(0).toInt())
                        .arg(int(args.at(2).value<LinkState>()))
                        .arg(args.at(3).toString());
        QCOMPARE(told, (QList<QString>{QStringLiteral("1 %1 ").arg(int(LinkState::Live)),
                                       QStringLiteral("2 %1 no reply from address 2 in 94 ms")
                                           .arg(int(LinkState::NoAnswer))}));
        // The port's own changes reach every instrument.
        closeConnection();
        QCOMPARE(linkHealth()->addressState(1), LinkState::NotOpened);
        QCOMPARE(linkHealth()->addressState(2), LinkState::NotOpened);
    }

    void countersAfterAKnownSequence()
    {
        // Requests 4, 8, 12, 16 are dropped; of the 12 answered, the 4th, 8th
        // and 12th come back with a bad CRC.
        Simulator sim({"--drop", "25", "--corrupt", "25"});
        QVERIFY(sim.start(kPort));
        pressOpen();
        int good = 0;
        for (int i = 0; i < 16; ++i)
            good += readValues() ? 1 : 0;
        const LinkCounters c = linkHealth()->counters();
        QCOMPARE(good, 9);
        QCOMPARE(c.requests, qint64(16));
        QCOMPARE(c.goodReplies, qint64(9));
        QCOMPARE(c.timeouts, qint64(4));
        QCOMPARE(c.damaged, qint64(3));
        QCOMPARE(c.exceptions, qint64(0));
        QCOMPARE(c.reopens, qint64(0));
        QVERIFY(c.lastReplyMs > 0);
        QVERIFY(c.meanReplyMs > 0 && c.meanReplyMs <= c.maxReplyMs);

        linkHealth()->resetCounters();
        QCOMPARE(linkHealth()->counters().requests, qint64(0));
        QCOMPARE(linkHealth()->counters().maxReplyMs, 0.0);
        // "打开" starts the counters afresh as well.
        readValues();
        pressOpen();
        QCOMPARE(linkHealth()->counters().requests, qint64(0));
    }

    void exceptionRepliesKeepTheLinkLive()
    {
        Simulator sim({"--exception", "1-16"});
        QVERIFY(sim.start(kPort));
        pressOpen();
        QVERIFY(!readValues());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(linkHealth()->counters().exceptions, qint64(1));
        QCOMPARE(linkHealth()->lastFailure(), QStringLiteral("exception 2 (illegal data address)"));
    }

    void vanishAndReturnRecoverWithoutTheOperator()
    {
        Simulator sim;
        QVERIFY(loseThePort(sim));
        QVERIFY(portReconnection()->retrying());
        // The context is closed at once: further calls fail without touching the line.
        QCoreApplication::processEvents();
        const qint64 requests = linkHealth()->counters().requests;
        QVERIFY(!readValues());
        QCOMPARE(linkHealth()->counters().requests, requests);

        QVERIFY(sim.comeBack());
        QTRY_COMPARE_WITH_TIMEOUT(linkHealth()->state(), LinkState::Opening, kRecoveryWaitMs);
        QVERIFY(!portReconnection()->retrying());
        QCOMPARE(linkHealth()->counters().reopens, qint64(1));
        QVERIFY(readValues());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
    }

    // A retry that cannot open the device again leaves the port lost: it
    // worked before, so it never becomes a port that failed to open.
    void failedRetryKeepsThePortLost()
    {
        Simulator sim;
        QVERIFY(loseThePort(sim));
        QSignalSpy changes(linkHealth(), &LinkHealth::stateChanged);
        QTest::qWait(int(PortReconnection::kRetryInterval.count()) + 500); // one retry, still away
        QCOMPARE(linkHealth()->state(), LinkState::PortLost);
        QCOMPARE(changes.count(), 0);
        QVERIFY(portReconnection()->retrying());
    }

    void closeStopsTheRetries()
    {
        Simulator sim;
        QVERIFY(loseThePort(sim));
        closeConnection();
        QVERIFY(!portReconnection()->retrying());
        QVERIFY(sim.comeBack());
        QTest::qWait(int(PortReconnection::kRetryInterval.count()) + 500);
        QCOMPARE(linkHealth()->state(), LinkState::NotOpened);
        QVERIFY(!readValues()); // the port stayed closed
    }

    void portThatCannotBeOpened_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("folder") << "folder"
                                << "Is a directory";
        QTest::newRow("regular file") << "file"
                                      << "Inappropriate ioctl for device";
        QTest::newRow("/dev/null") << "/dev/null"
                                   << "Inappropriate ioctl for device";
        QTest::newRow("missing node") << "missing"
                                      << "No such file or directory";
    }
    void portThatCannotBeOpened()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString path = kind;
        if (kind == "folder") {
            path = dir.path();
        } else if (kind == "file") {
            path = dir.filePath("regular");
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
        } else if (kind == "missing") {
            path = dir.filePath("ttyUSB0");
        }
        qputenv("ZELMAR_PORT_1", QFile::encodeName(path));
        pressOpen();
        QCOMPARE(linkHealth()->state(), LinkState::OpenFailed);
        QCOMPARE(linkHealth()->lastFailure(), path + QStringLiteral(": ") + reason);
        QVERIFY(portReconnection()->retrying());
        QVERIFY(!readValues());
        QCOMPARE(linkHealth()->counters().requests, qint64(0));
    }

    void ptyWithNothingBehindItGivesNoAnswer()
    {
        const int master = barePseudoTerminal();
        QVERIFY(master >= 0);
        pressOpen();
        QCOMPARE(linkHealth()->state(), LinkState::Opening);
        QVERIFY(!pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::Opening); // not heard yet, not silent yet
        QVERIFY(!pollOnce());
        QCOMPARE(linkHealth()->state(), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->counters().timeouts, qint64(2));
        closeConnection();
        close(master);
    }

    void vanishingDuringAConfigurationWrite()
    {
        Simulator sim;
        QVERIFY(sim.start(kPort));
        pressOpen();
        QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 5), 0);
        QVERIFY(sim.vanish());
        // The write and its one repeat fail; the link is lost, nothing else happens.
        QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 6), kLinkWriteFailed);
        QCOMPARE(Set_4X_D1(kPort, kAddress, 1, 6), kLinkWriteFailed);
        QCOMPARE(linkHealth()->state(), LinkState::PortLost);
        QCOMPARE(sim.writes(), QStringList{"write 1 5"});
    }

    void garbageOnTheLineIsNoAnswer()
    {
        const int master = barePseudoTerminal();
        QVERIFY(master >= 0);
        pressOpen();
        // Bytes that are no reply arrive while the link waits for one: a
        // plausible header with nonsense after it, then bytes of no frame at all.
        const std::array<QByteArray, 2> garbage{QByteArray("\x01\x04\x20\x13\x37\x00", 6),
                                                QByteArray("\xff\x00\xaa\x55\x99", 5)};
        Buffer buf{};
        buf.fill(7);
        for (const QByteArray &bytes : garbage) {
            std::thread line([&] {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                (void)!write(master, bytes.data(), size_t(bytes.size()));
            });
            linkHealth()->pollStarted(kPort, kAddress);
            QVERIFY(Get_3X_DX(kPort, kAddress, 1, 16, buf.data()) != 0);
            line.join();
        }
        QCOMPARE(buf[0], 7); // the caller's buffer is untouched
        QCOMPARE(linkHealth()->state(), LinkState::NoAnswer);
        QCOMPARE(linkHealth()->counters().goodReplies, qint64(0));
        QCOMPARE(linkHealth()->counters().requests, qint64(2));
        closeConnection();
        close(master);
    }

    // ---- the device of "打开" ----

    void stableNamesOfDevices_data()
    {
        QTest::addColumn<QString>("device");    // in the folder: "terminal", "plain", "missing"
        QTest::addColumn<QStringList>("names"); // by-id entries: "name>target"
        QTest::addColumn<QString>("expected");  // "same" or the by-id entry's name
        QTest::newRow("adapter") << "terminal" << QStringList{"usb-FTDI_A-if00-port0>terminal"}
                                 << "usb-FTDI_A-if00-port0";
        QTest::newRow("first of two names")
            << "terminal" << QStringList{"usb-B>terminal", "usb-A>terminal"} << "usb-A";
        QTest::newRow("another adapter's name")
            << "terminal" << QStringList{"usb-A>plain"} << "same";
        QTest::newRow("no adapters") << "terminal" << QStringList{} << "same";
        QTest::newRow("device absent") << "missing" << QStringList{"usb-A>terminal"} << "same";
        QTest::newRow("dangling name") << "terminal" << QStringList{"usb-A>missing"} << "same";
    }
    void stableNamesOfDevices()
    {
        QFETCH(QString, device);
        QFETCH(QStringList, names);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        for (const char *file : {"terminal", "plain"}) {
            QFile f(dir.filePath(QLatin1String(file)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        const QString byId = dir.filePath(QStringLiteral("by-id"));
        QVERIFY(QDir().mkpath(byId));
        for (const QString &entry : names) {
            // udev's names lead to the node by a relative link.
            QVERIFY(QFile::link(QStringLiteral("../") + entry.section('>', 1),
                                byId + QLatin1Char('/') + entry.section('>', 0, 0)));
        }
        const QString path = dir.filePath(device);
        QCOMPARE(stableDevicePath(path, byId),
                 expected == "same" ? path : byId + QLatin1Char('/') + expected);
        // A name from the folder is kept as it is.
        if (expected != "same")
            QCOMPARE(stableDevicePath(byId + QLatin1Char('/') + expected, byId),
                     byId + QLatin1Char('/') + expected);
    }

    void retriesKeepToTheDeviceOfOpen()
    {
        Simulator pulled;
        QVERIFY(loseThePort(pulled));
        const QString device = linkHealth()->settings().path;
        QCOMPARE(device, pulled.linkPath());
        // Meanwhile port 1 comes to name another device (as /dev/ttyS0 does
        // while /dev/ttyUSB0 is away), with an instrument behind it.
        Simulator other;
        QVERIFY(other.start(2));
        qputenv("ZELMAR_PORT_1", QFile::encodeName(other.linkPath()));
        QTest::qWait(int(PortReconnection::kRetryInterval.count()) * 2 + 500);
        QCOMPARE(linkHealth()->state(), LinkState::PortLost);
        QCOMPARE(linkHealth()->settings().path, device);
        QVERIFY(!readValues());
        // The pulled device itself is taken back as soon as it returns.
        QVERIFY(pulled.comeBack());
        QTRY_COMPARE_WITH_TIMEOUT(linkHealth()->state(), LinkState::Opening, kRecoveryWaitMs);
        QVERIFY(readValues());
    }

    void adapterFoundAgainUnderANewNumber()
    {
        QTemporaryDir byId;
        qputenv("ZELMAR_SERIAL_BY_ID", QFile::encodeName(byId.path()));
        const QString name = byId.filePath(QStringLiteral("usb-FTDI_FT232R_A10K7-if00-port0"));
        Simulator first;
        QVERIFY(first.start(kPort));
        QVERIFY(QFile::link(QFileInfo(first.linkPath()).canonicalFilePath(), name));
        pressOpen();
        QCOMPARE(linkHealth()->settings().path, name);
        QVERIFY(readValues());
        // Pulled out: udev takes the name away with the node.
        QVERIFY(first.vanish());
        QVERIFY(QFile::remove(name));
        QVERIFY(!readValues());
        QCOMPARE(linkHealth()->state(), LinkState::PortLost);
        // Plugged in again, it comes up as the next number; the name follows it.
        Simulator again;
        QVERIFY(again.start(2));
        QVERIFY(QFile::link(QFileInfo(again.linkPath()).canonicalFilePath(), name));
        QTRY_COMPARE_WITH_TIMEOUT(linkHealth()->state(), LinkState::Opening, kRecoveryWaitMs);
        QVERIFY(readValues());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(linkHealth()->counters().reopens, qint64(1));
    }

    void portThatAppearsLaterIsPickedUp()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("later");
        qputenv("ZELMAR_PORT_1", QFile::encodeName(path));
        pressOpen();
        QCOMPARE(linkHealth()->state(), LinkState::OpenFailed);
        // The simulator publishes its terminal at that very path.
        QProcess sim;
        sim.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        sim.start(Simulator::program(), {"--link", path});
        QVERIFY(sim.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(linkHealth()->state(), LinkState::Opening, kRecoveryWaitMs);
        QVERIFY(readValues());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        closeConnection();
        sim.terminate();
        sim.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(TestLinkHealth)
#include "tst_linkhealth.moc"
