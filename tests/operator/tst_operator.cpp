// The operator's part: the unattended start (its command line, and the real
// program against zelmar-sim) and the acknowledgement of alarms (the states in
// every order, the journal on a real SQLite file, the strip's field and the
// panel's frames on the real overview, the bell).
#include "alarmack.h"
#include "alarmannunciator.h"
#include "alarmdisplay.h"
#include "clock.h"
#include "journal.h"
#include "journalrows.h"
#include "journalwindow.h"
#include "openoptions.h"
#include "otherprogram.h"
#include "overviewwindow.h"
#include "poller.h"
#include "portconnection.h"
#include "programrun.h"
#include "shared.h"
#include "simulator.h"
#include "statusstrip.h"
#include "store.h"
#include "webview.h"

#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <memory>

using namespace Journal;

Q_DECLARE_METATYPE(AlarmState)

namespace
{

const QDateTime kStart(QDate(2026, 6, 1), QTime(8, 0, 0));
constexpr int kWaitMs = 20000;
constexpr int kChannelOneAlarm = 0;        // 通道一报警
constexpr int kChannelTwoOpen = 4;         // 通道二开路
constexpr int kFirstAlarmOutputIndex = 12; // 1有报警

// A poll that delivered every watched state: `on` are the states that are on.
StateSnapshot polled(std::initializer_list<int> on)
{
    StateSnapshot s;
    s.delivered.set();
    for (int index : on)
        s.states[std::size_t(index)] = 1;
    return s;
}

const std::array<float, kChannels> kValues{300, 50, 200, 50};

// Counts the rows of a recording database's events table whose detail
// contains `part` (no quotes in it); -1 before the file exists.
int eventsWith(const QString &path, const QString &part)
{
    if (!QFileInfo::exists(path))
        return -1;
    OtherProgram reader(path, QStringLiteral("look"));
    const QVariant count = reader.value(
        QStringLiteral("SELECT count(*) FROM events WHERE ev_detail LIKE '%%1%'").arg(part));
    return count.isValid() ? count.toInt() : -1;
}

std::vector<Event> operatorEvents(const EventJournal &journal)
{
    std::vector<Event> found;
    for (const Event &e : journal.log().newestEvents(1000))
        if (e.kind == EventKind::Operator)
            found.push_back(e);
    return found;
}

} // namespace

