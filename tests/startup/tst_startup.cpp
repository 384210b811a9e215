#include "commandline.h"
#include "events.h"
#include "immutablefile.h"
#include "keyrouting.h"
#include "otherprogram.h"
#include "overviewwindow.h"
#include "poller.h"
#include "savedialog.h"
#include "shared.h"
#include "splash.h"
#include "store.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

#include <sys/stat.h>

// The start-up sequence with the real event loop: the splash, its seven ticks
// and its hand-over to the overview, the poller and the recorder; the refused
// closes; the way out.
class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    static QWidget *topLevel(const QString &name)
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->objectName() == name)
                return widget;
        return nullptr;
    }
    // The visible dialog of class `className` (Qt's print or file dialog).
    static QWidget *dialogOf(const char *className)
    {
        for (QWidget *widget : QApplication::topLevelWidgets())
            if (widget->isVisible() && widget->inherits(className))
                return widget;
        return nullptr;
    }
    // Presses `key` as the operator would in `window`: it goes to the control
    // that has the focus there.
    static void press(QWidget *window, Qt::Key key)
    {
        QWidget *target = window->focusWidget() ? window->focusWidget() : window;
        QTest::keyClick(target, key);
    }
    static bool activate(QWidget *window)
    {
        window->activateWindow();
        return QTest::qWaitForWindowActive(window);
    }
    // Presses `key` in `from` and waits for the window named `name` it opens;
    // nullptr when none is shown.
    static QWidget *openBy(QWidget *from, Qt::Key key, const QString &name)
    {
        press(from, key);
        QWidget *opened = nullptr;
        const bool shown =
            QTest::qWaitFor([&] { return (opened = topLevel(name)) && opened->isVisible(); });
        return shown ? opened : nullptr;
    }
    // Whether the tool runs on as it did: the one overview, shown, guarding its close.
    static bool toolRunsOn(OverviewWindow *overview)
    {
        return overview->closeGuard() && OverviewOpen && overview->isVisible() &&
               ssqx() == overview;
    }
    // Starts the windowed tool as a process of its own, recording into `db`.
    static void startWindowedTool(QProcess &tool, const QString &db)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("ZELMAR_DB"), db);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        tool.setProcessEnvironment(environment);
        tool.setProcessChannelMode(QProcess::ForwardedChannels);
        tool.start(QStringLiteral(ZELMAR_PROGRAM), QStringList());
    }
    // What F1 and Esc did in another window.
    struct KeysSeen {
        int zoomBefore = 0;
        int zoomAfterF1 = 0;
        bool closedByEsc = false;
    };
    // Presses F1, then Esc, in `window`, which is left closed either way.
    static KeysSeen pressF1AndEsc(QWidget *window)
    {
        KeysSeen seen;
        seen.zoomBefore = ssqx()->chart().zoomLevel();
        activate(window);
        press(window, Qt::Key_F1);
        seen.zoomAfterF1 = ssqx()->chart().zoomLevel();
        press(window, Qt::Key_Escape);
        seen.closedByEsc = !window->isVisible();
        window->close();
        return seen;
    }
    // Opens the modal file dialog behind `button` of `window` and presses
    // F1 and Esc in it, while it runs its own event loop.
    static KeysSeen inFileDialog(QWidget *window, const QString &button)
    {
        KeysSeen seen;
        QTimer::singleShot(200, [&seen] {
            if (QWidget *dialog = dialogOf("QFileDialog"))
                seen = pressF1AndEsc(dialog);
        });
        QTest::mouseClick(window->findChild<QPushButton *>(button), Qt::LeftButton);
        return seen;
    }

