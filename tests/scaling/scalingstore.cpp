#include "scalingstore.h"

#include "clock.h"
#include "events.h"
#include "recorder.h"
#include "scalinglog.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

const QDateTime kStart(QDate(2026, 12, 7), QTime(8, 0, 0));

std::unique_ptr<QTemporaryDir> g_dir;
std::unique_ptr<Recorder> g_recorder;
int g_run = 0;

QString dbPath()
{
    return g_dir->filePath(QStringLiteral("Rdatabj.db"));
}

// CH1 with decimal point `dp` and input type `type`; the other channels a K thermocouple, dp 0.
KnownScaling scaling(qint32 dp, qint32 type = 0, const QString &unit = QStringLiteral("°C"))
{
    KnownScaling known;
    known[0] = ChannelScaling{type, dp, 13000, -2000, unit};
    for (int ch = 1; ch < kScaledChannels; ++ch)
        known[ch] = ChannelScaling{0, 0, 1300, 0, QStringLiteral("°C")};
    return known;
}

// Runs one recorder tick at `at`: rows, then the scaling that waits.
void tickAt(const QDateTime &at)
{
    SystemClock::setFixed(at);
    g_recorder->tick();
}

// A connection of the test's own to the file, for what the recorder wrote.
QSqlDatabase look()
{
    const QString name = QStringLiteral("look");
    QSqlDatabase db = QSqlDatabase::contains(name) ? QSqlDatabase::database(name)
                                                   : QSqlDatabase::addDatabase("QSQLITE", name);
    db.setDatabaseName(dbPath());
    db.open();
    return db;
}

QVector<ScalingEntry> storedEntries()
{
    const std::optional<QVector<ScalingEntry>> entries = readScalingEntries(look());
    return entries ? *entries : QVector<ScalingEntry>();
}

int scalingEvents()
{
    QSqlQuery query(look());
    query.exec(QStringLiteral("SELECT COUNT(*) FROM events WHERE ev_kind = 'scaling'"));
    return query.next() ? query.value(0).toInt() : -1;
}

} // namespace

void TestScalingStore::init()
{
    g_dir = std::make_unique<QTemporaryDir>();
    g_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("scaling-%1").arg(++g_run));
    SystemClock::setFixed(kStart);
    g_recorder->load(dbPath());
    tickAt(kStart);
}

void TestScalingStore::cleanup()
{
    g_recorder.reset();
    QSqlDatabase::removeDatabase(QStringLiteral("look"));
    SystemClock::setSource({});
    g_dir.reset();
}

void TestScalingStore::entryInForce_data()
{
    QTest::addColumn<int>("secondsAfterStart");
    QTest::addColumn<int>("decimals"); // -1: no scaling known, the row stays raw
    // dp 1 read at +10 s, dp 2 at +20 s.
    QTest::newRow("before the first read: raw") << 9 << -1;
    QTest::newRow("the second of the first read") << 10 << 1;
    QTest::newRow("just before the change") << 19 << 1;
    QTest::newRow("the second of the change") << 20 << 2;
    QTest::newRow("long after") << 86400 << 2;
}

void TestScalingStore::entryInForce()
{
    QFETCH(int, secondsAfterStart);
    QFETCH(int, decimals);
    g_recorder->noteScaling(scaling(1), kStart.addSecs(10));
    tickAt(kStart.addSecs(10));
    g_recorder->noteScaling(scaling(2), kStart.addSecs(20));
    tickAt(kStart.addSecs(20));
    const ScalingTimeline timeline(storedEntries());
    const ChannelScaling *inForce =
        timeline.at(0, kStart.addSecs(secondsAfterStart).toSecsSinceEpoch());
    QCOMPARE(inForce ? inForce->decimals : -1, decimals);
}

void TestScalingStore::unchangedReadingAddsNothing()
{
    g_recorder->noteScaling(scaling(1), kStart.addSecs(1));
    tickAt(kStart.addSecs(1));
    QCOMPARE(storedEntries().size(), kScaledChannels);
    // The same reading again, after a restart of the recorder too: no entry.
    g_recorder->noteScaling(scaling(1), kStart.addSecs(2));
    tickAt(kStart.addSecs(2));
    g_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("again-%1").arg(g_run));
    g_recorder->load(dbPath());
    g_recorder->noteScaling(scaling(1), kStart.addSecs(3));
    tickAt(kStart.addSecs(3));
    QCOMPARE(storedEntries().size(), kScaledChannels);
    // A channel that could not be read is no change either.
    KnownScaling partly = scaling(1);
    partly[0].reset();
    g_recorder->noteScaling(partly, kStart.addSecs(4));
    tickAt(kStart.addSecs(4));
    QCOMPARE(storedEntries().size(), kScaledChannels);
    // The unit alone changing is a change.
    g_recorder->noteScaling(scaling(1, 20, QStringLiteral("MPa")), kStart.addSecs(5));
    tickAt(kStart.addSecs(5));
    QCOMPARE(storedEntries().size(), kScaledChannels + 1);
    QCOMPARE(storedEntries().last().scaling.unit, QStringLiteral("MPa"));
}

