// The event journal: change detection, the poller's reports against the
// simulator, configuration writes and the queue over a database outage, on
// real SQLite files.
#include "chartsources.h"
#include "chartsurface.h"
#include "chatter.h"
#include "clock.h"
#include "configevents.h"
#include "configwindow.h"
#include "healthmonitor.h"
#include "inputchanges.h"
#include "journal.h"
#include "journalrows.h"
#include "journalwindow.h"
#include "modbuslink.h"
#include "openlink.h"
#include "otherprogram.h"
#include "overviewwindow.h"
#include "poller.h"
#include "portconnection.h"
#include "recorder.h"
#include "recordingfixture.h"
#include "shared.h"
#include "simulator.h"
#include "store.h"
#include "trendchart.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Journal;

namespace
{

constexpr int kPort = 1;
constexpr int kAddress = 1;
const QDateTime kStart(QDate(2026, 5, 20), QTime(8, 0, 0));

// Channel 1 above its alarm value 250 (upper alarm): its alarm, alarm output 1
// and relay 1 are on; the other channels are quiet.
const QStringList kChannelOneAlarm = {"--values", "300,50,200,50", "--freeze"};

StateSnapshot snapshot(const QString &bits, const QString &delivered)
{
    StateSnapshot s;
    for (int i = 0; i < kWatchedStates; ++i) {
        s.states[i] = bits.at(i) == u'1';
        s.delivered[i] = delivered.at(i) == u'1';
    }
    return s;
}

QStringList texts(const std::vector<Event> &events)
{
    QStringList list;
    for (const Event &e : events)
        list << e.source + u' ' + e.detail;
    return list;
}

// Substitute reads for what a real exchange never delivers: bit slots outside 0..255.
qint32 g_slot = 0;
qint32 noRegisters(qint32, qint32, qint32, qint32, qint32 *)
{
    return 0;
}
qint32 slotBits(qint32, qint32, qint32, qint32 *buffer)
{
    buffer[0] = g_slot;
    buffer[1] = g_slot;
    return 0;
}

Event stateEvent(int secondsAfterStart, const QString &source, const QString &detail,
                 EventKind kind = EventKind::Alarm)
{
    return Event{kStart.addSecs(secondsAfterStart), kind, source, detail};
}

// Rows built from events given oldest first: as they are recorded, or read
// back from the newest down.
RowBuilder rowsOf(const std::vector<Event> &events, bool readBack = false)
{
    RowBuilder builder;
    if (readBack)
        std::for_each(events.rbegin(), events.rend(), [&](const Event &e) { builder.addOlder(e); });
    else
        for (const Event &e : events)
            builder.add(e);
    return builder;
}

QStringList durations(const RowBuilder &builder)
{
    QStringList list;
    for (const JournalRow &row : builder.rows())
        list << (row.durationSeconds ? durationText(*row.durationSeconds, row.durationAtLeast)
                                     : QStringLiteral("-"));
    return list;
}

// The table's rows as "kind source detail", top to bottom.
QStringList shownRows(const JournalWindow &window)
{
    QStringList list;
    const JournalModel &model = window.model();
    for (int r = 0; r < model.rowCount(); ++r)
        list << model.index(r, JournalModel::Kind).data().toString() + u' ' +
                    model.index(r, JournalModel::Source).data().toString() + u' ' +
                    model.index(r, JournalModel::Detail).data().toString();
    return list;
}

// Stored events as the view's rows show them.
QStringList rowsOfEvents(const std::vector<Event> &events)
{
    QStringList list;
    for (const Event &e : events)
        list << kindText(e.kind) + u' ' + e.source + u' ' + e.detail;
    return list;
}

// The table's column of sources, top to bottom.
QStringList shownSources(const JournalWindow &window)
{
    QStringList list;
    const JournalModel &model = window.model();
    for (int r = 0; r < model.rowCount(); ++r)
        list << model.index(r, JournalModel::Source).data().toString();
    return list;
}

} // namespace