private slots:
    void initTestCase();
    void splashAsDesigned();
    void keysOnTheSplashDoNothing_data();
    void keysOnTheSplashDoNothing();
    void startUpHandsOverInOrder();
    void qtsOwnTextsInChinese_data();
    void qtsOwnTextsInChinese();
    void saveDialogInChinese();
    void overviewRefusesTheCloseBox();
    void otherWindowsKeepTheirKeys_data();
    void otherWindowsKeepTheirKeys();
    void keysAddressedToAnotherWindowActThere_data();
    void keysAddressedToAnotherWindowActThere();
    void unwritableSharedMemoryLeavesTheToolRunning();
    // Last: once the tool has ended, no event loop of this process runs again.
    void newDatabaseIsTheOperatorsOwn_data();
    void newDatabaseIsTheOperatorsOwn();
    void exitEndsTheEventLoop();
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("ZELMAR_DB", QFile::encodeName(m_dir.filePath(QStringLiteral("Rdatabj.db"))));
    resetSharedState();
    nameTool();
}

void TestStartup::splashAsDesigned()
{
    QCOMPARE(ChartSpan, 0);
    QPointer<SplashWindow> splash = frmSplash();
    // The chart span is set before the overview first draws its chart.
    QCOMPARE(ChartSpan, kStartChartSpan);
    QCOMPARE(splash->size(), QSize(999, 348));
    QCOMPARE(splash->objectName(), QStringLiteral("frmSplash"));

    auto *label1 = splash->findChild<QLabel *>(QStringLiteral("Label1"));
    QVERIFY(label1);
    QCOMPARE(label1->text(), QStringLiteral("系统正在初始化数据引擎，请稍后。。。。。。"));
    QCOMPARE(label1->font().family(), QStringLiteral("宋体"));
    QCOMPARE(label1->font().pointSize(), 15);
    QVERIFY(!label1->font().bold());

    auto *timer2 = splash->findChild<QTimer *>(QStringLiteral("Timer2"));
    auto *timer1 = splash->findChild<QTimer *>(QStringLiteral("Timer1"));
    QVERIFY(timer2 && timer1);
    QVERIFY(timer2->isActive());
    QCOMPARE(timer2->interval(), 200);
    QVERIFY(!timer1->isActive());
    QCOMPARE(timer1->interval(), 100);

    delete splash;
    QVERIFY(handOverSteps().isEmpty());
}

void TestStartup::keysOnTheSplashDoNothing_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Esc") << int(Qt::Key_Escape) << int(Qt::NoModifier);
    QTest::newRow("Enter") << int(Qt::Key_Return) << int(Qt::NoModifier);
    QTest::newRow("Space") << int(Qt::Key_Space) << int(Qt::NoModifier);
    QTest::newRow("Alt+F4") << int(Qt::Key_F4) << int(Qt::AltModifier);
    QTest::newRow("a letter") << int(Qt::Key_Q) << int(Qt::ControlModifier);
}