class TestOperator : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    // A journal of its own on a recording database (made when missing), the link opened.
    std::unique_ptr<EventJournal> openedJournal(const QString &file)
    {
        const QString path = m_dir.filePath(file);
        RecordingStore(QStringLiteral("maker")).open(path);
        auto journal = std::make_unique<EventJournal>();
        journal->open(path);
        journal->linkOpened();
        return journal;
    }
    void startProgram(QProcess &process, const QStringList &arguments, const QString &db)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZELMAR_DB"), db);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ZELMAR_PROGRAM), arguments);
        QVERIFY(process.waitForStarted());
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The tool's own journal, which the overview's F11 acknowledges through.
        qputenv("ZELMAR_DB", QFile::encodeName(m_dir.filePath(QStringLiteral("Rdatabj.db"))));
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void init() { SystemClock::setFixed(kStart); }
    void cleanup() { SystemClock::setSource({}); }

    // ---- Acknowledgement: the states ----

    void acknowledgementStates_data()
    {
        // Steps: "on"/"off" a poll delivering the alarm; "start-on"/"start-off"
        // the first poll after "打开"; "silent" a poll that delivered nothing;
        // "ack" the operator's acknowledgement. `acks` says what each "ack"
        // covered: "-" nothing, "on" the alarm still on, "returned" gone off.
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<AlarmState>("state");
        QTest::addColumn<QStringList>("acks");
        using S = AlarmState;
        QTest::newRow("nothing") << QStringList{} << S::Normal << QStringList{};
        QTest::newRow("on") << QStringList{"on"} << S::Unacknowledged << QStringList{};
        QTest::newRow("off while normal") << QStringList{"off"} << S::Normal << QStringList{};
        QTest::newRow("ack with nothing") << QStringList{"ack"} << S::Normal << QStringList{"-"};
        QTest::newRow("on off") << QStringList{"on", "off"} << S::Returned << QStringList{};
        QTest::newRow("on ack") << QStringList{"on", "ack"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("on off ack")
            << QStringList{"on", "off", "ack"} << S::Normal << QStringList{"returned"};
        QTest::newRow("on ack off")
            << QStringList{"on", "ack", "off"} << S::Normal << QStringList{"on"};
        QTest::newRow("off on ack")
            << QStringList{"off", "on", "ack"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("ack on") << QStringList{"ack", "on"} << S::Unacknowledged
                                << QStringList{"-"};
        QTest::newRow("ack off on")
            << QStringList{"ack", "off", "on"} << S::Unacknowledged << QStringList{"-"};
        QTest::newRow("on off on: one entry")
            << QStringList{"on", "off", "on"} << S::Unacknowledged << QStringList{};
        QTest::newRow("on off on ack")
            << QStringList{"on", "off", "on", "ack"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("on off off")
            << QStringList{"on", "off", "off"} << S::Returned << QStringList{};
        QTest::newRow("on on") << QStringList{"on", "on"} << S::Unacknowledged << QStringList{};
        QTest::newRow("on ack ack")
            << QStringList{"on", "ack", "ack"} << S::Acknowledged << QStringList{"on", "-"};
        QTest::newRow("on ack on stays steady")
            << QStringList{"on", "ack", "on"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("on ack off on: a new entry")
            << QStringList{"on", "ack", "off", "on"} << S::Unacknowledged << QStringList{"on"};
        QTest::newRow("on ack off ack")
            << QStringList{"on", "ack", "off", "ack"} << S::Normal << QStringList{"on", "-"};
        QTest::newRow("on off ack on") << QStringList{"on", "off", "ack", "on"} << S::Unacknowledged
                                       << QStringList{"returned"};
        QTest::newRow("on off ack ack")
            << QStringList{"on", "off", "ack", "ack"} << S::Normal << QStringList{"returned", "-"};
        QTest::newRow("silent poll changes nothing")
            << QStringList{"on", "silent"} << S::Unacknowledged << QStringList{};
        QTest::newRow("silent poll after ack")
            << QStringList{"on", "ack", "silent"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("found on at the start")
            << QStringList{"start-on"} << S::Unacknowledged << QStringList{};
        QTest::newRow("found off at the start")
            << QStringList{"start-off"} << S::Normal << QStringList{};
        QTest::newRow("reopened, still on: stays acknowledged")
            << QStringList{"on", "ack", "start-on"} << S::Acknowledged << QStringList{"on"};
        QTest::newRow("reopened, gone off meanwhile")
            << QStringList{"on", "ack", "start-off"} << S::Normal << QStringList{"on"};
        QTest::newRow("reopened, returned stays listed")
            << QStringList{"on", "off", "start-off"} << S::Returned << QStringList{};
        QTest::newRow("reopened, returned and on again")
            << QStringList{"on", "off", "start-on"} << S::Unacknowledged << QStringList{};
    }
    void acknowledgementStates()
    {
        QFETCH(QStringList, steps);
        QFETCH(AlarmState, state);
        QFETCH(QStringList, acks);
        AlarmAcknowledgement alarms;
        QStringList covered;
        QDateTime when = kStart;
        for (const QString &step : steps) {
            when = when.addSecs(1);
            if (step == QLatin1String("ack")) {
                const auto done = alarms.acknowledgeAll();
                QVERIFY(done.size() <= 1);
                covered << (done.empty()       ? QStringLiteral("-")
                            : done[0].returned ? QStringLiteral("returned")
                                               : QStringLiteral("on"));
            } else if (step != QLatin1String("silent")) {
                alarms.observe(kChannelOneAlarm, step.endsWith(QLatin1String("on")), when,
                               step.startsWith(QLatin1String("start")));
            }
        }
        QCOMPARE(alarms.state(kChannelOneAlarm), state);
        QCOMPARE(covered, acks);
        const bool waiting = state == AlarmState::Unacknowledged || state == AlarmState::Returned;
        QCOMPARE(alarms.isUnacknowledged(kChannelOneAlarm), waiting);
        QCOMPARE(alarms.unacknowledgedCount(), waiting ? 1 : 0);
    }

    // A poll's snapshot: the sixteen alarms and nothing else; undelivered
    // states and states outside the alarms change nothing.
    void snapshotsMoveTheAlarmsOnly()
    {
        AlarmAcknowledgement alarms;
        StateSnapshot relaysOnly = polled({16, 17, 18, 19});
        QVERIFY(!alarms.observe(relaysOnly, KnownStates{}, kStart));
        QCOMPARE(alarms.unacknowledgedCount(), 0);
        StateSnapshot partial = polled({kChannelOneAlarm, 15});
        partial.delivered.reset();
        partial.delivered[15] = true; // only the high byte came
        QVERIFY(alarms.observe(partial, KnownStates{}, kStart));
        QCOMPARE(alarms.unacknowledged().to_ulong(), 1ul << 15);
        QVERIFY(!alarms.observe(-1, true, kStart, false));
        QVERIFY(!alarms.observe(kAcknowledgedAlarms, true, kStart, false));
        QCOMPARE(alarms.state(kAcknowledgedAlarms), AlarmState::Normal);
    }

    // An alarm chattering at 2 Hz for an hour is one entry, timed from its first "ON".
    void chatteringIsOneEntry()
    {
        AlarmAcknowledgement alarms;
        for (int i = 0; i < 2 * 3600; ++i)
            alarms.observe(kChannelOneAlarm, i % 2 == 0, kStart.addMSecs(500 * i), i == 0);
        QCOMPARE(alarms.unacknowledgedCount(), 1);
        const auto done = alarms.acknowledgeAll();
        QCOMPARE(int(done.size()), 1);
        QCOMPARE(done[0].since, kStart);
        QVERIFY(done[0].sinceStart);
        QVERIFY(done[0].returned); // the last change was an "OFF"
        QCOMPARE(alarms.unacknowledgedCount(), 0);
    }

    void acknowledgementText_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("onSeconds"); // from the "ON" to the acknowledgement
        QTest::addColumn<bool>("sinceStart");
        QTest::addColumn<bool>("returned");
        QTest::addColumn<QString>("text");
        QTest::newRow("on") << 0 << 12 << false << false << "确认 通道一报警 0:00:12";
        QTest::newRow("returned") << 4 << 75 << false << true << "确认 通道二开路 0:01:15 已恢复";
        QTest::newRow("found at the start")
            << 12 << 3600 << true << false << "确认 1有报警 ≥1:00:00";
        QTest::newRow("at once") << 11 << 0 << false << false << "确认 通道四短路 0:00:00";
    }
    void acknowledgementText()
    {
        QFETCH(int, index);
        QFETCH(int, onSeconds);
        QFETCH(bool, sinceStart);
        QFETCH(bool, returned);
        QFETCH(QString, text);
        const QDateTime at = kStart.addSecs(onSeconds);
        const Event e = acknowledgementEvent({{index, kStart, sinceStart, returned}}, at);
        QCOMPARE(e.detail, text);
        QCOMPARE(e.kind, EventKind::Operator);
        QCOMPARE(e.when, at);
        QCOMPARE(eventKindName(e.kind), QStringLiteral("operator"));
        QCOMPARE(eventKindFromName(QStringLiteral("operator")), EventKind::Operator);
        QCOMPARE(kindText(e.kind), QStringLiteral("操作员"));
    }

    // ---- Acknowledgement: the journal ----

    // One event per acknowledgement, naming every alarm it covered with its
    // time from "ON"; nothing journaled when nothing waits.
    void acknowledgementJournaled()
    {
        auto journal = openedJournal(QStringLiteral("ack.db"));
        QSignalSpy changed(journal.get(), &EventJournal::alarmsChanged);
        QCOMPARE(journal->acknowledgeAlarms(), 0);
        QVERIFY(operatorEvents(*journal).empty());
        QCOMPARE(changed.count(), 0);

        journal->observe(polled({}), kValues); // the start: all quiet
        SystemClock::setFixed(kStart.addSecs(10));
        journal->observe(polled({kChannelOneAlarm, kFirstAlarmOutputIndex}), kValues);
        QCOMPARE(changed.count(), 1);
        SystemClock::setFixed(kStart.addSecs(20));
        journal->observe(polled({kFirstAlarmOutputIndex}), kValues); // channel one went off
        QCOMPARE(journal->alarms().unacknowledgedCount(), 2);
        SystemClock::setFixed(kStart.addSecs(52));
        QCOMPARE(journal->acknowledgeAlarms(), 2);
        auto acks = operatorEvents(*journal);
        QCOMPARE(int(acks.size()), 1);
        QCOMPARE(acks[0].detail, QStringLiteral("确认 通道一报警 0:00:42 已恢复, 1有报警 0:00:42"));
        QCOMPARE(acks[0].source, QStringLiteral("ALM"));
        QCOMPARE(acks[0].when, kStart.addSecs(52));

        // The one still on is acknowledged: a second press has nothing to do.
        SystemClock::setFixed(kStart.addSecs(60));
        const auto newest = journal->log().newestId();
        QCOMPARE(journal->acknowledgeAlarms(), 0);
        QVERIFY(journal->log().newestId() == newest);
        QCOMPARE(int(operatorEvents(*journal).size()), 1);

        // The journal view lists it under its kind, with the durations in its text.
        JournalWindow view(journal.get());
        const JournalModel &model = view.model();
        QVERIFY(model.rowCount() > 0);
        QCOMPARE(model.index(0, JournalModel::Kind).data().toString(), QStringLiteral("操作员"));
        QVERIFY(model.index(0, JournalModel::Detail).data().toString().startsWith("确认 "));
        RowBuilder rows;
        rows.add(acks[0]);
        JournalFilter filter;
        filter.kind = EventKind::Operator;
        QVERIFY(rowMatches(rows.rows().front(), filter));
        filter.text = QStringLiteral("确认");
        QVERIFY(rowMatches(rows.rows().front(), filter));
    }

    // A tool started again with an alarm on treats it as unacknowledged, even
    // when the last run had acknowledged it; its time counts from the start ("≥").
    void restartWithAnAlarmOn()
    {
        {
            auto first = openedJournal(QStringLiteral("restart.db"));
            first->observe(polled({kChannelTwoOpen}), kValues);
            QCOMPARE(first->acknowledgeAlarms(), 1);
            first->toolEnded();
        }
        SystemClock::setFixed(kStart.addSecs(300));
        auto again = openedJournal(QStringLiteral("restart.db"));
        QCOMPARE(again->alarms().unacknowledgedCount(), 0);
        again->observe(polled({kChannelTwoOpen}), kValues);
        QCOMPARE(again->alarms().state(kChannelTwoOpen), AlarmState::Unacknowledged);
        SystemClock::setFixed(kStart.addSecs(305));
        QCOMPARE(again->acknowledgeAlarms(), 1);
        const auto acks = operatorEvents(*again);
        QCOMPARE(int(acks.size()), 2); // the first run's and this one's
        QCOMPARE(acks[0].detail, QStringLiteral("确认 通道二开路 ≥0:00:05"));
    }

    // ---- The bell and the flash ----

    void bellRingsUntilAcknowledgedOrMuted()
    {
        auto journal = openedJournal(QStringLiteral("bell.db"));
        AlarmAnnunciator annunciator(journal.get());
        int rings = 0;
        annunciator.setBell([&] { ++rings; });
        auto *bellTimer = annunciator.findChild<QTimer *>(QStringLiteral("AlarmBellTimer"));
        QVERIFY(bellTimer);
        QVERIFY(!bellTimer->isActive());
        QVERIFY(!annunciator.flashOn());

        journal->observe(polled({kChannelOneAlarm}), kValues);
        QCOMPARE(rings, 1); // at once, then every few seconds
        QVERIFY(bellTimer->isActive());
        QVERIFY(annunciator.flashOn());
        QTRY_VERIFY(!annunciator.flashOn()); // the other half of the second
        QTRY_VERIFY(annunciator.flashOn());
        QTRY_VERIFY_WITH_TIMEOUT(rings >= 2, 2 * 3500);

        annunciator.setMuted(true);
        QVERIFY(!bellTimer->isActive());
        annunciator.setMuted(true); // no change, no second event
        const int heard = rings;
        journal->observe(polled({kChannelOneAlarm, kChannelTwoOpen}), kValues);
        QCOMPARE(rings, heard); // a new alarm while muted: only seen
        QCOMPARE(annunciator.unacknowledgedCount(), 2);
        annunciator.setMuted(false);
        QCOMPARE(rings, heard + 1);
        QVERIFY(bellTimer->isActive());

        annunciator.acknowledge();
        QVERIFY(!bellTimer->isActive());
        QVERIFY(!annunciator.flashOn());
        QStringList details;
        for (const Event &e : operatorEvents(*journal))
            details.prepend(e.detail);
        QCOMPARE(details,
                 (QStringList{"静音", "取消静音", "确认 通道一报警 ≥0:00:00, 通道二开路 0:00:00"}));
    }

    // ---- The strip's field and the panel's frames on the real overview ----

    void framesLeaveTheBoxesAsTheyAre()
    {
        resetSharedState();
        const QString path = m_dir.filePath(QStringLiteral("Rdatabj.db"));
        RecordingStore(QStringLiteral("maker")).open(path);
        EventJournal *journal = eventJournal();
        journal->open(path);
        QVERIFY(journal->log().isOpen());
        journal->linkOpened();
        journal->observe(polled({}), kValues);
        auto *window = new OverviewWindow;
        AlarmAnnunciator annunciator(journal);
        annunciator.setBell({});
        AlarmField *field = attachAlarmDisplay(window, &annunciator);
        auto *strip = window->findChild<StatusStrip *>(QStringLiteral("StatusStrip"));
        QVERIFY(strip);
        strip->addAlarmField(field);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));

        // The instrument's alarm shows in its box's own colour.
        InputStates[kChannelOneAlarm] = 1;
        window->refreshChannelDisplay();
        auto *box = window->findChild<QLabel *>(QStringLiteral("D_2R(0)"));
        auto *quiet = window->findChild<QLabel *>(QStringLiteral("D_2R(1)"));
        QVERIFY(box && quiet);
        const QString text = box->text();
        const QColor background = box->palette().color(QPalette::Window);
        const QImage before = box->grab().toImage().convertToFormat(QImage::Format_RGB32);

        journal->observe(polled({kChannelOneAlarm}), kValues);
        auto *count = window->findChild<QLabel *>(QStringLiteral("StripAlarmCount"));
        QVERIFY(count);
        QCOMPARE(count->text(), QStringLiteral("未确认报警 1"));
        QTRY_VERIFY(annunciator.flashOn() && AlarmFrames::isFramed(box));
        QVERIFY(!AlarmFrames::isFramed(quiet));
        const QImage framed = box->grab().toImage().convertToFormat(QImage::Format_RGB32);
        QCOMPARE(box->text(), text);
        QCOMPARE(box->palette().color(QPalette::Window), background);
        // The frame is the edge only: inside it every pixel is the box's own.
        constexpr int kEdge = 3;
        int edgeRed = 0;
        for (int y = 0; y < framed.height(); ++y) {
            for (int x = 0; x < framed.width(); ++x) {
                const bool edge = x < kEdge || y < kEdge || x >= framed.width() - kEdge ||
                                  y >= framed.height() - kEdge;
                if (edge)
                    edgeRed += framed.pixel(x, y) == QColor(200, 0, 0).rgb();
                else if (framed.pixel(x, y) != before.pixel(x, y))
                    QFAIL(qPrintable(QStringLiteral("pixel %1,%2 changed").arg(x).arg(y)));
            }
        }
        QCOMPARE(edgeRed, 2 * kEdge * (framed.width() + framed.height()) - 4 * kEdge * kEdge);
        // It flashes: gone in the other half of the second.
        QTRY_VERIFY(!annunciator.flashOn() && !AlarmFrames::isFramed(box));
        QCOMPARE(box->grab().toImage().convertToFormat(QImage::Format_RGB32), before);

        // F11 on the overview acknowledges: the box is steady, the field empty.
        QTest::keyClick(window, Qt::Key_F11);
        QCOMPARE(journal->alarms().state(kChannelOneAlarm), AlarmState::Acknowledged);
        QCOMPARE(count->text(), QString());
        QTest::qWait(1200); // a whole flash period: the frame stays away
        QVERIFY(!AlarmFrames::isFramed(box));
        QCOMPARE(box->palette().color(QPalette::Window), background);

        // A click on the field acknowledges too, and opens no details view.
        journal->observe(polled({}), kValues);
        journal->observe(polled({kChannelTwoOpen}), kValues);
        QCOMPARE(count->text(), QStringLiteral("未确认报警 1"));
        QTest::mouseClick(count, Qt::LeftButton);
        QCOMPARE(annunciator.unacknowledgedCount(), 0);
        QVERIFY(!strip->details());

        // The bell's toggle mutes and is journaled.
        auto *mute = window->findChild<QToolButton *>(QStringLiteral("StripMute"));
        QVERIFY(mute);
        QTest::mouseClick(mute, Qt::LeftButton);
        QVERIFY(annunciator.isMuted());
        QVERIFY(mute->isChecked());
        QCOMPARE(operatorEvents(*journal).front().detail, QStringLiteral("静音"));
        QVERIFY(!strip->details());

        delete window;
        journal->linkClosed();
        resetSharedState();
    }

    // An alarm input switched on at the instrument: the real link polls it,
    // the strip counts it, F11 journals its acknowledgement, and nothing is
    // written to the instrument.
    void anAlarmSwitchedOnAtTheInstrument()
    {
        SystemClock::setSource({});
        resetSharedState();
        Simulator simulator({"--inputs", "0000", "--freeze"});
        QVERIFY(simulator.start(3));
        const QString path = m_dir.filePath(QStringLiteral("Rdatabj.db"));
        RecordingStore(QStringLiteral("maker")).open(path);
        EventJournal *journal = eventJournal();
        journal->open(path);
        const QMetaObject::Connection watching =
            connect(Met1(), &Poller::polled, journal, &EventJournal::pollDelivered);
        auto window = std::make_unique<OverviewWindow>();
        AlarmAnnunciator annunciator(journal);
        annunciator.setBell({});
        window->findChild<StatusStrip *>(QStringLiteral("StatusStrip"))
            ->addAlarmField(attachAlarmDisplay(window.get(), &annunciator));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->findChild<QComboBox *>(QStringLiteral("Combo1"))->setCurrentIndex(2);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Command9")),
                          Qt::LeftButton);
        auto *count = window->findChild<QLabel *>(QStringLiteral("StripAlarmCount"));
        QTRY_VERIFY_WITH_TIMEOUT(journal->known().delivered.all(), kWaitMs);
        QCOMPARE(count->text(), QString());

        // The instrument again, its first alarm now on; the link reopens by itself.
        QVERIFY(simulator.restart({"--inputs", "0001", "--freeze"}));
        QTRY_COMPARE_WITH_TIMEOUT(count->text(), QStringLiteral("未确认报警 1"), kWaitMs);
        QVERIFY(journal->alarms().isUnacknowledged(kChannelOneAlarm));
        QTest::keyClick(window.get(), Qt::Key_F11);
        QCOMPARE(count->text(), QString());
        const auto acks = operatorEvents(*journal);
        QVERIFY(!acks.empty());
        QVERIFY2(acks.front().detail.startsWith(QStringLiteral("确认 通道一报警 ")),
                 qPrintable(acks.front().detail));
        QVERIFY(simulator.writes().isEmpty());

        disconnect(watching);
        Met1()->stopPolling();
        closeConnection();
        journal->linkClosed();
        window.reset();
        resetSharedState();
    }

    // ---- The unattended start ----

    void openOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("errorPart"); // empty: accepted
        QTest::newRow("open with defaults") << QStringList{"--open"} << "";
        QTest::newRow("full") << QStringList{"--open", "--port", "20",       "--address", "16",
                                             "--baud", "4800",   "--parity", "odd",       "--mute"}
                              << "";
        QTest::newRow("mute alone") << QStringList{"--mute"} << "";
        QTest::newRow("port 0") << QStringList{"--open", "--port", "0"} << "--port";
        QTest::newRow("port 21") << QStringList{"--open", "--port", "21"} << "--port";
        QTest::newRow("address 0") << QStringList{"--open", "--address", "0"} << "--address";
        QTest::newRow("address 17, beyond the list")
            << QStringList{"--open", "--address", "17"} << "--address";
        QTest::newRow("two addresses") << QStringList{"--open", "--address", "1,2"} << "--address";
        QTest::newRow("baud") << QStringList{"--open", "--baud", "115200"} << "--baud";
        QTest::newRow("parity") << QStringList{"--open", "--parity", "mark"} << "--parity";
        QTest::newRow("port without --open") << QStringList{"--port", "2"} << "--open";
        QTest::newRow("unknown option") << QStringList{"--open", "--fast"} << "fast";
        QTest::newRow("stray argument") << QStringList{"--open", "now"} << "now";
    }
    void openOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, errorPart);
        const QStringList line = QStringList{"zelmar"} + arguments;
        QVERIFY(wantsOpenOptions(line));
        const OpenOptions options = parseOpenOptions(line);
        if (!errorPart.isEmpty()) {
            QVERIFY2(options.error.contains(errorPart), qPrintable(options.error));
            return;
        }
        QVERIFY2(options.isValid(), qPrintable(options.error));
        if (arguments.size() == 1) {
            QCOMPARE(options.open, arguments[0] == QLatin1String("--open"));
            QCOMPARE(options.muted, arguments[0] == QLatin1String("--mute"));
            QCOMPARE(options.port, 1);
            QCOMPARE(options.address, 1);
            QCOMPARE(options.baudCode, 1);
            QCOMPARE(options.parityCode, 0);
        } else {
            QVERIFY(options.open && options.muted);
            QCOMPARE(options.port, 20);
            QCOMPARE(options.address, 16);
            QCOMPARE(options.baudCode, 0);
            QCOMPARE(options.parityCode, 1);
        }
    }
    void withoutTheOptionsTheToolStartsAsBefore()
    {
        QVERIFY(!wantsOpenOptions({"zelmar"}));
        QVERIFY(!wantsOpenOptions({"zelmar", "--opened"}));
        QVERIFY(wantsOpenOptions({"zelmar", "--port=3"}));
    }

    // A bad value ends the program with one line before any window: it needs no display.
    void badOptionRefusedBeforeAnyWindow_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("named");
        QTest::newRow("baud") << QStringList{"--open", "--baud", "1200"} << "--baud";
        QTest::newRow("address") << QStringList{"--open", "--address", "99"} << "--address";
        QTest::newRow("parity") << QStringList{"--open", "--parity", "space"} << "--parity";
    }
    void badOptionRefusedBeforeAnyWindow()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, named);
        const ProgramRun run = runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM), arguments);
        QCOMPARE(run.code, 1); // a usage error of the windowed tool
        QVERIFY2(run.error.startsWith(QStringLiteral("zelmar: ")) && run.error.contains(named),
                 qPrintable(run.error));
        QCOMPARE(run.error.count(u'\n'), 1);
    }

    // `zelmar --open` polls the instrument with no click: the starting state of
    // its alarm is journaled, and so is --mute.
    void opensWithoutAClick()
    {
        Simulator simulator({"--inputs", "0001", "--freeze"});
        QVERIFY(simulator.start(7));
        const QString db = m_dir.filePath(QStringLiteral("unattended.db"));
        QProcess tool;
        startProgram(tool,
                     {"--open", "--port", "7", "--address", "1", "--baud", "19200", "--parity",
                      "none", "--mute"},
                     db);
        QTRY_VERIFY_WITH_TIMEOUT(eventsWith(db, QStringLiteral("起始")) >= 1, kWaitMs);
        QCOMPARE(eventsWith(db, QStringLiteral("打开 19200 无校验 地址1 成功")), 1);
        QCOMPARE(eventsWith(db, QStringLiteral("静音")), 1);
        tool.kill();
        QVERIFY(tool.waitForFinished(10000));
    }

    // A port whose device is missing: the tool opens all the same, and the
    // link's own retry polls once the device appears.
    void missingDevicePickedUpLater()
    {
        Simulator simulator({"--inputs", "0001", "--freeze"});
        QVERIFY(simulator.start(8));
        const QString later = m_dir.filePath(QStringLiteral("plugged-in-later"));
        const QString db = m_dir.filePath(QStringLiteral("later.db"));
        QProcess tool;
        qputenv("ZELMAR_PORT_8", QFile::encodeName(later));
        startProgram(tool, {"--open", "--port", "8"}, db);
        QTRY_VERIFY_WITH_TIMEOUT(
            eventsWith(db, QStringLiteral("打开 9600 无校验 地址1 未成功")) == 1, kWaitMs);
        // The link's state and reason, as the strip shows them.
        QTRY_VERIFY_WITH_TIMEOUT(eventsWith(db, QStringLiteral("打开失败")) >= 1, kWaitMs);
        QCOMPARE(eventsWith(db, QStringLiteral("起始")), 0);
        QVERIFY(QFile::link(simulator.linkPath(), later));
        QTRY_VERIFY_WITH_TIMEOUT(eventsWith(db, QStringLiteral("起始")) >= 1, kWaitMs);
        tool.kill();
        QVERIFY(tool.waitForFinished(10000));
    }

    // ---- The web view's field in the strip ----

    // With --web the strip shows the view's address in a place of its own: at
    // the overview's width (fixed: its smallest) no two visible fields of the
    // strip overlap, with the alarms' field showing a count. Last: the
    // overview it wires is the tool's own, which lives on.
    void webFieldOverNoOtherField()
    {
        resetSharedState();
        const QString path = m_dir.filePath(QStringLiteral("web.db"));
        RecordingStore(QStringLiteral("maker")).open(path);
        EventJournal *journal = eventJournal();
        journal->open(path);
        journal->linkOpened();
        journal->observe(polled({}), kValues);
        OverviewWindow *window = ssqx();
        alarmAnnunciator()->setBell({});
        auto *strip = window->findChild<StatusStrip *>(QStringLiteral("StatusStrip"));
        QVERIFY(strip);
        strip->addAlarmField(attachAlarmDisplay(window, alarmAnnunciator()));
        quint16 port = 0;
        {
            QTcpServer probe; // a port nothing listens on once it is closed
            QVERIFY(probe.listen(QHostAddress::LocalHost, 0));
            port = probe.serverPort();
        }
        startWindowedWebView(QStringLiteral("127.0.0.1:%1").arg(port));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        journal->observe(polled({kChannelOneAlarm}), kValues);
        auto *count = window->findChild<QLabel *>(QStringLiteral("StripAlarmCount"));
        QVERIFY(count);
        QTRY_COMPARE(count->text(), QStringLiteral("未确认报警 1"));
        auto *web = strip->findChild<QLabel *>(QStringLiteral("WebViewField"));
        QVERIFY(web && web->isVisible());
        QVERIFY2(web->text().startsWith(QStringLiteral("网页视图 http://")),
                 qPrintable(web->text()));

        QCOMPARE(window->minimumWidth(), window->maximumWidth());
        QVERIFY(window->rect().contains(strip->geometry()));
        QList<QWidget *> fields;
        for (QWidget *child : strip->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (child->isVisible())
                fields << child;
        QVERIFY(fields.size() >= 6);
        for (int i = 0; i < fields.size(); ++i) {
            QVERIFY2(strip->rect().contains(fields[i]->geometry()),
                     qPrintable(fields[i]->objectName()));
            for (int j = i + 1; j < fields.size(); ++j)
                QVERIFY2(!fields[i]->geometry().intersects(fields[j]->geometry()),
                         qPrintable(fields[i]->objectName() + QStringLiteral(" over ") +
                                    fields[j]->objectName()));
        }
        // Each field wide enough for what it says: the count, the address.
        QVERIFY(count->width() >= count->sizeHint().width());
        QVERIFY(web->width() >= web->sizeHint().width());
    }
};

QTEST_MAIN(TestOperator)
#include "tst_operator.moc"
