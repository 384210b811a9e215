// `zelmar --record`: the command line as a plain function, and the real
// program against zelmar-sim on a pseudo-terminal, recording into real SQLite
// files and forwarding to a PostgreSQL cluster of the test's own.
#include "pgcluster.h"
#include "recordoptions.h"
#include "simulator.h"

#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

constexpr int kWaitMs = 20000;

// Reads one number from a recording database through a connection of its own.
qint64 localNumber(const QString &path, const QString &sql)
{
    const QString name = QStringLiteral("look-") + path;
    qint64 result = -1;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql) && query.next())
                result = query.value(0).toLongLong();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

} // namespace

class TestRecord : public QObject
{
    Q_OBJECT

private:
    // Starts `zelmar --record` with `arguments`, forwarding to the cluster as `station`.
    void startRecorder(QProcess &process, const QStringList &arguments, const QString &station,
                       const QString &historian = {})
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZELMAR_HISTORIAN"),
                           historian.isEmpty() ? m_cluster.url() : historian);
        environment.insert(QStringLiteral("ZELMAR_STATION"), station);
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ZELMAR_PROGRAM),
                      QStringList{QStringLiteral("--record")} + arguments);
        QVERIFY(process.waitForStarted());
    }
    qint64 serverCount(const QString &station) const
    {
        return m_cluster
            .psql(
                QStringLiteral("SELECT count(*) FROM samples_1s WHERE station = '%1'").arg(station))
            .toLongLong();
    }

    PgCluster m_cluster;
    QTemporaryDir m_dir;