void TestScalingStore::changeIsJournaled()
{
    g_recorder->noteScaling(scaling(1), kStart.addSecs(1));
    tickAt(kStart.addSecs(1));
    QCOMPARE(scalingEvents(), kScaledChannels);
    g_recorder->noteScaling(scaling(2), kStart.addSecs(2));
    tickAt(kStart.addSecs(2));
    QCOMPARE(scalingEvents(), kScaledChannels + 1);
    QSqlQuery query(look());
    query.exec(QStringLiteral("SELECT ev_detail FROM events WHERE ev_kind = 'scaling' ORDER BY "
                              "ev_id DESC LIMIT 1"));
    QVERIFY(query.next());
    QVERIFY2(query.value(0).toString().contains(QStringLiteral("CH1 标度 小数点 2")),
             qPrintable(query.value(0).toString()));
    QVERIFY(query.value(0).toString().contains(QStringLiteral("之前 小数点 1")));
}

void TestScalingStore::foreignTableLeftAlone()
{
    {
        QSqlQuery query(look());
        QVERIFY(query.exec(QStringLiteral("CREATE TABLE channel_scaling (x TEXT)")));
        QVERIFY(query.exec(QStringLiteral("INSERT INTO channel_scaling VALUES ('theirs')")));
    }
    g_recorder->noteScaling(scaling(1), kStart.addSecs(1));
    tickAt(kStart.addSecs(1));
    tickAt(kStart.addSecs(2));
    // The rows go on being recorded; the table keeps its one row and its layout.
    QVERIFY(g_recorder->store().isOpen());
    QVERIFY(g_recorder->pvCounter() >= 2);
    QSqlQuery query(look());
    QVERIFY(query.exec(QStringLiteral("SELECT x FROM channel_scaling")));
    QVERIFY(query.next());
    QCOMPARE(query.value(0).toString(), QStringLiteral("theirs"));
    QVERIFY(!query.next());
    QCOMPARE(g_recorder->scalingWaiting(), 1);
}

void TestScalingStore::waitsWhileFileRefusesWrites()
{
    // Another program holds the write lock: the reading waits with its own time.
    QSqlDatabase db = look();
    QSqlQuery lock(db);
    QVERIFY(lock.exec(QStringLiteral("BEGIN IMMEDIATE")));
    g_recorder->noteScaling(scaling(3), kStart.addSecs(5));
    tickAt(kStart.addSecs(6));
    QCOMPARE(g_recorder->scalingWaiting(), 1);
    QVERIFY(lock.exec(QStringLiteral("COMMIT")));
    tickAt(kStart.addSecs(40));
    QCOMPARE(g_recorder->scalingWaiting(), 0);
    const QVector<ScalingEntry> entries = storedEntries();
    QCOMPARE(entries.size(), kScaledChannels);
    QCOMPARE(entries.first().since, kStart.addSecs(5));
}

void TestScalingStore::operatorUnits()
{
    g_recorder->noteOperatorUnit(2, QStringLiteral("m³/h"), kStart.addSecs(1));
    g_recorder->noteOperatorUnit(3, QStringLiteral("kPa"), kStart.addSecs(1));
    g_recorder->noteOperatorUnit(3, QString(), kStart.addSecs(2));
    tickAt(kStart.addSecs(2));
    const std::optional<OperatorUnits> units = readOperatorUnits(look());
    QVERIFY(units);
    QCOMPARE((*units)[2], QStringLiteral("m³/h"));
    QCOMPARE((*units)[3], QString());
    QCOMPARE(scalingEvents(), 3);
    // A name some other program stored that the tool would refuse reads as none.
    QSqlQuery query(look());
    QVERIFY(query.exec(QStringLiteral("UPDATE channel_units SET unit = 'a,b' WHERE channel = 3")));
    QCOMPARE((*readOperatorUnits(look()))[2], QString());
}

void TestScalingStore::damagedEntriesSkipped()
{
    g_recorder->noteScaling(scaling(1), kStart.addSecs(1));
    tickAt(kStart.addSecs(1));
    QSqlQuery query(look());
    // A decimal point the instrument never holds, a channel 5, a text for a type.
    QVERIFY(query.exec(QStringLiteral("INSERT INTO channel_scaling (s_date, s_time, utc_offset, "
                                      "channel, input_type, decimals) VALUES (46363, 0.5, 3600, 1, "
                                      "0, 7), (46363, 0.5, 3600, 5, 0, 1), (46363, 0.5, 3600, 2, "
                                      "'x', 1)")));
    QCOMPARE(storedEntries().size(), kScaledChannels);
}
