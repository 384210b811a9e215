#include "chartsurface.h"
#include "clock.h"
#include "configwindow.h"
#include "daytime.h"
#include "grabbedcolours.h"
#include "immutablefile.h"
#include "keymap.h"
#include "livedisplay.h"
#include "modbuslink.h"
#include "notliveband.h"
#include "overviewwindow.h"
#include "poller.h"
#include "readabletext.h"
#include "recorder.h"
#include "recordingfixture.h"
#include "shared.h"
#include "simulator.h"
#include "trendchart.h"
#include "twips.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <algorithm>
#include <array>
#include <memory>

// The overview window, the port connection, the poller and the live display,
// with the real windows found by objectName and the real link against zelmar-sim.
class TestOverview : public QObject
{
    Q_OBJECT

private:
    static constexpr int kPortCount = 20;
    // Waiting for the poller: its first tick comes 500 ms after "打开".
    static constexpr int kPollWaitMs = 3000;

    QTemporaryDir m_dir;
    OverviewWindow *m_window = nullptr;

    template <typename T> T *control(const QString &name) const
    {
        T *found = m_window->findChild<T *>(name);
        if (!found)
            qWarning("no control %s", qPrintable(name));
        return found;
    }
    QLabel *label(const QString &name) const { return control<QLabel>(name); }
    QPushButton *button(const QString &name) const { return control<QPushButton>(name); }
    static QColor background(const QWidget *widget)
    {
        return widget->palette().color(QPalette::Window);
    }
    void selectPort(const QString &text) { control<QComboBox>("Combo1")->setEditText(text); }
    void clickOpen() { QTest::mouseClick(button("Command9"), Qt::LeftButton); }
    void clickClose() { QTest::mouseClick(button("Command10"), Qt::LeftButton); }

    // Loads the window anew on the database ZELMAR_DB names and shows it.
    bool reloadWindow();
    // The recording database of the chart tests: value 0 of each record is its id.
    std::unique_ptr<RecordingFixture> m_recording;
    bool loadOnRecording(qint32 newestId, int count);
    bool recordPv(qint32 id, int secondsAfterNoon);
    // The overview and a recorder of its own on `path`, the clock fixed at noon
    // of 7 December 2026.
    std::unique_ptr<Recorder> m_recorder;
    QTemporaryDir m_toolDir;
    qint64 m_secondsRun = 0;
    bool startToolOn(const QString &path);
    // One second of that tool: ProcessValues[0] = value, the recorder's tick,
    // then the overview's running timers.
    void runSecond(float value);
    void press(Qt::Key key) { QTest::keyClick(m_window, key); }
    // One 200 ms tick of the live display, run at once.
    void tick() { QMetaObject::invokeMethod(m_window->displayTimer(), "timeout"); }
    const TrendChart &chart() const { return m_window->chart(); }
    float bufferValue(int position) const { return chart().buffer().values[0][position]; }
    QStringList texts(const char *name, int count) const
    {
        QStringList shown;
        for (int i = 0; i < count; ++i)
            shown << label(QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(i))->text();
        return shown;
    }
private slots:
    void initTestCase();
    void init();
    void cleanup();

    // Plain computation of the display and the key map.
    void scaleLabels_data();
    void scaleLabels();
    void boxLooks_data();
    void boxLooks();
    void keyMap_data();
    void keyMap();
    void keyMapInAList();

    // The window.
    void designedControls_data();
    void designedControls();
    void defaultsAtStart();
    void openStoresTheSettings_data();
    void openStoresTheSettings();
    void closeBeforeAnyOpening();
    void closeUsesThePortOfTheLastOpening();
    void pollerFillsTheTablesAndKeepsThemWhenClosed();
    void badLinksKeepTheLastValues_data();
    void badLinksKeepTheLastValues();
    void bitSlotsOutsideAByteChangeNothing_data();
    void bitSlotsOutsideAByteChangeNothing();
    void displayShowsTheTables();
    void relaysCloseAndOpen();
    void scaleLabelsFollowTheRange();
    void colouredControlsShowTheirColours_data();
    void colouredControlsShowTheirColours();
    void everyListEntryReadable();

    // The trend chart on the window, against a recording database.
    void stepBackThroughHistory();
    void youngDatabaseRefusesStepBackAndStaysLive();
    void sliderPagesAtItsEnds();
    void rulerOnAndOffWhileShifted();
    void zoomSteps_data();
    void zoomSteps();
    void liveChartGrowsAndTurnsItsPage();
    void rangeEditor_data();
    void rangeEditor();
    void doubleClickShowsTheRangeEditor();
    void clockReadout();
    void chartWithoutDatabase();
    void chartFollowsTheRecordersDatabase_data();
    void chartFollowsTheRecordersDatabase();
    void f6AfterTheRulerStaysShifted_data();
    void f6AfterTheRulerStaysShifted();
    void alarmPanelGoesOnWhileLookingAtHistory();
    void scaleLabelsFollowTheCurvesWhileNotLive();
    void youngDatabaseShowsOnlyWhatItHolds();
    void axisLabelsShowTheirWholeText();
    void curvesHaveTheColoursOfTheirTitles();
    void unwritableSharedMemoryClosesTheChartsConnection();

    // The recorder: created once, it runs until the program ends.
    void closeBoxIsRefusedAndChangesNothing();
    void configHidesTheOverviewWhileTheDisplayRuns();
    void escInAnOpenListClosesTheListOnly_data();
    void escInAnOpenListClosesTheListOnly();
    void exitEndsTheEventLoop_data();
    void exitEndsTheEventLoop();
};

void TestOverview::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("ZELMAR_DB", QFile::encodeName(m_dir.filePath(QStringLiteral("Rdatabj.db"))));
    QApplication::setQuitOnLastWindowClosed(false);
}

void TestOverview::init()
{
    resetSharedState();
    ChartSpan = kStartChartSpan;
    // No port reaches a real device: every port without a simulator has none.
    for (int port = 1; port <= kPortCount; ++port) {
        qputenv(QByteArray("ZELMAR_PORT_") + QByteArray::number(port),
                QFile::encodeName(m_dir.filePath(QStringLiteral("no-device-%1").arg(port))));
    }
    QVERIFY(reloadWindow());
}

void TestOverview::cleanup()
{
    Met1()->stopPolling();
    Met1()->setReads(PollerReads::link());
    for (int port = 1; port <= kPortCount; ++port)
        ClosePort_Modbus(port);
    delete m_window;
    m_window = nullptr;
    m_recorder.reset();
    m_recording.reset();
    qputenv("ZELMAR_DB", QFile::encodeName(m_dir.filePath(QStringLiteral("Rdatabj.db"))));
    SystemClock::setSource({});
}

bool TestOverview::reloadWindow()
{
    delete m_window;
    m_window = new OverviewWindow;
    m_window->show();
    return QTest::qWaitForWindowExposed(m_window);
}

// Loads the window again on a recording database of `count` records one second
// apart, the newest, `newestId`, at noon of 7 December 2026.
bool TestOverview::loadOnRecording(qint32 newestId, int count)
{
    delete m_window;
    m_window = nullptr;
    m_recording = std::make_unique<RecordingFixture>(QStringLiteral("test-recording"));
    if (!m_recording->isReady() || !m_recording->fillRing(newestId, count))
        return false;
    qputenv("ZELMAR_DB", QFile::encodeName(m_recording->path()));
    return reloadWindow();
}

// One recording as the recorder makes it, value 0 holding the id.
bool TestOverview::recordPv(qint32 id, int secondsAfterNoon)
{
    const qint64 moment = RecordingFixture::noon() + secondsAfterNoon;
    std::array<float, kRecordedValueCount> values{};
    values[0] = float(id);
    return recordRow(m_recording->store(), RecordTable::PvData, id,
                     RecordingFixture::dateOf(moment), RecordingFixture::timeOf(moment), values);
}

bool TestOverview::startToolOn(const QString &path)
{
    qputenv("ZELMAR_DB", QFile::encodeName(path));
    SystemClock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)));
    m_secondsRun = 0;
    delete m_window;
    m_window = nullptr;
    m_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("test-recorder"));
    m_recorder->load(path);
    return reloadWindow();
}

void TestOverview::runSecond(float value)
{
    SystemClock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0, 0)).addSecs(++m_secondsRun));
    ProcessValues[0] = value;
    m_recorder->tick();
    if (m_window->displayTimer()->isActive())
        tick();
    QMetaObject::invokeMethod(m_window->chartTimer(), "timeout");
}

// ---- Plain computation ----

void TestOverview::scaleLabels_data()
{
    QTest::addColumn<qint32>("span");
    QTest::addColumn<qint32>("low");
    QTest::addColumn<QStringList>("labels"); // bottom to top

    QTest::newRow("start range") << 1500 << 0
                                 << QStringList{"0", "250", "500", "750", "1000", "1250", "1500"};
    // 1000 / 6 is not exact: each product is rounded on its own, halves to even.
    QTest::newRow("span 1000 from -200")
        << 1000 << -200 << QStringList{"-200", "-33", "133", "300", "467", "633", "800"};
    QTest::newRow("span 1200 from -200")
        << 1200 << -200 << QStringList{"-200", "0", "200", "400", "600", "800", "1000"};
    QTest::newRow("zero span") << 0 << 0 << QStringList{"0", "0", "0", "0", "0", "0", "0"};
    // 15 / 6 = 2.5: the halves go to the even neighbour.
    QTest::newRow("halves to even") << 15 << 0 << QStringList{"0", "2", "5", "8", "10", "12", "15"};
    QTest::newRow("span beyond 16 bits")
        << 48000 << -12000
        << QStringList{"-12000", "-4000", "4000", "12000", "20000", "28000", "36000"};
}

