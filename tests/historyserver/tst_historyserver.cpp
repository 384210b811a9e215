// A station's history read back from the central historian: a known recording
// forwarded to a PostgreSQL cluster of the test's own (a temporary folder, a
// Unix socket), exported back through the real program and compared with the
// local export, and shown in the history window.
#include "daytime.h"
#include "eventmarks.h"
#include "events.h"
#include "forwarder.h"
#include "historychart.h"
#include "historyrange.h"
#include "historywiring.h"
#include "pgcluster.h"
#include "programrun.h"
#include "recordingfixture.h"
#include "rowquality.h"
#include "scalinglog.h"
#include "store.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QTimeZone>
#include <QtTest>

using namespace std::chrono_literals;

namespace
{

constexpr int kWaitMs = 20000;
constexpr int kRows = 120;
const QDateTime kStart(QDate(2026, 3, 14), QTime(8, 0, 0));
constexpr char kStation[] = "READBACK";

// Values a decimal text could round, and a negative one: the CSV must match bit for bit.
std::array<float, kRecordedValueCount> valuesFor(int i)
{
    std::array<float, kRecordedValueCount> values{};
    for (int v = 0; v < kRecordedValueCount; ++v)
        values[v] = static_cast<float>(i * 3 + v) * 0.37f - 11.1f;
    return values;
}

// The real program without a display.
ProgramRun runProgram(const QStringList &arguments)
{
    return runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM), arguments);
}

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

std::optional<RowQuality> qualityFor(int i)
{
    static const std::optional<RowQuality> qualities[] = {
        RowQuality::Good, RowQuality::Held,         RowQuality::Good, RowQuality::CommFailure,
        std::nullopt,     RowQuality::NotConnected, RowQuality::Good};
    return qualities[i % 7];
}

// The station's alarm, and one of this PC's own at the same range.
Event stationAlarm()
{
    return {kStart.addSecs(50), EventKind::Alarm, QStringLiteral("CH2"),
            QStringLiteral("STATION-ALARM")};
}
Event localAlarm()
{
    return {kStart.addSecs(52), EventKind::ConfigWrite, QStringLiteral("LOCAL-ONLY"),
            QStringLiteral("LOCAL-ONLY")};
}