void TestStartup::keysOnTheSplashDoNothing()
{
    QFETCH(int, key);
    QFETCH(int, modifiers);

    QPointer<SplashWindow> splash = frmSplash();
    splash->show();
    QVERIFY(QTest::qWaitForWindowExposed(splash));
    splash->activateWindow();
    QTest::keyClick(splash, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
    QTest::keyClick(splash->findChild<QLabel *>(QStringLiteral("Label1")), Qt::Key(key),
                    Qt::KeyboardModifiers(modifiers));
    QCoreApplication::processEvents();
    QVERIFY(splash);
    QVERIFY(splash->isVisible());
    QVERIFY(!topLevel(QStringLiteral("ssqx")));

    // A close from the window manager is refused too.
    QVERIFY(!splash->close());
    QVERIFY(splash->isVisible());
    delete splash;
}

void TestStartup::startUpHandsOverInOrder()
{
    QElapsedTimer sinceStart;
    sinceStart.start();
    startTool();
    QPointer<SplashWindow> splash = frmSplash();
    QVERIFY(splash->isVisible());

    // Seven 200 ms ticks, then one of 100 ms: nothing is handed over before
    // the seventh tick.
    QTest::qWait(1100);
    QVERIFY(splash && splash->isVisible());
    QVERIFY(!topLevel(QStringLiteral("ssqx")));
    QVERIFY(handOverSteps().isEmpty());
    QVERIFY(!OverviewOpen);

    QTRY_VERIFY_WITH_TIMEOUT(
        topLevel(QStringLiteral("ssqx")) && topLevel(QStringLiteral("ssqx"))->isVisible(), 5000);
    // Qt's coarse timers may fire up to 5 % early.
    QVERIFY2(sinceStart.elapsed() >= 1400 * 95 / 100,
             qPrintable(QString::number(sinceStart.elapsed())));

    QTRY_VERIFY(!splash); // unloaded
    QCOMPARE(handOverSteps(), (QStringList{QStringLiteral("frmSplash"), QStringLiteral("ssqx"),
                                           QStringLiteral("Met1"), QStringLiteral("mscom")}));
    QVERIFY(OverviewOpen);
    QVERIFY(!Met1()->isPolling()); // until "打开"
    QCOMPARE(ChartSpan, kStartChartSpan);
    auto *top = ssqx()->findChild<QLabel *>(QStringLiteral("Label5(6)"));
    QTRY_COMPARE(top->text(), QStringLiteral("1500"));
}

// Once started, the standard buttons of Qt's dialogs (print, save, message
// boxes) speak Chinese like the tool, and its calendars name months in Chinese.
void TestStartup::qtsOwnTextsInChinese_data()
{
    QTest::addColumn<int>("button");
    QTest::addColumn<QString>("text");
    QTest::newRow("OK") << int(QDialogButtonBox::Ok) << "确定";
    QTest::newRow("Cancel") << int(QDialogButtonBox::Cancel) << "取消";
    QTest::newRow("Save") << int(QDialogButtonBox::Save) << "保存";
    QTest::newRow("Open") << int(QDialogButtonBox::Open) << "打开";
    QTest::newRow("Close") << int(QDialogButtonBox::Close) << "关闭";
    QTest::newRow("Yes") << int(QDialogButtonBox::Yes) << "是(Y)";
    QTest::newRow("No") << int(QDialogButtonBox::No) << "否(N)";
}

void TestStartup::qtsOwnTextsInChinese()
{
    QFETCH(int, button);
    QFETCH(QString, text);
    QDialogButtonBox box{QDialogButtonBox::StandardButton(button)};
    QCOMPARE(box.button(QDialogButtonBox::StandardButton(button))->text().remove(u'&'), text);
    QCOMPARE(QLocale().monthName(12), QStringLiteral("十二月"));
}

// The save dialog's file list: the type of a folder in Chinese (a text
// Debian's qtbase_zh_CN lacks) and the dates in the tool's own form, not the
// system locale's English one.
void TestStartup::saveDialogInChinese()
{
    QCOMPARE(
        QCoreApplication::translate("QAbstractFileIconProvider", "Folder", "All other platforms"),
        QStringLiteral("文件夹"));
    QCOMPARE(fileTimeText(QDateTime(QDate(2026, 12, 7), QTime(8, 0, 5))),
             QStringLiteral("2026-12-07 08:00"));

    OverviewWindow *overview = ssqx();
    QVERIFY(activate(overview));
    QWidget *journal = openBy(overview, Qt::Key_F9, QStringLiteral("JournalWindow"));
    QVERIFY(journal);
    // The dialog opens in the working folder, which holds folders (CMakeFiles).
    QStringList types;
    QStringList dates;
    QTimer poll;
    int tries = 0;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto *dialog = qobject_cast<QDialog *>(dialogOf("QFileDialog"));
        auto *view = dialog ? dialog->findChild<QTreeView *>(QStringLiteral("treeView")) : nullptr;
        const QAbstractItemModel *files = view ? view->model() : nullptr;
        const int rows = files ? files->rowCount(view->rootIndex()) : 0;
        if (rows == 0 && ++tries < 100)
            return;
        for (int row = 0; row < rows; ++row) {
            types << files->index(row, 2, view->rootIndex()).data().toString();
            dates << files->index(row, 3, view->rootIndex()).data().toString();
        }
        poll.stop();
        if (dialog)
            dialog->reject();
    });
    poll.start(100);
    QTest::mouseClick(journal->findChild<QPushButton *>(QStringLiteral("ExportCsv")),
                      Qt::LeftButton);
    journal->close();
    QVERIFY2(types.contains(QStringLiteral("文件夹")), qPrintable(types.join(u',')));
    static const QRegularExpression toolForm(
        QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d$"));
    for (const QString &date : dates)
        QVERIFY2(toolForm.match(date).hasMatch(), qPrintable(date));
}