void TestOverview::scaleLabels()
{
    QFETCH(qint32, span);
    QFETCH(qint32, low);
    QFETCH(QStringList, labels);
    QStringList shown;
    for (int i = 0; i < LiveDisplay::kScaleLabels; ++i)
        shown << LiveDisplay::scaleLabelText(i, span, low);
    QCOMPARE(shown, labels);
}

void TestOverview::boxLooks_data()
{
    QTest::addColumn<bool>("relay"); // D_1R, else D_2R
    QTest::addColumn<int>("index");
    QTest::addColumn<qint32>("state");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QColor>("colour");

    const QColor set(255, 192, 192);
    const QColor clear(192, 255, 255);
    const QColor open(128, 255, 128);
    QTest::newRow("channel 1 alarm") << false << 0 << 1 << QStringLiteral("通道一报警") << set;
    QTest::newRow("channel 1 open") << false << 1 << 1 << QStringLiteral("通道一开路") << set;
    QTest::newRow("channel 3 short") << false << 8 << 1 << QStringLiteral("通道三短路") << set;
    QTest::newRow("channel 4 short") << false << 11 << 1 << QStringLiteral("通道四短路") << set;
    QTest::newRow("alarm 1") << false << 12 << 1 << QStringLiteral("1有报警") << set;
    QTest::newRow("alarm 4") << false << 15 << 1 << QStringLiteral("4有报警") << set;
    QTest::newRow("any non-zero state is set")
        << false << 5 << -1 << QStringLiteral("通道二短路") << set;
    QTest::newRow("clear is three blanks") << false << 0 << 0 << QStringLiteral("   ") << clear;
    QTest::newRow("last box clear") << false << 15 << 0 << QStringLiteral("   ") << clear;

    for (int i = 0; i < LiveDisplay::kRelayBoxes; ++i)
        QTest::addRow("relay %d closed", i + 1) << true << i << 1 << QStringLiteral(" 闭合") << set;
    // Relays 1 and 3 open with three trailing blanks, 2 and 4 with two.
    QTest::newRow("relay 1 open") << true << 0 << 0 << QStringLiteral(" 断开   ") << open;
    QTest::newRow("relay 2 open") << true << 1 << 0 << QStringLiteral(" 断开  ") << open;
    QTest::newRow("relay 3 open") << true << 2 << 0 << QStringLiteral(" 断开   ") << open;
    QTest::newRow("relay 4 open") << true << 3 << 0 << QStringLiteral(" 断开  ") << open;
}

void TestOverview::boxLooks()
{
    QFETCH(bool, relay);
    QFETCH(int, index);
    QFETCH(qint32, state);
    QFETCH(QString, text);
    QFETCH(QColor, colour);
    const LiveDisplay::BoxLook look =
        relay ? LiveDisplay::relayLook(index, state) : LiveDisplay::statusLook(index, state);
    QCOMPARE(look.text, text);
    QCOMPARE(look.background, colour);
}

void TestOverview::keyMap_data()
{
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("holds"); // the key's condition
    QTest::addColumn<KeyAction>("action");

    QTest::newRow("F2 when it cannot zoom in") << int(Qt::Key_F2) << false << KeyAction::Nothing;
    QTest::newRow("F2") << int(Qt::Key_F2) << true << KeyAction::ZoomIn;
    QTest::newRow("F1 when it cannot zoom out") << int(Qt::Key_F1) << false << KeyAction::Nothing;
    QTest::newRow("F1") << int(Qt::Key_F1) << true << KeyAction::ZoomOut;
    QTest::newRow("F6 when live") << int(Qt::Key_F6) << false << KeyAction::Nothing;
    QTest::newRow("F6") << int(Qt::Key_F6) << true << KeyAction::StepTowardsLive;
    QTest::newRow("F7 at the oldest") << int(Qt::Key_F7) << false << KeyAction::Nothing;
    QTest::newRow("F7") << int(Qt::Key_F7) << true << KeyAction::StepBack;
    QTest::newRow("F4 always") << int(Qt::Key_F4) << false << KeyAction::ToggleRuler;
    QTest::newRow("F3 prints") << int(Qt::Key_F3) << false << KeyAction::Print;
    QTest::newRow("F8 opens the history") << int(Qt::Key_F8) << false << KeyAction::History;
    QTest::newRow("F9 opens the journal") << int(Qt::Key_F9) << false << KeyAction::ShowJournal;
    QTest::newRow("F5 has no action") << int(Qt::Key_F5) << true << KeyAction::Nothing;
    QTest::newRow("F11 acknowledges the alarms")
        << int(Qt::Key_F11) << false << KeyAction::AcknowledgeAlarms;
    QTest::newRow("F12 is the control's") << int(Qt::Key_F12) << true << KeyAction::NotMapped;
    QTest::newRow("Esc exits") << int(Qt::Key_Escape) << false << KeyAction::Exit;
    QTest::newRow("a letter is the control's") << int(Qt::Key_A) << true << KeyAction::NotMapped;
}

void TestOverview::keyMapInAList()
{
    // Esc aimed at an open list is the list's; every other key is as anywhere.
    for (bool holds : {false, true}) {
        const KeyConditions outside{holds, holds, holds, holds, false};
        KeyConditions inList = outside;
        inList.inList = true;
        QCOMPARE(keyAction(Qt::Key_Escape, inList), KeyAction::NotMapped);
        for (int key : {Qt::Key_F1, Qt::Key_F2, Qt::Key_F3, Qt::Key_F4, Qt::Key_F5, Qt::Key_F6,
                        Qt::Key_F7, Qt::Key_A})
            QCOMPARE(keyAction(key, inList), keyAction(key, outside));
    }
}

void TestOverview::keyMap()
{
    QFETCH(int, key);
    QFETCH(bool, holds);
    QFETCH(KeyAction, action);
    // Only the pressed key's own condition counts, whatever the others are.
    for (bool others : {false, true}) {
        KeyConditions can{others, others, others, others};
        switch (key) {
        case Qt::Key_F2:
            can.zoomIn = holds;
            break;
        case Qt::Key_F1:
            can.zoomOut = holds;
            break;
        case Qt::Key_F6:
            can.stepTowardsLive = holds;
            break;
        case Qt::Key_F7:
            can.stepBack = holds;
            break;
        }
        QCOMPARE(keyAction(key, can), action);
    }
}

// ---- The window ----

void TestOverview::designedControls_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QRect>("twips"); // left, top, width, height in the container

    QTest::newRow("port frame") << "Frame6"
                                << "通讯端口选择" << QRect(60, 0, 2115, 585);
    QTest::newRow("port list") << "Combo1"
                               << "1 " << QRect(990, 210, 1005, 300);
    QTest::newRow("address frame") << "Frame5(0)"
                                   << "模块地址" << QRect(2220, 0, 2175, 585);
    QTest::newRow("address list") << "Combo2"
                                  << "1 " << QRect(960, 210, 1095, 300);
    QTest::newRow("baud frame") << "Frame2(1)"
                                << "波特率" << QRect(4470, 0, 2865, 585);
    QTest::newRow("parity frame") << "Frame5(1)"
                                  << "校验方式" << QRect(7410, 0, 3255, 585);
    QTest::newRow("open") << "Command9"
                          << "打开" << QRect(10770, 120, 825, 435);
    QTest::newRow("close") << "Command10"
                           << "关闭" << QRect(11730, 120, 825, 435);
    // The load writes the first visible sample into the read-out and the clock
    // follows: their design captions are never seen (an unchecked caption).
    QTest::newRow("date read-out") << "Label2(9)" << QString() << QRect(12750, 240, 1245, 285);
    QTest::newRow("time read-out") << "Label2(10)" << QString() << QRect(14010, 240, 1305, 285);
    QTest::newRow("value strip") << "Frame4"
                                 << "" << QRect(60, 690, 15315, 1005);
    QTest::newRow("channel 1 box") << "D_3W(0)"
                                   << "0" << QRect(1110, 360, 1200, 350);
    QTest::newRow("retransmission box") << "D_3W(4)"
                                        << "0" << QRect(13950, 360, 1200, 350);
    QTest::newRow("alarm panel") << "Frame9"
                                 << "ALM" << QRect(15480, 90, 1335, 9525);
    QTest::newRow("function frame") << "Frame3"
                                    << "功能" << QRect(13920, 1860, 1395, 7725);
    QTest::newRow("F1") << "Command4"
                        << "F1 缩小" << QRect(150, 300, 1095, 405);
    QTest::newRow("F2") << "Command3"
                        << "F2 放大" << QRect(150, 1268, 1095, 405);
    QTest::newRow("F3") << "Command2"
                        << "F3 打印" << QRect(150, 2236, 1095, 405);
    QTest::newRow("F4") << "Command5"
                        << "F4 标尺" << QRect(150, 3204, 1095, 405);
    QTest::newRow("F5") << "Command6"
                        << "F5 选择" << QRect(150, 4172, 1095, 405);
    QTest::newRow("F6") << "Command7"
                        << "F6 左移" << QRect(150, 5140, 1095, 405);
    QTest::newRow("F7") << "Command8"
                        << "F7 右移" << QRect(150, 6108, 1095, 405);
    QTest::newRow("history") << "Command29"
                             << "历史曲线" << QRect(150, 7080, 1095, 405);
    QTest::newRow("slider") << "hc"
                            << "" << QRect(1500, 1740, 12255, 285);
    QTest::newRow("outer chart") << "pt0"
                                 << "" << QRect(1620, 2040, 12010, 7510);
    QTest::newRow("chart") << "pt"
                           << "" << QRect(0, 30, 12008, 7508);
    QTest::newRow("scale panel") << "Frame2(0)"
                                 << "" << QRect(60, 1740, 1275, 8025);
    QTest::newRow("upper limit") << "YKD"
                                 << "" << QRect(1110, 10650, 615, 285);
    QTest::newRow("lower limit") << "YKD1"
                                 << "0" << QRect(2820, 10650, 615, 285);
    QTest::newRow("apply range") << "Command26"
                                 << "修改Y" << QRect(3480, 10650, 675, 315);
    QTest::newRow("bottom frame") << "Frame11"
                                  << "" << QRect(4440, 10320, 8835, 645);
    QTest::newRow("config") << "Command21"
                            << "CONFIG" << QRect(360, 180, 1095, 405);
    QTest::newRow("exit") << "Command1"
                          << "退出" << QRect(7440, 180, 1095, 405);
}