QString momentArgument(const QDateTime &moment)
{
    return moment.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

class TestHistoryServer : public QObject
{
    Q_OBJECT

    PgCluster m_cluster;
    QTemporaryDir m_dir;
    QString m_database;

    QString stationSource() const
    {
        return m_cluster.url() + QStringLiteral("&station=") + QLatin1String(kStation);
    }
    // zelmar --export-csv of `source` from .. to into `name`; its exit and reason.
    ProgramRun exportTo(const QString &name, const QString &source, const QDateTime &from,
                        const QDateTime &to, const QStringList &more = {})
    {
        return runProgram(QStringList{QStringLiteral("--export-csv"), m_dir.filePath(name),
                                      QStringLiteral("--from"), momentArgument(from),
                                      QStringLiteral("--to"), momentArgument(to),
                                      QStringLiteral("--db"), source} +
                          more);
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_cluster.setUp(), qPrintable(m_cluster.error()));
        // A known recording: two minutes of the 1-second ring, a row of the
        // 10-second ring every tenth second, of every quality, some unknown.
        m_database = m_dir.filePath(QStringLiteral("known.db"));
        {
            RecordingStore store(QStringLiteral("known-store"));
            QVERIFY(store.open(m_database));
            for (int i = 0; i < kRows; ++i) {
                const QDateTime at = kStart.addSecs(i);
                const std::optional<RowQuality> quality = qualityFor(i);
                QVERIFY(recordRow(store, RecordTable::PvData, i + 1, daySerial(at.date()),
                                  dayFraction(at.time()), valuesFor(i), quality,
                                  at.offsetFromUtc()));
                if (i % 10 == 0)
                    QVERIFY(recordRow(store, RecordTable::LpvWdjl, i / 10 + 1, daySerial(at.date()),
                                      dayFraction(at.time()), valuesFor(i), quality));
            }
        }
        // The station's journal: a silence of ten seconds and an alarm.
        {
            EventLog log(QStringLiteral("known-events"));
            QVERIFY(log.open(m_database));
            // Its silence by code (words that name no state), its return by words,
            // as an earlier version wrote them.
            QVERIFY(log.appendEvent({kStart.addSecs(30), EventKind::Link, QStringLiteral("端口 1"),
                                     QStringLiteral("silent"), QStringLiteral("no_answer")}));
            QVERIFY(log.appendEvent({kStart.addSecs(40), EventKind::Link, QStringLiteral("端口 1"),
                                     QStringLiteral("在线")}));
            QVERIFY(log.appendEvent(stationAlarm()));
        }
        // The station's scaling: CH1 in °C from the start, CH2 named "MPa" from
        // its 20th second, so that an export names both units.
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"),
                                                        QStringLiteral("known-scaling"));
            db.setDatabaseName(m_database);
            QVERIFY(db.open() && prepareScalingTables(db));
            QVERIFY(appendScalingEntries(
                db, {{kStart, 0, {0, 1, 4000, 0, QStringLiteral("°C")}},
                     {kStart.addSecs(20), 1, {17, 2, 1000, 0, QStringLiteral("MPa")}}}));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("known-scaling"));
        ForwarderSettings settings;
        settings.target = parseHistorianUrl(m_cluster.url());
        settings.station = QLatin1String(kStation);
        settings.databasePath = m_database;
        settings.checkInterval = 100ms;
        Historian historian(settings, QStringLiteral("readback-fwd"));
        historian.start();
        QTRY_COMPARE_WITH_TIMEOUT(historian.status().state, HistorianStatus::State::Forwarding,
                                  kWaitMs);
        historian.stop();
        QCOMPARE(m_cluster.psql(QStringLiteral("SELECT count(*) FROM samples_1s")),
                 QString::number(kRows));
    }

    // The server's rows exported through the program are the local export, byte for byte.
    void exportFromTheServerIsTheLocalExport_data()
    {
        QTest::addColumn<int>("fromSecond");
        QTest::addColumn<int>("toSecond");
        QTest::addColumn<QStringList>("ring");
        QTest::addColumn<QString>("header");
        QTest::newRow("1 s, part") << 15 << 74 << QStringList{} << "通道一 (°C),通道二 (MPa),";
        QTest::newRow("1 s, beyond both ends")
            << -60 << 600 << QStringList{} << "通道一 (°C),通道二 (MPa),";
        QTest::newRow("10 s") << 0 << kRows << QStringList{"--ring", "10s"}
                              << "通道一 (°C),通道二 (MPa),";
        QTest::newRow("1 s, before CH2's unit")
            << 0 << 19 << QStringList{} << "通道一 (°C),通道二,";
        QTest::newRow("1 s, raw") << 15 << 74 << QStringList{"--raw"} << "日期时间,CH1,CH2,";
    }
    void exportFromTheServerIsTheLocalExport()
    {
        QFETCH(int, fromSecond);
        QFETCH(int, toSecond);
        QFETCH(QStringList, ring);
        QFETCH(QString, header);
        const QDateTime from = kStart.addSecs(fromSecond);
        const QDateTime to = kStart.addSecs(toSecond);
        const ProgramRun local = exportTo(QStringLiteral("local.csv"), m_database, from, to, ring);
        QVERIFY2(local.code == 0, qPrintable(local.error));
        const ProgramRun server =
            exportTo(QStringLiteral("server.csv"), stationSource(), from, to, ring);
        QVERIFY2(server.code == 0, qPrintable(server.error));
        const QByteArray expected = fileBytes(m_dir.filePath(QStringLiteral("local.csv")));
        QVERIFY(expected.count('\n') > 5);
        QVERIFY(expected.contains(QStringLiteral("质量").toUtf8()));
        QVERIFY(expected.contains(",68\r\n"));
        QVERIFY2(expected.contains(header.toUtf8()), expected.left(200).constData());
        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("server.csv"))), expected);
    }

    // Each failure: a non-zero exit, one line of reason, and no file.
    void exportFailures_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("reasonPart");
        QTest::newRow("no station") << m_cluster.url() << 1 << "station";
        QTest::newRow("no database name")
            << QStringLiteral("postgresql://u:p@localhost:5432?station=X") << 1 << "";
        QTest::newRow("no server at the socket")
            << QStringLiteral("postgresql://zelmar:pw@localhost:5999/historian?host=%1&station=X")
                   .arg(m_dir.filePath(QStringLiteral("no-server")))
            << 4 << "cannot read the historian";
        QTest::newRow("wrong password") << m_cluster.url(QStringLiteral("wrong")) +
                                               QStringLiteral("&station=") + QLatin1String(kStation)
                                        << 4 << "cannot read the historian";
        QTest::newRow("unknown station")
            << m_cluster.url() + QStringLiteral("&station=NOBODY") << 5 << "empty range";
    }
    void exportFailures()
    {
        QFETCH(QString, source);
        QFETCH(int, code);
        QFETCH(QString, reasonPart);
        const QString out = QStringLiteral("failed.csv");
        const ProgramRun run = exportTo(out, source, kStart, kStart.addSecs(30));
        QCOMPARE(run.code, code);
        QVERIFY2(run.error.startsWith(QStringLiteral("zelmar: ")), qPrintable(run.error));
        QCOMPARE(run.error.count(QLatin1Char('\n')), 1);
        QVERIFY2(run.error.contains(reasonPart), qPrintable(run.error));
        QVERIFY(!QFile::exists(m_dir.filePath(out)));
    }

    // Rows every 30 s for four hours across the autumn change in Europe/Berlin, each with
    // the offset it was recorded at: the server's export is the local one,
    // the repeated hour's two passes included.
    void exportAcrossTheAutumnChangeIsTheLocalExport()
    {
        const QTimeZone berlin("Europe/Berlin");
        QVERIFY(berlin.isValid());
        const QString database = m_dir.filePath(QStringLiteral("autumn.db"));
        const QDateTime first(QDate(2026, 10, 24), QTime(23, 0), Qt::UTC);
        constexpr int kAutumnRows = 480;
        {
            RecordingStore store(QStringLiteral("autumn-store"));
            QVERIFY(store.open(database));
            for (int i = 0; i < kAutumnRows; ++i) {
                const QDateTime at = first.addSecs(30 * i).toTimeZone(berlin);
                // A known quality: a row without one keeps no offset either,
                // and the forwarder, in this test's zone, would place it elsewhere.
                QVERIFY(recordRow(store, RecordTable::PvData, i + 1, daySerial(at.date()),
                                  dayFraction(at.time()), valuesFor(i),
                                  qualityFor(i).value_or(RowQuality::Good), at.offsetFromUtc()));
            }
        }
        ForwarderSettings settings;
        settings.target = parseHistorianUrl(m_cluster.url());
        settings.station = QStringLiteral("AUTUMN");
        settings.databasePath = database;
        settings.checkInterval = 100ms;
        {
            Historian historian(settings, QStringLiteral("autumn-fwd"));
            historian.start();
            QTRY_COMPARE_WITH_TIMEOUT(historian.status().state, HistorianStatus::State::Forwarding,
                                      kWaitMs);
        }
        const QStringList berlinTime{QStringLiteral("TZ=Europe/Berlin")};
        const QStringList range{QStringLiteral("--from"), QStringLiteral("2026-10-25 00:00"),
                                QStringLiteral("--to"), QStringLiteral("2026-10-25 04:00")};
        const ProgramRun local =
            runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM),
                              QStringList{QStringLiteral("--export-csv"),
                                          m_dir.filePath(QStringLiteral("a-local.csv")),
                                          QStringLiteral("--db"), database} +
                                  range,
                              berlinTime);
        QVERIFY2(local.code == 0, qPrintable(local.error));
        const ProgramRun server = runWithoutDisplay(
            QStringLiteral(ZELMAR_PROGRAM),
            QStringList{QStringLiteral("--export-csv"),
                        m_dir.filePath(QStringLiteral("a-server.csv")), QStringLiteral("--db"),
                        m_cluster.url() + QStringLiteral("&station=AUTUMN")} +
                range,
            berlinTime);
        QVERIFY2(server.code == 0, qPrintable(server.error));
        const QByteArray expected = fileBytes(m_dir.filePath(QStringLiteral("a-local.csv")));
        QVERIFY(expected.contains("2026-10-25T02:59:30+02:00"));
        QVERIFY(expected.contains("2026-10-25T02:00:00+01:00"));
        QCOMPARE(fileBytes(m_dir.filePath(QStringLiteral("a-server.csv"))), expected);
    }

    // The rows arrive and are written one by one: a file that cannot be
    // begun at the first row is a write failure (not an empty range), and the
    // server's rows after it are read and dropped.
    void exportIntoAMissingFolderFails()
    {
        const ProgramRun run = exportTo(QStringLiteral("none/server.csv"), stationSource(), kStart,
                                        kStart.addSecs(kRows));
        QCOMPARE(run.code, 6);
        QVERIFY2(run.error.contains(QStringLiteral("cannot write")), qPrintable(run.error));
        QVERIFY(!QFile::exists(m_dir.filePath(QStringLiteral("none"))));
    }

    // The window reads a station of the historian, chosen in the window.
    void windowShowsAStationFromTheServer()
    {
        qputenv("ZELMAR_HISTORIAN", m_cluster.url().toUtf8());
        qputenv("ZELMAR_STATION", "THIS-PC");
        HistoryWindow window(
            historySettingsFromEnvironment(m_dir.filePath(QStringLiteral("empty.db"))));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        auto *source = window.findChild<QComboBox *>(QStringLiteral("sourceChoice"));
        auto *station = window.findChild<QLineEdit *>(QStringLiteral("stationEdit"));
        auto *ringLabel = window.findChild<QLabel *>(QStringLiteral("ringLabel"));
        QVERIFY(source && station && ringLabel);
        QCOMPARE(source->count(), 2);
        QCOMPARE(station->text(), QStringLiteral("THIS-PC")); // this tool's own station first
        QVERIFY(!station->isEnabled());
        QVERIFY(window.showRange(kStart, kStart.addSecs(kRows - 1)));
        QTRY_VERIFY(!window.isReading());
        QVERIFY(window.chart()->rows().isEmpty()); // no local file

        QTest::keyClick(source, Qt::Key_Down); // "历史库 …"
        QCOMPARE(window.source(), HistoryWindow::Source::Historian);
        QVERIFY(station->isEnabled());
        station->setText(QLatin1String(kStation));
        QMetaObject::invokeMethod(station, "editingFinished");
        QTRY_COMPARE_WITH_TIMEOUT(window.chart()->rows().size(), kRows, kWaitMs);
        QVERIFY2(ringLabel->text().contains(QLatin1String(kStation)),
                 qPrintable(ringLabel->text()));
        const RingRow first = window.chart()->rows().first();
        QCOMPARE(dateTimeOf(first.moment()), kStart);
        QVERIFY(first.values == valuesFor(0));
        // Its CSV comes from the server too: the file a window over the recording writes.
        const QString fromServer = m_dir.filePath(QStringLiteral("window-server.csv"));
        QCOMPARE(window.exportCsvTo(fromServer).fault, History::RangeFault::None);
        {
            HistoryWindow recorded(historySettingsFromEnvironment(m_database));
            QVERIFY(recorded.showRange(kStart, kStart.addSecs(kRows - 1)));
            QTRY_VERIFY(!recorded.isReading());
            const QString fromFile = m_dir.filePath(QStringLiteral("window-local.csv"));
            QCOMPARE(recorded.exportCsvTo(fromFile).fault, History::RangeFault::None);
            QCOMPARE(fileBytes(fromServer), fileBytes(fromFile));
            // The station's scaling comes from the server too: the units the file gives.
            auto *serverUnits = window.findChild<QLabel *>(QStringLiteral("valueAxisTitle"));
            auto *fileUnits = recorded.findChild<QLabel *>(QStringLiteral("valueAxisTitle"));
            QVERIFY(serverUnits && fileUnits);
            QVERIFY2(serverUnits->text().contains(QStringLiteral("MPa")),
                     qPrintable(serverUnits->text()));
            QCOMPARE(serverUnits->text(), fileUnits->text());
        }

        // A station the server does not know: nothing drawn, no fault.
        station->setText(QStringLiteral("NOBODY"));
        QMetaObject::invokeMethod(station, "editingFinished");
        QTRY_VERIFY_WITH_TIMEOUT(window.chart()->rows().isEmpty(), kWaitMs);

        // The same range in a window over the recorded file: the same rows.
        HistoryWindow local(historySettingsFromEnvironment(m_database));
        QVERIFY(local.showRange(kStart, kStart.addSecs(kRows - 1)));
        QTRY_VERIFY(!local.isReading());
        QCOMPARE(local.chart()->rows().size(), kRows);
        QCOMPARE(local.source(), HistoryWindow::Source::Local);
        qunsetenv("ZELMAR_HISTORIAN");
        qunsetenv("ZELMAR_STATION");
    }

    // A station shown from the server brings its own journal along: its marks,
    // its silence shaded, its events in the cursor read-out; never this PC's.
    void windowShowsTheStationsEvents()
    {
        const QString thisPc = m_dir.filePath(QStringLiteral("this-pc.db"));
        {
            RecordingStore store(QStringLiteral("this-pc-store"));
            QVERIFY(store.open(thisPc));
            for (int i = 0; i < kRows / 2; ++i) {
                const QDateTime at = kStart.addSecs(i);
                QVERIFY(recordRow(store, RecordTable::PvData, i + 1, daySerial(at.date()),
                                  dayFraction(at.time()), valuesFor(i + 1000)));
            }
            EventLog log(QStringLiteral("this-pc-events"));
            QVERIFY(log.open(thisPc));
            QVERIFY(log.appendEvent(localAlarm()));
            QVERIFY(log.appendEvent({kStart.addSecs(70), EventKind::Link, QStringLiteral("端口 1"),
                                     QStringLiteral("无应答")}));
        }
        qputenv("ZELMAR_HISTORIAN", m_cluster.url().toUtf8());
        HistoryWindow window(historySettingsFromEnvironment(thisPc));
        QVERIFY(window.showRange(kStart, kStart.addSecs(kRows - 1)));
        QTRY_VERIFY(!window.isReading());
        const auto markTexts = [&window] {
            QStringList texts;
            for (const Journal::Mark &mark : window.chart()->events().marks)
                texts << mark.text;
            return texts;
        };
        QCOMPARE(window.chart()->rows().size(), kRows / 2);
        QCOMPARE(markTexts(), QStringList{Journal::markOf(localAlarm()).text}); // this PC's own

        window.setSource(HistoryWindow::Source::Historian, QLatin1String(kStation));
        QTRY_COMPARE_WITH_TIMEOUT(window.chart()->rows().size(), kRows, kWaitMs);
        QVERIFY(window.chart()->rows().first().values == valuesFor(0));
        QCOMPARE(markTexts(), QStringList{Journal::markOf(stationAlarm()).text});
        const auto &notLive = window.chart()->events().notLive;
        QCOMPARE(int(notLive.size()), 1);
        QCOMPARE(dateTimeOf(notLive[0].from), kStart.addSecs(30));
        QCOMPARE(dateTimeOf(notLive[0].to), kStart.addSecs(40));
        // The read-out at the station's alarm names it, and not this PC's alarm two seconds on.
        auto *readout = window.findChild<QLabel *>(QStringLiteral("cursorReadout"));
        QVERIFY(readout);
        emit window.chart()->cursorMoved(50);
        QVERIFY2(readout->text().contains(QStringLiteral("STATION-ALARM")) ||
                     readout->text().contains(Journal::markOf(stationAlarm()).text),
                 qPrintable(readout->text()));
        QVERIFY2(!readout->text().contains(QStringLiteral("LOCAL-ONLY")),
                 qPrintable(readout->text()));
        qunsetenv("ZELMAR_HISTORIAN");
    }

    // Without a historian configured there is nothing to choose.
    void windowWithoutHistorianHasOnlyTheLocalFile()
    {
        HistoryWindow window(historySettingsFromEnvironment(m_database));
        auto *source = window.findChild<QComboBox *>(QStringLiteral("sourceChoice"));
        QVERIFY(source);
        QCOMPARE(source->count(), 1);
        QVERIFY(!source->isEnabled());
        window.setSource(HistoryWindow::Source::Historian, QLatin1String(kStation));
        QCOMPARE(window.source(), HistoryWindow::Source::Local);
    }
};

QTEST_MAIN(TestHistoryServer)
#include "tst_historyserver.moc"
