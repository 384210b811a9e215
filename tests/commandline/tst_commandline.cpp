// The tool's one command line: which mode each command line asks for, and the
// real program's answers, exit codes and lines, run as a scheduled job or a
// user at a terminal without a display would run it.
#include "commandline.h"
#include "programrun.h"

#include <QTemporaryDir>
#include <QtTest>

Q_DECLARE_METATYPE(ToolMode)

class TestCommandLine : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

private slots:
    void modeOfACommandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<ToolMode>("mode");
        QTest::addColumn<QString>("named"); // in the usage error's line
        QTest::newRow("nothing: the windows") << QStringList{} << ToolMode::Windows << "";
        QTest::newRow("--help") << QStringList{"--help"} << ToolMode::Help << "";
        QTest::newRow("-h") << QStringList{"-h"} << ToolMode::Help << "";
        QTest::newRow("--version") << QStringList{"--version"} << ToolMode::Version << "";
        QTest::newRow("-v") << QStringList{"-v"} << ToolMode::Version << "";
        QTest::newRow("--help wins over --version")
            << QStringList{"--version", "--help"} << ToolMode::Help << "";
        QTest::newRow("--record") << QStringList{"--record"} << ToolMode::Record << "";
        QTest::newRow("--record reads its own options")
            << QStringList{"--record", "--port", "2", "--help"} << ToolMode::Record << "";
        QTest::newRow("--export-csv")
            << QStringList{"--export-csv", "a.csv", "--from", "x"} << ToolMode::ExportCsv << "";
        QTest::newRow("--export-csv=FILE")
            << QStringList{"--export-csv=a.csv"} << ToolMode::ExportCsv << "";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << ToolMode::Usage << "bogus";
        QTest::newRow("unknown short option") << QStringList{"-x"} << ToolMode::Usage << "x";
        QTest::newRow("unknown beside --help")
            << QStringList{"--help", "--bogus"} << ToolMode::Usage << "bogus";
        QTest::newRow("value missing")
            << QStringList{"--export-csv"} << ToolMode::Usage << "export-csv";
        QTest::newRow("value to an option without one")
            << QStringList{"--version=2"} << ToolMode::Usage << "version";
        QTest::newRow("an argument") << QStringList{"file.db"} << ToolMode::Usage << "file.db";
        QTest::newRow("--from alone") << QStringList{"--from", "2026-12-07 08:00"}
                                      << ToolMode::Usage << "--from belongs to --export-csv";
        QTest::newRow("--db alone")
            << QStringList{"--db", "x.db"} << ToolMode::Usage << "--db belongs to --export-csv";
    }
    void modeOfACommandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(ToolMode, mode);
        QFETCH(QString, named);
        const Invocation invocation = readInvocation(QStringList{"zelmar"} + arguments);
        QCOMPARE(invocation.mode, mode);
        QVERIFY2(invocation.error.contains(named), qPrintable(invocation.error));
        QCOMPARE(invocation.error.isEmpty(), named.isEmpty());
    }

    void displayNeeded_data()
    {
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<bool>("refused");
        QTest::newRow("none") << QStringList{} << true;
        QTest::newRow("empty DISPLAY") << QStringList{"DISPLAY="} << true;
        QTest::newRow("X") << QStringList{"DISPLAY=:0"} << false;
        QTest::newRow("Wayland") << QStringList{"WAYLAND_DISPLAY=wayland-0"} << false;
        QTest::newRow("a Qt platform named") << QStringList{"QT_QPA_PLATFORM=offscreen"} << false;
    }
    void displayNeeded()
    {
        QFETCH(QStringList, environment);
        QFETCH(bool, refused);
        QProcessEnvironment set;
        for (const QString &variable : environment)
            set.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        QCOMPARE(!noDisplayReason(set).isEmpty(), refused);
    }

    // The real program: its exit code, what standard output holds, and the
    // one line on standard error that names the fault.
    void theProgramAnswers_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("environment");
        QTest::addColumn<int>("code");
        QTest::addColumn<QStringList>("output"); // each in standard output
        QTest::addColumn<QString>("error");      // in the one line on standard error

        const QStringList none;
        QTest::newRow("--help names every mode")
            << QStringList{"--help"} << none << 0
            << QStringList{"--record", "--export-csv", "--from",    "--to",
                           "--ring",   "--db",         "--version", "zelmar --record --help"}
            << "";
        QTest::newRow("--version") << QStringList{"--version"} << none << 0
                                   << QStringList{"zelmar " ZELMAR_VERSION "\n"} << "";
        QTest::newRow("--record --help: the recorder's options")
            << QStringList{"--record", "--help"} << none << 0
            << QStringList{"--port", "--address", "--baud", "--parity", "--db"} << "";
        QTest::newRow("--record with an unknown option keeps its code")
            << QStringList{"--record", "--bogus"} << none << 2 << none << "bogus";
        QTest::newRow("unknown option") << QStringList{"--bogus"} << none << 1 << none << "bogus";
        QTest::newRow("unknown option with a display opens no window")
            << QStringList{"--bogus"} << QStringList{"QT_QPA_PLATFORM=offscreen"} << 1 << none
            << "bogus";
        QTest::newRow("value missing")
            << QStringList{"--export-csv"} << none << 1 << none << "export-csv";
        QTest::newRow("--to missing keeps the export's code")
            << QStringList{"--export-csv", "a.csv", "--from", "2026-12-07 08:00"} << none << 1
            << none << "--from and --to";
        QTest::newRow("no display") << QStringList{} << none << 1 << none << "no display";
        QTest::newRow("a display that is not there")
            << QStringList{} << QStringList{"DISPLAY=:97"} << 1 << none << "display";
    }
    void theProgramAnswers()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, environment);
        QFETCH(int, code);
        QFETCH(QStringList, output);
        QFETCH(QString, error);
        environment << QStringLiteral("HOME=") + m_dir.path()
                    << QStringLiteral("XDG_DATA_HOME=") + m_dir.path();
        const ProgramRun run =
            runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM), arguments, environment);
        QVERIFY2(run.code == code, qPrintable(QString::number(run.code) + u' ' + run.error));
        for (const QString &text : output)
            QVERIFY2(run.output.contains(text), qPrintable(run.output));
        if (error.isEmpty()) {
            QVERIFY2(run.error.isEmpty(), qPrintable(run.error));
        } else {
            QVERIFY2(run.error.startsWith(QStringLiteral("zelmar: ")), qPrintable(run.error));
            QVERIFY2(run.error.contains(error), qPrintable(run.error));
            QCOMPARE(run.error.count(u'\n'), 1);
            QVERIFY(run.error.endsWith(u'\n'));
        }
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