void TestOverview::designedControls()
{
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);

    QWidget *widget = control<QWidget>(name);
    QVERIFY(widget);
    QCOMPARE(widget->geometry(), twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    QString shown;
    if (auto *l = qobject_cast<QLabel *>(widget))
        shown = l->text();
    else if (auto *b = qobject_cast<QAbstractButton *>(widget))
        shown = b->text();
    else if (auto *f = qobject_cast<QGroupBox *>(widget))
        shown = f->title();
    else if (auto *c = qobject_cast<QComboBox *>(widget))
        shown = c->currentText();
    else if (auto *e = qobject_cast<QLineEdit *>(widget))
        shown = e->text();
    if (!caption.isNull())
        QCOMPARE(shown, caption);
}

void TestOverview::defaultsAtStart()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("过程控制仪表 ZELMAR  OverView"));
    // The designed client area, and the status strip below it.
    QCOMPARE(m_window->size(), QSize(1129, 739 + twipsToPixels(375)));
    QCOMPARE(m_window->minimumSize(), m_window->maximumSize());

    auto *ports = control<QComboBox>("Combo1");
    QCOMPARE(ports->count(), 20);
    QCOMPARE(ports->itemText(19), QStringLiteral("20 "));
    auto *addresses = control<QComboBox>("Combo2");
    QCOMPARE(addresses->count(), 16);
    QCOMPARE(addresses->itemText(15), QStringLiteral("16 "));
    QVERIFY(control<QRadioButton>("Option1(1)")->isChecked());
    QCOMPARE(control<QRadioButton>("Option1(1)")->text(), QStringLiteral("9600"));
    QVERIFY(control<QRadioButton>("Option2(0)")->isChecked());
    QCOMPARE(control<QRadioButton>("Option2(0)")->text(), QStringLiteral("无校验"));

    for (const char *disabled : {"Command3", "Command7", "Command6"})
        QVERIFY2(!button(disabled)->isEnabled(), disabled);
    for (const char *enabled :
         {"Command4", "Command5", "Command8", "Command21", "Command1", "Command2", "Command29"})
        QVERIFY2(button(enabled)->isEnabled(), enabled);

    auto *slider = control<QSlider>("hc");
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->minimum(), -1);
    QCOMPARE(slider->maximum(), 12001);
    QCOMPARE(slider->value(), 0);
    QVERIFY(!(slider->focusPolicy() & Qt::TabFocus));

    QCOMPARE(control<ChartSurface>("pt")->size(), QSize(801, 501));
    QCOMPARE(background(control<QWidget>("pt0")), QColor(192, 192, 255));

    QCOMPARE(slider->singleStep(), 150);
    QCOMPARE(slider->pageStep(), 150);
    QCOMPARE(button("Command5")->text(), QStringLiteral("F4 标尺"));
    QCOMPARE(background(m_window->rulerLine()), QColor(192, 192, 255));
    QCOMPARE(m_window->rulerLine()->geometry(), QRect(0, 0, 1, 396));

    const TrendChart &chart = m_window->chart();
    QCOMPARE(chart.zoomLevel(), 1);
    QCOMPARE(chart.shiftCount(), 0);
    QVERIFY(!chart.atOldest());
    QVERIFY(!chart.rulerIsOn());
    QCOMPARE(chart.writePosition(), 241);
    QCOMPARE(chart.windowLength(), 241);
    QCOMPARE(chart.windowEndId(), chart.newestPvId());
    // The empty database still gives a drawn chart: the grid, and no curve where
    // nothing was recorded.
    QCOMPARE(m_window->chartSurface()->strokes().size(), 62);
    QVERIFY(m_window->chartTimer()->isActive());
    QCOMPARE(m_window->chartTimer()->interval(), 1000);
    QVERIFY(m_window->clockTimer()->isActive());
    QCOMPARE(m_window->clockTimer()->interval(), 1000);

    QVERIFY(OverviewOpen);
    QVERIFY(m_window->closeGuard());
    QVERIFY(m_window->displayTimer()->isActive());
    QCOMPARE(m_window->displayTimer()->interval(), 200);
    // The panel's boxes go with Timer1's tick; their own runs only while it is stopped.
    QVERIFY(!m_window->panelTimer()->isActive());
    QCOMPARE(m_window->panelTimer()->interval(), 200);
    QVERIFY(!Met1()->isPolling());

    // Before any poll the tables are zero: 0 in the value boxes, blank status
    // boxes on light cyan, open relays on light green.
    QTRY_COMPARE(label("D_2R(0)")->text(), QStringLiteral("   "));
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("0"));
    QCOMPARE(background(label("D_2R(15)")), QColor(192, 255, 255));
    QCOMPARE(label("D_1R(0)")->text(), QStringLiteral(" 断开   "));
    QCOMPARE(label("Label5(6)")->text(), QStringLiteral("1500"));
}

void TestOverview::openStoresTheSettings_data()
{
    QTest::addColumn<QString>("portText");
    QTest::addColumn<int>("baud");
    QTest::addColumn<int>("parity");
    QTest::addColumn<QString>("addressText");
    QTest::addColumn<QList<qint32>>("settings"); // CommSettings 0..3

    QTest::newRow("defaults") << "1 " << 1 << 0 << "1 " << QList<qint32>{1, 1, 0, 1};
    QTest::newRow("last entries") << "20 " << 2 << 2 << "16 " << QList<qint32>{20, 2, 2, 16};
    QTest::newRow("4800 odd") << "7 " << 0 << 1 << "3 " << QList<qint32>{7, 0, 1, 3};
    QTest::newRow("edited COM3") << "COM3" << 1 << 0 << "1 " << QList<qint32>{0, 1, 0, 1};
    QTest::newRow("empty texts") << "" << 1 << 0 << "" << QList<qint32>{0, 1, 0, 0};
    QTest::newRow("blanks and digits") << " 1 2x" << 1 << 0 << "2.5" << QList<qint32>{12, 1, 0, 2};
}

void TestOverview::openStoresTheSettings()
{
    QFETCH(QString, portText);
    QFETCH(int, baud);
    QFETCH(int, parity);
    QFETCH(QString, addressText);
    QFETCH(QList<qint32>, settings);

    button("Command10")->click(); // "CONFIG" disabled, so that the opening shows
    QVERIFY(!button("Command21")->isEnabled());

    control<QComboBox>("Combo1")->setEditText(portText);
    control<QComboBox>("Combo2")->setEditText(addressText);
    QTest::mouseClick(control<QRadioButton>(QStringLiteral("Option1(%1)").arg(baud)),
                      Qt::LeftButton);
    QTest::mouseClick(control<QRadioButton>(QStringLiteral("Option2(%1)").arg(parity)),
                      Qt::LeftButton);
    clickOpen();

    QCOMPARE((QList<qint32>{CommSettings[0], CommSettings[1], CommSettings[2], CommSettings[3]}),
             settings);
    // No device behind the port: the opening failed, and the rest happens anyway.
    QCOMPARE(CommSettings[CommIndex::OpenResult], -1);
    QVERIFY(button("Command21")->isEnabled());
    QVERIFY(Met1()->isPolling());
    QCOMPARE(Met1()->findChild<QTimer *>("Timer1")->interval(), 500);
}

void TestOverview::closeBeforeAnyOpening()
{
    clickClose();
    QCOMPARE(CommSettings[CommIndex::Port], 0);
    QVERIFY(!button("Command21")->isEnabled());
    QVERIFY(!Met1()->isPolling());
    // Pressing it twice is as harmless.
    clickClose();
    QVERIFY(!button("Command21")->isEnabled());
}

void TestOverview::closeUsesThePortOfTheLastOpening()
{
    Simulator sim({"--freeze"});
    QVERIFY(sim.start(3));
    selectPort(QStringLiteral("3 "));
    clickOpen();
    std::array<qint32, 16> buffer{};
    QVERIFY(Get_3X_DX(3, 1, 1, 16, buffer.data()) >= 0);

    selectPort(QStringLiteral("5 "));
    clickClose();

    QCOMPARE(CommSettings[CommIndex::Port], 3);
    QCOMPARE(Get_3X_DX(3, 1, 1, 16, buffer.data()), -1); // port 3 is closed
    QVERIFY(!Met1()->isPolling());
}

void TestOverview::pollerFillsTheTablesAndKeepsThemWhenClosed()
{
    Simulator sim(
        {"--values", "100,-5,300,7,50", "--inputs", "0x8005", "--coils", "0x05", "--freeze"});
    QVERIFY(sim.start(3));
    selectPort(QStringLiteral("3 "));
    clickOpen();

    QTRY_COMPARE_WITH_TIMEOUT(ProcessValues[0], 100.0f, kPollWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(CoilStates[0], 1, kPollWaitMs);
    QCOMPARE(InputRegisters[1], -5);
    const std::array<float, 5> values = {100, -5, 300, 7, 50};
    for (int i = 0; i < 5; ++i)
        QCOMPARE(ProcessValues[i], values[i]);
    // Discrete inputs 1, 3 and 16; coils 1 and 3.
    for (int i = 0; i < 16; ++i)
        QCOMPARE(InputStates[i], (i == 0 || i == 2 || i == 15) ? 1 : 0);
    for (int i = 0; i < 8; ++i)
        QCOMPARE(CoilStates[i], (i == 0 || i == 2) ? 1 : 0);

    // The display follows within a tick: the values' boxes on Timer1's, the
    // panel on its own, the coils (read last in a poll) last of all.
    QTRY_COMPARE(label("D_3W(1)")->text(), QStringLiteral("-5"));
    QTRY_COMPARE(label("D_1R(2)")->text(), QStringLiteral(" 闭合"));
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("100"));
    QCOMPARE(label("D_2R(0)")->text(), QStringLiteral("通道一报警"));
    QCOMPARE(label("D_2R(15)")->text(), QStringLiteral("4有报警"));
    QCOMPARE(label("D_2R(1)")->text(), QStringLiteral("   "));
    QCOMPARE(label("D_1R(1)")->text(), QStringLiteral(" 断开  "));

    clickClose();
    sim.stop();
    QTest::qWait(1200); // two poll intervals
    QCOMPARE(ProcessValues[0], 100.0f);
    QCOMPARE(InputStates[15], 1);
    QCOMPARE(CoilStates[2], 1);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("100"));
}

