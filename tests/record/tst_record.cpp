// `zelmar --record`: the command line as a plain function, and the real
// program against zelmar-sim on a pseudo-terminal, recording into real SQLite
// files and forwarding to a PostgreSQL cluster of the test's own.
#include "linkquality.h"
#include "otherprogram.h"
#include "pgcluster.h"
#include "programrun.h"
#include "recordmode.h"
#include "recordoptions.h"
#include "simulator.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

namespace
{

constexpr int kWaitMs = 20000;

// Reads the first column of every row from a recording database, as text, through a
// connection of its own.
QStringList localColumn(const QString &path, const QString &sql)
{
    const QString name = QStringLiteral("column-") + path;
    QStringList result;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
        if (db.open()) {
            QSqlQuery query(db);
            if (query.exec(sql))
                while (query.next())
                    result << query.value(0).toString();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return result;
}

// Reads one number from a recording database; -1 when it cannot.
qint64 localNumber(const QString &path, const QString &sql)
{
    bool ok = false;
    const qint64 number = localColumn(path, sql).value(0).toLongLong(&ok);
    return ok ? number : -1;
}

// The rows of the 1-second ring; -1 when the file cannot be read.
qint64 rowCount(const QString &path)
{
    return localNumber(path, QStringLiteral("SELECT count(*) FROM pv_data"));
}

// The quality of each pv_data row, oldest first ("" where it has none).
QStringList rowQualities(const QString &path)
{
    return localColumn(path, QStringLiteral("SELECT q.quality FROM pv_data p LEFT JOIN "
                                            "row_quality q ON q.ring = 1 AND q.id = p.w_id AND "
                                            "q.r_date = p.w_date AND q.r_time = p.w_time "
                                            "ORDER BY p.w_id"));
}

qint64 goodRows(const QString &path)
{
    return rowQualities(path).count(QStringLiteral("192"));
}

// The details of the link events in a recording database, oldest first.
QStringList linkEvents(const QString &path)
{
    return localColumn(path, QStringLiteral("SELECT ev_detail FROM events WHERE ev_kind = 'link' "
                                            "ORDER BY ev_id"));
}

// Whether `qualities` are rows of no reading (8) up to the first reading, then readings only.
bool readingsFromTheFirstOn(const QStringList &qualities)
{
    const qsizetype first = qualities.indexOf(QStringLiteral("192"));
    if (first < 0)
        return false;
    for (qsizetype i = 0; i < qualities.size(); ++i)
        if (qualities[i] != (i < first ? QStringLiteral("8") : QStringLiteral("192")))
            return false;
    return true;
}

// One `zelmar --record` run: its process, and all it has said on standard
// error so far.
struct RecorderRun {
    QProcess process;
    QString log;

    // Reads what it said since; how often `part` stands in all it said.
    qsizetype logged(const QString &part)
    {
        log += QString::fromLocal8Bit(process.readAllStandardError());
        return log.count(part);
    }
    // Its end within `ms`, the rest of its log read: its exit code, -1 when
    // it did not end or crashed.
    int wait(int ms = 10000)
    {
        const bool ended = process.waitForFinished(ms);
        logged({});
        return ended && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }
    // SIGTERM, then wait(ms).
    int stop(int ms = 10000)
    {
        process.terminate();
        return wait(ms);
    }
};

} // namespace

class TestRecord : public QObject
{
    Q_OBJECT

private:
    // Starts `zelmar --record --port PORT --db DB` and `more` arguments,
    // forwarding to the cluster (or `historian`) as `station`.
    void startRecorder(RecorderRun &run, int port, const QString &db, const QString &station,
                       const QStringList &more = {}, const QString &historian = {})
    {
        QProcess &process = run.process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZELMAR_HISTORIAN"),
                           historian.isEmpty() ? m_cluster.url() : historian);
        environment.insert(QStringLiteral("ZELMAR_STATION"), station);
        environment.remove(QStringLiteral("DISPLAY"));
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(ZELMAR_PROGRAM),
                      QStringList{QStringLiteral("--record"), QStringLiteral("--port"),
                                  QString::number(port), QStringLiteral("--db"), db} +
                          more);
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
        QStringList sixteen;
        for (int a = 1; a <= 16; ++a)
            sixteen << QString::number(a);
        QTest::newRow("16 addresses") << QStringList{"--address", sixteen.join(',')} << "";
        QTest::newRow("17 addresses")
            << QStringList{"--address", (sixteen << "17").join(',')} << "17 instruments";
        QTest::newRow("db in memory") << QStringList{"--db", ":memory:"} << "--db: \":memory:\"";
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
        if (arguments.size() == 2) {
            QCOMPARE(options.addresses.size(), 16);
        } else if (arguments.isEmpty()) {
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
    void addressDatabases_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("expected");
        QTest::newRow("before the suffix") << "/d/Rdatabj.db" << 5 << "/d/Rdatabj-a5.db";
        QTest::newRow("no suffix, a dot in the folder") << "/d.x/rec" << 12 << "/d.x/rec-a12";
        QTest::newRow("before the last suffix only") << "/d/r.old.db" << 1 << "/d/r.old-a1.db";
    }
    void addressDatabases()
    {
        QFETCH(QString, path);
        QFETCH(int, address);
        QFETCH(QString, expected);
        QCOMPARE(addressDatabasePath(path, address), expected);
    }

