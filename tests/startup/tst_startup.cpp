#include "events.h"
#include "overviewwindow.h"
#include "poller.h"
#include "shared.h"
#include "splash.h"
#include "store.h"

#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

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

private slots:
    void initTestCase();
    void splashAsDesigned();
    void keysOnTheSplashDoNothing_data();
    void keysOnTheSplashDoNothing();
    void startUpHandsOverInOrder();
    void qtsOwnTextsInChinese_data();
    void qtsOwnTextsInChinese();
    void overviewRefusesTheCloseBox();
    // Last: once the tool has ended, no event loop of this process runs again.
    void exitEndsTheEventLoop();
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("ZELMAR_DB", QFile::encodeName(m_dir.filePath(QStringLiteral("Rdatabj.db"))));
    resetSharedState();
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

void TestStartup::overviewRefusesTheCloseBox()
{
    OverviewWindow *overview = ssqx();
    QVERIFY(overview->isVisible());
    QVERIFY(!overview->close());
    QVERIFY(overview->isVisible());
    QVERIFY(OverviewOpen);
    QVERIFY(overview->closeGuard());
    QCOMPARE(ssqx(), overview); // still the one instance
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