void TestOverview::badLinksKeepTheLastValues_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("port with no device") << "noDevice";
    QTest::newRow("edited port text, opened twice") << "editedPort";
    QTest::newRow("instrument falls silent") << "silent";
    QTest::newRow("wrong address") << "wrongAddress";
    QTest::newRow("instrument gone") << "gone";
}

// After a good poll the link goes bad: nothing crashes, polling goes on, and
// the tables and the display keep the last values.
void TestOverview::badLinksKeepTheLastValues()
{
    QFETCH(QString, fault);

    Simulator sim({"--values", "100,-5", "--inputs", "0x8005", "--coils", "0x05", "--freeze"});
    QVERIFY(sim.start(4));
    selectPort(QStringLiteral("4 "));
    clickOpen();
    QTRY_VERIFY_WITH_TIMEOUT(ProcessValues[0] == 100.0f && CoilStates[2] == 1, kPollWaitMs);

    if (fault == QLatin1String("noDevice")) {
        selectPort(QStringLiteral("9 "));
        clickOpen();
    } else if (fault == QLatin1String("editedPort")) {
        selectPort(QStringLiteral("COM4"));
        clickOpen();
        clickOpen();
    } else if (fault == QLatin1String("silent")) {
        QVERIFY(sim.restart({"--silent"}));
        clickOpen();
    } else if (fault == QLatin1String("wrongAddress")) {
        control<QComboBox>("Combo2")->setEditText(QStringLiteral("2 "));
        clickOpen();
    } else {
        sim.stop();
    }
    QTest::qWait(1600); // three poll intervals

    QVERIFY(Met1()->isPolling());
    QCOMPARE(ProcessValues[0], 100.0f);
    QCOMPARE(ProcessValues[1], -5.0f);
    QCOMPARE(InputStates[0], 1);
    QCOMPARE(InputStates[15], 1);
    QCOMPARE(InputStates[1], 0);
    QCOMPARE(CoilStates[0], 1);
    QCOMPARE(CoilStates[1], 0);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("100"));
    QCOMPARE(label("D_2R(15)")->text(), QStringLiteral("4有报警"));
    QCOMPARE(label("D_1R(2)")->text(), QStringLiteral(" 闭合"));
}

namespace
{
// What the substitute reads deliver: a real exchange never gives a bit slot
// outside 0..255.
std::array<qint32, 2> s_inputWords{};
qint32 s_coilWord = 0;

qint32 noRegisters(qint32, qint32, qint32, qint32, qint32 *)
{
    return -1;
}
qint32 inputWords(qint32, qint32, qint32, qint32 *buffer)
{
    buffer[0] = s_inputWords[0];
    buffer[1] = s_inputWords[1];
    return 0;
}
qint32 coilWord(qint32, qint32, qint32, qint32 *buffer)
{
    buffer[0] = s_coilWord;
    return 0;
}
} // namespace

void TestOverview::bitSlotsOutsideAByteChangeNothing_data()
{
    QTest::addColumn<qint32>("slot0");
    QTest::addColumn<qint32>("slot1");
    QTest::addColumn<qint32>("coils");
    QTest::addColumn<QList<qint32>>("inputs"); // InputStates 0..15 after the tick
    QTest::addColumn<QList<qint32>>("relays"); // CoilStates 0..7 after the tick

    // The tables start with input 2 and coil 2 set (see below).
    const QList<qint32> before16{0, 1, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0};
    const QList<qint32> before8{0, 1, 0, 0, 0, 0, 0, 0};
    QTest::newRow("0x05 and 0x80")
        << 0x05 << 0x80 << 0x81 << QList<qint32>{1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}
        << QList<qint32>{1, 0, 0, 0, 0, 0, 0, 1};
    QTest::newRow("256 changes nothing") << 256 << 256 << 256 << before16 << before8;
    QTest::newRow("-1 changes nothing") << -1 << -1 << -1 << before16 << before8;
    QTest::newRow("one slot out of range")
        << 256 << 0xFF << 0 << QList<qint32>{0, 1, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}
        << QList<qint32>{0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("0 and 255 are bytes")
        << 0 << 255 << 255 << QList<qint32>{0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1}
        << QList<qint32>{1, 1, 1, 1, 1, 1, 1, 1};
}

void TestOverview::bitSlotsOutsideAByteChangeNothing()
{
    QFETCH(qint32, slot0);
    QFETCH(qint32, slot1);
    QFETCH(qint32, coils);
    QFETCH(QList<qint32>, inputs);
    QFETCH(QList<qint32>, relays);

    InputStates[1] = 1;
    InputStates[9] = 1;
    CoilStates[1] = 1;
    s_inputWords = {slot0, slot1};
    s_coilWord = coils;
    Met1()->setReads({noRegisters, inputWords, coilWord});
    Met1()->tick();

    QList<qint32> shownInputs;
    for (int i = 0; i < 16; ++i)
        shownInputs << InputStates[i];
    QList<qint32> shownRelays;
    for (int i = 0; i < 8; ++i)
        shownRelays << CoilStates[i];
    QCOMPARE(shownInputs, inputs);
    QCOMPARE(shownRelays, relays);
    QCOMPARE(InputStates[16], 0); // nothing beyond the sixteen inputs
}

void TestOverview::displayShowsTheTables()
{
    InputStates[0] = 1;
    ProcessValues[0] = 123.5f;
    ProcessValues[1] = 100.0f;
    ProcessValues[2] = -0.5f;
    ProcessValues[3] = 0.1f;
    ProcessValues[4] = 1234.567f;
    QTRY_COMPARE(label("D_3W(0)")->text(), QStringLiteral("123.5"));
    QCOMPARE(label("D_3W(1)")->text(), QStringLiteral("100"));
    QCOMPARE(label("D_3W(2)")->text(), QStringLiteral("-0.5"));
    QCOMPARE(label("D_3W(3)")->text(), QStringLiteral("0.1"));
    QCOMPARE(label("D_3W(4)")->text(), QStringLiteral("1234.567"));

    QCOMPARE(label("D_2R(0)")->text(), QStringLiteral("通道一报警"));
    QCOMPARE(background(label("D_2R(0)")), QColor(255, 192, 192));
    for (int i = 1; i < 16; ++i) {
        QLabel *box = label(QStringLiteral("D_2R(%1)").arg(i));
        QCOMPARE(box->text(), QStringLiteral("   "));
        QCOMPARE(background(box), QColor(192, 255, 255));
    }
}

void TestOverview::relaysCloseAndOpen()
{
    for (int i = 0; i < 4; ++i)
        CoilStates[i] = 1;
    QTRY_COMPARE(label("D_1R(3)")->text(), QStringLiteral(" 闭合"));
    for (int i = 0; i < 4; ++i) {
        QLabel *box = label(QStringLiteral("D_1R(%1)").arg(i));
        QCOMPARE(box->text(), QStringLiteral(" 闭合"));
        QCOMPARE(background(box), QColor(255, 192, 192));
    }
    for (int i = 0; i < 4; ++i)
        CoilStates[i] = 0;
    QTRY_COMPARE(label("D_1R(0)")->text(), QStringLiteral(" 断开   "));
    QCOMPARE(label("D_1R(1)")->text(), QStringLiteral(" 断开  "));
    QCOMPARE(label("D_1R(2)")->text(), QStringLiteral(" 断开   "));
    QCOMPARE(label("D_1R(3)")->text(), QStringLiteral(" 断开  "));
    for (int i = 0; i < 4; ++i)
        QCOMPARE(background(label(QStringLiteral("D_1R(%1)").arg(i))), QColor(128, 255, 128));
}

void TestOverview::scaleLabelsFollowTheRange()
{
    QTRY_COMPARE(label("Label5(1)")->text(), QStringLiteral("250"));
    QCOMPARE(label("Label5(0)")->text(), QStringLiteral("0"));
    QCOMPARE(label("Label5(6)")->text(), QStringLiteral("1500"));

    ChartSpan = 1000;
    ChartLow = -200;
    QTRY_COMPARE(label("Label5(1)")->text(), QStringLiteral("-33"));
    const QStringList expected{"-200", "-33", "133", "300", "467", "633", "800"};
    for (int i = 0; i < 7; ++i)
        QCOMPARE(label(QStringLiteral("Label5(%1)").arg(i))->text(), expected[i]);
    // The blue output scale never changes.
    QCOMPARE(label("Label6(0)")->text(), QStringLiteral("-10"));
    QCOMPARE(label("Label6(6)")->text(), QStringLiteral("110"));
}

// ---- The trend chart on the window ----

void TestOverview::stepBackThroughHistory()
{
    QVERIFY(loadOnRecording(1000, 1000));
    QCOMPARE(chart().newestPvId(), 1000);
    QCOMPARE(bufferValue(241), 1000.0f); // the live window ends at the newest record

    // Label4(0) and the read-out show position 181 at zoom 1, 180 records after
    // the first; record 1000 is at noon.
    struct Window {
        qint32 first;
        qint32 last;
        const char *firstShown;
    };
    for (const Window &w : {Window{620, 940, "11:56:40"}, Window{560, 880, "11:55:40"}}) {
        press(Qt::Key_F7);
        QCOMPARE(chart().windowStartId(), w.first - 1); // the id just before the window
        QCOMPARE(chart().windowEndId(), w.last);
        QCOMPARE(bufferValue(1), float(w.first));
        QCOMPARE(bufferValue(321), float(w.last));
        QCOMPARE(label("Label4(0)")->text(), QLatin1String(w.firstShown));
        QCOMPARE(label("Label7(0)")->text(), QStringLiteral("2026/12/07"));
        QCOMPARE(label("Label2(10)")->text(), QLatin1String(w.firstShown));
    }
    QVERIFY(!m_window->displayTimer()->isActive());
    QVERIFY(button("Command7")->isEnabled());

    // Steps 3 to 11 reach the window ending at 340; the twelfth would reach
    // back before record 1 (1000 − 720 = 280) and is refused without a change.
    for (int step = 3; step <= 11; ++step)
        press(Qt::Key_F7);
    QCOMPARE(chart().windowEndId(), 340);
    QVERIFY(button("Command8")->isEnabled());
    press(Qt::Key_F7);
    QVERIFY(!button("Command8")->isEnabled());
    QVERIFY(chart().atOldest());
    QCOMPARE(chart().shiftCount(), 11);
    QCOMPARE(chart().windowEndId(), 340);
    QCOMPARE(bufferValue(321), 340.0f);
    press(Qt::Key_F7); // F7 at the oldest does nothing
    QCOMPARE(chart().shiftCount(), 11);

    // "F6 左移" by its button: one step towards live, and F7 may step back again.
    QTest::mouseClick(button("Command7"), Qt::LeftButton);
    QCOMPARE(chart().shiftCount(), 10);
    QCOMPARE(chart().windowEndId(), 400);
    QVERIFY(button("Command8")->isEnabled());
    QVERIFY(!chart().atOldest());
}

void TestOverview::youngDatabaseRefusesStepBackAndStaysLive()
{
    QVERIFY(loadOnRecording(200, 200));
    press(Qt::Key_F7);
    QVERIFY(!button("Command8")->isEnabled());
    QVERIFY(chart().atOldest());
    QCOMPARE(chart().shiftCount(), 0);
    QVERIFY(!button("Command7")->isEnabled());
    QCOMPARE(chart().windowEndId(), 200);
    QVERIFY(m_window->displayTimer()->isActive());

    // The value boxes and the live chart go on with the running tick.
    ProcessValues[0] = 55;
    PvRecorded = true;
    QTRY_VERIFY(!PvRecorded);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("55"));
    QCOMPARE(chart().writePosition(), 242);
    QCOMPARE(bufferValue(242), 55.0f);
}