void TestStartup::overviewRefusesTheCloseBox()
{
    OverviewWindow *overview = ssqx();
    QVERIFY(overview->isVisible());
    QVERIFY(!overview->close());
    QVERIFY(toolRunsOn(overview)); // still the one instance, shown
}

// Opens the configuration window with its button "CONFIG", not a key.
constexpr int kConfigButton = -1;

void TestStartup::otherWindowsKeepTheirKeys_data()
{
    QTest::addColumn<int>("opener");     // the overview's key opening the window; 0: none
    QTest::addColumn<QString>("window"); // the window it opens
    QTest::addColumn<QString>("inside"); // "": the window; "F3": its print dialog; else the
                                         // button of its file dialog
    QTest::newRow("details view (F10)") << int(Qt::Key_F10) << "LinkDetails"
                                        << "";
    QTest::newRow("journal view (F9)") << int(Qt::Key_F9) << "JournalWindow"
                                       << "";
    QTest::newRow("journal's CSV file dialog") << int(Qt::Key_F9) << "JournalWindow"
                                               << "ExportCsv";
    QTest::newRow("history window (F8)") << int(Qt::Key_F8) << "HistoryWindow"
                                         << "";
    QTest::newRow("history's CSV file dialog") << int(Qt::Key_F8) << "HistoryWindow"
                                               << "exportCsvButton";
    QTest::newRow("history's print dialog") << int(Qt::Key_F8) << "HistoryWindow"
                                            << "F3";
    QTest::newRow("overview's print dialog (F3)") << 0 << "ssqx"
                                                  << "F3";
    QTest::newRow("configuration window") << kConfigButton << "CONFIG1"
                                          << "";
}

// The overview's keys are the overview's alone: in any other window F1 zooms
// nothing and Esc closes that window (or cancels the dialog), never the tool.
void TestStartup::otherWindowsKeepTheirKeys()
{
    QFETCH(int, opener);
    QFETCH(QString, window);
    QFETCH(QString, inside);
    OverviewWindow *overview = ssqx();
    QVERIFY(overview->isVisible());
    QVERIFY(activate(overview));
    QVERIFY(overview->chart().canZoomOut());

    QWidget *opened = overview;
    if (opener == kConfigButton) {
        QTest::mouseClick(overview->findChild<QPushButton *>(QStringLiteral("Command21")),
                          Qt::LeftButton);
        opened = topLevel(window);
        QVERIFY(opened && opened->isVisible());
        QVERIFY(!overview->isVisible());
    } else if (opener != 0) {
        QVERIFY((opened = openBy(overview, Qt::Key(opener), window)));
    }
    if (window == "LinkDetails") // the build the operator runs, named where the link is
        QCOMPARE(opened->findChild<QLabel *>(QStringLiteral("DetailVersion"))->text(),
                 QStringLiteral("程序版本 zelmar " ZELMAR_VERSION));
    KeysSeen seen;
    if (inside.isEmpty()) {
        seen = pressF1AndEsc(opened);
    } else if (inside == "F3") {
        QVERIFY(activate(opened));
        press(opened, Qt::Key_F3);
        QWidget *dialog = nullptr;
        QTRY_VERIFY((dialog = dialogOf("QPrintDialog")));
        seen = pressF1AndEsc(dialog);
    } else {
        seen = inFileDialog(opened, inside);
    }
    if (opened != overview && opened->isVisible())
        opened->close();
    QVERIFY(seen.zoomBefore > 0);
    QCOMPARE(seen.zoomAfterF1, seen.zoomBefore);
    QVERIFY(seen.closedByEsc);
    // Esc in the configuration window returns to the overview, as ever.
    QVERIFY(toolRunsOn(overview));
}

