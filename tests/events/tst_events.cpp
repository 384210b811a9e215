// The events table and the recording state, on real SQLite files with the
// clock set by each test.
#include "clock.h"
#include "daytime.h"
#include "events.h"
#include "immutablefile.h"
#include "otherprogram.h"
#include "recorder.h"
#include "recordingstate.h"
#include "ringquery.h"
#include "shared.h"
#include "store.h"
#include "unwrittenevents.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace
{

const QDateTime kStart(QDate(2026, 3, 14), QTime(12, 0, 0));

// The events table as earlier versions made it, without the state column.
constexpr char kEarlierEventsTable[] =
    "CREATE TABLE events (ev_id INTEGER PRIMARY KEY, ev_date, ev_time, ev_kind TEXT, "
    "ev_source TEXT, ev_detail TEXT)";
// How earlier versions wrote a ring row, in place when its id came round again.
constexpr char kEarlierUpsert[] =
    "INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail) "
    "VALUES (%1, %2, %3, 'link', 'port 1', '%4') ON CONFLICT(ev_id) DO UPDATE SET ev_date = "
    "excluded.ev_date, ev_time = excluded.ev_time, ev_kind = excluded.ev_kind, ev_source = "
    "excluded.ev_source, ev_detail = excluded.ev_detail";

Event linkEvent(const QDateTime &when, const QString &detail)
{
    return Event{when, EventKind::Link, QStringLiteral("port 1"), detail};
}

QStringList details(const std::vector<Event> &events)
{
    QStringList list;
    for (const Event &e : events)
        list << e.detail;
    return list;
}

} // namespace

class TestEvents : public QObject
{
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> m_dir;

    QString dbPath() const { return m_dir->filePath(QStringLiteral("Rdatabj.db")); }
    // A recording database as the recorder leaves it.
    void makeRecordingDatabase()
    {
        RecordingStore store(QStringLiteral("maker"));
        QVERIFY(store.open(dbPath()));
    }

private slots:
    // The file a stop leaves its unwritten events in: a line that holds no
    // event (cut short by a full disk, a kind this build does not know) costs
    // that line only; details keep their line breaks and tabs.
    void unwrittenEventsFile_data()
    {
        QTest::addColumn<QByteArray>("tail"); // after two good lines
        QTest::addColumn<int>("unreadable");
        QTest::newRow("whole") << QByteArray() << 0;
        QTest::newRow("last line cut short") << QByteArray("{\"when\":\"2026-03-14T12:00") << 1;
        QTest::newRow("kind unknown")
            << QByteArray("{\"when\":\"2026-03-14T12:00:09\",\"kind\":\"later\"}\n") << 1;
        QTest::newRow("no time") << QByteArray("{\"kind\":\"end\"}\n") << 1;
        QTest::newRow("not JSON") << QByteArray("\x01\x02garbage\n") << 1;
    }
    void unwrittenEventsFile()
    {
        QFETCH(QByteArray, tail);
        QFETCH(int, unreadable);
        const std::vector<Event> events{
            {kStart, EventKind::Link, QStringLiteral("端口 1"), QStringLiteral("未打开"),
             QStringLiteral("not_opened")},
            {kStart.addSecs(2), EventKind::Recording, QStringLiteral("/a\tb.db"),
             QStringLiteral("记录未能写入\n第二行")},
        };
        int skipped = -1;
        const std::vector<Event> read =
            decodeUnwrittenEvents(encodeUnwrittenEvents(events) + tail, &skipped);
        QCOMPARE(skipped, unreadable);
        QCOMPARE(read.size(), events.size());
        QVERIFY(read == events);
    }