void TestOverview::sliderPagesAtItsEnds()
{
    QVERIFY(loadOnRecording(1000, 1000));
    auto *slider = control<QSlider>("hc");
    press(Qt::Key_F4);
    QVERIFY(slider->isEnabled());

    // The left end: one step back first, then the sample under x −1, vertex 0,
    // position 180 of the window 620 … 940.
    slider->setValue(-1);
    QCOMPARE(chart().shiftCount(), 1);
    QCOMPARE(chart().windowEndId(), 940);
    QCOMPARE(texts("D_3W", 5), (QStringList{"799", "800", "801", "802", "803"}));
    QCOMPARE(label("Label2(9)")->text(), QStringLiteral("2026/12/07"));
    QCOMPARE(label("Label2(10)")->text(), QStringLiteral("11:56:39"));

    // The right end: one step towards live, which starts the live tick again
    // although the ruler stays on.
    slider->setValue(12001);
    QCOMPARE(chart().shiftCount(), 0);
    QCOMPARE(chart().windowEndId(), 1000);
    QCOMPARE(chart().windowLength(), 241);
    QVERIFY(chart().rulerIsOn());
    QVERIFY(m_window->displayTimer()->isActive());

    // Line1 stands at x in chart units, full height, scaled to pt's pixels.
    slider->setValue(6004); // vertex 40, position 220
    QCOMPARE(background(m_window->rulerLine()), QColor(192, 0, 192));
    QCOMPARE(m_window->rulerLine()->geometry(), QRect(399, 0, 2, 500));
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("979"));
}

void TestOverview::rulerOnAndOffWhileShifted()
{
    QVERIFY(loadOnRecording(1000, 1000));
    auto *slider = control<QSlider>("hc");
    for (int step = 0; step < 3; ++step)
        press(Qt::Key_F7);
    QCOMPARE(chart().windowEndId(), 820);

    press(Qt::Key_F4);
    QCOMPARE(button("Command5")->text(), QStringLiteral("F4 复原"));
    QVERIFY(slider->isEnabled());
    QCOMPARE(m_window->focusWidget(), slider);
    QVERIFY(!m_window->displayTimer()->isActive());
    QCOMPARE(background(m_window->rulerLine()), QColor(255, 255, 0));
    QCOMPARE(m_window->rulerLine()->geometry(), QRect(-1, 0, 2, 22));

    // An arrow key moves the ruler one sample: vertex 1, position 181 = record 680.
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(slider->value(), 150);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("680"));
    const QColor yellow(255, 255, 0);
    for (const char *name : {"D_3W(0)", "D_3W(4)", "Label2(9)", "Label2(10)"})
        QVERIFY2(background(label(name)) == yellow, name);

    press(Qt::Key_F4);
    QCOMPARE(button("Command5")->text(), QStringLiteral("F4 标尺"));
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->value(), 0);
    QCOMPARE(m_window->focusWidget(), button("Command5"));
    QCOMPARE(background(m_window->rulerLine()), QColor(0, 255, 0));
    QVERIFY(m_window->displayTimer()->isActive());
    QCOMPARE(chart().windowEndId(), 1000); // live again
    QCOMPARE(chart().shiftCount(), 3);
    QVERIFY(button("Command7")->isEnabled());
    // The next tick gives the read-outs their own colours back.
    QTRY_COMPARE(background(label("D_3W(0)")), QColor(255, 192, 255));
    QCOMPARE(background(label("D_3W(4)")), QColor(255, 192, 255));
    QCOMPARE(background(label("Label2(9)")), QColor(128, 255, 128));
    QCOMPARE(background(label("Label2(10)")), QColor(128, 255, 128));

    // F6 loads the window two steps back.
    press(Qt::Key_F6);
    QCOMPARE(chart().shiftCount(), 2);
    QCOMPARE(chart().windowEndId(), 880);
    QCOMPARE(bufferValue(1), 560.0f);
}

void TestOverview::zoomSteps_data()
{
    QTest::addColumn<QStringList>("presses"); // keys, or buttons by name
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<int>("sliderStep");
    QTest::addColumn<bool>("zoomInEnabled");
    QTest::addColumn<bool>("zoomOutEnabled");

    QTest::newRow("F1") << QStringList{"F1"} << 2 << 75 << true << true;
    QTest::newRow("F1 to level 4") << QStringList{"F1", "F1", "F1"} << 4 << 38 << true << false;
    QTest::newRow("F1 at level 4 does nothing")
        << QStringList{"F1", "F1", "F1", "F1"} << 4 << 38 << true << false;
    QTest::newRow("F2 at level 1 does nothing") << QStringList{"F2"} << 1 << 150 << false << true;
    QTest::newRow("F1 F2") << QStringList{"F1", "F2"} << 1 << 150 << false << true;
    QTest::newRow("buttons") << QStringList{"Command4", "Command4", "Command3"} << 2 << 75 << true
                             << true;
    QTest::newRow("level 3") << QStringList{"F1", "F1", "F1", "F2"} << 3 << 50 << true << true;
}

void TestOverview::zoomSteps()
{
    QFETCH(QStringList, presses);
    QFETCH(int, zoomLevel);
    QFETCH(int, sliderStep);
    QFETCH(bool, zoomInEnabled);
    QFETCH(bool, zoomOutEnabled);
    for (const QString &p : presses) {
        if (p == QLatin1String("F1"))
            press(Qt::Key_F1);
        else if (p == QLatin1String("F2"))
            press(Qt::Key_F2);
        else
            QTest::mouseClick(button(p), Qt::LeftButton);
    }
    QCOMPARE(chart().zoomLevel(), zoomLevel);
    auto *slider = control<QSlider>("hc");
    QCOMPARE(slider->singleStep(), sliderStep);
    QCOMPARE(slider->pageStep(), sliderStep);
    QCOMPARE(button("Command3")->isEnabled(), zoomInEnabled);
    QCOMPARE(button("Command4")->isEnabled(), zoomOutEnabled);
}

void TestOverview::liveChartGrowsAndTurnsItsPage()
{
    QVERIFY(loadOnRecording(1000, 1000));
    // The grid and the curves; the band where the link was not live depends on
    // what the link did before (the window follows the whole process's link).
    auto drawn = [this] {
        const QVector<Stroke> &strokes = m_window->chartSurface()->strokes();
        return std::count_if(strokes.begin(), strokes.end(), [](const Stroke &s) {
            return s.colour != Chart::notLiveBandColour();
        });
    };
    const auto drawnAtLoad = drawn();

    // Each second the recorder writes the next row and raises PvRecorded; the
    // tick takes the live sample and the five curves grow by one step.
    auto sample = [&](qint32 id) {
        QVERIFY(recordPv(id, id - 1000));
        ProcessValues[0] = float(id);
        PvRecorded = true;
        tick();
        QVERIFY(!PvRecorded);
    };
    for (qint32 id = 1001; id <= 1019; ++id)
        sample(id);
    QCOMPARE(chart().writePosition(), 260);
    QCOMPARE(bufferValue(260), 1019.0f);
    QCOMPARE(chart().windowEndId(), 1000);
    QCOMPARE(drawn(), drawnAtLoad + 19 * 5);

    // The twentieth reaches ZoomLevel × 20 + 241: the live window is loaded
    // again, ending at the newest record, and the sample lands on position 241.
    sample(1020);
    QCOMPARE(chart().writePosition(), 241);
    QCOMPARE(chart().newestPvId(), 1020);
    QCOMPARE(chart().windowEndId(), 1020);
    QCOMPARE(bufferValue(240), 1019.0f);
    QCOMPARE(bufferValue(241), 1020.0f);
    QCOMPARE(drawn(), drawnAtLoad);

    // At zoom 2 the page is longer; zooming back in with samples past the end
    // of zoom 1's page turns it at the next sample, and sampling goes on.
    press(Qt::Key_F1);
    for (qint32 id = 1021; id <= 1045; ++id)
        sample(id);
    QCOMPARE(chart().writePosition(), 266);
    press(Qt::Key_F2);
    sample(1046);
    QCOMPARE(chart().writePosition(), 241);
    QCOMPARE(chart().windowEndId(), 1046);
    sample(1047);
    QCOMPARE(chart().writePosition(), 242);
    QCOMPARE(bufferValue(242), 1047.0f);
}

