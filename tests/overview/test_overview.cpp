#include "chartsurface.h"
#include "configwindow.h"
#include "keymap.h"
#include "livedisplay.h"
#include "modbuslink.h"
#include "overviewwindow.h"
#include "poller.h"
#include "recorder.h"
#include "shared.h"
#include "simulator.h"
#include "twips.h"

#include <QAbstractItemView>
#include <QComboBox>
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
    void unpacksAByte_data();
    void unpacksAByte();
    void displayShowsTheTables();
    void relaysCloseAndOpen();
    void tickRestoresColoursOutsideRulerMode();
    void scaleLabelsFollowTheRange();
    void closeBoxIsRefusedAndChangesNothing();
    void configHidesTheOverviewWhileTheDisplayRuns();
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
    m_window = new OverviewWindow;
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
}

void TestOverview::cleanup()
{
    Met1()->stopPolling();
    Met1()->setReads(PollerReads::link());
    for (int port = 1; port <= kPortCount; ++port)
        ClosePort_Modbus(port);
    delete m_window;
    m_window = nullptr;
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
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<int>("shiftCount");
    QTest::addColumn<bool>("atOldest");
    QTest::addColumn<KeyAction>("action");

    QTest::newRow("F2 at zoom 1 does nothing")
        << int(Qt::Key_F2) << 1 << 0 << false << KeyAction::Nothing;
    QTest::newRow("F2 at zoom 2 zooms in")
        << int(Qt::Key_F2) << 2 << 0 << false << KeyAction::ZoomIn;
    QTest::newRow("F1 at zoom 4 does nothing")
        << int(Qt::Key_F1) << 4 << 0 << false << KeyAction::Nothing;
    QTest::newRow("F1 at zoom 3 zooms out")
        << int(Qt::Key_F1) << 3 << 0 << false << KeyAction::ZoomOut;
    QTest::newRow("F6 when live does nothing")
        << int(Qt::Key_F6) << 1 << 0 << false << KeyAction::Nothing;
    QTest::newRow("F6 when shifted")
        << int(Qt::Key_F6) << 1 << 2 << false << KeyAction::StepTowardsLive;
    QTest::newRow("F7 at the oldest does nothing")
        << int(Qt::Key_F7) << 1 << 0 << true << KeyAction::Nothing;
    QTest::newRow("F7 steps back") << int(Qt::Key_F7) << 1 << 0 << false << KeyAction::StepBack;
    QTest::newRow("F4 always") << int(Qt::Key_F4) << 4 << 3 << true << KeyAction::ToggleRuler;
    QTest::newRow("F3 has no action") << int(Qt::Key_F3) << 1 << 0 << false << KeyAction::Nothing;
    QTest::newRow("F5 has no action") << int(Qt::Key_F5) << 1 << 0 << false << KeyAction::Nothing;
    QTest::newRow("Esc exits") << int(Qt::Key_Escape) << 2 << 1 << true << KeyAction::Exit;
    QTest::newRow("a letter is the control's")
        << int(Qt::Key_A) << 1 << 0 << false << KeyAction::NotMapped;
}

void TestOverview::keyMap()
{
    QFETCH(int, key);
    QFETCH(int, zoomLevel);
    QFETCH(int, shiftCount);
    QFETCH(bool, atOldest);
    QFETCH(KeyAction, action);
    QCOMPARE(keyAction(key, zoomLevel, shiftCount, atOldest), action);
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
    QTest::newRow("date read-out") << "Label2(9)"
                                   << "2001-03-12" << QRect(12750, 240, 1245, 285);
    QTest::newRow("time read-out") << "Label2(10)"
                                   << "18：42：00" << QRect(14010, 240, 1305, 285);
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
    QCOMPARE(shown, caption);
}