class TestJournal : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<EventJournal> m_journal;
    std::unique_ptr<Poller> m_poller;

    QString dbPath() const { return m_dir->filePath(QStringLiteral("Rdatabj.db")); }
    void makeRecordingDatabase()
    {
        RecordingStore store(QStringLiteral("maker"));
        QVERIFY(store.open(dbPath()));
    }
    // The journal on a recording database and a poller reporting to it.
    void openJournal()
    {
        makeRecordingDatabase();
        m_journal = std::make_unique<EventJournal>();
        m_journal->open(dbPath());
        QVERIFY(m_journal->log().isOpen());
        m_poller = std::make_unique<Poller>();
        connect(m_poller.get(), &Poller::polled, m_journal.get(), &EventJournal::pollDelivered);
    }
    // "打开" against the simulator, as the overview does it.
    void openLink(Simulator &sim)
    {
        QVERIFY(sim.start(kPort));
        QCOMPARE(openLinkAsOverview(kPort), 0);
        m_journal->linkOpened();
    }
    // The stored events after the "打开" event, oldest first.
    QStringList eventsSinceOpen() const
    {
        std::vector<Event> events = m_journal->log().newestEvents(1000);
        std::reverse(events.begin(), events.end());
        const QStringList all = texts(events);
        const int open = all.lastIndexOf(QRegularExpression(QStringLiteral(".* 打开 .*")));
        return all.mid(open + 1);
    }

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        resetSharedState();
        SystemClock::setFixed(kStart);
    }
    void cleanup()
    {
        m_poller.reset();
        m_journal.reset();
        ClosePort_Modbus(kPort);
        SystemClock::setSource({});
        m_dir.reset();
        resetSharedState();
    }

    // ------------------------------------------------ change detection

    void detection_data()
    {
        QTest::addColumn<QString>("known");
        QTest::addColumn<QString>("knownDelivered");
        QTest::addColumn<QString>("polled");
        QTest::addColumn<QString>("polledDelivered");
        QTest::addColumn<QString>("changes"); // index:on/off, "s" for starting
        const QString all = QString(kWatchedStates, u'1');
        const QString none = QString(kWatchedStates, u'0');
        QTest::newRow("no change")
            << "10000000000010001000" << all << "10000000000010001000" << all << "";
        QTest::newRow("one on, one off")
            << "10000000000010001000" << all << "00010000000010001000" << all << "0:off 3:on";
        QTest::newRow("starting state: only what is on")
            << none << none << "10000000000010001000" << all << "0:on:s 12:on:s 16:on:s";
        QTest::newRow("nothing delivered: nothing, not even off")
            << "11111111111111111111" << all << none << none << "";
        QTest::newRow("undelivered high byte keeps its states")
            << "00000000111111111111" << all << "00000000000000001111"
            << "11111111000000001111"
            << "";
        QTest::newRow("high byte delivered late gives its starting state")
            << "10000000000000000000"
            << "11111111000011110000"
            << "10000000100000000000" << all << "8:on:s";
        QTest::newRow("all twenty change")
            << none << all << all << all
            << "0:on 1:on 2:on 3:on 4:on 5:on 6:on 7:on 8:on 9:on 10:on 11:on 12:on 13:on "
               "14:on 15:on 16:on 17:on 18:on 19:on";
    }
    void detection()
    {
        QFETCH(QString, known);
        QFETCH(QString, knownDelivered);
        QFETCH(QString, polled);
        QFETCH(QString, polledDelivered);
        QFETCH(QString, changes);
        const std::array<float, kChannels> values = {1, 2, 3, 4};
        QStringList found;
        for (const StateChange &c : detectChanges(snapshot(known, knownDelivered),
                                                  snapshot(polled, polledDelivered), values)) {
            found << QStringLiteral("%1:%2%3")
                         .arg(c.index)
                         .arg(c.on ? "on" : "off")
                         .arg(c.starting ? ":s" : "");
            QCOMPARE(c.value, values[stateChannel(c.index) - 1]);
        }
        QCOMPARE(found.join(u' '), changes);
    }

    void mergeKeepsWhatWasNotDelivered()
    {
        const KnownStates known = snapshot("11110000000000000000", "11111111111111111111");
        const KnownStates merged =
            mergeKnown(known, snapshot("00000000000000000000", "10000000000000000000"));
        QCOMPARE(int(merged.states[0]), 0);
        QCOMPARE(int(merged.states[1]), 1);
        QVERIFY(merged.delivered.all());
    }

    void statesBelongToTheirChannel_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("channel");
        QTest::addColumn<int>("kind");
        QTest::newRow("channel 1 alarm") << 0 << 1 << int(EventKind::Alarm);
        QTest::newRow("channel 2 open circuit") << 4 << 2 << int(EventKind::OpenCircuit);
        QTest::newRow("channel 4 short circuit") << 11 << 4 << int(EventKind::ShortCircuit);
        QTest::newRow("alarm output 3") << 14 << 3 << int(EventKind::AlarmOutput);
        QTest::newRow("relay 4") << 19 << 4 << int(EventKind::Relay);
    }
    void statesBelongToTheirChannel()
    {
        QFETCH(int, index);
        QTEST(stateChannel(index), "channel");
        QTEST(int(stateKind(index)), "kind");
        QCOMPARE(stateIndexOf(stateName(index)), index);
    }

    void changeEventText_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("on");
        QTest::addColumn<bool>("starting");
        QTest::addColumn<float>("value");
        QTest::addColumn<int>("kind"); // EventKind
        QTest::addColumn<QString>("source");
        QTest::addColumn<QString>("detail");
        QTest::newRow("starting state on")
            << 14 << true << true << 123.5F << int(EventKind::AlarmOutput) << "3有报警"
            << "ON 123.5 起始";
        QTest::newRow("relay opening")
            << 17 << false << false << -5.F << int(EventKind::Relay) << "继电器2"
            << "OFF -5";
    }
    void changeEventText()
    {
        QFETCH(int, index);
        QFETCH(bool, on);
        QFETCH(bool, starting);
        QFETCH(float, value);
        QFETCH(int, kind);
        QFETCH(QString, source);
        QFETCH(QString, detail);
        const Event e = changeEvent({index, on, starting, value}, kStart);
        QCOMPARE(int(e.kind), kind);
        QCOMPARE(e.source, source);
        QCOMPARE(e.detail, detail);
    }

    // ------------------------------------------------ chattering

    // Steps on one state (channel one's alarm), each "cMS" a change at MS
    // milliseconds (ON, OFF, ON, ... with the value its ordinal), "sMS" a
    // starting state found on, "dMS" the filter asked what is due, "rMS" reset
    // ("关闭"); then the events given, as "SECONDS DETAIL".
    void chatterBoundaries_data()
    {
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QStringList>("events");
        const QStringList four = {"0 ON 1", "10 OFF 2", "20 ON 3", "30 OFF 4"};
        const QStringList onset = {"0 ON 1", "1 OFF 2", "2 ON 3", "3 OFF 4",
                                   "4 抖动 5 次/分钟 ON 5"};
        QTest::newRow("four changes in a minute: each journaled")
            << "c0 c10000 c20000 c30000 d59999" << four;
        QTest::newRow("the fifth within the minute: chattering")
            << "c0 c10000 c20000 c30000 c59999" << four + QStringList{"59 抖动 5 次/分钟 ON 5"};
        QTest::newRow("the fifth a minute after the first: not within it")
            << "c0 c10000 c20000 c30000 c60000" << four + QStringList{"60 ON 5"};
        QTest::newRow("two changes in one millisecond both count")
            << "c0 c10000 c20000 c30000 c30000"
            << four.mid(0, 3) + QStringList{"30 OFF 4", "30 抖动 5 次/分钟 ON 5"};
        QTest::newRow("the clock set back: the changes stamped later no longer count")
            << "c10000 c20000 c30000 c40000 c5000"
            << QStringList{"10 ON 1", "20 OFF 2", "30 ON 3", "40 OFF 4", "5 ON 5"};
        QTest::newRow("a starting state is no change")
            << "s0 c1000 c2000 c3000 c4000"
            << QStringList{"0 ON 1 起始", "1 OFF 2", "2 ON 3", "3 OFF 4", "4 ON 5"};
        QTest::newRow("changes while chattering: counted, not journaled")
            << "c0 c1000 c2000 c3000 c4000 c5000 c6000 d63999" << onset;
        QTest::newRow("a minute after the onset: its summary")
            << "c0 c1000 c2000 c3000 c4000 c5000 c6000 d64000"
            << onset + QStringList{"64 抖动 2 次/分钟 ON 7"};
        QTest::newRow("a change in the minute's last millisecond keeps it chattering")
            << "c0 c1000 c2000 c3000 c4000 c63999 d64000"
            << onset + QStringList{"64 抖动 1 次/分钟 OFF 6"};
        QTest::newRow("a whole minute without a change: calm")
            << "c0 c1000 c2000 c3000 c4000 d64000 c64001"
            << onset + QStringList{"64 ON 5 抖动结束 共 5 次", "64 OFF 6"};
        QTest::newRow("calm after a summary: the total since the onset")
            << "c0 c1000 c2000 c3000 c4000 c5000 d64000 d123999 d124000"
            << onset + QStringList{"64 抖动 1 次/分钟 OFF 6", "124 OFF 6 抖动结束 共 6 次"};
        QTest::newRow("calm, then four changes are journaled again")
            << "c0 c1000 c2000 c3000 c4000 d64000 c65000 c66000 c67000 c68000"
            << onset + QStringList{"64 ON 5 抖动结束 共 5 次", "65 OFF 6", "66 ON 7", "67 OFF 8",
                                   "68 ON 9"};
        QTest::newRow("closed while chattering: what was counted")
            << "c0 c1000 c2000 c3000 c4000 c5000 r10000 c11000"
            << onset + QStringList{"10 抖动 1 次/分钟 OFF 6", "11 ON 7"};
    }
    void chatterBoundaries()
    {
        QFETCH(QString, steps);
        QFETCH(QStringList, events);
        ChatterFilter filter;
        QStringList given;
        int ordinal = 0;
        bool on = false;
        for (const QString &step : steps.split(u' ')) {
            const QDateTime at = kStart.addMSecs(step.mid(1).toInt());
            std::vector<Event> out;
            if (step.startsWith(u'c') || step.startsWith(u's')) {
                on = !on;
                out = filter.change({0, on, step.startsWith(u's'), float(++ordinal)}, at);
            } else if (step.startsWith(u'd')) {
                out = filter.due(at);
            } else {
                out = filter.reset(at);
            }
            for (const Event &e : out) {
                QCOMPARE(e.source, QStringLiteral("通道一报警"));
                QCOMPARE(e.kind, EventKind::Alarm);
                given << QString::number(kStart.secsTo(e.when)) + u' ' + e.detail;
            }
        }
        QCOMPARE(given, events);
    }

    // Every state chattering for two hours: at most kChatterEventsPerHour
    // summaries an hour, and no change left out of the counts.
    void chatterSummariesBoundedAndCarried()
    {
        ChatterFilter filter;
        qint64 changes = 0;
        qint64 counted = 0;
        std::array<bool, kWatchedStates> on{};
        QMap<qint64, int> summariesPerHour;
        const auto take = [&](const std::vector<Event> &events) {
            static const QRegularExpression count(QStringLiteral("抖动 (\\d+) "));
            for (const Event &e : events) {
                if (!e.detail.startsWith(QStringLiteral("抖动")))
                    continue; // a change before the onset, which counts it again
                const QRegularExpressionMatch m = count.match(e.detail);
                QVERIFY2(m.hasMatch(), qPrintable(e.detail));
                counted += m.captured(1).toInt();
                if (e.detail.contains(QStringLiteral("次/")) && kStart.secsTo(e.when) > 10)
                    ++summariesPerHour[kStart.secsTo(e.when) / 3600];
            }
        };
        const int seconds = 2 * 3600;
        for (int t = 0; t < seconds; ++t) {
            const QDateTime at = kStart.addSecs(t);
            for (int i = 0; i < kWatchedStates; ++i) {
                on[i] = !on[i];
                ++changes;
                take(filter.change({i, on[i], false, 0}, at));
                QVERIFY(filter.isChattering(i) == (t >= kChatterChanges - 1));
            }
            take(filter.due(at));
        }
        take(filter.reset(kStart.addSecs(seconds)));
        // The onset's count takes in the changes journaled one by one before it.
        QCOMPARE(counted, changes);
        for (int hour = 0; hour < 2; ++hour)
            QVERIFY(summariesPerHour.value(hour) <= kChatterEventsPerHour);
        QCOMPARE(summariesPerHour.value(0), kChatterEventsPerHour);
        // An hour after the first ones the budget is there again.
        QCOMPARE(summariesPerHour.value(1), kChatterEventsPerHour);
    }

    // Every state chattering in bursts (six changes a second apart, then three
    // quiet minutes, so that each burst calms): after the first bursts all
    // their events come from the hourly budget, however many bursts; and every
    // change is in the journal, as a single change or in an episode's total.
    void chatterInBurstsBounded()
    {
        ChatterFilter filter;
        constexpr int kBurstChanges = 6;
        constexpr int kBurstSeconds = 190;
        constexpr int kHours = 4;
        std::array<bool, kWatchedStates> on{};
        QMap<qint64, int> eventsPerHour;
        qint64 changes = 0;
        qint64 singles = 0;
        qint64 totals = 0;
        qint64 onsets = 0;
        const auto take = [&](const std::vector<Event> &events) {
            static const QRegularExpression total(QStringLiteral("抖动结束 共 (\\d+) 次"));
            for (const Event &e : events) {
                ++eventsPerHour[kStart.secsTo(e.when) / 3600];
                const QRegularExpressionMatch calm = total.match(e.detail);
                if (calm.hasMatch())
                    totals += calm.captured(1).toLongLong();
                else if (e.detail.startsWith(
                             QStringLiteral("抖动 %1 次/分钟").arg(kChatterChanges)))
                    ++onsets;
                else if (!e.detail.startsWith(QStringLiteral("抖动")))
                    ++singles;
            }
        };
        // The bursts, then two quiet hours in which every state calms.
        for (int t = 0; t < (kHours + 2) * 3600; ++t) {
            const QDateTime at = kStart.addSecs(t);
            if (t < kHours * 3600 && t % kBurstSeconds < kBurstChanges) {
                for (int i = 0; i < kWatchedStates; ++i) {
                    on[i] = !on[i];
                    ++changes;
                    take(filter.change({i, on[i], false, 0}, at));
                }
            }
            take(filter.due(at));
        }
        for (int i = 0; i < kWatchedStates; ++i)
            QVERIFY(!filter.isChattering(i));
        QVERIFY(eventsPerHour.value(0) <= kChatterEventsPerHour + kWatchedStates * kChatterChanges);
        for (int hour = 1; hour < kHours + 2; ++hour)
            QVERIFY2(eventsPerHour.value(hour) <= kChatterEventsPerHour,
                     qPrintable(QString::number(eventsPerHour.value(hour))));
        // An onset's count takes in the changes journaled one by one before it.
        QCOMPARE(singles + totals - onsets * (kChatterChanges - 1), changes);
    }

    // A state that stopped chattering journals a change from the budget for
    // kChatterMemory after it: its onset, then "关闭" (reset) at 10 s; the
    // other states chatter from then on and spend the budget.
    void chatterRememberedForAnHour_data()
    {
        QTest::addColumn<int>("afterStop");
        QTest::addColumn<bool>("journaled");
        QTest::newRow("a second before the hour: held back") << 3599 << false;
        QTest::newRow("the hour after it: journaled") << 3600 << true;
    }
    void chatterRememberedForAnHour()
    {
        QFETCH(int, afterStop);
        QFETCH(bool, journaled);
        ChatterFilter filter;
        std::array<bool, kWatchedStates> on{};
        constexpr int kStop = 10;
        for (int t = 0; t < kChatterChanges; ++t) {
            on[0] = !on[0];
            filter.change({0, on[0], false, 0}, kStart.addSecs(t));
        }
        QVERIFY(filter.isChattering(0));
        QVERIFY(filter.reset(kStart.addSecs(kStop)).empty());
        int budgeted = 0;
        for (int t = kStop + 1; t < kStop + afterStop; ++t) {
            const QDateTime at = kStart.addSecs(t);
            for (int i = 1; i < kWatchedStates; ++i) {
                on[i] = !on[i];
                filter.change({i, on[i], false, 0}, at);
            }
            budgeted += int(filter.due(at).size());
        }
        QCOMPARE(budgeted, kChatterEventsPerHour);
        on[0] = !on[0];
        const std::vector<Event> events =
            filter.change({0, on[0], false, 0}, kStart.addSecs(kStop + afterStop));
        QCOMPARE(events.size() == 1, journaled);
        QCOMPARE(filter.isChattering(0), !journaled);
    }

    // ------------------------------------------------ against the simulator

    void oneEventPerChangeAndNoneWithout()
    {
        openJournal();
        Simulator sim(kChannelOneAlarm);
        openLink(sim);
        m_poller->tick();
        QCOMPARE(eventsSinceOpen(), (QStringList{"通道一报警 ON 300 起始", "1有报警 ON 300 起始",
                                                 "继电器1 ON 300 起始"}));
        m_poller->tick();
        m_poller->tick();
        QCOMPARE(eventsSinceOpen().size(), 3);
        // The alarm value raised above the channel's value: the alarm goes.
        SystemClock::setFixed(kStart.addSecs(7));
        QCOMPARE(Set_4X_D1(kPort, kAddress, 2, 350), 0);
        m_poller->tick();
        m_poller->tick();
        QCOMPARE(eventsSinceOpen().mid(3),
                 (QStringList{"通道一报警 OFF 300", "1有报警 OFF 300", "继电器1 OFF 300"}));
        QCOMPARE(m_journal->log().newestEvents(1).front().when, kStart.addSecs(7));
    }

    void startingStateAgainAfterReopening()
    {
        openJournal();
        Simulator sim(kChannelOneAlarm);
        openLink(sim);
        m_poller->tick();
        m_journal->linkClosed();
        m_poller->tick(); // a poll after "关闭" is not watched
        QCOMPARE(texts(m_journal->log().newestEvents(1)), QStringList{"端口 1 关闭"});
        m_journal->linkOpened();
        QCOMPARE(texts(m_journal->log().newestEvents(1)),
                 QStringList{"端口 1 打开 9600 无校验 地址1 成功"});
        m_poller->tick();
        QCOMPARE(eventsSinceOpen().size(), 3);
        QVERIFY(eventsSinceOpen().first().endsWith(QStringLiteral("起始")));
    }

    void failedPollsGiveNoEvents()
    {
        openJournal();
        Simulator sim(kChannelOneAlarm);
        openLink(sim);
        m_poller->tick();
        QVERIFY(sim.pause());
        m_poller->tick(); // every read times out
        m_poller->tick();
        QVERIFY(sim.resume());
        QCOMPARE(eventsSinceOpen().size(), 3); // no false "OFF"
        m_poller->tick();
        QCOMPARE(eventsSinceOpen().size(), 3);
    }

    void firstPollFailingGivesNoStartingState()
    {
        openJournal();
        Simulator sim(kChannelOneAlarm);
        openLink(sim);
        InputStates[5] = 1; // left over from an earlier opening
        QVERIFY(sim.pause());
        m_poller->tick();
        QVERIFY(sim.resume());
        QVERIFY(eventsSinceOpen().isEmpty());
        QVERIFY(m_journal->known().delivered.none());
        m_poller->tick();
        QCOMPARE(eventsSinceOpen().size(), 3);
    }

    void outOfRangeBytesGiveNoEvents_data()
    {
        QTest::addColumn<int>("slot");
        QTest::newRow("256") << 256;
        QTest::newRow("-1") << -1;
    }
    void outOfRangeBytesGiveNoEvents()
    {
        QFETCH(int, slot);
        openJournal();
        m_journal->linkOpened();
        g_slot = 0x05;
        m_poller->setReads({noRegisters, slotBits, slotBits});
        m_poller->tick();
        const QStringList starting = eventsSinceOpen();
        QCOMPARE(starting.size(), 2 * 2 + 2); // inputs 1, 3, 9, 11 and relays 1, 3
        g_slot = slot;
        m_poller->tick();
        QCOMPARE(eventsSinceOpen(), starting);
        QCOMPARE(InputStates[0], 1);
    }

    // ------------------------------------------------ configuration writes

    void configurationWritesJournaled()
    {
        openJournal();
        Simulator sim;
        openLink(sim);
        ConfigWindow window;
        connect(&window, &ConfigWindow::parameterWritten, m_journal.get(),
                &EventJournal::configWritten);
        window.show();
        window.readCycle();
        auto *box = window.findChild<QLineEdit *>(QStringLiteral("T_3RW(1)"));
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("SSTab2Tab(0)")),
                          Qt::LeftButton);
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("350"));
        QTest::keyClick(box, Qt::Key_Tab);
        QCOMPARE(sim.writes(), QStringList{"write 2 350"});
        const Event written = m_journal->log().newestEvents(1).front();
        QCOMPARE(written.kind, EventKind::ConfigWrite);
        QCOMPARE(written.source, QStringLiteral("寄存器2 CH1报警值"));
        QCOMPARE(written.detail, QStringLiteral("250 → 350 已写入"));
    }

    void failedRetryJournaledAgainstASilentInstrument()
    {
        openJournal();
        Simulator sim({"--silent"});
        openLink(sim);
        ConfigWindow window;
        connect(&window, &ConfigWindow::parameterWritten, m_journal.get(),
                &EventJournal::configWritten);
        window.show();
        window.readCycle(); // nothing read back
        auto *combo = window.findChild<QComboBox *>(QStringLiteral("Combo5"));
        QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("SSTab2Tab(3)")),
                          Qt::LeftButton);
        for (int tab = 0; tab < 10 && !combo->isVisible(); ++tab)
            QTest::mouseClick(
                window.findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(tab)),
                Qt::LeftButton);
        combo->setFocus();
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(combo, Qt::Key_Down);
        QTest::keyClick(combo, Qt::Key_Tab);
        QCOMPARE(sim.writes(), (QStringList{"write 18 2", "write 18 2"}));
        const Event failed = m_journal->log().newestEvents(1).front();
        QCOMPARE(failed.detail, QStringLiteral("未读回 → 2:19200BPS 重试后失败"));
    }

    void writeTexts_data()
    {
        QTest::addColumn<int>("reg");
        QTest::addColumn<int>("before");
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QString>("detail");
        QTest::newRow("code with its option") << 18 << 1 << 2 << int(WriteOutcome::WrittenOnRetry)
                                              << "1:9600BPS → 2:19200BPS 重试后写入";
        QTest::newRow("tenths") << 47 << 20 << 25 << int(WriteOutcome::Written) << "2 → 2.5 已写入";
        QTest::newRow("code outside the list")
            << 18 << 7 << 2 << int(WriteOutcome::Written) << "7 → 2:19200BPS 已写入";
    }
    void writeTexts()
    {
        QFETCH(int, reg);
        QFETCH(int, before);
        QFETCH(int, value);
        QFETCH(int, outcome);
        QTEST(configWriteEvent(reg, before, value, WriteOutcome(outcome), kStart).detail, "detail");
    }

    // ------------------------------------------------ tool events, outages

    void toolAndLinkEvents()
    {
        openJournal();
        m_journal->toolStarted();
        CommSettings[CommIndex::Port] = 3;
        CommSettings[CommIndex::BaudCode] = 2;
        CommSettings[CommIndex::ParityCode] = 2;
        CommSettings[CommIndex::Address] = 7;
        CommSettings[CommIndex::OpenResult] = -1;
        m_journal->linkOpened();
        m_journal->linkClosed();
        m_journal->toolEnded();
        QCOMPARE(texts(m_journal->log().newestEvents(10)),
                 (QStringList{"ZELMAR 退出", "端口 3 关闭", "端口 3 打开 19200 偶校验 地址7 未成功",
                              "ZELMAR 启动"}));
    }

    // ------------------------------------------------ the view's rows

    void durationsBesideTheirOffEvent_data()
    {
        QTest::addColumn<bool>("readBack");
        QTest::newRow("as recorded") << false;
        QTest::newRow("read back from the newest") << true;
    }
    void durationsBesideTheirOffEvent()
    {
        QFETCH(bool, readBack);
        const RowBuilder rows = rowsOf(
            {
                stateEvent(0, "通道一报警", "ON 300 起始"), stateEvent(5, "通道二报警", "ON 120"),
                stateEvent(65, "通道一报警", "OFF 240"), stateEvent(3605, "通道二报警", "OFF 100"),
                stateEvent(3606, "通道三报警", "OFF 100"), // its "ON" was never seen
                stateEvent(3607, "继电器1", "ON 300", EventKind::Relay),
                stateEvent(3608, "端口 1", "打开 9600 无校验 地址1 成功", EventKind::Link),
                stateEvent(3609, "继电器1", "OFF 300", EventKind::Relay), // a new opening since
            },
            readBack);
        QCOMPARE(durations(rows),
                 (QStringList{"-", "-", "≥0:01:05", "1:00:00", "-", "-", "-", "-"}));
    }

    void readBackThenRecordedPairsAcrossTheSeam()
    {
        RowBuilder rows =
            rowsOf({stateEvent(0, "通道一报警", "ON 300"), stateEvent(5, "通道二报警", "ON 300"),
                    stateEvent(6, "通道二报警", "OFF 200")},
                   true);
        rows.add(stateEvent(60, "通道一报警", "OFF 200"));
        rows.add(stateEvent(61, "通道二报警", "OFF 200")); // its episode had ended
        QCOMPARE(durations(rows), (QStringList{"-", "-", "0:00:01", "0:01:00", "-"}));
        QCOMPARE(rows.firstSerial(), qint64(-3));
        QCOMPARE(rows.row(1).event.detail, QStringLiteral("OFF 200"));
    }

    void filterByKindRangeAndText_data()
    {
        QTest::addColumn<int>("kind"); // -1: any
        QTest::addColumn<int>("from"); // seconds after the start; -1: open
        QTest::addColumn<int>("to");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("sources");
        QTest::newRow("everything") << -1 << -1 << -1 << ""
                                    << "通道一报警 寄存器2 CH1报警值 继电器1";
        QTest::newRow("kind") << int(EventKind::Relay) << -1 << -1 << ""
                              << "继电器1";
        QTest::newRow("range, both ends included") << -1 << 10 << 20 << ""
                                                   << "寄存器2 CH1报警值";
        QTest::newRow("text in the detail") << -1 << -1 << -1 << "350"
                                            << "寄存器2 CH1报警值";
        QTest::newRow("text ignores case") << -1 << -1 << -1 << "on 300"
                                           << "通道一报警 继电器1";
        QTest::newRow("text in the kind's name") << -1 << -1 << -1 << "配置"
                                                 << "寄存器2 CH1报警值";
        QTest::newRow("nothing") << int(EventKind::Alarm) << 10 << 30 << ""
                                 << "";
    }
    void filterByKindRangeAndText()
    {
        QFETCH(int, kind);
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QString, text);
        const RowBuilder rows = rowsOf({
            stateEvent(0, "通道一报警", "ON 300"),
            stateEvent(10, "寄存器2 CH1报警值", "250 → 350 已写入", EventKind::ConfigWrite),
            stateEvent(21, "继电器1", "ON 300", EventKind::Relay),
        });
        JournalFilter filter;
        if (kind >= 0)
            filter.kind = EventKind(kind);
        if (from >= 0)
            filter.from = kStart.addSecs(from);
        if (to >= 0)
            filter.to = kStart.addSecs(to);
        filter.text = text;
        QStringList found;
        for (qint64 serial : filterRows(rows, rows.firstSerial(), rows.endSerial(), filter))
            found << rows.row(serial).event.source;
        QTEST(found.join(u' '), "sources");
    }

    void alarmEpisodesOfTheLastDay()
    {
        const RowBuilder rows = rowsOf({
            stateEvent(-90000, "通道一报警", "ON 300"), // more than a day before
            stateEvent(-80000, "通道一报警", "OFF 200"),
            stateEvent(0, "通道一报警", "ON 300 起始"),
            stateEvent(10, "通道一报警", "OFF 200"),
            stateEvent(20, "通道一报警", "ON 300"),
            stateEvent(30, "通道四报警", "ON 95"),
            stateEvent(40, "4有报警", "ON 95", EventKind::AlarmOutput),
            stateEvent(50, "通道二开路", "ON 0", EventKind::OpenCircuit),
        });
        QCOMPARE(alarmEpisodesLastDay(rows, kStart.addSecs(60)), (std::array<int, 4>{2, 0, 0, 1}));
    }

    void csvHasTheMarkAndQuotesWhatNeedsIt()
    {
        const RowBuilder rows = rowsOf({
            stateEvent(0, "通道一报警", "ON 300"),
            stateEvent(61, "通道一报警", "OFF 2,5 \"x\""),
        });
        const QByteArray csv = journalCsv(rows, {1, 0});
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(csv.mid(3)).split(QStringLiteral("\r\n")),
                 (QStringList{"日期时间,类型,对象,内容,持续时间",
                              "2026-05-20 08:01:01,报警,通道一报警,\"OFF 2,5 \"\"x\"\"\",0:01:01",
                              "2026-05-20 08:00:00,报警,通道一报警,ON 300,", ""}));
    }

    // ------------------------------------------------ the view

    void viewFiltersNewestFirstAndFollowsNewEvents()
    {
        openJournal();
        m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
        m_journal->record(stateEvent(10, "继电器1", "ON 300", EventKind::Relay));
        JournalWindow window(m_journal.get());
        window.show();
        QCOMPARE(shownSources(window), (QStringList{"继电器1", "通道一报警"}));
        auto *kind = window.findChild<QComboBox *>(QStringLiteral("KindFilter"));
        QVERIFY(kind->findText(QStringLiteral("历史库")) > 0); // the forwarder's notes too
        kind->setCurrentIndex(kind->findText(QStringLiteral("报警")));
        QCOMPARE(shownSources(window), QStringList{"通道一报警"});
        // A new event that passes the filter goes on top; one that does not stays out.
        m_journal->record(stateEvent(20, "继电器1", "OFF 200", EventKind::Relay));
        m_journal->record(stateEvent(30, "通道一报警", "OFF 200"));
        QCOMPARE(shownSources(window), (QStringList{"通道一报警", "通道一报警"}));
        QCOMPARE(window.model().index(0, JournalModel::Duration).data().toString(),
                 QStringLiteral("0:00:30"));
        kind->setCurrentIndex(0);
        QTest::keyClicks(window.findChild<QLineEdit *>(QStringLiteral("SearchText")),
                         QStringLiteral("OFF"));
        QCOMPARE(shownSources(window), (QStringList{"通道一报警", "继电器1"}));
        window.findChild<QLineEdit *>(QStringLiteral("SearchText"))->clear();
        window.findChild<QDateTimeEdit *>(QStringLiteral("RangeFrom"))
            ->setDateTime(kStart.addSecs(5));
        window.findChild<QDateTimeEdit *>(QStringLiteral("RangeTo"))
            ->setDateTime(kStart.addSecs(20));
        QCOMPARE(shownSources(window).size(), 4); // the range counts only when ticked
        window.findChild<QCheckBox *>(QStringLiteral("RangeFilter"))->setChecked(true);
        QCOMPARE(shownSources(window), (QStringList{"继电器1", "继电器1"}));
        QVERIFY(window.findChild<QLabel *>(QStringLiteral("AlarmCounts"))
                    ->text()
                    .contains(QStringLiteral("CH1: 1 ")));
    }

    void viewOpensOnTheNewestAndReadsTheRestLater()
    {
        openJournal();
        // An episode whose "ON" lies beyond the first read and whose "OFF" within it.
        m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
        const int quiet = JournalWindow::kFirstRead + 500;
        for (int i = 0; i < quiet; ++i)
            m_journal->record(
                stateEvent(1, "寄存器2 CH1报警值", "250 → 350 已写入", EventKind::ConfigWrite));
        m_journal->record(stateEvent(100, "通道一报警", "OFF 200"));
        JournalWindow window(m_journal.get());
        window.show();
        QCOMPARE(window.model().rowCount(), JournalWindow::kFirstRead);
        QVERIFY(window.isLoading());
        m_journal->record(stateEvent(101, "继电器1", "ON 300", EventKind::Relay));
        QTRY_VERIFY(!window.isLoading());
        QCOMPARE(window.model().rowCount(), quiet + 3);
        QCOMPARE(shownSources(window).first(), QStringLiteral("继电器1"));
        QCOMPARE(shownSources(window).last(), QStringLiteral("通道一报警"));
        QCOMPARE(window.model().index(1, JournalModel::Duration).data().toString(),
                 QStringLiteral("0:01:40"));
    }

    void viewShowsEventsStillWaitingForTheDatabase()
    {
        m_journal = std::make_unique<EventJournal>();
        m_journal->open(dbPath()); // no database
        m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
        JournalWindow window(m_journal.get());
        QCOMPARE(shownSources(window), QStringList{"通道一报警"});
    }

    // The link's and the recorder's health write to the same table through the
    // journal's own log of that database: the open view shows their events as
    // they come, among the journal's, each once and in the order written.
    void viewFollowsEventsOthersWrite()
    {
        openJournal();
        JournalWindow window(m_journal.get());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        HealthMonitor monitor(linkHealth());
        Recorder recorder(nullptr, QStringLiteral("view-recorder"));
        monitor.watchRecorder(&recorder);
        recorder.load(dbPath());
        recorder.tick();
        QCOMPARE(&monitor.events(), &m_journal->log());
        QTRY_VERIFY(shownRows(window).join(u'|').contains(QStringLiteral("记录 ")));

        Simulator sim;
        QVERIFY(sim.start(kPort));
        QCOMPARE(openConnection(QStringLiteral("1"), 1, 0, QStringLiteral("1")), 0);
        m_journal->linkOpened();
        m_poller->tick();
        QTRY_VERIFY(shownRows(window).join(u'|').contains(QStringLiteral("通讯 端口 1 ")));
        QTRY_VERIFY(shownRows(window).join(u'|').contains(QStringLiteral(" 在线|")));
        QVERIFY(sim.vanish());
        m_poller->tick();
        QTRY_VERIFY(shownRows(window).join(u'|').contains(QStringLiteral(" 端口丢失")));
        closeConnection();
        m_journal->linkClosed();
        QTRY_VERIFY(shownRows(window).join(u'|').contains(QStringLiteral(" 未打开")));
        QCOMPARE(shownRows(window), rowsOfEvents(m_journal->log().newestEvents(1000)));
    }

    // An event of the journal shown while the database was locked is not shown
    // again when it reaches the table.
    void viewShowsAWaitingEventOnceWhenWritten()
    {
        openJournal();
        JournalWindow window(m_journal.get());
        window.show();
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
            QCOMPARE(int(m_journal->log().pending().size()), 1);
            QCOMPARE(shownSources(window), QStringList{"通道一报警"});
            QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        }
        m_journal->record(stateEvent(10, "继电器1", "ON 300", EventKind::Relay));
        QVERIFY(m_journal->log().pending().empty());
        QCOMPARE(shownSources(window), (QStringList{"继电器1", "通道一报警"}));
        QTest::qWait(2 * int(std::chrono::milliseconds(JournalWindow::kWatchInterval).count()));
        QCOMPARE(shownSources(window), (QStringList{"继电器1", "通道一报警"}));
    }

    // A view shown once and closed (hidden) does nothing per event: a tool left
    // running for weeks would read each one twice and keep it for good. Shown
    // again, it lists every event once, newest first, whichever way it catches
    // up: reading the new ids, reading the ring afresh beyond a first read's
    // worth, or taking the events still waiting for the database.
    void hiddenViewCatchesUpWhenShown_data()
    {
        QTest::addColumn<int>("missed");
        QTest::addColumn<bool>("waitingAtShow");
        QTest::newRow("one") << 1 << false;
        QTest::newRow("a first read's worth") << JournalWindow::kFirstRead << false;
        QTest::newRow("one more: read afresh") << JournalWindow::kFirstRead + 1 << false;
        QTest::newRow("still waiting for the database") << 3 << true;
    }
    void hiddenViewCatchesUpWhenShown()
    {
        QFETCH(int, missed);
        QFETCH(bool, waitingAtShow);
        openJournal();
        m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
        JournalWindow window(m_journal.get());
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        window.hide();
        const int shownBefore = window.model().rowCount();

        std::unique_ptr<OtherProgram> other;
        if (waitingAtShow) {
            other = std::make_unique<OtherProgram>(dbPath());
            QVERIFY(other->exec(QStringLiteral("BEGIN EXCLUSIVE")));
        }
        for (int i = 1; i <= missed; ++i)
            m_journal->record(stateEvent(i, "通道一报警", i % 2 ? "OFF 200" : "ON 300"));
        QCOMPARE(window.model().rowCount(), shownBefore);
        QCOMPARE(int(m_journal->log().pending().size()), waitingAtShow ? missed : 0);

        window.show();
        QTRY_VERIFY(!window.isLoading());
        QCOMPARE(window.model().rowCount(), missed + 1);
        QCOMPARE(shownRows(window).first(),
                 rowsOfEvents({stateEvent(missed, "通道一报警", missed % 2 ? "OFF 200" : "ON 300")})
                     .first());
        if (other) {
            QVERIFY(other->exec(QStringLiteral("ROLLBACK")));
            QCOMPARE(m_journal->log().flush(), 0);
        }
        // Each once, in the order stored, also after the watch has looked again.
        QTest::qWait(2 * int(std::chrono::milliseconds(JournalWindow::kWatchInterval).count()));
        QCOMPARE(shownRows(window), rowsOfEvents(m_journal->log().newestEvents(missed + 1)));
    }

    void exportWritesTheShownRows()
    {
        openJournal();
        m_journal->record(stateEvent(0, "通道一报警", "ON 300"));
        m_journal->record(stateEvent(10, "继电器1", "ON 300", EventKind::Relay));
        JournalWindow window(m_journal.get());
        window.findChild<QLineEdit *>(QStringLiteral("SearchText"))
            ->setText(QStringLiteral("继电器"));
        const QString path = m_dir->filePath(QStringLiteral("journal.csv"));
        QVERIFY(window.exportCsv(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray csv = file.readAll();
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(csv.count("\r\n"), 2);
        QVERIFY(csv.contains("继电器1"));
        // A folder that does not exist: no file, no partial file.
        QVERIFY(!window.exportCsv(m_dir->filePath(QStringLiteral("none/journal.csv"))));
    }

    void overviewOpensTheViewByButtonAndKey()
    {
        makeRecordingDatabase();
        qputenv("ZELMAR_DB", QFile::encodeName(dbPath()));
        auto *overview = new OverviewWindow;
        overview->show();
        QVERIFY(QTest::qWaitForWindowExposed(overview));
        auto *button = overview->findChild<QPushButton *>(QStringLiteral("JournalButton"));
        QVERIFY(button);
        // It covers none of the function column's buttons.
        for (QWidget *other :
             button->parentWidget()->findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
            if (other != button && other->isVisible())
                QVERIFY2(!other->geometry().intersects(button->geometry()),
                         qPrintable(other->objectName()));
        QVERIFY(button->parentWidget()->rect().contains(button->geometry()));
        QTest::keyClick(overview, Qt::Key_F9);
        QVERIFY(journalWindow()->isVisible());
        journalWindow()->hide();
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(journalWindow()->isVisible());
        delete journalWindow();
        overview->exitTool();
        delete overview;
        qunsetenv("ZELMAR_DB");
    }

    // ------------------------------------------------ marks on the trend

    void marksBetweenTheSamplesAroundThem_data()
    {
        QTest::addColumn<double>("seconds"); // after the sample at position 180
        QTest::addColumn<double>("x");       // -1: no mark
        QTest::newRow("on the first sample shown") << 0.0 << 0.0;
        QTest::newRow("half way to the next") << 20.5 << 3075.0;
        QTest::newRow("on the last sample before a gap") << 60.0 << 9000.0;
        QTest::newRow("across the gap, in proportion") << 105.0 << 9075.0;
        QTest::newRow("on the newest sample") << 150.0 << 9150.0;
        QTest::newRow("before the window") << -1.0 << -1.0;
        QTest::newRow("after the newest sample") << 151.0 << -1.0;
    }
    void marksBetweenTheSamplesAroundThem()
    {
        QFETCH(double, seconds);
        QFETCH(double, x);
        const double base = 46000.5;
        const double second = 1.0 / 86400;
        Chart::TrendBuffer buffer;
        for (int p = 1; p <= 240; ++p)
            buffer.times[p] = base + (p - 180) * second; // date and time as one sum
        buffer.times[241] = base + 150 * second;         // a minute and a half after 240
        Chart::TrendView view;
        Chart::applyZoom(1, view.sampleStep, view.windowOffset);
        view.writePosition = 241;
        const std::optional<double> found = Chart::momentX(buffer, view, base + seconds * second);
        if (x < 0) {
            QCOMPARE(found, std::nullopt);
        } else {
            QVERIFY(found);
            QCOMPARE(qRound(*found), qRound(x));
        }
    }

    // A long run keeps a day of marks behind the newest: one exactly a day
    // older stays, one a second older goes.
    void marksOlderThanADayGo_data()
    {
        QTest::addColumn<int>("age"); // seconds before the newest mark
        QTest::addColumn<int>("kept");
        QTest::newRow("exactly a day") << 86400 << 2;
        QTest::newRow("a day and a second") << 86401 << 1;
        QTest::newRow("an hour") << 3600 << 2;
    }
    void marksOlderThanADayGo()
    {
        QFETCH(int, age);
        QFETCH(int, kept);
        openJournal();
        m_journal->record(stateEvent(-age, "通道一报警", "ON 300"));
        m_journal->record(stateEvent(0, "通道一报警", "OFF 200"));
        QCOMPARE(int(m_journal->marksBetween(kStart.addDays(-2), kStart).size()), kept);
    }

    void marksOfTheLastDayReadAtOpening()
    {
        openJournal();
        m_journal->record(stateEvent(-90000, "通道一报警", "ON 300")); // more than a day ago
        m_journal->record(stateEvent(-60, "通道一报警", "OFF 200"));
        m_journal->record(stateEvent(-50, "继电器1", "OFF 200", EventKind::Relay));
        m_journal->record(
            stateEvent(-40, "寄存器2 CH1报警值", "250 → 350 已写入", EventKind::ConfigWrite));
        EventJournal reopened;
        reopened.open(dbPath());
        QCOMPARE(texts(reopened.marksBetween(kStart.addDays(-2), kStart)),
                 (QStringList{"通道一报警 OFF 200", "寄存器2 CH1报警值 250 → 350 已写入"}));
    }

    void marksInTheStrokeListAndUnderTheRuler()
    {
        RecordingFixture recording(QStringLiteral("marks recording"));
        QVERIFY(recording.isReady());
        QVERIFY(recording.fillRing(241, 241));
        const QDateTime noon =
            QDateTime(QDate(1899, 12, 30), QTime(0, 0)).addSecs(recording.noon());
        m_journal = std::make_unique<EventJournal>();
        SystemClock::setFixed(noon);
        m_journal->open(recording.path());
        m_journal->record(Event{noon.addSecs(-120), EventKind::Alarm, "通道一报警", "ON 300"});
        m_journal->record(Event{noon.addSecs(-30), EventKind::Alarm, "通道一报警", "ON 300"});
        m_journal->record(Event{noon.addSecs(-20), EventKind::Alarm, "通道一报警", "OFF 240"});
        m_journal->record(Event{noon.addSecs(-10), EventKind::Relay, "继电器1", "OFF 240"});
        m_journal->record(Event{noon.addSecs(-10), EventKind::ConfigWrite, "寄存器2 CH1报警值",
                                "250 → 350 已写入"});
        ChartSurface surface;
        TrendChart chart;
        chart.attachSurface(&surface);
        chart.setMarkSource(
            [this](double from, double to) { return Chart::journalMarks(*m_journal, from, to); });
        chart.load(recording.store());

        QVector<Stroke> marks;
        for (const Stroke &s : surface.strokes())
            if (s.from.y() == 0 && s.to.y() == Chart::kMarkHeight)
                marks << s;
        // Position 211 (30 s before the newest at 241) lies at (211 - 180) × 150.
        QCOMPARE(marks,
                 (QVector<Stroke>{
                     {QPointF(4650, 0), QPointF(4650, 300), QColor(255, 0, 0), 2, Qt::SolidLine},
                     {QPointF(6150, 0), QPointF(6150, 300), QColor(255, 0, 0), 2, Qt::DotLine},
                     {QPointF(7650, 0), QPointF(7650, 300), QColor(0, 0, 255), 2, Qt::SolidLine},
                 }));

        chart.toggleRuler(recording.store());
        ChartUpdate update = chart.sliderChanged(recording.store(), 4650);
        QVERIFY(update.readout);
        QCOMPARE(update.readout->events, QStringLiteral("通道一报警 ON 300"));
        update = chart.sliderChanged(recording.store(), 4650 + 150);
        QCOMPARE(update.readout->events, QString());
    }

    // An alarm chattering at every poll for an hour, on a full ring whose
    // oldest events hold a configuration write and a link event: both stay.
    void chatteringForAnHourKeepsLinkAndConfigurationEvents()
    {
        openJournal();
        constexpr int kNewest = 99000;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "filler");
            db.setDatabaseName(dbPath());
            QVERIFY(db.open());
            QSqlQuery fill(db);
            QVERIFY(fill.exec(
                QStringLiteral(
                    "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                    "INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail) "
                    "SELECT i, 46000, 0.25, 'relay', '继电器2', 'ON 1' FROM n")
                    .arg(EventLog::kEventRingIds)));
            // The 500th and 600th oldest of the ring.
            QVERIFY(fill.exec(QStringLiteral("UPDATE events SET ev_kind = 'config', ev_source = "
                                             "'寄存器2 CH1报警值', ev_detail = '250 → 350 已写入' "
                                             "WHERE ev_id = %1")
                                  .arg(kNewest + 500)));
            QVERIFY(fill.exec(
                QStringLiteral("UPDATE events SET ev_kind = 'link', ev_source = '端口 1', "
                               "ev_detail = '关闭' WHERE ev_id = %1")
                    .arg(kNewest + 600)));
            QVERIFY(
                fill.exec(QStringLiteral("UPDATE events_void SET newest_event = %1").arg(kNewest)));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("filler"));

        // Channel one's alarm on and off at 2 Hz: every poll a change.
        m_journal->linkOpened();
        const int polls = 2 * 3600;
        StateSnapshot polled;
        polled.delivered.set();
        for (int i = 0; i < polls; ++i) {
            SystemClock::setFixed(kStart.addMSecs(500 * i));
            polled.states[0] = (i + 1) % 2;
            m_journal->observe(polled, {float(i), 0, 0, 0});
        }
        QVERIFY(m_journal->log().pending().empty());
        // "打开", four changes, the onset and a summary a minute.
        const std::optional<qint32> newest = m_journal->log().newestId();
        QVERIFY(newest);
        QVERIFY2(*newest - kNewest <= 1 + kChatterChanges + kChatterEventsPerHour,
                 qPrintable(QString::number(*newest - kNewest)));
        const std::vector<Event> config =
            m_journal->log().newestEventsOf({EventKind::ConfigWrite}, 1);
        QCOMPARE(int(config.size()), 1);
        QCOMPARE(config.front().detail, QStringLiteral("250 → 350 已写入"));
        const std::vector<Event> link = m_journal->log().newestEventsOf({EventKind::Link}, 2);
        QCOMPARE(int(link.size()), 2);
        QCOMPARE(link.back().detail, QStringLiteral("关闭"));
        const Event last = m_journal->log().newestEvents(1).front();
        QCOMPARE(last.source, QStringLiteral("通道一报警"));
        QVERIFY2(last.detail.startsWith(QStringLiteral("抖动 120 次/分钟 ")),
                 qPrintable(last.detail));

        // The alarm is still there to acknowledge, once.
        QCOMPARE(m_journal->acknowledgeAlarms(), 1);
        QCOMPARE(m_journal->acknowledgeAlarms(), 0);
    }

    // The tool as the operator uses it: "打开" on the overview, a change in
    // CONFIG, the alarm going; all of it in the tool's own journal.
    void toolJournalsAlarmsAndAConfigurationChange()
    {
        makeRecordingDatabase();
        qputenv("ZELMAR_DB", QFile::encodeName(dbPath()));
        SystemClock::setSource({});
        Simulator sim(kChannelOneAlarm);
        QVERIFY(sim.start(kPort));
        auto *overview = new OverviewWindow;
        overview->show();
        startJournal();
        // As the start-up wires it: the poller's reports to the journal.
        QObject::connect(Met1(), &Poller::polled, eventJournal(), &EventJournal::pollDelivered,
                         Qt::UniqueConnection);
        const auto newest = [] { return texts(eventJournal()->log().newestEvents(20)); };
        QVERIFY(newest().contains(QStringLiteral("ZELMAR 启动")));

        QTest::mouseClick(overview->findChild<QPushButton *>(QStringLiteral("Command9")),
                          Qt::LeftButton);
        QTRY_VERIFY(newest().contains(QStringLiteral("继电器1 ON 300 起始")));

        QTest::mouseClick(overview->findChild<QPushButton *>(QStringLiteral("Command21")),
                          Qt::LeftButton);
        ConfigWindow *config = CONFIG1();
        QTRY_COMPARE(config->findChild<QLabel *>(QStringLiteral("D_4W(1)"))->text(),
                     QStringLiteral("250"));
        auto *box = config->findChild<QLineEdit *>(QStringLiteral("T_3RW(1)"));
        QTest::mouseClick(config->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(0)")),
                          Qt::LeftButton);
        box->setFocus();
        QTest::keyClicks(box, QStringLiteral("350"));
        QTest::keyClick(box, Qt::Key_Tab);
        QVERIFY(newest().contains(QStringLiteral("寄存器2 CH1报警值 250 → 350 已写入")));
        QTRY_VERIFY(newest().contains(QStringLiteral("通道一报警 OFF 300")));
        QTest::mouseClick(config->findChild<QPushButton *>(QStringLiteral("Command11")),
                          Qt::LeftButton);

        JournalWindow *view = journalWindow();
        view->reload();
        QTRY_VERIFY(!view->isLoading());
        QVERIFY(shownSources(*view).contains(QStringLiteral("寄存器2 CH1报警值")));
        const int off = shownSources(*view).indexOf(QStringLiteral("通道一报警"));
        QVERIFY(!view->model().index(off, JournalModel::Duration).data().toString().isEmpty());

        QTest::mouseClick(overview->findChild<QPushButton *>(QStringLiteral("Command10")),
                          Qt::LeftButton);
        QCOMPARE(newest().first(), QStringLiteral("端口 1 关闭"));
        delete view;
        overview->exitTool();
        delete overview;
        eventJournal()->close();
        qunsetenv("ZELMAR_DB");
    }

    void eventsWaitOverADatabaseOutage()
    {
        m_journal = std::make_unique<EventJournal>();
        m_journal->open(dbPath()); // no database yet
        m_journal->linkOpened();
        const int burst = EventLog::kQueueLimit + 10;
        StateSnapshot polled;
        polled.delivered.set();
        // The sixteen alarm states in turn: each changes every 16 s, too
        // seldom to chatter, so every change is an event.
        for (int i = 0; i < burst; ++i) {
            SystemClock::setFixed(kStart.addSecs(i));
            polled.states[i % kDiscreteInputs] = !polled.states[i % kDiscreteInputs];
            m_journal->observe(polled, {float(i), 0, 0, 0});
        }
        QCOMPARE(int(m_journal->log().pending().size()), EventLog::kQueueLimit);
        // The chart's marks do not wait for the database.
        QCOMPARE(int(m_journal->marksBetween(kStart, kStart.addSecs(burst)).size()), burst);
        makeRecordingDatabase();
        SystemClock::setFixed(kStart.addSecs(burst + EventLog::kReopenIntervalSeconds));
        QCOMPARE(m_journal->log().flush(), 0);
        const std::vector<Event> stored = m_journal->log().newestEvents(2 * burst);
        QCOMPARE(int(stored.size()), EventLog::kQueueLimit + 1);
        const Event &note = stored.back();
        QCOMPARE(note.kind, EventKind::Note);
        QVERIFY(note.detail.contains(QStringLiteral("丢失 11 条事件"))); // "打开" and 10 changes
        QCOMPARE(note.when, stored[stored.size() - 2].when);
        QCOMPARE(stored.front().when, kStart.addSecs(burst - 1)); // original times
    }
};

QTEST_MAIN(TestJournal)
#include "tst_journal.moc"