    void recordModeWanted()
    {
        QVERIFY(wantsRecordMode({"zelmar", "--port", "2", "--record"}));
        QVERIFY(!wantsRecordMode({"zelmar"}));
    }

    // The names SQLite or Qt take for something other than a file, and folders.
    void databasePaths_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("problemPart");
        QTest::newRow("a file") << "/var/lib/zelmar/Rdatabj.db"
                                << "";
        QTest::newRow("relative file") << "rec.db"
                                       << "";
        QTest::newRow("in memory") << ":memory:"
                                   << "\":memory:\" is no file on disk";
        QTest::newRow("resource") << ":/rec.db"
                                  << "is no file on disk";
        QTest::newRow("empty") << ""
                               << "no database file named";
        QTest::newRow("blank") << "  "
                               << "no database file named";
        QTest::newRow("uri") << "file:rec.db?mode=memory"
                             << "is a URI";
        QTest::newRow("upper-case uri") << "FILE:rec.db"
                                        << "is a URI";
        QTest::newRow("folder by its slash") << "/no/such/folder/"
                                             << "is a folder";
        QTest::newRow("existing folder") << "/tmp"
                                         << "is a folder";
    }
    void databasePaths()
    {
        QFETCH(QString, path);
        QFETCH(QString, problemPart);
        const QString problem = databasePathProblem(path);
        if (problemPart.isEmpty())
            QVERIFY2(problem.isEmpty(), qPrintable(problem));
        else
            QVERIFY2(problem.contains(problemPart), qPrintable(problem));
        QVERIFY(!problem.contains(u'\n'));
    }

    // Warned of above what the line carries within the tick, at each speed.
    void lineCapacity_data()
    {
        QTest::addColumn<int>("baudCode");
        QTest::addColumn<int>("instruments");
        QTest::addColumn<bool>("warned");
        QTest::newRow("4800, 2") << 0 << 2 << false;
        QTest::newRow("4800, 3") << 0 << 3 << true;
        QTest::newRow("9600, 4") << 1 << 4 << false;
        QTest::newRow("9600, 5") << 1 << 5 << true;
        QTest::newRow("19200, 9") << 2 << 9 << false;
        QTest::newRow("19200, 10") << 2 << 10 << true;
        QTest::newRow("19200, 16") << 2 << 16 << true;
    }
    void lineCapacity()
    {
        QFETCH(int, baudCode);
        QFETCH(int, instruments);
        QFETCH(bool, warned);
        RecordOptions options;
        options.baudCode = baudCode;
        options.addresses.clear();
        for (int a = 1; a <= instruments; ++a)
            options.addresses << a;
        const QString warning = lineCapacityWarning(options);
        QCOMPARE(!warning.isEmpty(), warned);
        if (warned)
            QVERIFY2(
                warning.contains(QStringLiteral("about %1 ").arg(instrumentsPerLine(baudCode))),
                qPrintable(warning));
    }

    void recordingStateLines_data()
    {
        QTest::addColumn<bool>("recording");
        QTest::addColumn<QString>("reason");
        QTest::addColumn<bool>("resumed");
        QTest::addColumn<QString>("line");
        QTest::newRow("recording") << true << "" << false << "recording into /d/r.db";
        QTest::newRow("resumed") << true << "" << true << "recording resumed into /d/r.db";
        QTest::newRow("locked") << false << "locked by another program" << false
                                << "cannot record into /d/r.db: locked by another program";
        QTest::newRow("disk full")
            << false << "disk full" << false << "cannot record into /d/r.db: disk full";
    }
    void recordingStateLines()
    {
        QFETCH(bool, recording);
        QFETCH(QString, reason);
        QFETCH(bool, resumed);
        QFETCH(QString, line);
        RecordingStatus status;
        status.recording = recording;
        status.reason = reason;
        status.path = QStringLiteral("/d/r.db");
        QCOMPARE(recordingStateLine(status, resumed), line);
    }

    // One row per link state, as the recorder's log gives it.
    void linkStateLines_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("line");
        QTest::newRow("closed") << int(LinkState::NotOpened) << "link: closed";
        QTest::newRow("opening") << int(LinkState::Opening)
                                 << "link: port open, waiting for the first reply";
        QTest::newRow("live") << int(LinkState::Live) << "link: live";
        QTest::newRow("no answer") << int(LinkState::NoAnswer) << "link: no answer: why";
        QTest::newRow("port lost")
            << int(LinkState::PortLost) << "link: port lost: why; reopening every 2 s";
        QTest::newRow("open failed") << int(LinkState::OpenFailed)
                                     << "link: cannot open the port: why; trying again every 2 s";
    }
    void linkStateLines()
    {
        QFETCH(int, state);
        QFETCH(QString, line);
        QCOMPARE(linkStateLine(LinkState(state), QStringLiteral("why")), line);
    }

    // One instrument's rows: a reading only while it answers and its values were read.
    void instrumentQuality_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("cameFrom");
        QTest::addColumn<bool>("valuesRead");
        QTest::addColumn<int>("quality");
        const auto row = [](const char *name, LinkState state, LinkState from, bool read,
                            RowQuality quality) {
            QTest::newRow(name) << int(state) << int(from) << read << int(quality);
        };
        row("answers, read", LinkState::Live, LinkState::Opening, true, RowQuality::Good);
        row("answers, not read", LinkState::Live, LinkState::Opening, false, RowQuality::Held);
        row("silent", LinkState::NoAnswer, LinkState::Live, true, RowQuality::Held);
        row("silent, never read", LinkState::NoAnswer, LinkState::Opening, false, RowQuality::Held);
        row("before the first poll", LinkState::Opening, LinkState::NotOpened, false,
            RowQuality::NotConnected);
        row("port lost", LinkState::PortLost, LinkState::Live, true, RowQuality::CommFailure);
        row("reopened after a loss", LinkState::Opening, LinkState::PortLost, true,
            RowQuality::CommFailure);
        row("closed", LinkState::NotOpened, LinkState::Live, true, RowQuality::NotConnected);
    }
    void instrumentQuality()
    {
        QFETCH(int, state);
        QFETCH(int, cameFrom);
        QFETCH(bool, valuesRead);
        QFETCH(int, quality);
        QCOMPARE(int(instrumentRowQuality(LinkState(state), LinkState(cameFrom), valuesRead)),
                 quality);
    }

    // The unit gives up on a command line the recorder refuses, and its files are private.
    void unitStopsOnUsageErrors()
    {
        QFile unit(QStringLiteral(ZELMAR_UNIT_FILE));
        QVERIFY(unit.open(QIODevice::ReadOnly | QIODevice::Text));
        const QStringList lines = QString::fromUtf8(unit.readAll()).split(u'\n');
        QVERIFY(
            lines.contains(QStringLiteral("RestartPreventExitStatus=%1").arg(kRecordUsageError)));
        QVERIFY(lines.contains(QStringLiteral("UMask=0027")));
        QVERIFY(lines.contains(QStringLiteral("Restart=on-failure")));
    }

    // Inputs it cannot use end it at once with one line and the usage exit
    // code; nothing is created.
    void refusesWhatItCannotUse_data()
    {
        QTest::addColumn<QString>("environmentDb");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("linePart");
        QStringList all;
        for (int a = 1; a <= 247; ++a)
            all << QString::number(a);
        QTest::newRow("ZELMAR_DB in memory")
            << ":memory:" << QStringList{} << "ZELMAR_DB: \":memory:\" is no file on disk";
        QTest::newRow("--db in memory")
            << "" << QStringList{"--db", ":memory:"} << "--db: \":memory:\" is no file on disk";
        QTest::newRow("ZELMAR_DB a URI")
            << "file:rec.db?mode=memory" << QStringList{} << "is a URI";
        QTest::newRow("every address")
            << "" << QStringList{"--address", all.join(',')} << "--address lists 247 instruments";
    }
    void refusesWhatItCannotUse()
    {
        QFETCH(QString, environmentDb);
        QFETCH(QStringList, arguments);
        QFETCH(QString, linePart);
        QTemporaryDir workDir;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("ZELMAR_DB"));
        if (!environmentDb.isEmpty())
            environment.insert(QStringLiteral("ZELMAR_DB"), environmentDb);
        environment.remove(QStringLiteral("ZELMAR_HISTORIAN"));
        environment.insert(QStringLiteral("ZELMAR_PORT_1"), workDir.filePath("no-device"));
        QProcess recorder;
        recorder.setProcessEnvironment(environment);
        recorder.setWorkingDirectory(workDir.path());
        recorder.start(QStringLiteral(ZELMAR_PROGRAM),
                       QStringList{QStringLiteral("--record")} + arguments);
        QVERIFY(recorder.waitForStarted());
        if (!recorder.waitForFinished(10000)) {
            recorder.kill();
            recorder.waitForFinished();
            QFAIL("the recorder ran");
        }
        QCOMPARE(recorder.exitStatus(), QProcess::NormalExit);
        QCOMPARE(recorder.exitCode(), kRecordUsageError);
        const QString error = QString::fromLocal8Bit(recorder.readAllStandardError());
        QCOMPARE(error.count(u'\n'), 1);
        QVERIFY2(error.contains(linePart), qPrintable(error));
        QCOMPARE(QDir(workDir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
                 QStringList{});
    }

    // SIGTERM while recording: the process ends cleanly, the port is
    // released, and what was recorded is whole locally and on the server.
    void recordsAndEndsOnSigterm()
    {
        Simulator simulator({QStringLiteral("--values"), QStringLiteral("123,-45,678,9,50")});
        QVERIFY(simulator.start(1));
        const QString db = m_dir.filePath(QStringLiteral("rec.db"));
        RecorderRun recorder;
        startRecorder(recorder, 1, db, "REC", {"--address", "1"});
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("REC")) >= 3, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QVERIFY2(log.contains(QStringLiteral("address 1: instrument answers")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("forwarder: forwarding")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("stopped; port 1 released")), qPrintable(log));

        // The recording is whole: sl_void names the newest row, and every row
        // holds the instrument's values.
        const qint64 rows = rowCount(db);
        QVERIFY(rows >= 3);
        QCOMPARE(localNumber(db, QStringLiteral("SELECT newest_pv FROM sl_void")), rows);
        // Only the rows recorded before the first poll (one interval after
        // the start) lack the instrument's values.
        QCOMPARE(localNumber(db, QStringLiteral("SELECT count(*) FROM pv_data WHERE w_id > 2 AND "
                                                "NOT (v0 = 123 AND v1 = -45 AND v4 = 50)")),
                 0);
        QVERIFY(serverCount(QStringLiteral("REC")) <= rows);

        // The port was released: another program can open the line at once.
        RecorderRun again;
        startRecorder(again, 1, db, "REC");
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("REC")) > rows, kWaitMs);
        QCOMPARE(again.stop(), 0);
    }

    // A second recorder on a port that one already polls is refused with
    // one line and exit code 2; the first goes on reading the instrument.
    void secondRecorderOnOnePortIsRefused()
    {
        Simulator simulator;
        QVERIFY(simulator.start(11));
        const QString db = m_dir.filePath(QStringLiteral("first-on-port.db"));
        RecorderRun first;
        startRecorder(first, 11, db, "FIRST-ON-PORT");
        QTRY_VERIFY_WITH_TIMEOUT(first.logged(QStringLiteral("address 1: instrument answers")) > 0,
                                 kWaitMs);
        const QString secondDb = m_dir.filePath(QStringLiteral("second-on-port.db"));
        RecorderRun second;
        startRecorder(second, 11, secondDb, "SECOND-ON-PORT");
        QCOMPARE(second.wait(), kRecordUsageError);
        const QStringList refusal = second.log.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(refusal.size(), 1);
        QVERIFY2(refusal.first().startsWith(QStringLiteral("zelmar: port 11 (")) &&
                     refusal.first().contains(QStringLiteral("端口被占用")),
                 qPrintable(refusal.first()));
        QVERIFY(!QFile::exists(secondDb));
        const qint64 good = goodRows(db);
        QTRY_VERIFY_WITH_TIMEOUT(goodRows(db) >= good + 3, kWaitMs);
        QCOMPARE(first.stop(), 0);
    }

    // SIGTERM while another program holds the file locked: what waits in
    // memory is written when the lock ends within the stop's budget; when it
    // does not, one log line names the rows lost, and the next start writes
    // the stop's events and a rows-lost event naming the same span.
    void stopWritesWhatWaits_data()
    {
        QTest::addColumn<bool>("heldThroughTheStop");
        QTest::newRow("lock ends during the stop") << false;
        QTest::newRow("lock held through the stop") << true;
    }
    void stopWritesWhatWaits()
    {
        QFETCH(bool, heldThroughTheStop);
        Simulator simulator;
        QVERIFY(simulator.start(12));
        const QString db = m_dir.filePath(heldThroughTheStop ? QStringLiteral("held-stop.db")
                                                             : QStringLiteral("freed-stop.db"));
        const QString station =
            heldThroughTheStop ? QStringLiteral("HELD-STOP") : QStringLiteral("FREED-STOP");
        const auto stopEvents = [&db] {
            return localColumn(db, QStringLiteral("SELECT ev_detail FROM events WHERE ev_detail "
                                                  "IN ('关闭', '未打开', '退出') ORDER BY ev_id"));
        };
        const auto lossEvents = [&db] {
            return localColumn(db, QStringLiteral("SELECT ev_detail FROM events WHERE ev_detail "
                                                  "LIKE '%停止时数据库不接受写入%'"));
        };
        RecorderRun recorder;
        startRecorder(recorder, 12, db, station);
        QTRY_VERIFY_WITH_TIMEOUT(goodRows(db) >= 2, kWaitMs);
        {
            OtherProgram other(db, QStringLiteral("stop-locker"));
            QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QTest::qWait(3000); // rows wait in memory meanwhile
            recorder.process.terminate();
            if (!heldThroughTheStop) {
                QTest::qWait(1000);
                QVERIFY(other.exec(QStringLiteral("COMMIT")));
            }
            QCOMPARE(recorder.wait(15000), 0);
            if (heldThroughTheStop)
                QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        const qint64 rows = rowCount(db);
        QCOMPARE(localNumber(db, QStringLiteral("SELECT newest_pv FROM sl_void")), rows);
        const QString &log = recorder.log;
        if (!heldThroughTheStop) {
            QVERIFY2(!log.contains(QStringLiteral("stopped before all was written")),
                     qPrintable(log));
            QCOMPARE(stopEvents(), (QStringList{"关闭", "未打开", "退出"}));
            QCOMPARE(lossEvents(), QStringList());
            // The seconds of the lock are there, up to the stop.
            QVERIFY(rows >= 5);
            QVERIFY(!QFile::exists(db + QStringLiteral("-unwritten-events")));
            return;
        }
        // One line names the rows that could not be written and their span.
        const QRegularExpression lost(
            QStringLiteral("address 1: stopped before all was written into %1 \\(locked by "
                           "another program\\): (\\d+) rows of the 1-second ring \\(([^)]+)\\)")
                .arg(QRegularExpression::escape(db)));
        const QRegularExpressionMatch match = lost.match(log);
        QVERIFY2(match.hasMatch(), qPrintable(log));
        QVERIFY(match.captured(1).toInt() >= 3);
        QCOMPARE(stopEvents(), QStringList());
        QVERIFY(QFile::exists(db + QStringLiteral("-unwritten-events")));

        // The next start writes what the stop kept, in the file's events.
        RecorderRun again;
        startRecorder(again, 12, db, station);
        QTRY_COMPARE_WITH_TIMEOUT(lossEvents().size(), 1, kWaitMs);
        QCOMPARE(again.stop(15000), 0);
        QVERIFY2(lossEvents().first().contains(
                     QStringLiteral("1 秒记录 %1 行 %2").arg(match.captured(1), match.captured(2))),
                 qPrintable(lossEvents().first() + QStringLiteral(" / ") + match.captured(0)));
        // The first stop's events, then the second's.
        QCOMPARE(stopEvents(), (QStringList{"关闭", "未打开", "退出", "关闭", "未打开", "退出"}));
        QVERIFY(!QFile::exists(db + QStringLiteral("-unwritten-events")));
    }

    // A stop sends its own last events to the historian within its budget,
    // not at the next start.
    void stopEventsReachTheServer()
    {
        Simulator simulator;
        QVERIFY(simulator.start(13));
        const QString db = m_dir.filePath(QStringLiteral("stop-events.db"));
        RecorderRun recorder;
        startRecorder(recorder, 13, db, "STOP-EVENTS");
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("STOP-EVENTS")) >= 3, kWaitMs);
        QCOMPARE(recorder.stop(15000), 0);
        const QString onServer = m_cluster.psql(QStringLiteral(
            "SELECT string_agg(detail, '|' ORDER BY local_id) FROM events WHERE station = "
            "'STOP-EVENTS' AND detail IN ('关闭', '未打开', '退出')"));
        QCOMPARE(onServer, QStringLiteral("关闭|未打开|退出"));
    }

    // Two instruments on one line: each into its own database and station; a
    // silent one records zeros and never the other's values.
    void severalAddressesOnOneLine()
    {
        Simulator simulator({QStringLiteral("--address"), QStringLiteral("3"),
                             QStringLiteral("--values"), QStringLiteral("300,301")});
        QVERIFY(simulator.start(2));
        const QString db = m_dir.filePath(QStringLiteral("line.db"));
        RecorderRun recorder;
        startRecorder(recorder, 2, db, "LINE", {"--address", "3,4"});
        const QString a3 = m_dir.filePath(QStringLiteral("line-a3.db"));
        const QString a4 = m_dir.filePath(QStringLiteral("line-a4.db"));
        const QString answered =
            QStringLiteral("SELECT count(*) FROM pv_data WHERE v0 = 300 AND v1 = 301");
        // On a loaded machine the first polls may come late: wait for them too.
        QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("LINE-a3")) >= 3 &&
                                     serverCount(QStringLiteral("LINE-a4")) >= 3 &&
                                     localNumber(a3, answered) >= 2,
                                 kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QVERIFY2(log.contains(QStringLiteral("address 4: instrument does not answer")),
                 qPrintable(log));
        QVERIFY(localNumber(a3, answered) >= 2);
        QCOMPARE(localNumber(a4, QStringLiteral("SELECT count(*) FROM pv_data WHERE v0 <> 0 OR "
                                                "v1 <> 0")),
                 0);
        QVERIFY(!QFile::exists(db));
        QCOMPARE(m_cluster.psql(QStringLiteral("SELECT string_agg(station || ':' || address, ',' "
                                               "ORDER BY station) FROM stations WHERE station "
                                               "LIKE 'LINE%'")),
                 QStringLiteral("LINE-a3:3,LINE-a4:4"));
    }

    // Two instruments on one line, the second silent: each database holds
    // its own instrument's journal, and the silent one's rows are no
    // readings while the first stays live and its rows good.
    void silentSecondAddressHasItsOwnState()
    {
        Simulator simulator({QStringLiteral("--values"), QStringLiteral("321,-12")});
        QVERIFY(simulator.start(7));
        const QString db = m_dir.filePath(QStringLiteral("pair.db"));
        const QString a1 = m_dir.filePath(QStringLiteral("pair-a1.db"));
        const QString a2 = m_dir.filePath(QStringLiteral("pair-a2.db"));
        RecorderRun recorder;
        startRecorder(recorder, 7, db, "PAIR", {"--address", "1,2"});
        QTRY_VERIFY_WITH_TIMEOUT(goodRows(a1) >= 4 && rowQualities(a2).size() >= 4, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QVERIFY2(log.contains(QStringLiteral("address 1: instrument answers")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral(
                     "address 2: instrument does not answer: no reply from address 2 in 94 ms")),
                 qPrintable(log));
        QVERIFY2(!log.contains(QStringLiteral("address 1: instrument does not answer")),
                 qPrintable(log));

        const QStringList first = linkEvents(a1);
        QVERIFY2(first.contains(QStringLiteral("在线")), qPrintable(first.join('|')));
        QVERIFY2(first.filter(QStringLiteral("无应答")).isEmpty(), qPrintable(first.join('|')));
        const QStringList second = linkEvents(a2);
        QVERIFY2(second.contains(QStringLiteral("无应答: 地址 2 在 94 ms 内无应答")),
                 qPrintable(second.join('|')));
        QVERIFY2(!second.contains(QStringLiteral("在线")), qPrintable(second.join('|')));
        for (const QString &path : {a1, a2}) {
            QVERIFY(linkEvents(path).contains(
                QStringLiteral("打开 9600 无校验 地址%1 成功").arg(path == a1 ? 1 : 2)));
            QCOMPARE(localColumn(path, QStringLiteral("SELECT ev_kind FROM events WHERE ev_kind "
                                                      "IN ('start', 'end', 'recording') ORDER "
                                                      "BY ev_id")),
                     (QStringList{"recording", "start", "end"}));
            // Readable by the recorder's user and group only.
            QCOMPARE(QFileInfo(path).permissions() & (QFile::ReadOther | QFile::WriteOther |
                                                      QFile::WriteGroup | QFile::ExeOther),
                     QFile::Permissions());
        }

        QVERIFY2(readingsFromTheFirstOn(rowQualities(a1)), qPrintable(rowQualities(a1).join(',')));
        const QStringList silent = rowQualities(a2);
        QVERIFY2(!silent.contains(QStringLiteral("192")), qPrintable(silent.join(',')));
        QVERIFY2(silent.contains(QStringLiteral("68")), qPrintable(silent.join(',')));
        QCOMPARE(silent.first(), QStringLiteral("8"));
    }

    // A line that loses one request in ten: no outage in the log or the
    // journal, and every row from the first reading on is good.
    void imperfectLineKeepsItsRowsGood()
    {
        Simulator simulator({QStringLiteral("--drop"), QStringLiteral("10")});
        QVERIFY(simulator.start(8));
        const QString db = m_dir.filePath(QStringLiteral("lossy.db"));
        RecorderRun recorder;
        startRecorder(recorder, 8, db, "LOSSY");
        // 8 s: about 16 polls and 48 requests, five of them lost.
        QTRY_VERIFY_WITH_TIMEOUT(goodRows(db) >= 8, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QVERIFY2(!log.contains(QStringLiteral("does not answer")), qPrintable(log));
        QVERIFY2(!log.contains(QStringLiteral("no answer")), qPrintable(log));
        const QStringList events = linkEvents(db);
        QVERIFY2(events.filter(QStringLiteral("无应答")).isEmpty(), qPrintable(events.join('|')));
        QVERIFY2(readingsFromTheFirstOn(rowQualities(db)), qPrintable(rowQualities(db).join(',')));
    }

    // An instrument that answers the value read with an exception: it is
    // live, but no row holds a reading.
    void exceptionRepliesAreNoReadings()
    {
        Simulator simulator({QStringLiteral("--exception"), QStringLiteral("1-16")});
        QVERIFY(simulator.start(9));
        const QString db = m_dir.filePath(QStringLiteral("refused.db"));
        RecorderRun recorder;
        startRecorder(recorder, 9, db, "REFUSED");
        QTRY_VERIFY_WITH_TIMEOUT(rowQualities(db).count(QStringLiteral("68")) >= 3, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QVERIFY2(log.contains(QStringLiteral("port 9: link: live")), qPrintable(log));
        QVERIFY2(log.contains(QStringLiteral("address 1: instrument answers")), qPrintable(log));
        const QStringList qualities = rowQualities(db);
        QVERIFY2(!qualities.contains(QStringLiteral("192")), qPrintable(qualities.join(',')));
        QVERIFY(linkEvents(db).contains(QStringLiteral("在线")));
    }

    // Another program locks the file: the recorder says so, with the reason
    // the strip gives, and says so again when it records once more.
    void logsWhyItCannotRecord()
    {
        Simulator simulator;
        QVERIFY(simulator.start(10));
        const QString db = m_dir.filePath(QStringLiteral("locked.db"));
        RecorderRun recorder;
        startRecorder(recorder, 10, db, "LOCKED");
        QTRY_VERIFY_WITH_TIMEOUT(
            recorder.logged(QStringLiteral("address 1: recording into ") + db) == 1, kWaitMs);
        {
            OtherProgram other(db, QStringLiteral("locker"));
            QVERIFY(other.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QTRY_VERIFY_WITH_TIMEOUT(
                recorder.logged(
                    QStringLiteral("address 1: cannot record into %1: locked by another program")
                        .arg(db)) == 1,
                kWaitMs);
            QVERIFY(other.exec(QStringLiteral("COMMIT")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            recorder.logged(QStringLiteral("address 1: recording resumed into ") + db) == 1,
            kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        QCOMPARE(recorder.log.count(QStringLiteral("cannot record into")), 1);
        // The journal has it too, once the file takes writes again.
        QVERIFY(localColumn(db, QStringLiteral("SELECT ev_detail FROM events WHERE ev_kind = "
                                               "'recording'"))
                    .contains(QStringLiteral("未记录: locked by another program")));
    }

    // The device goes away under the open port and comes back: the link
    // reopens it by itself and the recorder records the instrument's moving
    // values again, with no restart; each link state is one line.
    void resumesWhenTheDeviceReturns()
    {
        Simulator simulator;
        QVERIFY(simulator.start(4));
        const QString db = m_dir.filePath(QStringLiteral("replug.db"));
        RecorderRun recorder;
        startRecorder(recorder, 4, db, "REPLUG");
        QTRY_VERIFY_WITH_TIMEOUT(recorder.logged(QStringLiteral("port 4: link: live")) == 1,
                                 kWaitMs);

        QVERIFY(simulator.vanish());
        QTRY_VERIFY_WITH_TIMEOUT(recorder.logged(QStringLiteral("port 4: link: port lost: ")) == 1,
                                 kWaitMs);
        // Recording goes on while the device is away.
        const qint64 whileAway = localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data"));
        QTRY_VERIFY_WITH_TIMEOUT(localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data")) >
                                     whileAway + 2,
                                 kWaitMs);
        QVERIFY(simulator.comeBack());
        const qint64 back = localNumber(db, QStringLiteral("SELECT max(w_id) FROM pv_data"));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.logged(QStringLiteral("port 4: link: live")) == 2,
                                 kWaitMs);
        // Fresh readings: the simulator's first channel moves every second,
        // values kept from before the loss would stand still.
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(DISTINCT v0) FROM pv_data WHERE w_id > %1")
                                .arg(back)) >= 3,
            kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
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
        RecorderRun recorder;
        startRecorder(recorder, 6, db, "LATER");
        QTRY_VERIFY_WITH_TIMEOUT(
            recorder.logged(QStringLiteral("port 6: link: cannot open the port: ") + later) == 1,
            kWaitMs);
        QVERIFY(QFile::link(simulator.linkPath(), later));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.logged(QStringLiteral("port 6: link: live")) == 1,
                                 kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            localNumber(db, QStringLiteral("SELECT count(DISTINCT v0) FROM pv_data")) >= 3,
            kWaitMs);
        QCOMPARE(recorder.stop(), 0);
    }

    // The station name belongs to another tool (another PC's instrument):
    // the recorder is refused, says so once in its log, and records locally.
    void stationOfAnotherToolRefusedOnce()
    {
        Simulator simulator;
        QVERIFY(simulator.start(5));
        const QString db = m_dir.filePath(QStringLiteral("twin.db"));
        {
            RecorderRun first;
            startRecorder(first, 5, db, "TWIN-REC");
            QTRY_VERIFY_WITH_TIMEOUT(serverCount(QStringLiteral("TWIN-REC")) >= 1, kWaitMs);
            QCOMPARE(first.stop(), 0);
        }
        m_cluster.psql(QStringLiteral("UPDATE stations SET machine = 'another-pc', host = 'plc9', "
                                      "port = 3 WHERE station = 'TWIN-REC'"));
        const qint64 onServer = serverCount(QStringLiteral("TWIN-REC"));
        const qint64 local = rowCount(db);
        RecorderRun recorder;
        startRecorder(recorder, 5, db, "TWIN-REC");
        const QString refused =
            QStringLiteral("refused by the server: station: station name TWIN-REC belongs to "
                           "another tool (host plc9, port 3, address 1)");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.logged(refused), 1, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rowCount(db) >= local + 3, kWaitMs);
        QCOMPARE(recorder.logged(refused), 1);
        QCOMPARE(serverCount(QStringLiteral("TWIN-REC")), onServer);
        QCOMPARE(recorder.stop(), 0);
    }

    // An outage of the server is one line when it begins and one when it ends,
    // however many attempts fail between, each line whole on one line.
    void historianOutageLogsOneLinePerChange()
    {
        Simulator simulator;
        QVERIFY(simulator.start(7));
        const QString db = m_dir.filePath(QStringLiteral("outage.db"));
        RecorderRun recorder;
        startRecorder(recorder, 7, db, "OUTAGE");
        QTRY_COMPARE_WITH_TIMEOUT(recorder.logged(QStringLiteral("forwarder: forwarding")), 1,
                                  kWaitMs);
        QVERIFY(m_cluster.stop());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.logged(QStringLiteral("forwarder: server unreachable")),
                                  1, kWaitMs);
        QTest::qWait(8000); // attempts after 1, 2 and 4 s fail meanwhile
        QVERIFY(m_cluster.start());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.logged(QStringLiteral("forwarder: forwarding")), 2,
                                  kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        QCOMPARE(recorder.logged(QStringLiteral("forwarder: connecting")), 1);
        // The first failure may be the dropped session, the next ones the
        // missing socket: a new reason is a new line, a repeated one is not.
        QVERIFY2(recorder.logged(QStringLiteral("forwarder: server unreachable")) <= 2,
                 qPrintable(recorder.log));
        for (const QString &line : recorder.log.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            QVERIFY2(line.startsWith(QStringLiteral("zelmar: ")), qPrintable(line));
    }

    // An address that cannot be read never shows its password: not in the
    // recorder's log, not in an export's reason.
    void malformedAddressKeepsThePasswordOut_data()
    {
        QTest::addColumn<QString>("address");
        QTest::newRow("password in the query") << "postgresql://h/historian?password=s3cret&x=1";
        QTest::newRow("bad percent code") << "postgresql://op:s3cr%zzet@h/historian";
        QTest::newRow("unclosed quote") << "host=h dbname=historian password='s3cret";
    }
    void malformedAddressKeepsThePasswordOut()
    {
        QFETCH(QString, address);
        Simulator simulator;
        QVERIFY(simulator.start(8));
        const QString db =
            m_dir.filePath(QStringLiteral("secret-%1.db").arg(QTest::currentDataTag()));
        RecorderRun recorder;
        startRecorder(recorder, 8, db, "SECRET", {}, address);
        QTRY_VERIFY_WITH_TIMEOUT(
            recorder.logged(QStringLiteral("forwarder: historian address invalid")) > 0, kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(rowCount(db) >= 2, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        QVERIFY2(!recorder.log.contains(QStringLiteral("s3cr")), qPrintable(recorder.log));

        const ProgramRun exported = runWithoutDisplay(
            QStringLiteral(ZELMAR_PROGRAM),
            {QStringLiteral("--export-csv"), m_dir.filePath(QStringLiteral("secret.csv")),
             QStringLiteral("--from"), QStringLiteral("2026-12-07 08:00"), QStringLiteral("--to"),
             QStringLiteral("2026-12-07 09:00"), QStringLiteral("--db"), address});
        QCOMPARE(exported.code, 1);
        QVERIFY2(exported.error.contains(QStringLiteral("****")), qPrintable(exported.error));
        QVERIFY2(!exported.error.contains(QStringLiteral("s3cr")), qPrintable(exported.error));
    }

    // A SQLite file of another program, named as the database, is left as it
    // was, byte for byte (the forwarder's table included), and the log says why.
    void foreignDatabaseIsLeftUntouched()
    {
        Simulator simulator;
        QVERIFY(simulator.start(7));
        const QString db = m_dir.filePath(QStringLiteral("foreign.db"));
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), db);
            other.setDatabaseName(db);
            QVERIFY(other.open());
            QSqlQuery query(other);
            QVERIFY(query.exec(QStringLiteral("CREATE TABLE foreign_t (a, b)")));
            QVERIFY(query.exec(QStringLiteral("INSERT INTO foreign_t VALUES (1, 'kept')")));
        }
        QSqlDatabase::removeDatabase(db);
        const auto bytes = [&db] {
            QFile file(db);
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray before = bytes();
        QVERIFY(!before.isEmpty());

        RecorderRun recorder;
        startRecorder(recorder, 7, db, "FOREIGN");
        QTRY_VERIFY_WITH_TIMEOUT(
            recorder.logged(
                QStringLiteral("cannot record into %1: not a recording database").arg(db)) > 0,
            kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        QVERIFY2(!recorder.log.contains(QStringLiteral("recording into")),
                 qPrintable(recorder.log));
        QCOMPARE(bytes(), before);
    }

    // A historian address that cannot be used is said once; recording goes on.
    void badHistorianAddressRecordsLocally()
    {
        Simulator simulator;
        QVERIFY(simulator.start(3));
        const QString db = m_dir.filePath(QStringLiteral("local.db"));
        RecorderRun recorder;
        startRecorder(recorder, 3, db, "LOCAL", {}, QStringLiteral("mysql://u:p@h:3306/d"));
        QTRY_VERIFY_WITH_TIMEOUT(rowCount(db) >= 3, kWaitMs);
        QCOMPARE(recorder.stop(), 0);
        const QString &log = recorder.log;
        QCOMPARE(log.count(QStringLiteral("forwarder: historian address invalid: historian "
                                          "address must start with postgresql://")),
                 1);
    }
};

QTEST_GUILESS_MAIN(TestRecord)
#include "tst_record.moc"