private slots:
    void initTestCase() { QVERIFY2(m_cluster.setUp(), qPrintable(m_cluster.error())); }

    void options_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("errorPart");
        QTest::newRow("defaults") << QStringList{} << "";
        QTest::newRow("full") << QStringList{"--port", "3",        "--address", "1,2,5", "--baud",
                                             "19200",  "--parity", "even",      "--db",  "/x/r.db"}
                              << "";
        QTest::newRow("port 0") << QStringList{"--port", "0"} << "--port";
        QTest::newRow("port text") << QStringList{"--port", "COM3"} << "--port";
        QTest::newRow("address 248") << QStringList{"--address", "248"} << "--address";
        QTest::newRow("address twice") << QStringList{"--address", "2,2"} << "--address";
        QTest::newRow("address empty item") << QStringList{"--address", "1,,2"} << "--address";
        QTest::newRow("baud") << QStringList{"--baud", "115200"} << "--baud";
        QTest::newRow("parity") << QStringList{"--parity", "mark"} << "--parity";
        QTest::newRow("unknown option") << QStringList{"--fast"} << "fast";
        QTest::newRow("stray argument") << QStringList{"now"} << "now";
    }
    void options()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, errorPart);
        const RecordOptions options =
            parseRecordOptions(QStringList{"zelmar", "--record"} + arguments);
        if (!errorPart.isEmpty()) {
            QVERIFY2(options.error.contains(errorPart), qPrintable(options.error));
            return;
        }
        QVERIFY2(options.isValid(), qPrintable(options.error));
        if (arguments.isEmpty()) {
            QCOMPARE(options.port, 1);
            QCOMPARE(options.addresses, QList<int>{1});
            QCOMPARE(options.baudCode, 1);
            QCOMPARE(options.parityCode, 0);
        } else {
            QCOMPARE(options.port, 3);
            QCOMPARE(options.addresses, (QList<int>{1, 2, 5}));
            QCOMPARE(options.baudCode, 2);
            QCOMPARE(options.parityCode, 2);
            QCOMPARE(options.databasePath, QStringLiteral("/x/r.db"));
        }
    }
    void addressDatabases()
    {
        QCOMPARE(addressDatabasePath(QStringLiteral("/d/Rdatabj.db"), 5),
                 QStringLiteral("/d/Rdatabj-a5.db"));
        QCOMPARE(addressDatabasePath(QStringLiteral("/d.x/rec"), 12),
                 QStringLiteral("/d.x/rec-a12"));
        QCOMPARE(addressDatabasePath(QStringLiteral("/d/r.old.db"), 1),
                 QStringLiteral("/d/r.old-a1.db"));
        QVERIFY(wantsRecordMode({"zelmar", "--port", "2", "--record"}));
        QVERIFY(!wantsRecordMode({"zelmar"}));
    }

    // SIGTERM while recording: the process ends cleanly, the port is
    // released, and what was recorded is whole locally and on the server.
    void recordsAndEndsOnSigterm()
    {
        Simulator simulator({QStringLiteral("--values"), QStringLiteral("123,-45,678,9,50")});
        QVERIFY(simulator.start(1));
        const QString db = m_dir.filePath(QStringLiteral("rec.db"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "1", "--address", "1", "--db", db}, "REC");
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("REC")) >= 3, kWaitMs);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), 0);
        const QString log = QString::fromLocal8Bit(recorder.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("address 1: instrument answers")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("forwarder: forwarding")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("stopped; port 1 released")), qPrintable(log));

        // The recording is whole: sl_void names the newest row, and every row
        // holds the instrument's values.
        const qint64 rows = localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data"));
        QVERIFY(rows >= 3);
        QCOMPARE(localNumber(db, QStringLiteral("SELECT newest_pv FROM sl_void")), rows);
        // Only the rows recorded before the first poll (one interval after
        // the start) lack the instrument's values.
        QCOMPARE(localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data WHERE w_id > 2 AND "
                                                "NOT (v0 = 123 AND v1 = -45 AND v4 = 50)")),
                 0);
        QVERIFY(serverCount(QStringLiteral("REC")) <= rows);

        // The port was released: another program can open the line at once.
        QProcess again;
        startRecorder(again, {"--port", "1", "--db", db}, "REC");
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("REC")) > rows, kWaitMs);
        again.terminate();
        QVERIFY(again.waitForFinished(10000));
    }

    // Two instruments on one line: each into its own database and station; a
    // silent one records zeros and never the other's values.
    void severalAddressesOnOneLine()
    {
        Simulator simulator({QStringLiteral("--address"), QStringLiteral("3"),
                             QStringLiteral("--values"), QStringLiteral("300,301")});
        QVERIFY(simulator.start(2));
        const QString db = m_dir.filePath(QStringLiteral("line.db"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "2", "--address", "3,4", "--db", db}, "LINE");
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("LINE-a3")) >= 3 &&
                                     serverCount(QStringLiteral("LINE-a4")) >= 3,
                                 kWaitMs);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        const QString log = QString::fromLocal8Bit(recorder.readAllStandardError());
        QVERIFY2(log.contains(QStringLiteral("address 4: instrument does not answer")),
                 qPrintable(log));
        const QString a3 = m_dir.filePath(QStringLiteral("line-a3.db"));
        const QString a4 = m_dir.filePath(QStringLiteral("line-a4.db"));
        QVERIFY(localNumber(a3, QStringLiteral("SELECT count(*) FROM pv_data WHERE v0 = 300 AND "
                                               "v1 = 301")) >= 2);
        QCOMPARE(localNumber(a4, QStringLiteral("SELECT count(*) FROM pv_data WHERE v0 <> 0 OR "
                                                "v1 <> 0")),
                 0);
        QVERIFY(!QFile::exists(db));
        QCOMPARE(m_cluster.psql(QStringLiteral("SELECT string_agg(station || ':' || address, ',' "
                                               "ORDER BY station) FROM stations WHERE station "
                                               "LIKE 'LINE%'")),
                 QStringLiteral("LINE-a3:3,LINE-a4:4"));
    }

    // The device goes away under the open port and comes back: the link
    // reopens it by itself and the recorder records the instrument's moving
    // values again, with no restart; each link state is one line.
    void resumesWhenTheDeviceReturns()
    {
        Simulator simulator;
        QVERIFY(simulator.start(4));
        const QString db = m_dir.filePath(QStringLiteral("replug.db"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "4", "--db", db}, "REPLUG");
        QString log;
        const auto logged = [&](const QString &line) {
            log += QString::fromLocal8Bit(recorder.readAllStandardError());
            return log.count(line);
        };
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("port 4: link: live")) == 1, kWaitMs);

        QVERIFY(simulator.vanish());
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("port 4: link: port lost: ")) == 1, kWaitMs);
        // Recording goes on while the device is away.
        const qint64 whileAway = localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data"));
        QTRY_VERIFY_WITH_TIMEOUT(localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data")) >
                                     whileAway + 2,
                                 kWaitMs);
        QVERIFY(simulator.comeBack());
        const qint64 back = localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data"));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("port 4: link: live")) == 2, kWaitMs);
        // Fresh readings: the simulator's first channel moves every second,
        // values kept from before the loss would stand still.
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(DISTINCT v0) FROM pv_data WHERE w_id > %1")
                                .arg(back)) >= 3,
            kWaitMs);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 0);
        log += QString::fromLocal8Bit(recorder.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("port 4: link: port lost: ")), 1);
        QVERIFY2(log.contains(QStringLiteral("reopening every 2 s")), qPrintable(log));
        QCOMPARE(log.count(QStringLiteral("port 4 (")), 1); // opened once by the recorder
    }

    // A port whose device is not there at the start: the link tries it every
    // 2 s and recording of the instrument begins once it is plugged in.
    void startsWhenTheDeviceAppears()
    {
        Simulator simulator;
        QVERIFY(simulator.start(6));
        const QString later = m_dir.filePath(QStringLiteral("plugged-in-later"));
        qputenv("ZELMAR_PORT_6", QFile::encodeName(later));
        const QString db = m_dir.filePath(QStringLiteral("later.db"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "6", "--db", db}, "LATER");
        QString log;
        const auto logged = [&](const QString &line) {
            log += QString::fromLocal8Bit(recorder.readAllStandardError());
            return log.count(line);
        };
        QTRY_VERIFY_WITH_TIMEOUT(
            logged(QStringLiteral("port 6: link: cannot open the port: ") + later) == 1, kWaitMs);
        QVERIFY(QFile::link(simulator.linkPath(), later));
        QTRY_VERIFY_WITH_TIMEOUT(logged(QStringLiteral("port 6: link: live")) == 1, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(DISTINCT v0) FROM pv_data")) >= 3,
            kWaitMs);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 0);
    }

    // The station name belongs to another tool (another PC's instrument):
    // the recorder is refused, says so once in its log, and records locally.
    void stationOfAnotherToolRefusedOnce()
    {
        Simulator simulator;
        QVERIFY(simulator.start(5));
        const QString db = m_dir.filePath(QStringLiteral("twin.db"));
        {
            QProcess first;
            startRecorder(first, {"--port", "5", "--db", db}, "TWIN-REC");
            QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("TWIN-REC")) >= 1, kWaitMs);
            first.terminate();
            QVERIFY(first.waitForFinished(10000));
        }
        m_cluster.psql(QStringLiteral("UPDATE stations SET machine = 'another-pc', host = 'plc9', "
                                      "port = 3 WHERE station = 'TWIN-REC'"));
        const qint64 onServer = serverCount(QStringLiteral("TWIN-REC"));
        const qint64 local = localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "5", "--db", db}, "TWIN-REC");
        QString log;
        const QString refused =
            QStringLiteral("refused by the server: station: station name TWIN-REC belongs to "
                           "another tool (host plc9, port 3, address 1)");
        const auto logged = [&] {
            log += QString::fromLocal8Bit(recorder.readAllStandardError());
            return log.count(refused);
        };
        QTRY_COMPARE_WITH_TIMEOUT(logged(), 1, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data")) >= local + 3, kWaitMs);
        QCOMPARE(logged(), 1);
        QCOMPARE(serverCount(QStringLiteral("TWIN-REC")), onServer);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 0);
    }

    // A historian address that cannot be used is said once; recording goes on.
    void badHistorianAddressRecordsLocally()
    {
        Simulator simulator;
        QVERIFY(simulator.start(3));
        const QString db = m_dir.filePath(QStringLiteral("local.db"));
        QProcess recorder;
        startRecorder(recorder, {"--port", "3", "--db", db}, "LOCAL",
                      QStringLiteral("mysql://u:p@h:3306/d"));
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data")) >= 3, kWaitMs);
        recorder.terminate();
        QVERIFY(recorder.waitForFinished(10000));
        QCOMPARE(recorder.exitCode(), 0);
        const QString log = QString::fromLocal8Bit(recorder.readAllStandardError());
        QCOMPARE(log.count(QStringLiteral("forwarder: historian address invalid: historian "
                                          "address must start with postgresql://")),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
