// What each recorded row is worth (row_quality beside the rings) and the
// instant it was taken, on real SQLite files under the zone Europe/Berlin.
#include "clock.h"
#include "csvexport.h"
#include "daytime.h"
#include "decimate.h"
#include "forwardsource.h"
#include "historymarks.h"
#include "historyrange.h"
#include "instants.h"
#include "linkquality.h"
#include "modbuslink.h"
#include "otherprogram.h"
#include "portconnection.h"
#include "recorder.h"
#include "ringquery.h"
#include "rowquality.h"
#include "shared.h"
#include "simulator.h"
#include "store.h"

#include <QCoreApplication>
#include <QFile>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <QSqlDatabase>

#include <ctime>
#include <memory>

Q_DECLARE_METATYPE(LinkState)
Q_DECLARE_METATYPE(RowQuality)

namespace
{

const QDate kAutumnDay(2026, 10, 25);
const QDateTime kStart(QDate(2026, 3, 14), QTime(12, 0, 0));

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// "HH:mm:ss" of a local time on the autumn day, as the ring holds it.
LocalStamp autumnStamp(const QString &time, std::optional<qint32> offset = std::nullopt)
{
    return {daySerial(kAutumnDay), dayFraction(QTime::fromString(time, QStringLiteral("HH:mm:ss"))),
            offset};
}

// A local moment of the autumn day in the first (pass 0) or second pass of
// the repeated hour, as the clock then reads it.
QDateTime autumnMoment(const QTime &time, int pass)
{
    const qint64 utc = QDateTime(kAutumnDay, time, Qt::UTC).toSecsSinceEpoch() - 7200 + 3600 * pass;
    return QDateTime::fromSecsSinceEpoch(utc).toLocalTime();
}

// The lines of a CSV file after its header, without their line ends.
QStringList csvRows(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
    lines.removeFirst(); // the header
    lines.removeLast();  // after the last line end
    return lines;
}

// One poll of the input registers as the poller makes it (the link told that a
// poll starts, so that two unanswered polls in a row are a silence, and
// `quality` whether it read the values); true when it got a reply.
bool poll(LinkQuality *quality = nullptr)
{
    linkHealth()->pollStarted(1, 1);
    std::array<qint32, 64> buffer{};
    const bool read = Get_3X_DX(1, 1, 1, 16, buffer.data()) == 0;
    if (quality)
        quality->valuesPolled(read);
    return read;
}

// Polls until the link is in `state` (a few polls at most).
bool pollUntil(LinkState state, LinkQuality *quality)
{
    for (int i = 0; i < 4 && linkHealth()->state() != state; ++i)
        poll(quality);
    return linkHealth()->state() == state;
}

QString isoWithOffset(const QDateTime &instant)
{
    return instant.toString(Qt::ISODate);
}

} // namespace