void TestStartup::keysAddressedToAnotherWindowActThere_data()
{
    QTest::addColumn<QString>("window");
    QTest::addColumn<int>("opener");
    QTest::newRow("details view") << "LinkDetails" << int(Qt::Key_F10);
    QTest::newRow("journal view") << "JournalWindow" << int(Qt::Key_F9);
    QTest::newRow("history window") << "HistoryWindow" << int(Qt::Key_F8);
}

// The window system addresses Esc to another window while the overview has
// the focus (`xdotool key --window ID Escape`): the X11 platform hands the key
// to the overview's focused control, as here; it must close that window only.
void TestStartup::keysAddressedToAnotherWindowActThere()
{
    QFETCH(QString, window);
    QFETCH(int, opener);
    OverviewWindow *overview = ssqx();
    QVERIFY(activate(overview));
    QWidget *opened = openBy(overview, Qt::Key(opener), window);
    QVERIFY(opened);
    QVERIFY(activate(overview));

    constexpr quint32 kEscapeScanCode = 9; // X11's key codes of Esc and F1
    constexpr quint32 kF1ScanCode = 67;
    static quint64 timestamp = 1000;
    ++timestamp;
    KeyRouting::noteAddressed(opened->winId(), kEscapeScanCode, timestamp);
    QWidget *focused = overview->focusWidget() ? overview->focusWidget() : overview;
    for (QEvent::Type type : {QEvent::ShortcutOverride, QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent key(type, Qt::Key_Escape, Qt::NoModifier, kEscapeScanCode, 0, 0);
        key.setTimestamp(timestamp);
        QApplication::sendEvent(focused, &key);
    }
    QTRY_VERIFY(!opened->isVisible());
    QVERIFY(toolRunsOn(overview));

    // A key the window system addressed to the overview itself is the overview's.
    const int zoom = overview->chart().zoomLevel();
    QVERIFY(overview->chart().canZoomOut());
    press(overview, Qt::Key(opener));
    QTRY_VERIFY(opened->isVisible());
    QVERIFY(activate(opened));
    ++timestamp;
    KeyRouting::noteAddressed(overview->winId(), kF1ScanCode, timestamp);
    QWidget *inOpened = opened->focusWidget() ? opened->focusWidget() : opened;
    QKeyEvent f1(QEvent::KeyPress, Qt::Key_F1, Qt::NoModifier, kF1ScanCode, 0, 0);
    f1.setTimestamp(timestamp);
    QApplication::sendEvent(inOpened, &f1);
    QCOMPARE(overview->chart().zoomLevel(), zoom + 1);
    QVERIFY(opened->isVisible());
    opened->close();
}

// The running tool, recorder, events and journal included, outlives a
// shared-memory file made immutable under it: each of its connections stops
// before SQLite would touch the mapping (which ends the process with SIGBUS).
void TestStartup::unwritableSharedMemoryLeavesTheToolRunning()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString db = dir.filePath(QStringLiteral("Rdatabj.db"));
    const QString shm = db + QStringLiteral("-shm");
    QProcess tool;
    startWindowedTool(tool, db);
    QVERIFY(tool.waitForStarted());
    // Recording for a while, its state written to the events table: every
    // connection has mapped the shared memory by then.
    const auto recorded = [&db] {
        OtherProgram look(db, QStringLiteral("look"));
        return look.value(QStringLiteral("SELECT COUNT(*) FROM events WHERE ev_kind = "
                                         "'recording'"))
                       .toInt() > 0 &&
               look.count(QStringLiteral("pv_data")) >= 3;
    };
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(shm) && recorded(), 20000);
    {
        ImmutableFile immutable(shm);
        if (!immutable.isImmutable()) {
            tool.kill();
            tool.waitForFinished();
            QSKIP("no immutable files here (chattr +i needs root)");
        }
        // The recorder notices at its next tick and says so to the events
        // log and the journal, which must queue instead of writing.
        QVERIFY(!tool.waitForFinished(3000));
        QCOMPARE(tool.state(), QProcess::Running);
    }
    tool.kill();
    tool.waitForFinished();
}

