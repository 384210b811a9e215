#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

// The project's own scripts, run as an administrator runs them: the format
// check on a source tree unpacked from an archive, on a machine without git.
class TestScripts : public QObject
{
    Q_OBJECT

private:
    static constexpr const char *kFormatted = "int f();\n";
    static constexpr const char *kUnformatted = "int  f( ) ;\n";

    // A folder of links to the few programs the format check needs, so that
    // the check runs with a PATH on which git cannot be found.
    QTemporaryDir m_bin;

    static bool write(const QString &path, const QByteArray &text)
    {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_bin.isValid());
        for (const char *tool :
             {"bash", "clang-format", "find", "sort", "sed", "head", "mktemp", "rm", "dirname"}) {
            const QString path = QStandardPaths::findExecutable(QString::fromLatin1(tool));
            QVERIFY2(!path.isEmpty(), tool);
            QVERIFY(QFile::link(path, m_bin.filePath(QString::fromLatin1(tool))));
        }
        QVERIFY(QStandardPaths::findExecutable(QStringLiteral("git"), {m_bin.path()}).isEmpty());
    }

    // Each row: the files of the tree (a name ending in '!' is written
    // unformatted), whether the check passes, and the names its report must
    // hold (each failing file with its line).
    void formatCheck_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QStringList>("named");

        QTest::newRow("every file formatted")
            << QStringList{"app/main.cpp", "core/clock.h"} << 0 << QStringList{"ok (2 files)"};
        QTest::newRow("one file off") << QStringList{"app/main.cpp", "core/clock.h!"} << 1
                                      << QStringList{"FAILED", "core/clock.h:1"};
        QTest::newRow("two files off, both named")
            << QStringList{"app/main.cpp!", "core/clock.h!", "core/daytime.cpp"} << 1
            << QStringList{"app/main.cpp:1", "core/clock.h:1"};
        QTest::newRow("a name with a blank")
            << QStringList{"app/my main.cpp!"} << 1 << QStringList{"app/my main.cpp:1"};
        QTest::newRow("build folders are not sources")
            << QStringList{"app/main.cpp", "build/gen/moc_x.cpp!", "build-debug/ui_x.h!"} << 0
            << QStringList{"ok (1 files)"};
        QTest::newRow("a folder named build below the root is source")
            << QStringList{"app/build/x.cpp!"} << 1 << QStringList{"app/build/x.cpp:1"};
        QTest::newRow("other files are not sources")
            << QStringList{"app/main.cpp", "README.md!", "app/CMakeLists.txt!"} << 0
            << QStringList{"ok (1 files)"};
        QTest::newRow("no sources at all")
            << QStringList{"README.md"} << 1 << QStringList{"FAILED", "no .cpp or .h file"};
    }

    void formatCheck()
    {
        QFETCH(QStringList, files);
        QFETCH(int, exitCode);
        QFETCH(QStringList, named);

        QTemporaryDir tree;
        QVERIFY(tree.isValid());
        QVERIFY(QFile::copy(QStringLiteral(ZELMAR_SOURCE_DIR "/.clang-format"),
                            tree.filePath(QStringLiteral(".clang-format"))));
        for (QString name : files) {
            const bool off = name.endsWith(QLatin1Char('!'));
            name.chop(off ? 1 : 0);
            QVERIFY(write(tree.filePath(name), off ? kUnformatted : kFormatted));
        }

        QProcess check;
        QProcessEnvironment environment;
        environment.insert(QStringLiteral("PATH"), m_bin.path());
        check.setProcessEnvironment(environment);
        check.setWorkingDirectory(tree.path());
        check.start(QStringLiteral(ZELMAR_SOURCE_DIR "/scripts/check-format.sh"), {tree.path()});
        QVERIFY(check.waitForFinished(60000));
        const QString report = QString::fromUtf8(check.readAllStandardOutput());
        QCOMPARE(check.exitStatus(), QProcess::NormalExit);
        QVERIFY2(check.exitCode() == exitCode, qPrintable(report));
        for (const QString &name : named)
            QVERIFY2(report.contains(name), qPrintable(report));
    }
};

QTEST_GUILESS_MAIN(TestScripts)
#include "tst_scripts.moc"