void TestOverview::rangeEditor_data()
{
    QTest::addColumn<QStringList>("entries"); // upper, lower, upper, lower, ...
    QTest::addColumn<QStringList>("labels");  // Label5(0..6) at the next tick
    QTest::addColumn<QList<int>>("range");    // ChartLow, ChartHigh, ChartSpan

    QTest::newRow("1000 / -200") << QStringList{"1000", "-200"}
                                 << QStringList{"-200", "0", "200", "400", "600", "800", "1000"}
                                 << QList<int>{-200, 1000, 1200};
    QTest::newRow("36001 ignored")
        << QStringList{"36001", "0"}
        << QStringList{"0", "250", "500", "750", "1000", "1250", "1500"} << QList<int>{0, 0, 1500};
    // The range is wide enough for every accepted entry, 16 bits or not.
    QTest::newRow("33000 / 0 after 1000 / -200")
        << QStringList{"1000", "-200", "33000", "0"}
        << QStringList{"0", "5500", "11000", "16500", "22000", "27500", "33000"}
        << QList<int>{0, 33000, 33000};
}

void TestOverview::rangeEditor()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, labels);
    QFETCH(QList<int>, range);
    QTRY_COMPARE(label("Label5(6)")->text(), QStringLiteral("1500"));
    auto *upper = control<QLineEdit>("YKD");
    auto *lower = control<QLineEdit>("YKD1");
    for (int i = 0; i + 1 < entries.size(); i += 2) {
        upper->clear();
        QTest::keyClicks(upper, entries[i]);
        lower->clear();
        QTest::keyClicks(lower, entries[i + 1]);
        const QStringList before = texts("Label5", 7);
        QTest::mouseClick(button("Command26"), Qt::LeftButton);
        QCOMPARE(texts("Label5", 7), before); // the button itself redraws nothing
    }
    QCOMPARE((QList<int>{ChartLow, ChartHigh, ChartSpan}), range);
    QTRY_COMPARE(texts("Label5", 7), labels);
}

void TestOverview::doubleClickShowsTheRangeEditor()
{
    const std::array<const char *, 5> editor = {"Label9", "Label10", "YKD", "YKD1", "Command26"};
    for (const char *name : editor)
        control<QWidget>(name)->hide();
    QTest::mouseDClick(label("Label5(3)"), Qt::LeftButton);
    for (const char *name : editor)
        QVERIFY2(control<QWidget>(name)->isVisible(), name);
}

void TestOverview::clockReadout()
{
    const QDate day(2026, 12, 6);
    SystemClock::setFixed(QDateTime(day, QTime(7, 5, 9)));
    QTRY_COMPARE(label("Label2(9)")->text(), QStringLiteral("12-06-2026"));
    QCOMPARE(label("Label2(10)")->text(), QStringLiteral("07:05:09"));
    SystemClock::setFixed(QDateTime(day, QTime(23, 59, 58)));
    QTRY_COMPARE(label("Label2(10)")->text(), QStringLiteral("23:59:58"));

    // While the ruler is on the read-out belongs to the ruler.
    press(Qt::Key_F4);
    SystemClock::setFixed(QDateTime(day, QTime(8, 0, 0)));
    QTest::qWait(1300);
    QCOMPARE(label("Label2(10)")->text(), QStringLiteral("23:59:58"));
}

// A file that is no SQLite database: every read fails and is skipped; the
// chart still loads, navigates and samples, on an empty buffer.
void TestOverview::chartWithoutDatabase()
{
    const QString path = m_dir.filePath(QStringLiteral("not-a-database.db"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(4096, 'x'));
    file.close();
    qputenv("ZELMAR_DB", QFile::encodeName(path));
    QVERIFY(reloadWindow());
    QVERIFY(!m_window->store().isOpen());
    QCOMPARE(chart().newestPvId(), 0);

    // F7 from id 0 goes round the ring to a window that holds nothing.
    press(Qt::Key_F7);
    QCOMPARE(chart().windowEndId(), 65440);
    QCOMPARE(bufferValue(321), 0.0f);
    press(Qt::Key_F4);
    control<QSlider>("hc")->setValue(12001);
    QCOMPARE(chart().shiftCount(), 0);
    press(Qt::Key_F4);
    PvRecorded = true;
    ProcessValues[0] = 3;
    tick();
    QCOMPARE(chart().writePosition(), 242);
    QCOMPARE(bufferValue(242), 3.0f);
}

void TestOverview::chartFollowsTheRecordersDatabase_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("file deleted and recreated by the recorder") << "deleted";
    QTest::newRow("file deleted while the chart is shifted") << "shifted";
    QTest::newRow("folder blocked at start, free later") << "blocked";
}

// The overview's connection follows the rule of the recorder's: after the file
// is lost, or while it cannot be opened, it is opened again every 10 s, so the
// next page turn loads what the recorder wrote into the new file.
void TestOverview::chartFollowsTheRecordersDatabase()
{
    QFETCH(QString, fault);
    const QString folder = m_toolDir.filePath(fault);
    QVERIFY(QDir().mkpath(folder));
    const QString blocker = folder + QStringLiteral("/data");
    const QString path = blocker + QStringLiteral("/Rdatabj.db");
    if (fault == QLatin1String("blocked"))
        QVERIFY(QFile(blocker).open(QIODevice::WriteOnly)); // a file where the folder goes
    QVERIFY(startToolOn(path));
    const Recorder &recorder = *m_recorder;
    for (int s = 0; s < 5; ++s)
        runSecond(500.0f); // the old file's recordings
    QCOMPARE(m_window->store().isOpen(), fault != QLatin1String("blocked"));

    if (fault == QLatin1String("shifted"))
        press(Qt::Key_F7); // live sampling stops
    if (fault == QLatin1String("blocked")) {
        QVERIFY(QFile::remove(blocker));
    } else {
        for (const char *suffix : {"", "-wal", "-shm"})
            QFile::remove(path + QLatin1String(suffix));
    }
    if (fault == QLatin1String("shifted")) {
        // The connection follows the file all the same, and F6 back to live
        // loads what the recorder wrote meanwhile.
        for (int s = 0; s <= RecordingStore::kReopenIntervalSeconds + 2; ++s)
            runSecond(1000.0f);
        QVERIFY(recorder.pvCounter() > 1);
        press(Qt::Key_F6);
        QCOMPARE(chart().newestPvId(), recorder.pvCounter());
        return;
    }
    // Within the next 10 s both open the new file; from then on every second
    // is recorded and sampled, and the page turns at the twentieth sample.
    for (int s = 0; s < 10 + TrendChart::kPageTurnPerZoom; ++s) {
        runSecond(1000.0f); // the new file's
        if (recorder.pvCounter() > 0 && chart().writePosition() == Chart::kLivePosition)
            break;
    }
    QVERIFY(m_window->store().isOpen());
    QCOMPARE(chart().writePosition(), Chart::kLivePosition);
    QVERIFY(recorder.pvCounter() > 1);
    QCOMPARE(chart().newestPvId(), recorder.pvCounter());
    // The rows of the new file are loaded, none of the old one. With the
    // folder blocked there was no old file: the rows of the first seconds
    // waited in the recorder and reached the new file first.
    const auto &loaded = chart().buffer().values[0];
    const auto waited = std::count(loaded.begin(), loaded.end(), 500.0f);
    QVERIFY(std::count(loaded.begin(), loaded.end(), 1000.0f) + waited >= recorder.pvCounter() - 1);
    if (fault == QLatin1String("blocked"))
        QVERIFY(waited <= 5);
    else
        QCOMPARE(waited, 0);
}

// SQLite writes the shared-memory file through a memory mapping; made
// immutable under the running tool, the next such write of either connection
// would end the tool with SIGBUS. Both close instead and open again once the
// file can be written.
void TestOverview::unwritableSharedMemoryClosesTheChartsConnection()
{
    const QString path = m_toolDir.filePath(QStringLiteral("shm/Rdatabj.db"));
    QVERIFY(startToolOn(path));
    const Recorder &recorder = *m_recorder;
    for (int s = 0; s < 3; ++s)
        runSecond(0);
    QVERIFY(m_window->store().isOpen());

    ImmutableFile immutable(path + QStringLiteral("-shm"));
    if (!immutable.isImmutable())
        QSKIP("no immutable files here (chattr +i needs root and a file system that has them)");

    runSecond(0);
    press(Qt::Key_F7); // reads the history through the overview's connection
    press(Qt::Key_F6);
    QVERIFY(!m_window->store().isOpen());
    QVERIFY(!recorder.store().isOpen());

    QVERIFY(immutable.release());
    for (int s = 0; s < RecordingStore::kReopenIntervalSeconds; ++s)
        runSecond(0);
    QVERIFY(m_window->store().isOpen());
    QVERIFY(recorder.store().isOpen());
}