    // The next opening of the events log writes what the stop left beside the
    // file ahead of what waits in memory, and removes the file.
    void unwrittenEventsGoFirst()
    {
        makeRecordingDatabase();
        const Event kept{kStart, EventKind::ToolEnd, QStringLiteral("工具"),
                         QStringLiteral("退出")};
        QVERIFY(keepUnwrittenEvents(dbPath(), {kept}));
        QCOMPARE(QFileInfo(unwrittenEventsPath(dbPath())).permissions() &
                     (QFile::ReadGroup | QFile::ReadOther),
                 QFile::Permissions());
        EventLog log(QStringLiteral("reopened"));
        const Event queued{kStart.addSecs(5), EventKind::ToolStart, QStringLiteral("工具"),
                           QStringLiteral("启动")};
        QVERIFY(!log.appendEvent(queued)); // no file yet: it waits
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.pending().empty());
        QCOMPARE(log.newestEvents(2), (std::vector<Event>{queued, kept}));
        QVERIFY(!QFile::exists(unwrittenEventsPath(dbPath())));
    }

    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        resetSharedState();
        SystemClock::setFixed(kStart);
    }
    void cleanup()
    {
        SystemClock::setSource({});
        m_dir.reset();
    }

    void ringIdsWrap_data()
    {
        QTest::addColumn<int>("newest");
        QTest::addColumn<int>("next");
        QTest::newRow("empty ring") << 0 << 1;
        QTest::newRow("middle") << 41 << 42;
        QTest::newRow("last id") << 100000 << 1;
        QTest::newRow("beyond the ring") << 100001 << 1;
        QTest::newRow("negative") << -5 << 1;
    }
    void ringIdsWrap()
    {
        QFETCH(int, newest);
        QFETCH(int, next);
        QCOMPARE(nextEventId(newest), next);
    }

    void idsWrittenSince_data()
    {
        QTest::addColumn<int>("seen");
        QTest::addColumn<int>("newest");
        QTest::addColumn<int>("count");
        QTest::newRow("nothing new") << 41 << 41 << 0;
        QTest::newRow("one") << 41 << 42 << 1;
        QTest::newRow("up to the last id") << 99998 << 100000 << 2;
        QTest::newRow("across the end") << 99999 << 2 << 3;
        QTest::newRow("from the last id to the first") << 100000 << 1 << 1;
        QTest::newRow("all but one, round the ring") << 42 << 41 << 99999;
        QTest::newRow("empty ring, still empty") << 0 << 0 << 0;
        QTest::newRow("empty ring, then some") << 0 << 7 << 7;
        QTest::newRow("seen outside the ring") << 100001 << 7 << 7;
        QTest::newRow("newest outside the ring") << 41 << 100001 << 0;
    }
    void idsWrittenSince()
    {
        QFETCH(int, seen);
        QFETCH(int, newest);
        QFETCH(int, count);
        QCOMPARE(eventIdsAfter(seen, newest), count);
    }

    void everyKindKeepsItsName()
    {
        for (EventKind kind : {EventKind::Link, EventKind::Recording, EventKind::Alarm,
                               EventKind::Relay, EventKind::ConfigWrite, EventKind::ToolStart,
                               EventKind::ToolEnd, EventKind::OpenCircuit, EventKind::ShortCircuit,
                               EventKind::AlarmOutput, EventKind::Note, EventKind::Historian}) {
            QVERIFY(!eventKindName(kind).isEmpty());
            QCOMPARE(eventKindFromName(eventKindName(kind)), std::optional<EventKind>(kind));
        }
        QCOMPARE(eventKindFromName(QStringLiteral("nonsense")), std::nullopt);
    }

    void eventIsOneRowAndTheCounter()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(Event{kStart.addSecs(5), EventKind::Recording,
                                      QStringLiteral("/data/x.db"),
                                      QStringLiteral("not recording: disk full")}));
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("SELECT COUNT(*) FROM events")).toInt(), 1);
        QCOMPARE(other.value(QStringLiteral("SELECT newest_event FROM events_void")).toInt(), 1);
        QCOMPARE(other.value(QStringLiteral("SELECT COUNT(*) FROM events_void")).toInt(), 1);
        QCOMPARE(other.value(QStringLiteral("SELECT ev_kind FROM events")).toString(),
                 QStringLiteral("recording"));
        const std::vector<Event> read = log.newestEvents(10);
        QCOMPARE(read.size(), size_t(1));
        QCOMPARE(read[0].when, kStart.addSecs(5));
        QCOMPARE(read[0].kind, EventKind::Recording);
        QCOMPARE(read[0].source, QStringLiteral("/data/x.db"));
        QCOMPARE(read[0].detail, QStringLiteral("not recording: disk full"));
        // The recording tables are as the recorder left them.
        QCOMPARE(other.value(QStringLiteral("SELECT COUNT(*) FROM pv_data")).toInt(), 0);
    }

    void ringWrapsAtItsLastId()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("first"))));
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("UPDATE events_void SET newest_event = 99999")));
        }
        for (const char *detail : {"a", "b", "c"})
            QVERIFY(log.appendEvent(linkEvent(kStart.addSecs(1), QLatin1String(detail))));
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("SELECT ev_detail FROM events WHERE ev_id = 100000"))
                     .toString(),
                 QStringLiteral("a"));
        // Id 1 held the oldest event; the ring overwrote it.
        QCOMPARE(
            other.value(QStringLiteral("SELECT ev_detail FROM events WHERE ev_id = 1")).toString(),
            QStringLiteral("b"));
        QCOMPARE(other.value(QStringLiteral("SELECT newest_event FROM events_void")).toInt(), 2);
        QCOMPARE(details(log.newestEvents(3)), (QStringList{"c", "b", "a"}));
        QCOMPARE(log.newestId(), std::optional<qint32>(2));
    }

    // A chattering alarm fills the ring between two link events: the link's
    // events are still found, across the ring's end, newest first.
    void newestOfSomeKindsAcrossTheRingsEnd()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("UPDATE events_void SET newest_event = 99998")));
        }
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("lost"))));     // 99999
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("reopened")))); // 100000
        const Event alarm{kStart, EventKind::Alarm, QStringLiteral("通道一报警"),
                          QStringLiteral("ON 300")};
        for (int i = 0; i < 300; ++i)
            QVERIFY(log.appendEvent(alarm));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("live")))); // 301
        QCOMPARE(details(log.newestEventsOf({EventKind::Link}, 10)),
                 (QStringList{"live", "reopened", "lost"}));
        QCOMPARE(details(log.newestEventsOf({EventKind::Link}, 2)),
                 (QStringList{"live", "reopened"}));
        QCOMPARE(int(log.newestEventsOf({EventKind::Alarm, EventKind::Link}, 5).size()), 5);
        QVERIFY(log.newestEventsOf({EventKind::Recording}, 10).empty());
    }

    // A full ring whose only link event is its oldest, the id after the
    // newest: the wrapped read starts right there.
    void newestOfAKindThatIsTheOldestOfAFullRing()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral(
                "WITH RECURSIVE ids(id) AS (SELECT 1 UNION ALL SELECT id + 1 FROM ids "
                "WHERE id < 100000) INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, "
                "ev_source, ev_detail) SELECT id, 46095, 0.5, "
                "CASE id WHEN 5001 THEN 'link' ELSE 'alarm' END, 'port 1', "
                "CASE id WHEN 5001 THEN 'oldest' ELSE 'ON' END FROM ids")));
            QVERIFY(other.exec(QStringLiteral("UPDATE events_void SET newest_event = 5000")));
        }
        QCOMPARE(details(log.newestEventsOf({EventKind::Link}, 1)), QStringList{"oldest"});
    }

    // Every writer of one database in the process shares one log: one queue,
    // one connection; what waited before the database was known goes along,
    // after what waits there already.
    void oneLogPerDatabase()
    {
        makeRecordingDatabase();
        std::shared_ptr<EventLog> early = sharedEventLog();
        QVERIFY(!early->appendEvent(linkEvent(kStart, QStringLiteral("before"))));
        std::shared_ptr<EventLog> first = sharedEventLog(dbPath());
        QVERIFY(first->isOpen());
        QCOMPARE(sharedEventLog(m_dir->path() + QStringLiteral("/./Rdatabj.db")), first);
        QVERIFY(first->appendEvent(linkEvent(kStart, QStringLiteral("first"))));
        moveEventLog(early, dbPath());
        QCOMPARE(early, first);
        QVERIFY(early->pending().empty());
        QCOMPARE(details(first->newestEvents(5)), (QStringList{"before", "first"}));

        // Another database has a log of its own.
        const QString other = m_dir->filePath(QStringLiteral("other.db"));
        QVERIFY(RecordingStore(QStringLiteral("other maker")).open(other));
        std::shared_ptr<EventLog> second = sharedEventLog(other);
        QVERIFY(second != first);
        // A log still held by another writer keeps what waits in it.
        std::shared_ptr<EventLog> held = first;
        moveEventLog(held, other);
        QCOMPARE(held, second);
        QCOMPARE(details(second->newestEvents(5)), QStringList{});

        // Once the last holder lets go, its connection is closed.
        const QStringList before = QSqlDatabase::connectionNames();
        second.reset();
        held.reset();
        QCOMPARE(QSqlDatabase::connectionNames().size(), before.size() - 1);
    }

    void newestFirstFollowsTheRingNotTheClock()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("noon"))));
        // The clock was set back an hour between the two events.
        QVERIFY(log.appendEvent(linkEvent(kStart.addSecs(-3600), QStringLiteral("later"))));
        QCOMPARE(details(log.newestEvents(5)), (QStringList{"later", "noon"}));
        QCOMPARE(details(log.newestEvents(1)), QStringList{"later"});
    }

    void eventsBetweenTwoMoments()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        for (int i = 0; i < 5; ++i)
            QVERIFY(log.appendEvent(linkEvent(kStart.addSecs(10 * i), QString::number(i))));
        QCOMPARE(details(log.eventsBetween(kStart.addSecs(10), kStart.addSecs(30))),
                 (QStringList{"1", "2", "3"}));
        // Bounds in either order.
        QCOMPARE(details(log.eventsBetween(kStart.addSecs(30), kStart.addSecs(10))),
                 (QStringList{"1", "2", "3"}));
        QVERIFY(log.eventsBetween(kStart.addDays(1), kStart.addDays(2)).empty());
    }

    // The ends of a range by the index: a day's last and first second on
    // either side of midnight, each end itself inside, a second beyond it out.
    void rangeEndsAcrossMidnight_data()
    {
        QTest::addColumn<int>("fromSecond"); // relative to midnight after kStart's day
        QTest::addColumn<int>("toSecond");
        QTest::addColumn<QStringList>("found");
        QTest::newRow("both days") << -1 << 0 << QStringList{"-1", "0"};
        QTest::newRow("ends at the last second") << -10 << -1 << QStringList{"-10", "-1"};
        QTest::newRow("starts at midnight") << 0 << 10 << QStringList{"0", "10"};
        QTest::newRow("a second past each end") << -9 << 9 << QStringList{"-1", "0"};
        QTest::newRow("a second before midnight") << -1 << -1 << QStringList{"-1"};
        QTest::newRow("the whole span") << -10 << 10 << QStringList{"-10", "-1", "0", "10"};
        QTest::newRow("between the events") << 1 << 9 << QStringList{};
    }
    void rangeEndsAcrossMidnight()
    {
        QFETCH(int, fromSecond);
        QFETCH(int, toSecond);
        QFETCH(QStringList, found);
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        const QDateTime midnight(kStart.date().addDays(1), QTime(0, 0));
        for (int second : {-10, -1, 0, 10})
            QVERIFY(log.appendEvent(linkEvent(midnight.addSecs(second), QString::number(second))));
        QCOMPARE(
            details(log.eventsBetween(midnight.addSecs(fromSecond), midnight.addSecs(toSecond))),
            found);
        // The last one before the range's start: strictly before it.
        QString expected;
        for (int second : {-10, -1, 0, 10})
            if (second < fromSecond)
                expected = QString::number(second);
        const std::optional<Event> before = readLastEventBefore(
            QStringLiteral("events"), EventKind::Link, midnight.addSecs(fromSecond));
        QCOMPARE(before ? before->detail : QString(), expected);
    }

    // A file whose events table was written before the indexes and the state
    // column existed gets them when the log opens it, its rows kept; a file
    // that cannot be written is left as it is, still opens and reads, and its
    // events wait in memory.
    void indexesAndStateAddedToAnOlderFile()
    {
        makeRecordingDatabase();
        {
            OtherProgram older(dbPath());
            QVERIFY(older.exec(QLatin1String(kEarlierEventsTable)));
            QVERIFY(older.exec(QStringLiteral("CREATE TABLE events_void (newest_event INTEGER)")));
            QVERIFY(older.exec(QStringLiteral("INSERT INTO events_void VALUES (1)")));
            QVERIFY(older.exec(
                QStringLiteral("INSERT INTO events VALUES (1, %1, 0.5, 'link', 'port 1', 'old')")
                    .arg(daySerial(kStart.date()))));
        }
        const QString indexes =
            QStringLiteral("SELECT group_concat(name) FROM (SELECT name FROM sqlite_master WHERE "
                           "type IN ('index', 'trigger') AND tbl_name = 'events' ORDER BY name)");
        const QString stateColumn = QStringLiteral(
            "SELECT COUNT(*) FROM pragma_table_info('events') WHERE name = 'ev_state'");
        const Event old = linkEvent(kStart, QStringLiteral("old"));
        {
            ImmutableFile readOnly(dbPath());
            if (readOnly.isImmutable()) {
                EventLog log(QStringLiteral("read-only"));
                log.open(dbPath());
                QVERIFY(!log.appendEvent(linkEvent(kStart, QStringLiteral("waits"))));
                QCOMPARE(log.pending().size(), size_t(1));
                log.close();
                // A reader of the file as it is: its link events without codes.
                RingReader reader(QStringLiteral("read-only reader"));
                QCOMPARE(reader.open(dbPath()), RingReader::OpenResult::Opened);
                QCOMPARE(readEventsBetween(reader.connectionName(), kStart, kStart),
                         std::vector<Event>{old});
                reader.close();
                QVERIFY(readOnly.release());
                OtherProgram other(dbPath());
                QCOMPARE(other.value(indexes).toString(), QString());
                QCOMPARE(other.value(stateColumn).toInt(), 0);
            }
        }
        EventLog log;
        QVERIFY(log.open(dbPath()));
        {
            OtherProgram other(dbPath());
            QCOMPARE(other.value(indexes).toString(),
                     QStringLiteral("events_kind_moment,events_moment,events_state_stale"));
            QCOMPARE(other.value(stateColumn).toInt(), 1);
        }
        QCOMPARE(log.eventsBetween(kStart, kStart), std::vector<Event>{old});
        // Opened again: the indexes are there already, nothing changes.
        log.close();
        QVERIFY(log.open(dbPath()));
        QCOMPARE(details(log.newestEvents(5)), QStringList{"old"});
    }

    // A link event's state code is stored beside its words and comes back
    // from every read; other events store none (NULL).
    void stateCodeRoundTrips_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("state");
        QTest::newRow("link event") << int(EventKind::Link) << "no_answer";
        QTest::newRow("a code this build does not know") << int(EventKind::Link) << "flapping";
        QTest::newRow("event of no state") << int(EventKind::Recording) << "";
    }
    void stateCodeRoundTrips()
    {
        QFETCH(int, kind);
        QFETCH(QString, state);
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        const Event written{kStart, EventKind(kind), QStringLiteral("port 1"),
                            QStringLiteral("words"), state};
        QVERIFY(log.appendEvent(written));
        QCOMPARE(log.newestEvents(1), std::vector<Event>{written});
        QCOMPARE(log.eventsBetween(kStart, kStart), std::vector<Event>{written});
        qint32 newest = 0;
        const std::vector<NumberedEvent> after =
            readEventsAfter(QStringLiteral("events"), std::nullopt, 1, newest);
        QCOMPARE(after.size(), size_t(1));
        QCOMPARE(after[0].event, written);
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("SELECT ev_state FROM events")).isNull(),
                 state.isEmpty());
    }

    // A ring id that comes round again: this version writes the row whole and
    // its new code stands; an earlier version's write in place (its own
    // statement) leaves no stale code, and the row reads by its words.
    void ringRowRewrittenLeavesNoStaleCode_data()
    {
        QTest::addColumn<bool>("earlierVersion");
        QTest::addColumn<QString>("state");
        QTest::newRow("an earlier version updates in place") << true << "";
        QTest::newRow("this version replaces the row") << false << "live";
    }
    void ringRowRewrittenLeavesNoStaleCode()
    {
        QFETCH(bool, earlierVersion);
        QFETCH(QString, state);
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(Event{kStart, EventKind::Link, QStringLiteral("port 1"),
                                      QStringLiteral("无应答"), QStringLiteral("no_answer")}));
        const QDateTime later = kStart.addSecs(1);
        {
            OtherProgram other(dbPath());
            if (earlierVersion)
                QVERIFY(other.exec(QString::fromLatin1(kEarlierUpsert)
                                       .arg(1)
                                       .arg(daySerial(later.date()))
                                       .arg(dayFraction(later.time()), 0, 'g', 17)
                                       .arg(QStringLiteral("在线"))));
            else
                QVERIFY(other.exec(QStringLiteral("UPDATE events_void SET newest_event = 0")));
        }
        if (!earlierVersion)
            QVERIFY(log.appendEvent(Event{later, EventKind::Link, QStringLiteral("port 1"),
                                          QStringLiteral("在线"), QStringLiteral("live")}));
        const std::vector<Event> read = log.newestEvents(5);
        QCOMPARE(read.size(), size_t(1));
        QCOMPARE(read[0].when, later);
        QCOMPARE(read[0].detail, QStringLiteral("在线"));
        QCOMPARE(read[0].state, state);
    }

    void foreignFilesAreNotTouched_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("text file") << QByteArray("not a database at all\n");
        QTest::newRow("empty file") << QByteArray();
    }
    void foreignFilesAreNotTouched()
    {
        QFETCH(QByteArray, content);
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        EventLog log;
        QVERIFY(!log.open(dbPath()));
        QVERIFY(!log.appendEvent(linkEvent(kStart, QStringLiteral("kept"))));
        QCOMPARE(log.pending().size(), size_t(1));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
    }

    void otherSqliteDatabaseGetsNoEventsTable()
    {
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("CREATE TABLE notes (x)")));
        }
        EventLog log;
        QVERIFY(!log.open(dbPath()));
        QCOMPARE(log.lastError(), QStringLiteral("not a recording database"));
        OtherProgram other(dbPath());
        QCOMPARE(other
                     .value(QStringLiteral(
                         "SELECT COUNT(*) FROM sqlite_master WHERE name LIKE 'events%'"))
                     .toInt(),
                 0);
    }

    void queuedWhileMissingWrittenLaterWithTheirTime()
    {
        EventLog log;
        QVERIFY(!log.open(dbPath()));
        QVERIFY(!log.appendEvent(linkEvent(kStart.addSecs(1), QStringLiteral("one"))));
        QVERIFY(!log.appendEvent(linkEvent(kStart.addSecs(2), QStringLiteral("two"))));
        makeRecordingDatabase();
        // Not yet: the file is looked at again only after the reopen interval.
        QCOMPARE(log.flush(), 2);
        SystemClock::setFixed(kStart.addSecs(EventLog::kReopenIntervalSeconds));
        QCOMPARE(log.flush(), 0);
        QVERIFY(log.isOpen());
        const std::vector<Event> read = log.newestEvents(5);
        QCOMPARE(details(read), (QStringList{"two", "one"}));
        QCOMPARE(read[1].when, kStart.addSecs(1));
    }

    void queueIsBoundedDroppingTheOldest()
    {
        EventLog log;
        const int extra = 5;
        for (int i = 0; i < EventLog::kQueueLimit + extra; ++i)
            log.appendEvent(linkEvent(kStart, QString::number(i)));
        QCOMPARE(int(log.pending().size()), EventLog::kQueueLimit);
        QCOMPARE(log.pending().front().detail, QString::number(extra));
        // The dropped ones are counted in the note that goes ahead of the survivors.
        const std::vector<Event> waiting = log.takeWaiting();
        QCOMPARE(int(waiting.size()), EventLog::kQueueLimit + 1);
        QCOMPARE(waiting.front().kind, EventKind::Note);
        QVERIFY2(waiting.front().detail.contains(QStringLiteral(" %1 ").arg(extra)),
                 qPrintable(waiting.front().detail));
    }

    // The README tells the administrator how many events wait in memory; every
    // place that says so names the limit the log keeps.
    void readmeNamesTheQueueLimit()
    {
        QFile readme(QStringLiteral(ZELMAR_SOURCE_DIR "/README.md"));
        QVERIFY(readme.open(QIODevice::ReadOnly));
        const QString text = QString::fromUtf8(readme.readAll()).simplified();
        const QRegularExpression said(QStringLiteral("in memory \\((?:up to|the last) (\\d+)"));
        int places = 0;
        for (auto match = said.globalMatch(text); match.hasNext(); ++places)
            QCOMPARE(match.next().captured(1).toInt(), EventLog::kQueueLimit);
        QVERIFY(places >= 2);
    }

    void droppedEventsLeaveANoteBeforeTheSurvivors()
    {
        EventLog log;
        QVERIFY(!log.open(dbPath()));
        const int extra = 3;
        for (int i = 0; i < EventLog::kQueueLimit + extra; ++i)
            log.appendEvent(linkEvent(kStart.addSecs(i), QString::number(i)));
        makeRecordingDatabase();
        SystemClock::setFixed(kStart.addSecs(EventLog::kReopenIntervalSeconds));
        QCOMPARE(log.flush(), 0);
        const std::vector<Event> stored = log.newestEvents(2 * EventLog::kQueueLimit);
        QCOMPARE(int(stored.size()), EventLog::kQueueLimit + 1);
        QCOMPARE(stored.back().kind, EventKind::Note);
        QVERIFY(stored.back().detail.contains(QStringLiteral("丢失 3 条事件")));
        QCOMPARE(stored.back().when, kStart.addSecs(extra));
        // Only once: the next event is not preceded by another note.
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("later"))));
        QCOMPARE(log.newestEvents(2)[1].detail, QString::number(EventLog::kQueueLimit + extra - 1));
    }

    void ringReadInPiecesAcrossItsEnd_data()
    {
        QTest::addColumn<int>("newest");
        QTest::addColumn<int>("skip");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("ids");
        QTest::newRow("below the newest") << 5 << 1 << 3 << "4 3 2";
        QTest::newRow("round the end") << 2 << 0 << 4 << "2 1 100000 99999";
        QTest::newRow("wholly past the end") << 2 << 3 << 2 << "99999 99998";
        QTest::newRow("beyond the ring") << 2 << 99999 << 5 << "3";
        QTest::newRow("nothing skipped past") << 2 << 100000 << 5 << "";
    }
    void ringReadInPiecesAcrossItsEnd()
    {
        QFETCH(int, newest);
        QFETCH(int, skip);
        QFETCH(int, count);
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        {
            OtherProgram other(dbPath());
            // The detail of each row is its id.
            QVERIFY(other.exec(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                "INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail) "
                "SELECT i, 46000, 0.5, 'link', 'port 1', i FROM n")));
        }
        QStringList ids;
        for (const Event &e : log.ringEvents(newest, skip, count))
            ids << e.detail;
        QTEST(ids.join(u' '), "ids");
    }

    // The events after an id, oldest first, across the ring's end; the newest
    // `count` when more were written; read through a connection of its own.
    void eventsAfterAnId_data()
    {
        QTest::addColumn<int>("newest");
        QTest::addColumn<int>("since");
        QTest::addColumn<int>("count");
        QTest::addColumn<QString>("ids");
        QTest::newRow("two after") << 5 << 3 << 10 << "4 5";
        QTest::newRow("none after") << 5 << 5 << 10 << "";
        QTest::newRow("round the end") << 2 << 99998 << 10 << "99999 100000 1 2";
        QTest::newRow("more than asked") << 5 << 0 << 3 << "3 4 5";
        QTest::newRow("since before the first") << 2 << 0 << 3 << "1 2";
        QTest::newRow("newest of a wrapped ring") << 2 << -1 << 3 << "100000 1 2";
        QTest::newRow("newest across the end") << 3 << -1 << 5 << "99999 100000 1 2 3";
        QTest::newRow("at the ring's end") << 100000 << 99999 << 10 << "100000";
    }
    void eventsAfterAnId()
    {
        QFETCH(int, newest);
        QFETCH(int, since);
        QFETCH(int, count);
        makeRecordingDatabase();
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QLatin1String(kEarlierEventsTable)));
            QVERIFY(other.exec(QStringLiteral("CREATE TABLE events_void (newest_event INTEGER)")));
            QVERIFY(other.exec(QStringLiteral("INSERT INTO events_void VALUES (%1)").arg(newest)));
            // The detail of each row is its id.
            QVERIFY(other.exec(QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 100000) "
                "INSERT INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, ev_detail) "
                "SELECT i, 46000, 0.5, 'link', 'port 1', i FROM n")));
        }
        RingReader reader(QStringLiteral("after"));
        QCOMPARE(reader.open(dbPath()), RingReader::OpenResult::Opened);
        qint32 newestRead = 0;
        QString error;
        QStringList ids;
        for (const NumberedEvent &e : readEventsAfter(
                 reader.connectionName(), since < 0 ? std::nullopt : std::optional<qint32>(since),
                 count, newestRead, &error)) {
            QCOMPARE(QString::number(e.id), e.event.detail);
            ids << e.event.detail;
        }
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(newestRead, newest);
        QTEST(ids.join(u' '), "ids");
    }

    // Without an events table (a recording made before the journal): an error, nothing read.
    void eventsAfterWithoutEventsTable()
    {
        makeRecordingDatabase();
        RingReader reader(QStringLiteral("after"));
        QCOMPARE(reader.open(dbPath()), RingReader::OpenResult::Opened);
        qint32 newest = -1;
        QString error;
        QVERIFY(readEventsAfter(reader.connectionName(), std::nullopt, 50, newest, &error).empty());
        QVERIFY(!error.isEmpty());
        QCOMPARE(newest, 0);
    }

    void lockedDatabaseQueuesAndKeepsTheConnection()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(!log.appendEvent(linkEvent(kStart, QStringLiteral("while locked"))));
            QVERIFY(log.isOpen());
            QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        }
        QVERIFY(log.appendEvent(linkEvent(kStart.addSecs(1), QStringLiteral("after"))));
        QCOMPARE(details(log.newestEvents(5)), (QStringList{"after", "while locked"}));
    }

    void readOnlyDatabaseQueuesUntilWritable()
    {
        makeRecordingDatabase();
        ImmutableFile readOnly(dbPath());
        if (!readOnly.isImmutable())
            QSKIP("no immutable files here: no read-only database to test");
        EventLog log;
        log.open(dbPath());
        const bool written = log.appendEvent(linkEvent(kStart, QStringLiteral("queued")));
        readOnly.release();
        QVERIFY(!written);
        QVERIFY(!log.isOpen());
        SystemClock::setFixed(kStart.addSecs(EventLog::kReopenIntervalSeconds));
        QCOMPARE(log.flush(), 0);
        QCOMPARE(details(log.newestEvents(5)), QStringList{"queued"});
    }

    // The log follows the file at its path as the recorder does: a database
    // deleted or replaced under it is let go at once, the new one is taken up
    // after the reopen interval, and the events of the time between land there.
    void followsTheFileAtItsPath_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("deleted, then made anew by the recorder") << "deleted";
        QTest::newRow("replaced by another recording database") << "replaced";
    }
    void followsTheFileAtItsPath()
    {
        QFETCH(QString, fault);
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("before"))));
        if (fault == "deleted") {
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(dbPath() + QLatin1String(suffix));
            makeRecordingDatabase();
        } else {
            const QString other = m_dir->filePath(QStringLiteral("other.db"));
            {
                RecordingStore store(QStringLiteral("other"));
                QVERIFY(store.open(other));
            }
            for (const char *suffix : {"", "-wal", "-shm"})
                QFile::remove(dbPath() + QLatin1String(suffix));
            QVERIFY(QFile::rename(other, dbPath()));
        }
        const auto eventsTables = [this] {
            OtherProgram other(dbPath(), QStringLiteral("look"));
            return other
                .value(QStringLiteral(
                    "SELECT COUNT(*) FROM sqlite_master WHERE name IN ('events', 'events_void')"))
                .toInt();
        };
        const QDateTime faultTime = kStart.addSecs(1);
        SystemClock::setFixed(faultTime);
        QVERIFY(!log.appendEvent(linkEvent(faultTime, QStringLiteral("meanwhile"))));
        QVERIFY(!log.isOpen());
        QVERIFY(log.lastError().contains(QStringLiteral("deleted or replaced")));
        SystemClock::setFixed(faultTime.addSecs(EventLog::kReopenIntervalSeconds - 1));
        QCOMPARE(log.flush(), 1);
        QCOMPARE(eventsTables(), 0);
        SystemClock::setFixed(faultTime.addSecs(EventLog::kReopenIntervalSeconds));
        QCOMPARE(log.flush(), 0);
        QVERIFY(log.isOpen());
        QCOMPARE(eventsTables(), 2);
        const std::vector<Event> read = log.newestEvents(5);
        QCOMPARE(details(read), QStringList{"meanwhile"});
        QCOMPARE(read[0].when, faultTime);
    }

    // An idle log lets go of a deleted file too, on its next flush: nothing
    // is read from the deleted file any more.
    void idleLogLetsGoOfADeletedFile()
    {
        makeRecordingDatabase();
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("before"))));
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(dbPath() + QLatin1String(suffix));
        QVERIFY(log.newestEvents(5).empty());
        QCOMPARE(log.flush(), 0);
        QVERIFY(!log.isOpen());
    }

    // SQLite writes the shared-memory file through a mapping: an event
    // written after that file became immutable or was cut shorter would end
    // the process with SIGBUS. The event waits in the queue instead, and the
    // log reopens after the interval once the file can be written again.
    void brokenSharedMemoryQueuesEvents_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::newRow("made immutable") << "immutable";
        QTest::newRow("cut shorter") << "cut";
    }
    void brokenSharedMemoryQueuesEvents()
    {
        QFETCH(QString, fault);
        makeRecordingDatabase();
        const QString shm = dbPath() + QStringLiteral("-shm");
        EventLog log;
        QVERIFY(log.open(dbPath()));
        QVERIFY(log.appendEvent(linkEvent(kStart, QStringLiteral("before"))));
        QVERIFY(QFileInfo::exists(shm));
        std::unique_ptr<ImmutableFile> immutable;
        if (!spoilSharedMemory(shm, fault == "immutable", immutable))
            QSKIP("no immutable files here (chattr +i needs root)");
        QVERIFY(log.newestEvents(5).empty());
        QVERIFY(!log.newestId());
        QVERIFY(!log.appendEvent(linkEvent(kStart.addSecs(1), QStringLiteral("queued"))));
        QVERIFY(!log.isOpen());
        QVERIFY(log.lastError().contains(QStringLiteral("-shm")));
        if (immutable) {
            SystemClock::setFixed(kStart.addSecs(1 + EventLog::kReopenIntervalSeconds));
            QCOMPARE(log.flush(), 1); // refused while the file cannot be written
            QVERIFY(log.lastError().contains(QStringLiteral("-shm")));
            QVERIFY(immutable->release());
        }
        SystemClock::setFixed(kStart.addSecs(1 + 2 * EventLog::kReopenIntervalSeconds));
        QCOMPARE(log.flush(), 0);
        QCOMPARE(details(log.newestEvents(5)), (QStringList{"queued", "before"}));
        log.close();
        OtherProgram other(dbPath());
        QCOMPARE(other.value(QStringLiteral("PRAGMA integrity_check")).toString(),
                 QStringLiteral("ok"));
    }

    void recordingFaultsInTheSystemsWords_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("error");
        QTest::addColumn<QString>("reason");
        QTest::newRow("no error") << 0 << ""
                                  << "";
        QTest::newRow("read-only") << 8 << "write: attempt to write a readonly database"
                                   << "database read-only";
        QTest::newRow("disk full") << 13 << "commit: database or disk is full"
                                   << "disk full";
        QTest::newRow("busy") << 5 << "begin: database is locked"
                              << "locked by another program";
        QTest::newRow("locked table") << 6 << "x"
                                      << "locked by another program";
        QTest::newRow("not sqlite") << 0 << "not a SQLite database, or unreadable"
                                    << "not a recording database";
        QTest::newRow("foreign table") << 0 << "table pv_data lacks columns or its key"
                                       << "not a recording database";
        QTest::newRow("only other programs' tables")
            << 0 << "not a recording database: it holds only other programs' tables"
            << "not a recording database";
        QTest::newRow("other") << 14 << "open: unable to open database file"
                               << "open: unable to open database file";
    }
    void recordingFaultsInTheSystemsWords()
    {
        QFETCH(int, code);
        QFETCH(QString, error);
        QFETCH(QString, reason);
        QCOMPARE(recordingFaultText(classifyRecordingError(code, error), error), reason);
    }

    void recordingStateFollowsTheRecorder()
    {
        Recorder recorder(nullptr, QStringLiteral("rec"));
        RecordingWatch watch(&recorder);
        QSignalSpy changes(&watch, &RecordingWatch::stateChanged);
        recorder.load(dbPath());
        recorder.tick();
        QVERIFY(watch.status().recording);
        QCOMPARE(watch.status().path, dbPath());
        QCOMPARE(watch.status().rowsLastMinute, 1);
        QCOMPARE(watch.status().newestRow, std::optional<QDateTime>(kStart));
        QCOMPARE(watch.status().resumedAt, std::nullopt);

        OtherProgram other(dbPath());
        QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
        SystemClock::setFixed(kStart.addSecs(1));
        recorder.tick();
        QVERIFY(!watch.status().recording);
        QCOMPARE(watch.status().reason, QStringLiteral("locked by another program"));
        QCOMPARE(watch.status().rowsLastMinute, 1);
        QVERIFY(other.exec(QStringLiteral("ROLLBACK")));

        SystemClock::setFixed(kStart.addSecs(2));
        recorder.tick();
        QVERIFY(watch.status().recording);
        QCOMPARE(watch.status().resumedAt, std::optional<QDateTime>(kStart.addSecs(2)));
        QCOMPARE(watch.status().rowsLastMinute, 2);
        QCOMPARE(changes.count(), 3);

        // Rows older than a minute no longer count.
        SystemClock::setFixed(kStart.addSecs(61));
        recorder.tick();
        QCOMPARE(watch.status().rowsLastMinute, 2);
        QCOMPARE(changes.count(), 3);
    }

    void notARecordingDatabaseIsSaid()
    {
        QFile file(dbPath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("text, not a database\n");
        file.close();
        Recorder recorder(nullptr, QStringLiteral("rec"));
        RecordingWatch watch(&recorder);
        recorder.load(dbPath());
        recorder.tick();
        QVERIFY(watch.known());
        QVERIFY(!watch.status().recording);
        QCOMPARE(watch.status().reason, QStringLiteral("not a recording database"));
        QCOMPARE(watch.status().rowsLastMinute, 0);
    }

    void readOnlyDatabaseIsSaid()
    {
        makeRecordingDatabase();
        ImmutableFile readOnly(dbPath());
        if (!readOnly.isImmutable())
            QSKIP("no immutable files here: no read-only database to test");
        Recorder recorder(nullptr, QStringLiteral("rec"));
        RecordingWatch watch(&recorder);
        recorder.load(dbPath());
        recorder.tick();
        readOnly.release();
        QVERIFY(!watch.status().recording);
        QCOMPARE(watch.status().reason, QStringLiteral("database read-only"));
    }
};

QTEST_GUILESS_MAIN(TestEvents)
#include "tst_events.moc"