class TestQuality : public QObject
{
    Q_OBJECT

private:
    QString dbPath() const { return m_dir->filePath(QStringLiteral("Rdatabj.db")); }
    Recorder &startRecorder(const QDateTime &moment = kStart)
    {
        SystemClock::setFixed(moment);
        m_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("recorder"));
        m_recorder->setQualitySource([this] { return m_quality; });
        m_recorder->load(dbPath());
        return *m_recorder;
    }
    void tickAt(const QDateTime &moment)
    {
        SystemClock::setFixed(moment);
        m_recorder->tick();
    }
    // Every pv_data row read through the history's reader, in id order.
    QVector<RingRow> ringRows(RecordTable table = RecordTable::PvData)
    {
        RingReader reader(QStringLiteral("reader"));
        if (reader.open(dbPath()) != RingReader::OpenResult::Opened)
            return {};
        QVector<RingRow> rows;
        reader.readRows(table, 1, kRecordRingIds, rows);
        return rows;
    }
    QVector<RecordedRow> forwardedRows(RecordTable table = RecordTable::PvData)
    {
        ForwardSource source(QStringLiteral("source"));
        if (!source.open(dbPath()))
            return {};
        return source.readRows(table, 0, kRecordRingIds).value_or(QVector<RecordedRow>{});
    }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<Recorder> m_recorder;
    RowQuality m_quality = RowQuality::Good;

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        resetSharedState();
        m_quality = RowQuality::Good;
    }
    void cleanup()
    {
        closeConnection();
        qunsetenv("ZELMAR_PORT_1");
        m_recorder.reset();
        SystemClock::setSource({});
        m_dir.reset();
    }

    void codes_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("quality"); // -1: unknown
        QTest::addColumn<QString>("word");
        QTest::newRow("192 good") << QVariant(192) << 192 << "在线";
        QTest::newRow("68 held") << QVariant(68) << 68 << "无应答";
        QTest::newRow("24 communication failure") << QVariant(24) << 24 << "端口丢失";
        QTest::newRow("8 not connected") << QVariant(8) << 8 << "未打开";
        QTest::newRow("191 beside good") << QVariant(191) << -1 << "";
        QTest::newRow("193 beside good") << QVariant(193) << -1 << "";
        QTest::newRow("0") << QVariant(0) << -1 << "";
        QTest::newRow("-192") << QVariant(-192) << -1 << "";
        QTest::newRow("192.5") << QVariant(192.5) << -1 << "";
        QTest::newRow("text") << QVariant(QStringLiteral("good")) << -1 << "";
        QTest::newRow("text of a code") << QVariant(QStringLiteral("192")) << 192 << "在线";
        QTest::newRow("empty") << QVariant() << -1 << "";
    }
    void codes()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, quality);
        QFETCH(QString, word);
        const std::optional<RowQuality> read = rowQualityFrom(stored);
        QCOMPARE(read ? int(*read) : -1, quality);
        if (read)
            QCOMPARE(rowQualityWord(*read), word);
    }

    void offsets_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<int>("offset"); // 99999: unknown
        QTest::newRow("UTC") << QVariant(0) << 0;
        QTest::newRow("summer in Berlin") << QVariant(7200) << 7200;
        QTest::newRow("west") << QVariant(-18000) << -18000;
        QTest::newRow("furthest east") << QVariant(18 * 3600) << 18 * 3600;
        QTest::newRow("beyond any zone") << QVariant(18 * 3600 + 1) << 99999;
        QTest::newRow("beyond any zone west") << QVariant(-18 * 3600 - 1) << 99999;
        QTest::newRow("fraction") << QVariant(3600.5) << 99999;
        QTest::newRow("text") << QVariant(QStringLiteral("+02:00")) << 99999;
        QTest::newRow("empty") << QVariant() << 99999;
    }
    void offsets()
    {
        QFETCH(QVariant, stored);
        QFETCH(int, offset);
        QCOMPARE(utcOffsetFrom(stored).value_or(99999), offset);
    }

    void qualityOfTheLinkState_data()
    {
        QTest::addColumn<LinkState>("from");
        QTest::addColumn<LinkState>("to");
        QTest::addColumn<RowQuality>("quality");
        QTest::newRow("before 打开")
            << LinkState::NotOpened << LinkState::NotOpened << RowQuality::NotConnected;
        QTest::newRow("打开, no reply yet")
            << LinkState::NotOpened << LinkState::Opening << RowQuality::NotConnected;
        QTest::newRow("first reply") << LinkState::Opening << LinkState::Live << RowQuality::Good;
        QTest::newRow("silence") << LinkState::Live << LinkState::NoAnswer << RowQuality::Held;
        QTest::newRow("answers again")
            << LinkState::NoAnswer << LinkState::Live << RowQuality::Good;
        QTest::newRow("port lost")
            << LinkState::Live << LinkState::PortLost << RowQuality::CommFailure;
        QTest::newRow("reopened after the loss, no reply yet")
            << LinkState::PortLost << LinkState::Opening << RowQuality::CommFailure;
        QTest::newRow("open failed")
            << LinkState::NotOpened << LinkState::OpenFailed << RowQuality::CommFailure;
        QTest::newRow("opened on retry, no reply yet")
            << LinkState::OpenFailed << LinkState::Opening << RowQuality::CommFailure;
        QTest::newRow("关闭") << LinkState::Live << LinkState::NotOpened
                              << RowQuality::NotConnected;
    }
    void qualityOfTheLinkState()
    {
        QFETCH(LinkState, from);
        QFETCH(LinkState, to);
        QFETCH(RowQuality, quality);
        QCOMPARE(rowQualityFor(to, from), quality);
    }

    // The autumn hour 02:00-03:00 comes twice: the first pass at +02:00, the
    // second, after the local time went back, at +01:00.
    void autumnHourResolvedInRingOrder()
    {
        const QVector<LocalStamp> rows{autumnStamp("01:59:59"), autumnStamp("02:00:00"),
                                       autumnStamp("02:30:00"), autumnStamp("02:59:59"),
                                       autumnStamp("02:00:00"), autumnStamp("02:30:00"),
                                       autumnStamp("02:59:59"), autumnStamp("03:00:00")};
        const QStringList expected{"2026-10-25T01:59:59+02:00", "2026-10-25T02:00:00+02:00",
                                   "2026-10-25T02:30:00+02:00", "2026-10-25T02:59:59+02:00",
                                   "2026-10-25T02:00:00+01:00", "2026-10-25T02:30:00+01:00",
                                   "2026-10-25T02:59:59+01:00", "2026-10-25T03:00:00+01:00"};
        QStringList got;
        for (const QDateTime &instant : resolveInstants(rows))
            got << isoWithOffset(instant);
        QCOMPARE(got, expected);
    }

    // Rows of the repeated hour each ten seconds, as the recorder writes them:
    // twenty recordings, twenty instants an hour apart pass by pass.
    void autumnHourOfTenSecondRows()
    {
        QVector<LocalStamp> rows;
        for (int pass = 0; pass < 2; ++pass)
            for (int s = 0; s < 10; ++s)
                rows << autumnStamp(QTime(2, 30).addSecs(s).toString(QStringLiteral("HH:mm:ss")));
        const QVector<QDateTime> instants = resolveInstants(rows);
        for (int s = 0; s < 10; ++s) {
            QCOMPARE(instants.at(s).offsetFromUtc(), 7200);
            QCOMPARE(instants.at(10 + s).offsetFromUtc(), 3600);
            QCOMPARE(instants.at(s).secsTo(instants.at(10 + s)), 3600);
        }
    }

    void storedOffsetIsTakenAsItIs_data()
    {
        QTest::addColumn<QString>("time");
        QTest::addColumn<int>("offset");
        QTest::addColumn<QString>("instant");
        QTest::newRow("second pass, stored") << "02:30:00" << 3600 << "2026-10-25T02:30:00+01:00";
        QTest::newRow("first pass, stored") << "02:30:00" << 7200 << "2026-10-25T02:30:00+02:00";
        QTest::newRow("another zone's offset")
            << "12:00:00" << -18000 << "2026-10-25T12:00:00-05:00";
    }
    void storedOffsetIsTakenAsItIs()
    {
        QFETCH(QString, time);
        QFETCH(int, offset);
        QFETCH(QString, instant);
        QCOMPARE(isoWithOffset(resolveInstants({autumnStamp(time, offset)}).first()), instant);
    }

    // A row of unknown offset after one stored in the second pass stays in
    // the second pass: the earlier reading would lie before its predecessor.
    void unknownAfterStoredSecondPass()
    {
        const QVector<QDateTime> instants =
            resolveInstants({autumnStamp("02:30:00", 3600), autumnStamp("02:30:01")});
        QCOMPARE(isoWithOffset(instants.at(1)), QStringLiteral("2026-10-25T02:30:01+01:00"));
    }

    void springGapAndClockSetBack()
    {
        const double spring = daySerial(QDate(2026, 3, 29));
        const QVector<QDateTime> gap = resolveInstants({{spring, dayFraction(QTime(1, 59, 59)), {}},
                                                        {spring, dayFraction(QTime(2, 30)), {}},
                                                        {spring, dayFraction(QTime(3, 0)), {}}});
        QCOMPARE(gap.at(0).toSecsSinceEpoch() + 1, gap.at(2).toSecsSinceEpoch());
        QCOMPARE(gap.at(1).offsetFromUtc(), 3600);
        // A clock set back ten minutes outside the autumn hour: the rows keep
        // their order and their zone's offset; their instants go back with the clock.
        const double day = daySerial(QDate(2026, 7, 1));
        const QVector<QDateTime> back = resolveInstants(
            {{day, dayFraction(QTime(12, 0)), {}}, {day, dayFraction(QTime(11, 50, 1)), {}}});
        QCOMPARE(back.at(0).secsTo(back.at(1)), -599);
        QCOMPARE(back.at(1).offsetFromUtc(), 7200);
    }

    // The real link against zelmar-sim: the row of each second takes the
    // link's state of that second, one row either side of every change.
    void qualityFollowsTheLinkRowByRow()
    {
        Simulator sim;
        QVERIFY(sim.start(1));
        startRecorder();
        LinkQuality quality(linkHealth());
        m_recorder->setQualitySource([&quality] { return quality.current(); });
        int second = 0;
        QList<int> expected;
        const auto record = [&](RowQuality quality) {
            tickAt(kStart.addSecs(second++));
            expected << int(quality);
        };
        record(RowQuality::NotConnected); // before "打开"
        openConnection(QStringLiteral("1 "), 1, 0, QStringLiteral("1 "));
        record(RowQuality::NotConnected); // opened, no reply yet
        QVERIFY(poll(&quality));
        record(RowQuality::Good);
        QVERIFY(sim.pause()); // silence
        QVERIFY(pollUntil(LinkState::NoAnswer, &quality));
        record(RowQuality::Held);
        QVERIFY(sim.resume());
        QVERIFY(pollUntil(LinkState::Live, &quality));
        record(RowQuality::Good);
        QVERIFY(sim.vanish()); // the port lost
        QVERIFY(pollUntil(LinkState::PortLost, &quality));
        record(RowQuality::CommFailure);
        QVERIFY(sim.comeBack());
        QTRY_COMPARE_WITH_TIMEOUT(linkHealth()->state(), LinkState::Opening, 6000);
        record(RowQuality::CommFailure); // reopened, no reply yet
        QVERIFY(pollUntil(LinkState::Live, &quality));
        record(RowQuality::Good);
        closeConnection(); // "关闭"
        record(RowQuality::NotConnected);
        QList<int> got;
        for (const RingRow &row : ringRows())
            got << row.quality.value_or(-1);
        QCOMPARE(got, expected);
    }

    // An instrument that answers the value read with an exception keeps the
    // link live, but its rows hold the last values, never a reading: one
    // refused read leaves the last values standing (as one lost request
    // does), the second holds them; the next read makes them a reading again.
    void refusedValueReadsAreNoReadings()
    {
        Simulator sim;
        QVERIFY(sim.start(1));
        startRecorder();
        LinkQuality quality(linkHealth());
        openConnection(QStringLiteral("1 "), 1, 0, QStringLiteral("1 "));
        QCOMPARE(quality.current(), RowQuality::NotConnected); // opened, no reply yet
        QVERIFY(poll());
        quality.valuesPolled(true);
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(quality.current(), RowQuality::Good);
        quality.valuesPolled(false);
        QCOMPARE(quality.current(), RowQuality::Good);
        quality.valuesPolled(false);
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(quality.current(), RowQuality::Held);
        quality.valuesPolled(true);
        QCOMPARE(quality.current(), RowQuality::Good);
        // Opened anew, the values read before are no reading of this opening.
        closeConnection();
        QCOMPARE(quality.current(), RowQuality::NotConnected);
        openConnection(QStringLiteral("1 "), 1, 0, QStringLiteral("1 "));
        QVERIFY(poll());
        QCOMPARE(linkHealth()->state(), LinkState::Live);
        QCOMPARE(quality.current(), RowQuality::Held);
        closeConnection();
    }

    // Each row carries the quality its tick was given and the clock's offset,
    // through the history's reader and the forwarder's source alike.
    void rowsCarryTheirQuality()
    {
        startRecorder();
        const QVector<RowQuality> qualities{RowQuality::NotConnected, RowQuality::Good,
                                            RowQuality::Held, RowQuality::CommFailure};
        for (int s = 0; s < qualities.size(); ++s) {
            m_quality = qualities.at(s);
            tickAt(kStart.addSecs(s));
        }
        const QVector<RingRow> rows = ringRows();
        const QVector<RecordedRow> sent = forwardedRows();
        QCOMPARE(rows.size(), qualities.size());
        QCOMPARE(sent.size(), qualities.size());
        for (int s = 0; s < qualities.size(); ++s) {
            QCOMPARE(rows.at(s).quality, std::optional<qint16>(qint16(qualities.at(s))));
            QCOMPARE(rows.at(s).utcOffset, std::optional<qint32>(3600));
            QCOMPARE(sent.at(s).quality, std::optional<qint16>(qint16(qualities.at(s))));
            QCOMPARE(sent.at(s).utcOffset, std::optional<qint32>(3600));
        }
        // The ten-second ring's first row was taken at the first tick.
        const QVector<RingRow> slow = ringRows(RecordTable::LpvWdjl);
        QCOMPARE(slow.size(), 1);
        QCOMPARE(slow.first().quality, std::optional<qint16>(8));
    }

    void withoutSourceRowsAreNotConnected()
    {
        startRecorder();
        m_recorder->setQualitySource({});
        tickAt(kStart);
        QCOMPARE(ringRows().value(0).quality, std::optional<qint16>(8));
    }

    // Rows of a file recorded before row_quality existed, or rewritten since
    // by a program that knows nothing of it, are of unknown quality.
    void earlierVersionRowsAreUnknown()
    {
        startRecorder();
        tickAt(kStart);
        tickAt(kStart.addSecs(1));
        m_recorder.reset();
        {
            OtherProgram other(dbPath());
            // Row 2 rewritten by an earlier version with a later date and time.
            QVERIFY(other.exec(QStringLiteral("UPDATE pv_data SET w_time = w_time + 1.0 / 86400 "
                                              "WHERE w_id = 2")));
        }
        QVector<RingRow> rows = ringRows();
        QCOMPARE(rows.at(0).quality, std::optional<qint16>(192));
        QCOMPARE(rows.at(1).quality, std::nullopt);
        QCOMPARE(rows.at(1).utcOffset, std::nullopt);
        QCOMPARE(forwardedRows().at(1).quality, std::nullopt);
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("DROP TABLE row_quality")));
        }
        const QByteArray before = fileBytes(dbPath());
        rows = ringRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).quality, std::nullopt);
        QCOMPARE(forwardedRows().size(), 2);
        QCOMPARE(forwardedRows().at(0).quality, std::nullopt);
        QCOMPARE(fileBytes(dbPath()), before);
    }

    // A row_quality of another layout, or holding what is no quality, never
    // stops the recording or the reading, and is never changed.
    void damagedQualityTable_data()
    {
        QTest::addColumn<QStringList>("setUp");
        QTest::newRow("another layout")
            << QStringList{"CREATE TABLE row_quality (name TEXT, note TEXT)",
                           "INSERT INTO row_quality VALUES ('kept', 'as it was')"};
        QTest::newRow("no key on ring and id")
            << QStringList{"CREATE TABLE row_quality (ring INTEGER, id INTEGER, r_date, r_time, "
                           "quality INTEGER, utc_offset INTEGER)",
                           "INSERT INTO row_quality VALUES (1, 1, 0, 0, 192, 0)"};
        QTest::newRow("a trigger refuses every entry")
            << QStringList{"CREATE TABLE row_quality (ring INTEGER NOT NULL, id INTEGER NOT NULL, "
                           "r_date, r_time, quality INTEGER, utc_offset INTEGER, "
                           "PRIMARY KEY (ring, id))",
                           "INSERT INTO row_quality VALUES (9, 9, 0, 0, 192, 0)",
                           "CREATE TRIGGER refuse BEFORE INSERT ON row_quality BEGIN "
                           "SELECT RAISE(ABORT, 'refused'); END"};
    }
    void damagedQualityTable()
    {
        QFETCH(QStringList, setUp);
        {
            RecordingStore store(QStringLiteral("maker"));
            QVERIFY(store.open(dbPath()));
            QSqlDatabase db = store.database();
            QSqlQuery(db).exec(QStringLiteral("DROP TABLE row_quality"));
        }
        {
            OtherProgram other(dbPath());
            for (const QString &sql : setUp)
                QVERIFY(other.exec(sql));
        }
        QVariantList foreignBefore;
        {
            OtherProgram other(dbPath());
            foreignBefore = other.row(QStringLiteral("SELECT * FROM row_quality"));
        }
        startRecorder();
        tickAt(kStart);
        tickAt(kStart.addSecs(1));
        m_recorder.reset();
        const QVector<RingRow> rows = ringRows();
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows.at(0).quality, std::nullopt);
        QCOMPARE(rows.at(1).quality, std::nullopt);
        QCOMPARE(forwardedRows().size(), 2);
        OtherProgram other(dbPath());
        QCOMPARE(other.row(QStringLiteral("SELECT * FROM row_quality")), foreignBefore);
        QCOMPARE(other.count(QStringLiteral("row_quality")), 1);
    }

    // The repeated autumn hour through the CSV: twenty recordings, twenty
    // lines in recording order, the first pass at +02:00, the second at +01:00;
    // the same from the zone alone for rows stored without their offset.
    void autumnHourThroughTheCsv_data()
    {
        QTest::addColumn<bool>("offsetsStored");
        QTest::newRow("offsets stored") << true;
        QTest::newRow("rows of an earlier version") << false;
    }
    void autumnHourThroughTheCsv()
    {
        QFETCH(bool, offsetsStored);
        startRecorder(autumnMoment(QTime(2, 30), 0));
        QStringList expected;
        for (int pass = 0; pass < 2; ++pass) {
            for (int s = 0; s < 10; ++s) {
                const QDateTime moment = autumnMoment(QTime(2, 30, s), pass);
                ProcessValues[0] = float(pass * 10 + s);
                tickAt(moment);
                expected << QStringLiteral("2026-10-25T02:30:%1%2,%3,0,0,0,0,0,0,0,%4")
                                .arg(s, 2, 10, QLatin1Char('0'))
                                .arg(pass == 0 ? "+02:00" : "+01:00")
                                .arg(pass * 10 + s)
                                .arg(offsetsStored ? "192" : "");
            }
        }
        m_recorder.reset();
        if (!offsetsStored) {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("DROP TABLE row_quality")));
        }
        RingReader reader(QStringLiteral("csv"));
        QCOMPARE(reader.open(dbPath()), RingReader::OpenResult::Opened);
        const QString csv = m_dir->filePath(QStringLiteral("autumn.csv"));
        const double day = daySerial(kAutumnDay);
        const History::RangeExport done =
            History::exportRange(reader, day + dayFraction(QTime(2, 0)),
                                 day + dayFraction(QTime(3, 0)), RecordTable::PvData, csv);
        QCOMPARE(done.fault, History::RangeFault::None);
        QCOMPARE(csvRows(csv), expected);
    }

    // A clock set back ten minutes: the CSV keeps the rows as recorded.
    void clockSetBackKeepsRecordingOrderInTheCsv()
    {
        startRecorder();
        QStringList times;
        for (const QTime &t :
             {QTime(12, 0, 0), QTime(12, 0, 1), QTime(11, 50, 2), QTime(11, 50, 3)}) {
            tickAt(QDateTime(kStart.date(), t));
            times << t.toString(QStringLiteral("HH:mm:ss"));
        }
        m_recorder.reset();
        RingReader reader(QStringLiteral("csv"));
        QCOMPARE(reader.open(dbPath()), RingReader::OpenResult::Opened);
        const QString csv = m_dir->filePath(QStringLiteral("back.csv"));
        const double day = daySerial(kStart.date());
        History::exportRange(reader, day + dayFraction(QTime(11, 45)),
                             day + dayFraction(QTime(12, 5)), RecordTable::PvData, csv);
        QStringList got;
        for (const QString &line : csvRows(csv))
            got << line.mid(11, 8);
        QCOMPARE(got, times);
    }

    // Another program holds the file locked for 30 s: every second's row
    // waits and is written in order, with its own time and quality, under
    // consecutive ids.
    void thirtySecondLockLosesNoRows()
    {
        startRecorder();
        tickAt(kStart);
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            for (int s = 1; s <= 30; ++s) {
                m_quality = s <= 15 ? RowQuality::Good : RowQuality::Held;
                tickAt(kStart.addSecs(s));
            }
            QCOMPARE(int(m_recorder->waiting(RecordTable::PvData).size()), 30);
            QVERIFY(other.exec(QStringLiteral("ROLLBACK")));
        }
        tickAt(kStart.addSecs(31));
        QVERIFY(m_recorder->waiting(RecordTable::PvData).empty());
        QVERIFY(m_recorder->waiting(RecordTable::LpvWdjl).empty());
        const QVector<RingRow> rows = ringRows();
        QCOMPARE(rows.size(), 32);
        for (int s = 0; s <= 31; ++s) {
            QCOMPARE(rows.at(s).id, s + 1);
            QCOMPARE(rows.at(s).time, dayFraction(kStart.addSecs(s).time()));
            QCOMPARE(rows.at(s).quality, std::optional<qint16>(s <= 15 ? 192 : 68));
        }
        QCOMPARE(ringRows(RecordTable::LpvWdjl).size(), 4); // seconds 0, 10, 20, 30
        OtherProgram other(dbPath());
        QCOMPARE(other.counters(), (QVariantList{32, 32, 4, 4}));
    }

    // Past an hour of waiting rows the oldest are lost: the rest is written,
    // and the loss is one event once the file takes writes again, naming each
    // ring's first and last lost second; a loss of one ring alone is told too.
    void overflowWritesOneLossEvent_data()
    {
        QTest::addColumn<int>("pastTheHour"); // seconds of waiting beyond the hour
        QTest::addColumn<int>("pvLost");
        QTest::addColumn<QString>("pvSpan");
        QTest::addColumn<int>("lpvLost");
        QTest::addColumn<QString>("lpvSpan");
        QTest::newRow("both rings") << 100 << 100 << " 2026-03-14 12:00:01 - 2026-03-14 12:01:40"
                                    << 10 << " 2026-03-14 12:00:10 - 2026-03-14 12:01:40";
        QTest::newRow("1-second ring alone")
            << 5 << 5 << " 2026-03-14 12:00:01 - 2026-03-14 12:00:05" << 0 << "";
    }
    void overflowWritesOneLossEvent()
    {
        QFETCH(int, pastTheHour);
        QFETCH(int, pvLost);
        QFETCH(QString, pvSpan);
        QFETCH(int, lpvLost);
        QFETCH(QString, lpvSpan);
        startRecorder();
        tickAt(kStart);
        {
            OtherProgram other(dbPath());
            for (const char *ring : {"pv_data", "Lpv_wdjl"})
                QVERIFY(other.exec(QStringLiteral("CREATE TRIGGER full_%1 BEFORE INSERT ON %1 "
                                                  "BEGIN SELECT RAISE(ABORT, 'full'); END")
                                       .arg(QLatin1String(ring))));
        }
        const int seconds = Recorder::kPvBacklog + pastTheHour;
        for (int s = 1; s <= seconds; ++s)
            tickAt(kStart.addSecs(s));
        QCOMPARE(int(m_recorder->waiting(RecordTable::PvData).size()), Recorder::kPvBacklog);
        QCOMPARE(int(m_recorder->waiting(RecordTable::LpvWdjl).size()), Recorder::kLpvBacklog);
        QCOMPARE(m_recorder->lostRows(RecordTable::PvData), pvLost);
        QCOMPARE(m_recorder->lostRows(RecordTable::LpvWdjl), lpvLost);
        {
            OtherProgram other(dbPath());
            QVERIFY(other.exec(QStringLiteral("DROP TRIGGER full_pv_data")));
            QVERIFY(other.exec(QStringLiteral("DROP TRIGGER full_Lpv_wdjl")));
        }
        // A thousand rows a tick: four ticks write the hour that waited.
        int tick = seconds;
        while (!m_recorder->waiting(RecordTable::PvData).empty() && tick < seconds + 10)
            tickAt(kStart.addSecs(++tick));
        const QVector<RingRow> rows = ringRows();
        // The row of second 0, then the newest hour without a hole.
        QCOMPARE(rows.first().time, dayFraction(kStart.time()));
        for (int k = 2; k < rows.size(); ++k) {
            QCOMPARE(rows.at(k).id, rows.at(k - 1).id + 1);
            QCOMPARE(qRound((rows.at(k).time - rows.at(k - 1).time) * kSecondsPerDay), 1);
        }
        QCOMPARE(rows.size(), 1 + tick - pvLost);
        OtherProgram other(dbPath());
        QCOMPARE(other.count(QStringLiteral("events")), 1);
        const QString detail =
            other.value(QStringLiteral("SELECT ev_detail FROM events")).toString();
        QCOMPARE(detail,
                 QStringLiteral("记录未能写入，超出内存等待上限: 丢失 1 秒记录 %1 行%2, 10 秒记录 "
                                "%3 行%4")
                     .arg(pvLost)
                     .arg(pvSpan)
                     .arg(lpvLost)
                     .arg(lpvSpan));
        QCOMPARE(other.value(QStringLiteral("SELECT ev_kind FROM events")).toString(),
                 QStringLiteral("recording"));
        // Nothing more is told while nothing more is lost.
        tickAt(kStart.addSecs(++tick));
        QCOMPARE(other.count(QStringLiteral("events")), 1);
    }

    // The history's curves break at rows without values (24, 8) as at gaps;
    // held values (68) and rows of unknown quality are drawn.
    void curvesBreakWhereRowsHoldNoValues_data()
    {
        QTest::addColumn<QVariantList>("qualities"); // one per second; empty: unknown
        QTest::addColumn<int>("runs");
        QTest::addColumn<int>("drawnRows");
        QTest::newRow("all good") << QVariantList{192, 192, 192, 192} << 1 << 4;
        QTest::newRow("held in between") << QVariantList{192, 68, 68, 192} << 1 << 4;
        QTest::newRow("unknown in between") << QVariantList{192, QVariant(), 192, 192} << 1 << 4;
        QTest::newRow("port lost in between") << QVariantList{192, 24, 24, 192} << 2 << 2;
        QTest::newRow("not open before the first") << QVariantList{8, 8, 192, 192} << 1 << 2;
        QTest::newRow("closed after the last") << QVariantList{192, 192, 8, 8} << 1 << 2;
        QTest::newRow("one row between two losses") << QVariantList{24, 192, 24, 192} << 2 << 2;
        QTest::newRow("nothing but losses") << QVariantList{24, 8, 24, 8} << 0 << 0;
    }
    void curvesBreakWhereRowsHoldNoValues()
    {
        QFETCH(QVariantList, qualities);
        QFETCH(int, runs);
        QFETCH(int, drawnRows);
        QVector<RingRow> rows;
        const double day = daySerial(kStart.date());
        for (int s = 0; s < qualities.size(); ++s) {
            RingRow row;
            row.id = s + 1;
            row.date = day;
            row.time = dayFraction(kStart.addSecs(s).time());
            if (qualities.at(s).isValid())
                row.quality = qint16(qualities.at(s).toInt());
            rows << row;
        }
        const QVector<double> places = History::placeRows(rows, TimeAxis());
        const QVector<History::Run> drawn =
            History::decimate(rows, places, places.first(), places.last(), qualities.size() * 10,
                              RecordTable::PvData);
        QCOMPARE(drawn.size(), runs);
        int count = 0;
        for (const History::Run &run : drawn)
            for (const History::PixelColumn &column : run)
                count += column.rowCount;
        QCOMPARE(count, drawnRows);
    }

    // Time the tool did not run: from its "end" to its next "start", or from
    // the last row before a "start" that follows a "start" (a crash).
    void timeNotRecorded_data()
    {
        QTest::addColumn<QStringList>("events"); // "HH:mm:ss start|end|link"
        QTest::addColumn<QString>("lastRow");    // the newest row before 10:30, or empty
        QTest::addColumn<QStringList>("spans");  // "HH:mm:ss-HH:mm:ss"
        QTest::newRow("ended and started again")
            << QStringList{"09:00:00 start", "10:00:00 end", "10:30:00 start"} << "09:59:59"
            << QStringList{"10:00:00-10:30:00"};
        QTest::newRow("a crash: start after start")
            << QStringList{"09:00:00 start", "10:30:00 start"} << "09:59:59"
            << QStringList{"09:59:59-10:30:00"};
        QTest::newRow("a crash without a row before the start")
            << QStringList{"09:00:00 start", "10:30:00 start"} << "" << QStringList{};
        QTest::newRow("ended before the range, started in it")
            << QStringList{"07:00:00 end", "10:30:00 start"} << ""
            << QStringList{"08:00:00-10:30:00"};
        QTest::newRow("ended, not started since") << QStringList{"09:00:00 start", "11:00:00 end"}
                                                  << "10:59:59" << QStringList{"11:00:00-12:00:00"};
        QTest::newRow("running throughout, link events only")
            << QStringList{"09:00:00 start", "09:30:00 link"} << "11:59:59" << QStringList{};
    }
    void timeNotRecorded()
    {
        QFETCH(QStringList, events);
        QFETCH(QString, lastRow);
        QFETCH(QStringList, spans);
        const QDate day = kStart.date();
        const auto serial = [&](const QString &hms) {
            return daySerial(day) + dayFraction(QTime::fromString(hms, QStringLiteral("HH:mm:ss")));
        };
        std::vector<Event> stored;
        for (const QString &text : events) {
            const QStringList parts = text.split(QLatin1Char(' '));
            const EventKind kind = parts.at(1) == QLatin1String("start") ? EventKind::ToolStart
                                   : parts.at(1) == QLatin1String("end") ? EventKind::ToolEnd
                                                                         : EventKind::Link;
            stored.push_back(
                Event{QDateTime(day, QTime::fromString(parts.at(0), QStringLiteral("HH:mm:ss"))),
                      kind, QString(), QString()});
        }
        QVector<RingRow> rows;
        if (!lastRow.isEmpty()) {
            RingRow row;
            row.date = daySerial(day);
            row.time = dayFraction(QTime::fromString(lastRow, QStringLiteral("HH:mm:ss")));
            rows << row;
        }
        QStringList got;
        for (const Chart::TimeSpan &span : History::notRecordedSpansOf(
                 History::placeEvents(stored, TimeAxis()), History::placeRows(rows, TimeAxis()),
                 serial("08:00:00"), serial("12:00:00")))
            got << chartTimeText(span.from) + QLatin1Char('-') + chartTimeText(span.to);
        QCOMPARE(got, spans);
    }

    void valuesThatAreNoQualityReadAsUnknown()
    {
        startRecorder();
        for (int s = 0; s < 4; ++s)
            tickAt(kStart.addSecs(s));
        m_recorder.reset();
        {
            OtherProgram other(dbPath());
            QVERIFY(
                other.exec(QStringLiteral("UPDATE row_quality SET quality = 'good' WHERE id = 1")));
            QVERIFY(
                other.exec(QStringLiteral("UPDATE row_quality SET quality = 100 WHERE id = 2")));
            QVERIFY(
                other.exec(QStringLiteral("UPDATE row_quality SET utc_offset = 'x' WHERE id = 3")));
            QVERIFY(
                other.exec(QStringLiteral("UPDATE row_quality SET r_date = NULL WHERE id = 4")));
        }
        const QVector<RingRow> rows = ringRows();
        QCOMPARE(rows.size(), 4);
        QCOMPARE(rows.at(0).quality, std::nullopt);
        QCOMPARE(rows.at(0).utcOffset, std::optional<qint32>(3600));
        QCOMPARE(rows.at(1).quality, std::nullopt);
        QCOMPARE(rows.at(2).quality, std::optional<qint16>(192));
        QCOMPARE(rows.at(2).utcOffset, std::nullopt);
        QCOMPARE(rows.at(3).quality, std::nullopt);
    }
};

int main(int argc, char *argv[])
{
    // Every instant here is read in the zone whose clocks go back on 2026-10-25.
    qputenv("TZ", "Europe/Berlin");
    tzset();
    QCoreApplication app(argc, argv);
    TestQuality test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_quality.moc"