void TestOverview::f6AfterTheRulerStaysShifted_data()
{
    QTest::addColumn<int>("zoomLevel");
    QTest::newRow("zoom 1") << 1;
    QTest::newRow("zoom 4") << 4;
}

// Three steps back, the ruler on and off (live, ShiftCount 3), F6: the window
// two steps back stays on screen past the next recordings, whose WritePosition
// would pass the page-turn test of a live window.
void TestOverview::f6AfterTheRulerStaysShifted()
{
    QFETCH(int, zoomLevel);
    QVERIFY(loadOnRecording(3000, 3000));
    for (int level = 1; level < zoomLevel; ++level)
        press(Qt::Key_F1);
    for (int step = 0; step < 3; ++step)
        press(Qt::Key_F7);
    press(Qt::Key_F4);
    press(Qt::Key_F4);
    QCOMPARE(chart().shiftCount(), 3);
    QVERIFY(m_window->displayTimer()->isActive());

    press(Qt::Key_F6);
    QCOMPARE(chart().shiftCount(), 2);
    QCOMPARE(chart().windowEndId(), 2880);
    QVERIFY(!m_window->displayTimer()->isActive());
    for (qint32 id = 3001; id <= 3003; ++id) {
        QVERIFY(recordPv(id, id - 3000));
        PvRecorded = true;
        QTest::qWait(300);
    }
    tick(); // even a tick that still comes leaves the shifted window alone
    QCOMPARE(chart().windowEndId(), 2880);
    QCOMPARE(chart().windowLength(), 321);
    QCOMPARE(chart().writePosition(), 321);
    QCOMPARE(bufferValue(321), 2880.0f);
    QCOMPARE(chart().shiftCount(), 2);
    QVERIFY(button("Command7")->isEnabled());
    QCOMPARE(label("Label4(0)")->text(),
             chartTimeText(chart().buffer().times[chart().windowOffset() + 1]));

    // F6 down to 0 is live again, from the newest record, and samples the raised flag.
    press(Qt::Key_F6);
    QCOMPARE(chart().windowEndId(), 2940);
    press(Qt::Key_F6);
    QCOMPARE(chart().shiftCount(), 0);
    QCOMPARE(chart().windowEndId(), 3003);
    QVERIFY(m_window->displayTimer()->isActive());
    QTRY_VERIFY(!PvRecorded);
    QCOMPARE(chart().writePosition(), 242);
}

// The status and relay boxes follow the tables while the chart is shifted and
// while the ruler is on; the value boxes follow while shifted and hold the
// ruler's read-outs in ruler mode.
void TestOverview::alarmPanelGoesOnWhileLookingAtHistory()
{
    QVERIFY(loadOnRecording(1000, 1000));
    press(Qt::Key_F7);
    QVERIFY(!m_window->displayTimer()->isActive());
    QVERIFY(m_window->panelTimer()->isActive());
    InputStates[3] = 1;
    CoilStates[1] = 1;
    ProcessValues[0] = 42.5f;
    QTRY_COMPARE(label("D_2R(3)")->text(), QStringLiteral("通道二报警"));
    QCOMPARE(background(label("D_2R(3)")), QColor(255, 192, 192));
    QTRY_COMPARE(label("D_1R(1)")->text(), QStringLiteral(" 闭合"));
    QTRY_COMPARE(label("D_3W(0)")->text(), QStringLiteral("42.5"));
    QCOMPARE(background(label("D_3W(0)")), QColor(255, 192, 255));

    // The ruler on the shifted window 620 … 940: x 150 reads position 181, record 800.
    press(Qt::Key_F4);
    QTest::keyClick(control<QSlider>("hc"), Qt::Key_Right);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("800"));
    InputStates[3] = 0;
    InputStates[15] = 1;
    CoilStates[1] = 0;
    ProcessValues[0] = 7;
    QTRY_COMPARE(label("D_2R(3)")->text(), QStringLiteral("   "));
    QTRY_COMPARE(label("D_2R(15)")->text(), QStringLiteral("4有报警"));
    QTRY_COMPARE(label("D_1R(1)")->text(), QStringLiteral(" 断开  "));
    QCOMPARE(background(label("D_1R(1)")), QColor(128, 255, 128));
    QTest::qWait(450);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("800"));
    QCOMPARE(background(label("D_3W(0)")), QColor(255, 255, 0));

    // Stepping to live with the ruler still on starts Timer1; the boxes stay the ruler's.
    control<QSlider>("hc")->setValue(TrendChart::kSliderRightEnd);
    QVERIFY(m_window->displayTimer()->isActive());
    QVERIFY(!m_window->panelTimer()->isActive());
    control<QSlider>("hc")->setValue(150); // position 181 of the live window, record 940
    QTest::qWait(450);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("940"));
}

// A range entered while Timer1 is stopped: the scale labels change with the
// curves at the next redraw.
void TestOverview::scaleLabelsFollowTheCurvesWhileNotLive()
{
    QVERIFY(loadOnRecording(1000, 1000));
    auto enterRange = [&](const char *upper, const char *lower) {
        control<QLineEdit>("YKD")->setText(QLatin1String(upper));
        control<QLineEdit>("YKD1")->setText(QLatin1String(lower));
        QTest::mouseClick(button("Command26"), Qt::LeftButton);
    };
    press(Qt::Key_F7);
    enterRange("3000", "0");
    QTRY_COMPARE(texts("Label5", 7),
                 (QStringList{"0", "500", "1000", "1500", "2000", "2500", "3000"}));
    QCOMPARE(ChartOffset, 0);

    press(Qt::Key_F4);
    enterRange("1000", "-200");
    QTRY_COMPARE(texts("Label5", 7),
                 (QStringList{"-200", "0", "200", "400", "600", "800", "1000"}));
    QCOMPARE(ChartOffset, -1250); // the curves were redrawn for the same range
}

// A database of 30 records, then of 40 and 60: the records fill the newest
// positions of every window loaded, positions without a record are not drawn,
// their labels and the ruler over them are blank.
void TestOverview::youngDatabaseShowsOnlyWhatItHolds()
{
    QVERIFY(loadOnRecording(30, 30));
    const QVector<Stroke> &strokes = m_window->chartSurface()->strokes();
    auto count = [&](Qt::PenStyle style) {
        return int(std::count_if(strokes.begin(), strokes.end(),
                                 [style](const Stroke &s) { return s.style == style; }));
    };
    // Records 1 … 30 at positions 212 … 241; labels 0 … 3 stand over 181 … 211.
    QCOMPARE(bufferValue(212), 1.0f);
    QCOMPARE(bufferValue(241), 30.0f);
    QCOMPARE(count(Qt::SolidLine), (240 - 212) * 5);
    QCOMPARE(count(Qt::DashLine), 0);
    const QStringList times = texts("Label4", 9);
    const QStringList dates = texts("Label7", 9);
    for (int j = 0; j < 9; ++j) {
        QCOMPARE(times[j].isEmpty(), j < 4);
        QCOMPARE(dates[j].isEmpty(), j < 4);
    }

    // F7 goes round the ring to ids that hold nothing yet: an empty window.
    press(Qt::Key_F7);
    QCOMPARE(chart().windowEndId(), 65470);
    QCOMPARE(count(Qt::SolidLine), 0);
    QCOMPARE(texts("Label4", 9), QStringList(9, QString()));
    QCOMPARE(texts("Label7", 9), QStringList(9, QString()));

    // The recorder went on; F6 is live again with the 40 records at the right.
    for (qint32 id = 31; id <= 40; ++id)
        QVERIFY(recordPv(id, id - 30));
    press(Qt::Key_F6);
    QCOMPARE(chart().windowEndId(), 40);
    QCOMPARE(bufferValue(202), 1.0f);
    QCOMPARE(bufferValue(241), 40.0f);
    QCOMPARE(count(Qt::SolidLine), (240 - 202) * 5);

    // The ruler: x 150 is position 181, empty; x 3450 is position 203, record 2.
    press(Qt::Key_F4);
    auto *slider = control<QSlider>("hc");
    QTest::keyClick(slider, Qt::Key_Right);
    QCOMPARE(texts("D_3W", 5), QStringList(5, QString()));
    QCOMPARE(label("Label2(9)")->text(), QString());
    QCOMPARE(label("Label2(10)")->text(), QString());
    slider->setValue(3450);
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("2"));
    press(Qt::Key_F4);

    // The page turn at the twentieth sample loads 60 records into 182 … 241.
    for (qint32 id = 41; id <= 60; ++id) {
        QVERIFY(recordPv(id, id - 30));
        ProcessValues[0] = float(id);
        PvRecorded = true;
        tick();
    }
    QCOMPARE(chart().writePosition(), 241);
    QCOMPARE(chart().windowEndId(), 60);
    QCOMPARE(bufferValue(182), 1.0f);
    QCOMPARE(bufferValue(240), 59.0f);
    QCOMPARE(count(Qt::SolidLine), (240 - 182) * 5);
    QCOMPARE(count(Qt::DashLine), 0);
}

// Every time and date label shows its whole text, measured with the window's
// real font: the text fits the label, and no ink touches its outer pixel columns.
void TestOverview::axisLabelsShowTheirWholeText()
{
    const QStringList shown{"2026/12/07", "2000/08/28", "1999/11/30", "2088/10/10",
                            "00:00:00",   "23:59:58",   "08:48:08"};
    for (const char *row : {"Label4", "Label7"}) {
        for (int j = 0; j < 9; ++j) {
            QLabel *axis = label(QStringLiteral("%1(%2)").arg(QLatin1String(row)).arg(j));
            for (const QString &text : shown) {
                axis->setText(text);
                const QString where = QStringLiteral("%1 \"%2\"").arg(axis->objectName(), text);
                QVERIFY2(axis->fontMetrics().horizontalAdvance(text) <=
                             axis->contentsRect().width(),
                         qPrintable(where));
                const QImage image = axis->grab().toImage();
                const QRgb paper = axis->palette().color(QPalette::Window).rgb();
                auto inkIn = [&](int x) {
                    for (int y = 0; y < image.height(); ++y)
                        if (image.pixel(x, y) != paper)
                            return true;
                    return false;
                };
                QVERIFY2(!inkIn(0) && !inkIn(image.width() - 1), qPrintable(where));
                bool inked = false;
                for (int x = 1; x < image.width() - 1 && !inked; ++x)
                    inked = inkIn(x);
                QVERIFY2(inked, qPrintable(where));
            }
        }
    }
}