void TestOverview::defaultsAtStart()
{
    QCOMPARE(m_window->windowTitle(), QStringLiteral("过程控制仪表 ZELMAR  OverView"));
    QCOMPARE(m_window->size(), QSize(1129, 739));
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

    for (const char *disabled : {"Command3", "Command7", "Command2", "Command6", "Command29"})
        QVERIFY2(!button(disabled)->isEnabled(), disabled);
    for (const char *enabled : {"Command4", "Command5", "Command8", "Command21", "Command1"})
        QVERIFY2(button(enabled)->isEnabled(), enabled);

    auto *slider = control<QSlider>("hc");
    QVERIFY(!slider->isEnabled());
    QCOMPARE(slider->minimum(), -1);
    QCOMPARE(slider->maximum(), 12001);
    QCOMPARE(slider->value(), 0);
    QVERIFY(!(slider->focusPolicy() & Qt::TabFocus));

    QCOMPARE(control<ChartSurface>("pt")->size(), QSize(801, 501));
    QCOMPARE(background(control<QWidget>("pt0")), QColor(192, 192, 255));

    const OverviewWindow::ChartState &chart = m_window->chartState();
    QCOMPARE(chart.zoomLevel, 1);
    QCOMPARE(chart.shiftCount, 0);
    QVERIFY(!chart.atOldest);
    QVERIFY(!chart.rulerOn);
    QCOMPARE(chart.writePosition, 241);
    QCOMPARE(chart.windowLength, 241);
    QCOMPARE(chart.windowEndId, chart.newestPvId);

    QVERIFY(OverviewOpen);
    QVERIFY(m_window->closeGuard());
    QVERIFY(m_window->displayTimer()->isActive());
    QCOMPARE(m_window->displayTimer()->interval(), 200);
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

    // The display follows within a tick.
    QTRY_COMPARE(label("D_3W(1)")->text(), QStringLiteral("-5"));
    QCOMPARE(label("D_3W(0)")->text(), QStringLiteral("100"));
    QCOMPARE(label("D_2R(0)")->text(), QStringLiteral("通道一报警"));
    QCOMPARE(label("D_2R(15)")->text(), QStringLiteral("4有报警"));
    QCOMPARE(label("D_2R(1)")->text(), QStringLiteral("   "));
    QCOMPARE(label("D_1R(2)")->text(), QStringLiteral(" 闭合"));
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

void TestOverview::unpacksAByte_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<QList<int>>("bits"); // element 0 first

    QTest::newRow("0") << 0 << QList<int>{0, 0, 0, 0, 0, 0, 0, 0};
    QTest::newRow("0x05") << 0x05 << QList<int>{1, 0, 1, 0, 0, 0, 0, 0};
    QTest::newRow("0x80") << 0x80 << QList<int>{0, 0, 0, 0, 0, 0, 0, 1};
    QTest::newRow("0xFF") << 0xFF << QList<int>{1, 1, 1, 1, 1, 1, 1, 1};
}

void TestOverview::unpacksAByte()
{
    QFETCH(int, byte);
    QFETCH(QList<int>, bits);
    quint8 b = quint8(byte);
    Met1()->D_Byte(b);
    QList<int> shown;
    for (quint8 bit : Met1()->bits())
        shown << bit;
    QCOMPARE(shown, bits);
    QCOMPARE(b, quint8(byte));
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

void TestOverview::tickRestoresColoursOutsideRulerMode()
{
    const QColor yellow(255, 255, 0);
    auto paintYellow = [&] {
        for (const char *name : {"D_3W(0)", "D_3W(4)", "Label2(9)", "Label2(10)"}) {
            QPalette palette = label(name)->palette();
            palette.setColor(QPalette::Window, yellow);
            label(name)->setPalette(palette);
        }
    };

    // While the ruler is on, the tick leaves the ruler's colours alone.
    m_window->chartState().rulerOn = true;
    paintYellow();
    QTest::qWait(450);
    QCOMPARE(background(label("D_3W(0)")), yellow);

    m_window->chartState().rulerOn = false;
    QTRY_COMPARE(background(label("D_3W(0)")), QColor(255, 192, 255));
    QCOMPARE(background(label("D_3W(4)")), QColor(255, 192, 255));
    QCOMPARE(background(label("Label2(9)")), QColor(128, 255, 128));
    QCOMPARE(background(label("Label2(10)")), QColor(128, 255, 128));
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

// Each way out ends the process, so each runs in a child process of this test
// program: the event loop it starts must end with code 0.
void TestOverview::exitEndsTheEventLoop_data()
{
    QTest::addColumn<QString>("how");
    QTest::newRow("Esc in the open port list") << "escOpenList";
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
        if (how == QLatin1String("escOpenList")) {
            auto *list = control<QComboBox>("Combo1");
            list->setFocus();
            list->showPopup();
            QWidget *popup = list->view();
            QTest::keyClick(popup, Qt::Key_Escape);
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
#include "test_overview.moc"