// The windowed tool makes its database, folder, -wal and -shm readable by the
// operator alone, whatever the umask; a file that exists keeps its mode.
void TestStartup::newDatabaseIsTheOperatorsOwn_data()
{
    QTest::addColumn<int>("existingMode"); // of a file there before the start; 0: none
    QTest::addColumn<int>("folderMode");
    QTest::addColumn<int>("fileMode"); // of the database, its -wal and its -shm
    QTest::newRow("fresh folder") << 0 << 0700 << 0600;
    QTest::newRow("existing file keeps its mode") << 0644 << 0755 << 0644;
}

void TestStartup::newDatabaseIsTheOperatorsOwn()
{
    QFETCH(int, existingMode);
    QFETCH(int, folderMode);
    QFETCH(int, fileMode);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const mode_t umaskBefore = ::umask(022);
    const auto restoreUmask = qScopeGuard([umaskBefore] { ::umask(umaskBefore); });
    const QString folder = dir.filePath(QStringLiteral("new/zelmar"));
    const QString db = folder + QStringLiteral("/Rdatabj.db");
    if (existingMode != 0) {
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
        QFile file(db);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QVERIFY(::chmod(QFile::encodeName(db).constData(), mode_t(existingMode)) == 0);
    }
    QProcess tool;
    startWindowedTool(tool, db);
    QVERIFY(tool.waitForStarted());
    const auto recorded = [&db] {
        OtherProgram look(db, QStringLiteral("look"));
        return look.count(QStringLiteral("pv_data")) >= 2;
    };
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(db + QStringLiteral("-shm")) &&
                                 QFileInfo::exists(db + QStringLiteral("-wal")) && recorded(),
                             20000);
    const auto mode = [](const QString &path) {
        struct stat info = {};
        return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 0777)
                                                                       : -1;
    };
    const int folderSeen = mode(folder);
    const int fileSeen = mode(db);
    const int walSeen = mode(db + QStringLiteral("-wal"));
    const int shmSeen = mode(db + QStringLiteral("-shm"));
    tool.kill();
    tool.waitForFinished();
    QCOMPARE(QString::number(folderSeen, 8), QString::number(folderMode, 8));
    QCOMPARE(QString::number(fileSeen, 8), QString::number(fileMode, 8));
    QCOMPARE(QString::number(walSeen, 8), QString::number(fileMode, 8));
    QCOMPARE(QString::number(shmSeen, 8), QString::number(fileMode, 8));
}

void TestStartup::exitEndsTheEventLoop()
{
    QPointer<OverviewWindow> overview = ssqx();
    QEventLoop loop;
    QTimer::singleShot(100, this, [&] {
        QTest::mouseClick(overview->findChild<QPushButton *>(QStringLiteral("Command1")),
                          Qt::LeftButton);
    });
    QTimer::singleShot(10000, &loop, [&] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);
    QVERIFY(!OverviewOpen);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!overview);

    // The journal holds the tool's start and its end.
    EventLog log(QStringLiteral("reader"));
    QVERIFY(log.open(databasePath()));
    // (Beside the link's and the recording's own events.)
    std::vector<EventKind> tool;
    for (const Event &event : log.newestEvents(10))
        if (event.kind == EventKind::ToolStart || event.kind == EventKind::ToolEnd)
            tool.push_back(event.kind);
    QCOMPARE(tool, (std::vector<EventKind>{EventKind::ToolEnd, EventKind::ToolStart}));
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