// Each channel's curve is drawn in the colour of its title in the value strip.
void TestOverview::curvesHaveTheColoursOfTheirTitles()
{
    QVERIFY(loadOnRecording(1000, 1000));
    // Titles of values 0 … 4 and their designed colours.
    const std::array<const char *, 5> titles = {"Label1(2)", "Label1(4)", "Label1(3)", "Label1(12)",
                                                "Label1(23)"};
    const std::array<QColor, 5> colours = {QColor(255, 0, 0), QColor(128, 128, 0), QColor(0, 64, 0),
                                           QColor(255, 0, 255), QColor(255, 0, 0)};
    // After the 62 grid lines, each sample step draws values 2, 0, 1, 3, 4.
    const std::array<int, 5> drawOrder = {2, 0, 1, 3, 4};
    const QVector<Stroke> &strokes = m_window->chartSurface()->strokes();
    QVERIFY(strokes.size() > 62 + 5);
    for (int order = 0; order < 5; ++order) {
        const int value = drawOrder[order];
        QCOMPARE(label(titles[value])->palette().color(QPalette::WindowText), colours[value]);
        QCOMPARE(strokes.at(62 + order).colour, colours[value]);
    }
}

void TestOverview::closeBoxIsRefusedAndChangesNothing()
{
    const bool storeOpen = m_window->store().isOpen();
    QVERIFY(!m_window->close());
    QVERIFY(m_window->isVisible());
    QVERIFY(OverviewOpen);
    QVERIFY(m_window->closeGuard());
    QCOMPARE(m_window->store().isOpen(), storeOpen);

    // The recorder still sees the overview loaded and keeps raising its notification.
    PvRecorded = false;
    QVERIFY(mscom());
    QTRY_VERIFY_WITH_TIMEOUT(PvRecorded, 3000);
    // The display goes on.
    ProcessValues[0] = 7;
    QTRY_COMPARE(label("D_3W(0)")->text(), QStringLiteral("7"));
}

void TestOverview::configHidesTheOverviewWhileTheDisplayRuns()
{
    button("Command21")->click();
    QVERIFY(!m_window->isVisible());
    QPointer<ConfigWindow> config = CONFIG1();
    QVERIFY(config->isVisible());

    ProcessValues[0] = 42;
    InputStates[3] = 1;
    QTRY_COMPARE(label("D_3W(0)")->text(), QStringLiteral("42"));
    QCOMPARE(label("D_2R(3)")->text(), QStringLiteral("通道二报警"));

    // The configuration window's return shows the overview again.
    auto *back = config->findChild<QPushButton *>(QStringLiteral("Command11"));
    QVERIFY(back);
    back->click();
    QTRY_VERIFY(m_window->isVisible());
    QTRY_VERIFY(!config || !config->isVisible());
}

void TestOverview::colouredControlsShowTheirColours_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QColor>("colour");
    QTest::addColumn<bool>("filled"); // a background colour, else a text colour
    QTest::newRow("CONFIG orange") << "Command21" << QColor(255, 128, 0) << true;
    QTest::newRow("退出 pink") << "Command1" << QColor(255, 192, 203) << true;
    QTest::newRow("value box") << "D_3W(0)" << QColor(255, 192, 255) << true;
    QTest::newRow("retransmission value box") << "D_3W(4)" << QColor(255, 192, 255) << true;
    QTest::newRow("date read-out") << "Label2(9)" << QColor(128, 255, 128) << true;
    QTest::newRow("time read-out") << "Label2(10)" << QColor(128, 255, 128) << true;
    QTest::newRow("chart") << "pt" << QColor(192, 255, 255) << true;
    QTest::newRow("Y range entry") << "YKD" << QColor(Qt::white) << true;
    QTest::newRow("port frame caption") << "Frame6" << QColor(255, 0, 0) << false;
    QTest::newRow("baud frame caption") << "Frame2(1)" << QColor(0, 128, 0) << false;
    QTest::newRow("CH1 title") << "Label1(2)" << QColor(255, 0, 0) << false;
    QTest::newRow("CH4 title") << "Label1(12)" << QColor(255, 0, 255) << false;
    QTest::newRow("scale label") << "Label5(3)" << QColor(255, 0, 0) << false;
    QTest::newRow("output scale label") << "Label6(3)" << QColor(0, 0, 255) << false;
}

// What the operator sees, read from the grabbed pixels of the real controls.
void TestOverview::colouredControlsShowTheirColours()
{
    QFETCH(QString, name);
    QFETCH(QColor, colour);
    QFETCH(bool, filled);
    auto *widget = control<QWidget>(name);
    QVERIFY(widget);
    if (filled)
        QCOMPARE(mostFrequentColour(widget), colour);
    else
        QVERIFY(showsColour(widget, colour));
    // Greyed, the buttons keep their colour.
    if (auto *button = qobject_cast<QPushButton *>(widget)) {
        button->setEnabled(false);
        QCOMPARE(mostFrequentColour(widget), colour);
    }
}

void TestOverview::everyListEntryReadable()
{
    button("Command5")->setFocus(); // the operator is in no list
    for (const char *list : {"Combo1", "Combo2"})
        QCOMPARE(unreadableComboEntry(control<QComboBox>(list)), QString());
}

void TestOverview::escInAnOpenListClosesTheListOnly_data()
{
    QTest::addColumn<QString>("list");
    QTest::addColumn<QString>("typed");
    QTest::newRow("port list") << "Combo1"
                               << "3 ";
    QTest::newRow("address list") << "Combo2"
                                  << "12";
}

// An operator dismissing a list means "not this one", not "end the tool".
void TestOverview::escInAnOpenListClosesTheListOnly()
{
    QFETCH(QString, list);
    QFETCH(QString, typed);
    m_window->activateWindow();
    auto *combo = control<QComboBox>(list);
    combo->setFocus();
    combo->setEditText(typed);
    combo->showPopup();
    QAbstractItemView *view = combo->view();
    QTRY_VERIFY(view->isVisible());
    QTest::keyClick(view, Qt::Key_Down);
    QTest::keyClick(view, Qt::Key_Escape);
    QTRY_VERIFY(!view->isVisible());
    QVERIFY(m_window->isVisible());
    QVERIFY(m_window->closeGuard());
    QVERIFY(OverviewOpen);
    QCOMPARE(combo->currentText(), typed);
    // The function keys still work in an open list.
    combo->showPopup();
    QTRY_VERIFY(view->isVisible());
    QTest::keyClick(view, Qt::Key_F1);
    QCOMPARE(chart().zoomLevel(), 2);
    QTest::keyClick(view, Qt::Key_Escape);
    QTRY_VERIFY(!view->isVisible());
    QVERIFY(m_window->isVisible());
}

// Each way out ends the process, so each runs in a child process of this test
// program: the event loop it starts must end with code 0.
void TestOverview::exitEndsTheEventLoop_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc after Esc closed the port list") << "escAfterList";
    QTest::newRow("Esc in the address list's edit field") << "escEditField";
    QTest::newRow("Esc on a function button") << "escButton";
    QTest::newRow("退出 after 打开 releases the port") << "exitButton";
}

void TestOverview::exitEndsTheEventLoop()
{
    QFETCH(QString, how);
    if (qEnvironmentVariableIsEmpty("ZELMAR_TEST_CHILD")) {
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("ZELMAR_TEST_CHILD"), QStringLiteral("1"));
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("exitEndsTheEventLoop:%1")
                         .arg(QString::fromUtf8(QTest::currentDataTag()))});
        QVERIFY(child.waitForFinished(30000));
        const QByteArray output = child.readAll();
        QVERIFY2(child.exitCode() == 0, output.constData());
        QVERIFY2(output.contains("PASS   : TestOverview::exitEndsTheEventLoop("),
                 output.constData());
        return;
    }

    Simulator sim({"--freeze"});
    QVERIFY(sim.start(6));
    selectPort(QStringLiteral("6 "));
    clickOpen();
    m_window->activateWindow();

    QPointer<OverviewWindow> window = m_window;
    auto press = [&] {
        if (how == QLatin1String("escAfterList")) {
            auto *list = control<QComboBox>("Combo1");
            list->setFocus();
            list->showPopup();
            QTest::keyClick(list->view(), Qt::Key_Escape);
            QTest::keyClick(list, Qt::Key_Escape);
        } else if (how == QLatin1String("escEditField")) {
            auto *list = control<QComboBox>("Combo2");
            list->setFocus();
            QTest::keyClick(list->lineEdit(), Qt::Key_Escape);
        } else if (how == QLatin1String("escButton")) {
            QTest::keyClick(button("Command4"), Qt::Key_Escape);
        } else {
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
        }
    };
    QEventLoop loop;
    QTimer::singleShot(300, this, press);
    QTimer::singleShot(10000, &loop, [&] { loop.exit(1); });
    QCOMPARE(loop.exec(), 0);

    QVERIFY(!OverviewOpen);
    QVERIFY(window && !window->closeGuard());
    QVERIFY(!window->isVisible());
    QVERIFY(!window->store().isOpen());
    std::array<qint32, 16> buffer{};
    QCOMPARE(Get_3X_DX(6, 1, 1, 16, buffer.data()), -1); // the port was released
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QVERIFY(!window); // unloaded
    m_window = nullptr;
}

QTEST_MAIN(TestOverview)
#include "tst_overview.moc"
