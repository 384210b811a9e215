#include "configwindow.h"
#include "fittedtext.h"
#include "grabbedcolours.h"
#include "modbuslink.h"
#include "openlink.h"
#include "parametermap.h"
#include "readabletext.h"
#include "shared.h"
#include "simulator.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTimer>
#include <QtTest>

#include <set>

using namespace ParameterMap;

namespace
{

constexpr int kPort = 1;
constexpr int kAddress = 1;

QString u(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

// The rows of each option list by code, for lookups in the tests.
const OptionRow *optionOf(OptionList list, qint32 code)
{
    for (const OptionRow &option : options(list))
        if (option.code == code)
            return &option;
    return nullptr;
}

} // namespace

class TestConfig : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    // The map as data.
    void parameterRows_data();
    void parameterRows();
    void mapStructure();
    void comboRegisters_data();
    void comboRegisters();
    void optionLists_data();
    void optionLists();
    void optionTexts_data();
    void optionTexts();

    // Both directions as plain functions.
    void shownText_data();
    void shownText();
    void entryValue_data();
    void entryValue();
    void comboCode_data();
    void comboCode();

    // The window without an instrument.
    void windowLayout();
    void rowsOnTheirTabs();
    void rowTextsOnOneLine();
    void colouredControlsShowTheirColours();
    void everyListEntryReadable();
    void loadShowsFirstEntries();
    void tabButtonsSwitchPages();
    void closeBoxRefused();
    void leaveButtonReturnsAndReopensFresh_data();
    void leaveButtonReturnsAndReopensFresh();
    void readCycleWithLinkClosed();
    void writesWithLinkClosed();

    // The window against the simulator.
    void readCycleShowsInstrument();
    void codedLabelKeptOnUnknownCode();
    void everyReadBackTextReadable();
    void comboWrites_data();
    void comboWrites();
    void comboFreeText_data();
    void comboFreeText();
    void entryWrites_data();
    void entryWrites();
    void unchangedLeaveWritesNothing();
    void tabbingThroughEverythingWritesNothing();
    void silentInstrumentGetsExactlyTwoAttempts();
    void typingThenLeavingWritesFirst_data();
    void typingThenLeavingWritesFirst();
    void pickFromTheList();
    void wheelOnlyInTheFocusedCombo();
    void writeDuringTheYield();
    void leaveDuringTheYield();
    void escClosesAnOpenListOnly_data();
    void escClosesAnOpenListOnly();

private:
    ConfigWindow *openWindow();
    void connectTo(Simulator &sim);
    // Shows the page of the control and gives it the focus, as a click would.
    template <typename Widget> Widget *focusControl(const QString &name);
    void leaveByTab(QWidget *control);
    void stopReadCycle();
    // The two ways out of the window: a click on " Esc 返回", or Esc on `focused`.
    static void addWaysOut();
    void leaveWindow(bool byKey, QWidget *focused);

    ConfigWindow *m_window = nullptr;
};

void TestConfig::init()
{
    resetSharedState();
}

void TestConfig::cleanup()
{
    ConfigWindow *window = m_window;
    m_window = nullptr;
    delete window;
    ClosePort_Modbus(kPort);
    resetSharedState();
}

ConfigWindow *TestConfig::openWindow()
{
    m_window = CONFIG1();
    m_window->show();
    m_window->activateWindow();
    if (!QTest::qWaitForWindowActive(m_window))
        qWarning("configuration window not active");
    return m_window;
}

void TestConfig::connectTo(Simulator &sim)
{
    QVERIFY(sim.start(kPort));
    QCOMPARE(openLinkAsOverview(kPort), 0);
}

template <typename Widget> Widget *TestConfig::focusControl(const QString &name)
{
    Widget *control = m_window->findChild<Widget *>(name);
    if (!control)
        return nullptr;
    for (const ParameterRow &row : parameters())
        if (name == QLatin1String(row.control))
            QTest::mouseClick(
                m_window->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(row.tab)),
                Qt::LeftButton);
    control->setFocus(Qt::MouseFocusReason);
    return control->hasFocus() ? control : nullptr;
}

void TestConfig::leaveByTab(QWidget *control)
{
    QTest::keyClick(control, Qt::Key_Tab);
}

void TestConfig::stopReadCycle()
{
    // The tests that count writes run the read cycle themselves.
    m_window->findChild<QTimer *>(QStringLiteral("Timer1"))->stop();
}

void TestConfig::addWaysOut()
{
    QTest::addColumn<bool>("byKey");
    QTest::newRow("button") << false;
    QTest::newRow("Esc key") << true;
}

void TestConfig::leaveWindow(bool byKey, QWidget *focused)
{
    if (byKey)
        QTest::keyClick(focused, Qt::Key_Escape);
    else
        QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("Command11")),
                          Qt::LeftButton);
}

// ---------------------------------------------------------------- the map

void TestConfig::parameterRows_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("control");
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("list");

    const int integer = int(ValueKind::Integer), tenths = int(ValueKind::Tenths),
              coded = int(ValueKind::Coded);
    const int none = int(OptionList::None);
    const QString alarmHint = u("0～5：0-无，1-上限，2-下限，3-上偏差，4-下偏差，5-偏差带\r\n");
    const QString pointHint = u("0～4：0<10000>，1<1000.0>，2<100.00>，3<10.000>，4<1.0000>\r\n");
    QTest::newRow("1") << 1 << u("10.报警设置") << u("CH1设定值SV") << u("-10000 ~ 30000")
                       << "T_3RW(0)" << integer << none;
    QTest::newRow("8") << 8 << u("10.报警设置") << u("CH4报警值") << u("-10000 ~ 30000")
                       << "T_3RW(7)" << integer << none;
    QTest::newRow("9") << 9 << u("9.继电器功能") << u("CH1报警方式") << alarmHint << "Combo1"
                       << coded << int(OptionList::AlarmMode);
    QTest::newRow("10") << 10 << u("9.继电器功能") << u("CH1 报警延迟") << u("0 ~ 60 S")
                        << "T_3RW(9)" << integer << none;
    QTest::newRow("15") << 15 << u("9.继电器功能") << u("CH4报警方式") << alarmHint << "Combo4"
                        << coded << int(OptionList::AlarmMode);
    QTest::newRow("17") << 17 << u("8.通讯设定") << u("通讯地址") << u("1 ~ 247") << "T_3RW(16)"
                        << integer << none;
    QTest::newRow("18") << 18 << u("8.通讯设定") << u("波特率")
                        << u("0～2：--0: 4800bps。1: 9600bps。2: 19200bps\r\n") << "Combo5" << coded
                        << int(OptionList::BaudRate);
    QTest::newRow("19") << 19 << u("8.通讯设定") << u("校验方式")
                        << u("0～2：--0：无校验，1:奇校验，2:偶校验\r\n") << "Combo6" << coded
                        << int(OptionList::Parity);
    QTest::newRow("20") << 20 << u("8.通讯设定") << u("通讯延迟") << u("0 ~ 60 MS") << "T_3RW(19)"
                        << integer << none;
    QTest::newRow("21") << 21 << u("3.变送设置") << u("变送通道选择")
                        << u("1～4，4选1通道测量值变送\r\n") << "Combo7" << coded
                        << int(OptionList::RetransmissionChannel);
    QTest::newRow("22") << 22 << u("3.变送设置") << u("变送输出量程")
                        << u("0～2：0(4-20mA)，1(0-10mA)，2(0-20mA)\r\n") << "Combo8" << coded
                        << int(OptionList::RetransmissionRange);
    QTest::newRow("25") << 25 << u("4.通道一设置") << u("CH1 输入类型") << u("0～31") << "Combo9"
                        << coded << int(OptionList::InputType);
    QTest::newRow("26") << 26 << u("4.通道一设置") << u("CH1 小数点") << pointHint << "Combo10"
                        << coded << int(OptionList::DecimalPoint);
    QTest::newRow("29") << 29 << u("4.通道一设置") << u("平移修正") << u("-500 ~ 500")
                        << "T_3RW(28)" << integer << none;
    QTest::newRow("30") << 30 << u("5.通道二设置") << u("CH2 输入类型") << u("0～31") << "Combo12"
                        << coded << int(OptionList::InputType);
    QTest::newRow("31") << 31 << u("5.通道二设置") << u("CH2 小数点") << pointHint << "Combo11"
                        << coded << int(OptionList::DecimalPoint);
    QTest::newRow("41") << 41 << u("7.通道四设置") << u("CH4 小数点") << pointHint << "Combo15"
                        << coded << int(OptionList::DecimalPoint);
    QTest::newRow("44") << 44 << u("7.通道四设置") << u("平移修正") << u("-500 ~ 500")
                        << "T_3RW(43)" << integer << none;
    QTest::newRow("45") << 45 << u("1.Instrument ") << u("CONFIG 密码") << u("0000-9999")
                        << "T_3RW(44)" << integer << none;
    QTest::newRow("46") << 46 << u("1.Instrument ") << u("屏幕点亮时间")
                        << u("0～60min，0--常亮，1～60--定时关闭显示\r\n") << "T_3RW(45)" << integer
                        << none;
    QTest::newRow("47") << 47 << u("1.Instrument ") << u("输入数字滤波") << u("0～10 S")
                        << "T_3RW(46)" << tenths << none;
    QTest::newRow("48") << 48 << u("1.Instrument ") << u("温度单位")
                        << u("0～2，0-摄氏度C，1-华氏度F，2-绝对温标K\r\n") << "Combo17" << coded
                        << int(OptionList::TemperatureUnit);
    QTest::newRow("49") << 49 << u("2.输出-位式&报警") << u("继电器功能切换")
                        << u("0～1：0-报警方式，1-位式控制\r\n") << "Combo18" << coded
                        << int(OptionList::RelayFunction);
    QTest::newRow("50") << 50 << u("2.输出-位式&报警") << u("输入开路继电器状态")
                        << u("0～1：0-转预置状态，1-保持不变") << "Combo19" << coded
                        << int(OptionList::OpenInputRelayHandling);
    QTest::newRow("51") << 51 << u("2.输出-位式&报警") << u("输入开路RELAY预置值")
                        << u("0～1：0-断开，1-闭合") << "Combo20" << coded
                        << int(OptionList::OpenInputRelayPreset);
    QTest::newRow("52") << 52 << u("2.输出-位式&报警") << u("输入开路变送处理")
                        << u("0～1：0-转预置值，1-保持不变") << "Combo21" << coded
                        << int(OptionList::OpenInputRetransmissionHandling);
    QTest::newRow("53") << 53 << u("2.输出-位式&报警") << u("输入开路变送预置值") << u("0.0-100.0%")
                        << "T_3RW(52)" << tenths << none;
}

void TestConfig::parameterRows()
{
    QFETCH(int, reg);
    const ParameterRow *row = parameterOf(reg);
    QVERIFY(row);
    QCOMPARE(row->reg, reg);
    QCOMPARE(row->row, reg - 1);
    QTEST(u(tabs()[row->tab].caption), "tab");
    QTEST(u(row->name), "name");
    QTEST(u(row->hint), "hint");
    QTEST(QString::fromLatin1(row->control), "control");
    QTEST(int(row->kind), "kind");
    QTEST(int(row->list), "list");
}

void TestConfig::mapStructure()
{
    QCOMPARE(parameters().size(), 53);
    QVERIFY(!parameterOf(0));
    QVERIFY(!parameterOf(54));

    std::set<int> entryIndexes, tenthsIndexes, combos;
    for (const ParameterRow &row : parameters()) {
        QCOMPARE(row.row, row.reg - 1);
        QCOMPARE(row.kind == ValueKind::Coded, row.list != OptionList::None);
        if (const std::optional<int> combo = comboNumber(row)) {
            QVERIFY(row.kind == ValueKind::Coded);
            QVERIFY2(combos.insert(*combo).second, row.control);
        } else {
            // An entry box's register is its index plus 1.
            QCOMPARE(QString::fromLatin1(row.control), QStringLiteral("T_3RW(%1)").arg(row.row));
            entryIndexes.insert(row.row);
            if (row.kind == ValueKind::Tenths)
                tenthsIndexes.insert(row.row);
        }
        const TabRow &tab = tabs()[row.tab];
        QVERIFY(row.reg >= tab.firstRegister && row.reg <= tab.lastRegister);
    }
    const std::set<int> expectedEntries{0,  1,  2,  3,  4,  5,  6,  7,  9,  11, 13,
                                        15, 16, 19, 22, 23, 26, 27, 28, 31, 32, 33,
                                        36, 37, 38, 41, 42, 43, 44, 45, 46, 52};
    QCOMPARE(entryIndexes, expectedEntries);
    QCOMPARE(tenthsIndexes, (std::set<int>{46, 52}));
    QCOMPARE(int(combos.size()), 21);
    QCOMPARE(*combos.begin(), 1);
    QCOMPARE(*combos.rbegin(), 21);

    // Ten tabs that between them cover every register once.
    const QStringList captions{u("1.Instrument "), u("2.输出-位式&报警"), u("3.变送设置"),
                               u("4.通道一设置"),  u("5.通道二设置"),     u("6.通道三设置"),
                               u("7.通道四设置"),  u("8.通讯设定"),       u("9.继电器功能"),
                               u("10.报警设置")};
    QCOMPARE(tabs().size(), 10);
    int covered = 0;
    for (int i = 0; i < tabs().size(); ++i) {
        QCOMPARE(u(tabs()[i].caption), captions[i]);
        covered += tabs()[i].lastRegister - tabs()[i].firstRegister + 1;
    }
    QCOMPARE(covered, 53);
    QCOMPARE(tabs()[0].firstRegister, 45);
    QCOMPARE(tabs()[9].lastRegister, 8);
}

void TestConfig::comboRegisters_data()
{
    QTest::addColumn<int>("combo");
    QTest::addColumn<int>("reg");
    const int pairs[][2] = {{1, 9},   {2, 11},  {3, 13},  {4, 15},  {5, 18},  {6, 19},  {7, 21},
                            {8, 22},  {9, 25},  {10, 26}, {11, 31}, {12, 30}, {13, 36}, {14, 35},
                            {15, 41}, {16, 40}, {17, 48}, {18, 49}, {19, 50}, {20, 51}, {21, 52}};
    for (const auto &pair : pairs)
        QTest::addRow("Combo%d", pair[0]) << pair[0] << pair[1];
}

void TestConfig::comboRegisters()
{
    QFETCH(int, combo);
    const ParameterRow *row = comboParameter(combo);
    QVERIFY(row);
    QTEST(row->reg, "reg");
    QVERIFY(!comboParameter(0));
    QVERIFY(!comboParameter(22));
}

void TestConfig::optionLists_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("firstCode");
    QTest::addColumn<int>("count");
    QTest::newRow("alarm mode") << int(OptionList::AlarmMode) << 0 << 6;
    QTest::newRow("baud rate") << int(OptionList::BaudRate) << 0 << 3;
    QTest::newRow("parity") << int(OptionList::Parity) << 0 << 3;
    QTest::newRow("retransmission channel") << int(OptionList::RetransmissionChannel) << 1 << 4;
    QTest::newRow("retransmission range") << int(OptionList::RetransmissionRange) << 0 << 3;
    QTest::newRow("input type") << int(OptionList::InputType) << 0 << 32;
    QTest::newRow("decimal point") << int(OptionList::DecimalPoint) << 0 << 5;
    QTest::newRow("temperature unit") << int(OptionList::TemperatureUnit) << 0 << 3;
    QTest::newRow("relay function") << int(OptionList::RelayFunction) << 0 << 2;
    QTest::newRow("open relay handling") << int(OptionList::OpenInputRelayHandling) << 0 << 2;
    QTest::newRow("open relay preset") << int(OptionList::OpenInputRelayPreset) << 0 << 2;
    QTest::newRow("open retransmission")
        << int(OptionList::OpenInputRetransmissionHandling) << 0 << 2;
    QTest::newRow("none") << int(OptionList::None) << 0 << 0;
}

void TestConfig::optionLists()
{
    QFETCH(int, list);
    QFETCH(int, firstCode);
    const RowRange<OptionRow> entries = options(OptionList(list));
    QTEST(entries.size(), "count");
    for (int i = 0; i < entries.size(); ++i) {
        // Codes run up from the first; every entry text starts with its code.
        QCOMPARE(entries[i].code, firstCode + i);
        QVERIFY(u(entries[i].entryText).startsWith(QString::number(entries[i].code)));
        QVERIFY(u(entries[i].entryText) != u(entries[i].readBackText));
    }
}

void TestConfig::optionTexts_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("entryText");
    QTest::addColumn<QString>("readBack");
    const int alarm = int(OptionList::AlarmMode), input = int(OptionList::InputType);
    QTest::newRow("alarm 0") << alarm << 0 << u("0:无 ") << u("无");
    QTest::newRow("alarm 5") << alarm << 5 << u("5:偏差带报警 ") << u("偏差带报警");
    QTest::newRow("baud 2") << int(OptionList::BaudRate) << 2 << u("2:19200BPS ") << u("19200BPS");
    QTest::newRow("parity 2") << int(OptionList::Parity) << 2 << u("2:偶校验 ") << u("偶校验");
    QTest::newRow("channel 1") << int(OptionList::RetransmissionChannel) << 1 << u("1:CH1 变送 ")
                               << u("通道一变送");
    QTest::newRow("channel 4") << int(OptionList::RetransmissionChannel) << 4 << u("4:CH4 变送 ")
                               << u("通道4变送");
    QTest::newRow("range 0") << int(OptionList::RetransmissionRange) << 0 << u("0:4MA20 ")
                             << u("4MA20");
    QTest::newRow("input 0, no blank") << input << 0 << u("0:K(-200-1300)") << u("K(-200~1300)");
    QTest::newRow("input 8, blank for colon")
        << input << 8 << u("8 WRe325(0-2300)") << u("WRe325(0~2300)");
    QTest::newRow("input 10") << input << 10 << u("10:Cu50(-50-150)") << u("Cu50(-50-150)");
    QTest::newRow("input 13, three blanks")
        << input << 13 << u("13:PT1000(-200-850) ") << u("PT1000(-200-850)   ");
    QTest::newRow("input 14, blanks both ends")
        << input << 14 << u("14:0Ω80(0～80Ω) ") << u(" 0Ω80(0～80Ω) ");
    QTest::newRow("input 16, 4000 offered, 5000 read")
        << input << 16 << u("16:0Ω4000(0～4000Ω) ") << u(" 0Ω5000(0～5000Ω)");
    QTest::newRow("input 21") << input << 21 << u("21:0MV100(0-100MV)") << u(" 0MV100(0-100MV)");
    QTest::newRow("input 23") << input << 23 << u("23:正负100MV(-100-+100MV)")
                              << u(" 正负100MV(-100-+100MV)");
    QTest::newRow("input 24, two blanks") << input << 24 << u("24:0V1(0-1V) ") << u("  0V1(0-1V)");
    QTest::newRow("input 31") << input << 31 << u("31:正负10V(-10-+10V) ")
                              << u(" 正负10V(-10-+10V)");
    QTest::newRow("point 4") << int(OptionList::DecimalPoint) << 4 << u("4:X.XXXX ") << u("X.XXXX");
    QTest::newRow("unit 2") << int(OptionList::TemperatureUnit) << 2 << u("2:绝对温度 ")
                            << u("绝对温度");
    QTest::newRow("relay 1") << int(OptionList::RelayFunction) << 1 << u("1:位式控制 ")
                             << u("位式控制");
    QTest::newRow("open relay 0") << int(OptionList::OpenInputRelayHandling) << 0 << u("0:转预置 ")
                                  << u("继电器转预置");
    QTest::newRow("open relay 1") << int(OptionList::OpenInputRelayHandling) << 1 << u("1:保持 ")
                                  << u("继电器维持");
    QTest::newRow("preset 1") << int(OptionList::OpenInputRelayPreset) << 1 << u("1:闭合 ")
                              << u("闭合");
    QTest::newRow("open retransmission 0") << int(OptionList::OpenInputRetransmissionHandling) << 0
                                           << u("0:转预置值 ") << u("变送转预置");
    QTest::newRow("open retransmission 1, same entry as relay")
        << int(OptionList::OpenInputRetransmissionHandling) << 1 << u("1:保持 ") << u("维持");
}

void TestConfig::optionTexts()
{
    QFETCH(int, list);
    QFETCH(int, code);
    const OptionRow *option = optionOf(OptionList(list), code);
    QVERIFY(option);
    QTEST(u(option->entryText), "entryText");
    QTEST(u(option->readBackText), "readBack");
}

// ------------------------------------------------------ show and write

void TestConfig::shownText_data()
{
    QTest::addColumn<int>("reg");
    QTest::addColumn<int>("value");
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QString>("text");
    QTest::newRow("password 7, no leading zeros") << 45 << 7 << true << "7";
    QTest::newRow("integer negative") << 29 << -500 << true << "-500";
    QTest::newRow("integer wide") << 1 << 100000 << true << "100000";
    QTest::newRow("filter 25") << 47 << 25 << true << "2.5";
    QTest::newRow("filter 30, no point") << 47 << 30 << true << "3";
    QTest::newRow("filter 1") << 47 << 1 << true << "0.1";
    QTest::newRow("preset 1000") << 53 << 1000 << true << "100";
    QTest::newRow("preset -5") << 53 << -5 << true << "-0.5";
    QTest::newRow("channel 0 below the codes") << 21 << 0 << false << QString();
    QTest::newRow("channel 4") << 21 << 4 << true << u("通道4变送");
    QTest::newRow("channel 5 above the codes") << 21 << 5 << false << QString();
    QTest::newRow("alarm mode 0") << 9 << 0 << true << u("无");
    QTest::newRow("alarm mode 6") << 9 << 6 << false << QString();
    QTest::newRow("alarm mode -1") << 15 << -1 << false << QString();
    QTest::newRow("input type 16") << 25 << 16 << true << u(" 0Ω5000(0～5000Ω)");
    QTest::newRow("input type 16 on channel 4") << 40 << 16 << true << u(" 0Ω5000(0～5000Ω)");
    QTest::newRow("input type 32") << 30 << 32 << false << QString();
    QTest::newRow("open retransmission 1") << 52 << 1 << true << u("维持");
}

void TestConfig::shownText()
{
    QFETCH(int, reg);
    QFETCH(int, value);
    QFETCH(bool, shown);
    const std::optional<QString> text = ParameterMap::shownText(*parameterOf(reg), value);
    QCOMPARE(text.has_value(), shown);
    if (shown)
        QTEST(*text, "text");
}

void TestConfig::entryValue_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("fits");
    QTest::addColumn<int>("value");
    const int integer = int(ValueKind::Integer), tenths = int(ValueKind::Tenths);
    QTest::newRow("2.5 to even") << integer << "2.5" << true << 2;
    QTest::newRow("3.5 to even") << integer << "3.5" << true << 4;
    QTest::newRow("-2.5 to even") << integer << "-2.5" << true << -2;
    QTest::newRow("-500") << integer << "-500" << true << -500;
    QTest::newRow("blanks inside") << integer << " 1 2" << true << 12;
    QTest::newRow("comma ends") << integer << "12,5" << true << 12;
    QTest::newRow("letters give 0") << integer << "abc" << true << 0;
    QTest::newRow("a sign alone gives 0") << integer << "-" << true << 0;
    QTest::newRow("1e9") << integer << "1e9" << true << 1000000000;
    QTest::newRow("3e9 too wide") << integer << "3e9" << false << 0;
    QTest::newRow("-3e9 too wide") << integer << "-3e9" << false << 0;
    QTest::newRow("1e40 beyond single precision") << integer << "1e40" << false << 0;
    QTest::newRow("99999999999") << integer << "99999999999" << false << 0;
    QTest::newRow("tenths 2.5") << tenths << "2.5" << true << 25;
    QTest::newRow("tenths 0.35 held in single precision") << tenths << "0.35" << true << 3;
    QTest::newRow("tenths 0.25 to even") << tenths << "0.25" << true << 2;
    QTest::newRow("tenths 100") << tenths << "100" << true << 1000;
    QTest::newRow("tenths 1e9 too wide") << tenths << "1e9" << false << 0;
}

void TestConfig::entryValue()
{
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(bool, fits);
    const std::optional<qint32> value = ParameterMap::entryValue(ValueKind(kind), text);
    QCOMPARE(value.has_value(), fits);
    if (fits)
        QTEST(int(*value), "value");
}

void TestConfig::comboCode_data()
{
    QTest::addColumn<int>("list");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("code"); // -1: no code, nothing is written
    const int baud = int(OptionList::BaudRate), channel = int(OptionList::RetransmissionChannel),
              input = int(OptionList::InputType);
    QTest::newRow("entry text") << baud << u("2:19200BPS ") << 2;
    QTest::newRow("the code as left after a write") << baud << "2" << 2;
    QTest::newRow("a shortened entry") << baud << "1:9600" << 1;
    QTest::newRow("a code outside the list") << baud << "7" << -1;
    QTest::newRow("not a whole code") << baud << "1.5" << -1;
    QTest::newRow("free text") << baud << "abc" << -1;
    QTest::newRow("a sign alone") << baud << "-" << -1;
    QTest::newRow("empty") << baud << "" << -1;
    QTest::newRow("channel 0 is no code") << channel << "0" << -1;
    QTest::newRow("channel 4") << channel << u("4:CH4 变送 ") << 4;
    QTest::newRow("input 8 with its blank") << input << u("8 WRe325(0-2300)") << 8;
    QTest::newRow("input 16") << input << u("16:0Ω4000(0～4000Ω) ") << 16;
    QTest::newRow("input 31 typed") << input << " 31" << 31;
}

void TestConfig::comboCode()
{
    QFETCH(int, list);
    QFETCH(QString, text);
    QTEST(ParameterMap::comboCode(OptionList(list), text).value_or(-1), "code");
}

// ------------------------------------------------- the window, no link

void TestConfig::windowLayout()
{
    ConfigWindow *w = openWindow();
    QCOMPARE(w->windowTitle(), QStringLiteral("ZELMAR CONFIG "));
    QCOMPARE(w->size(), QSize(974, 636));
    auto *frame = w->findChild<QGroupBox *>(QStringLiteral("Frame1"));
    QVERIFY(frame);
    QCOMPARE(frame->title(), QStringLiteral("CONFIG"));
    QWidget *tabControl = frame->findChild<QWidget *>(QStringLiteral("SSTab2"));
    QVERIFY(tabControl);

    // Two rows of five tab buttons, in order.
    for (int tab = 0; tab < 10; ++tab) {
        auto *button =
            tabControl->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(tab));
        QVERIFY(button);
        QCOMPARE(button->text().replace(QStringLiteral("&&"), QStringLiteral("&")),
                 u(tabs()[tab].caption));
        QVERIFY(button->shortcut().isEmpty()); // the ampersand is shown, not a mnemonic
        auto *first =
            tabControl->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(tab % 5));
        QCOMPARE(button->x(), first->x());
        QCOMPARE(button->y() > first->y(), tab >= 5);
    }

    // Each row's four columns, and the colours of the value and hint labels.
    for (const ParameterRow &row : parameters()) {
        auto *name = w->findChild<QLabel *>(QStringLiteral("Label1(%1)").arg(row.row));
        auto *value = w->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row.row));
        auto *hint = w->findChild<QLabel *>(QStringLiteral("Label2(%1)").arg(row.row));
        auto *entry = w->findChild<QWidget *>(QString::fromLatin1(row.control));
        QVERIFY2(name && value && hint && entry, row.control);
        QCOMPARE(name->text(), u(row.name));
        QCOMPARE(hint->text(), u(row.hint));
        QVERIFY(value->text().isEmpty());
        QCOMPARE(name->x(), 10);
        QCOMPARE(value->x(), 160);
        QCOMPARE(value->width(), 103);
        QCOMPARE(entry->x(), 272);
        QCOMPARE(entry->width(), 141);
        QCOMPARE(hint->x(), 440);
        QCOMPARE(value->palette().color(QPalette::Window), QColor(255, 192, 255));
        QVERIFY(value->autoFillBackground());
        QCOMPARE(hint->palette().color(QPalette::WindowText), QColor(0, 0, 192));
        if (auto *box = qobject_cast<QLineEdit *>(entry)) {
            QVERIFY(box->text().isEmpty());
            QCOMPARE(box->palette().color(QPalette::Base), QColor(Qt::white));
        } else {
            QVERIFY(qobject_cast<QComboBox *>(entry)->isEditable());
        }
    }
    QCOMPARE(w->findChildren<QLineEdit *>(QRegularExpression(QStringLiteral("^T_3RW"))).size(), 32);
    QCOMPARE(w->findChildren<QComboBox *>(QRegularExpression(QStringLiteral("^Combo"))).size(), 21);
    for (const char *picture : {"Image1", "Image2", "Image3"}) {
        auto *image = w->findChild<QLabel *>(QLatin1String(picture));
        QVERIFY(image);
        QVERIFY(image->y() > frame->geometry().bottom());
    }
    auto *leave = w->findChild<QPushButton *>(QStringLiteral("Command11"));
    QVERIFY(leave);
    QCOMPARE(leave->text(), u(" Esc 返回"));
    QVERIFY(leave->geometry().right() > w->width() * 3 / 4);
    QVERIFY(leave->geometry().bottom() > w->height() * 3 / 4);
    QCOMPARE(w->findChild<QTimer *>(QStringLiteral("Timer1"))->interval(), 1000);
    QVERIFY(w->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
}

void TestConfig::rowsOnTheirTabs()
{
    ConfigWindow *w = openWindow();
    for (int tab = 0; tab < tabs().size(); ++tab) {
        QWidget *page = w->findChild<QWidget *>(QStringLiteral("SSTab2Page(%1)").arg(tab));
        QVERIFY(page);
        int lastTop = -1;
        for (int reg = tabs()[tab].firstRegister; reg <= tabs()[tab].lastRegister; ++reg) {
            auto *value = page->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(reg - 1));
            QVERIFY2(value, qPrintable(QString::number(reg)));
            QVERIFY(page->findChild<QWidget *>(QLatin1String(parameterOf(reg)->control)));
            // Ascending register order, top to bottom, inside the tab control.
            QVERIFY(value->y() > lastTop);
            QVERIFY(value->geometry().bottom() < page->height());
            lastTop = value->y();
        }
    }
    QCOMPARE(w->findChild<QStackedWidget *>(QStringLiteral("SSTab2Pages"))->currentIndex(), 0);
    QVERIFY(w->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(0)"))->isChecked());
}

// The baseline of a label's first line of text in window coordinates, where
// QLabel puts it (the style's item text rectangle, with the label's own font).
static int firstBaseline(const QLabel *label)
{
    const QFontMetrics metrics = label->fontMetrics();
    const int flags = int(label->alignment()) | (label->wordWrap() ? Qt::TextWordWrap : 0);
    const QRect text =
        label->style()->itemTextRect(metrics, label->contentsRect(), flags, true, label->text());
    return label->mapTo(label->window(), QPoint(0, text.top() + metrics.ascent())).y();
}

void TestConfig::rowTextsOnOneLine()
{
    // Name, value and hint of a row read as one line, whether or not the hint
    // ends in a line break.
    ConfigWindow *w = openWindow();
    stopReadCycle();
    w->readCycle();
    for (const ParameterRow &row : parameters()) {
        auto *name = w->findChild<QLabel *>(QStringLiteral("Label1(%1)").arg(row.row));
        auto *value = w->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row.row));
        auto *hint = w->findChild<QLabel *>(QStringLiteral("Label2(%1)").arg(row.row));
        QVERIFY(!value->text().isEmpty() || row.row == 20); // channel: no code 0
        if (!value->text().isEmpty())
            QVERIFY2(qAbs(firstBaseline(value) - firstBaseline(name)) <= 1, row.control);
        QVERIFY2(qAbs(firstBaseline(hint) - firstBaseline(name)) <= 1,
                 qPrintable(QStringLiteral("%1: hint %2, name %3")
                                .arg(row.control)
                                .arg(firstBaseline(hint))
                                .arg(firstBaseline(name))));
        QCOMPARE(hint->text(), u(row.hint)); // the caption as it is, line break included
    }
}

// What the operator sees, read from the grabbed pixels of the real controls.
void TestConfig::colouredControlsShowTheirColours()
{
    ConfigWindow *w = openWindow();
    stopReadCycle();
    w->readCycle(); // the value labels hold text, as they do from the first tick
    for (const ParameterRow &row : parameters()) {
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(row.tab)),
                          Qt::LeftButton);
        auto *value = w->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row.row));
        QCOMPARE(mostFrequentColour(value), QColor(255, 192, 255));
        QVERIFY2(showsColour(w->findChild<QLabel *>(QStringLiteral("Label2(%1)").arg(row.row)),
                             QColor(0, 0, 192)),
                 row.control);
        if (auto *entry = w->findChild<QLineEdit *>(QLatin1String(row.control)))
            QCOMPARE(mostFrequentColour(entry), QColor(Qt::white));
    }
}

void TestConfig::everyListEntryReadable()
{
    ConfigWindow *w = openWindow();
    stopReadCycle();
    for (int n = 1; n <= kComboCount; ++n) {
        auto *tab = w->findChild<QPushButton *>(
            QStringLiteral("SSTab2Tab(%1)").arg(comboParameter(n)->tab));
        QTest::mouseClick(tab, Qt::LeftButton);
        QVERIFY(tab->hasFocus()); // the operator is not in the combo
        auto *combo = w->findChild<QComboBox *>(QStringLiteral("Combo%1").arg(n));
        QCOMPARE(unreadableComboEntry(combo), QString());
    }
}

void TestConfig::loadShowsFirstEntries()
{
    ConfigWindow *w = openWindow();
    QCOMPARE(w->closeGuard(), true);
    for (int n = 1; n <= kComboCount; ++n) {
        auto *combo = w->findChild<QComboBox *>(QStringLiteral("Combo%1").arg(n));
        QVERIFY(combo);
        const RowRange<OptionRow> entries = options(comboParameter(n)->list);
        QCOMPARE(combo->count(), entries.size());
        for (int i = 0; i < entries.size(); ++i)
            QCOMPARE(combo->itemText(i), u(entries[i].entryText));
        QCOMPARE(combo->currentText(), u(entries[0].entryText));
    }
    QCOMPARE(w->findChild<QComboBox *>(QStringLiteral("Combo7"))->currentText(), u("1:CH1 变送 "));
    QCOMPARE(w->findChild<QComboBox *>(QStringLiteral("Combo9"))->currentText(),
             u("0:K(-200-1300)"));
}

void TestConfig::tabButtonsSwitchPages()
{
    ConfigWindow *w = openWindow();
    auto *pages = w->findChild<QStackedWidget *>(QStringLiteral("SSTab2Pages"));
    for (int tab : {9, 4, 0, 7}) {
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(tab)),
                          Qt::LeftButton);
        QCOMPARE(pages->currentIndex(), tab);
        QVERIFY(pages->currentWidget()->findChild<QLabel *>(
            QStringLiteral("D_4W(%1)").arg(tabs()[tab].firstRegister - 1)));
    }
}

void TestConfig::closeBoxRefused()
{
    ConfigWindow *w = openWindow();
    QSignalSpy returned(w, &ConfigWindow::returned);
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QCOMPARE(CONFIG1(), w);
    QCOMPARE(returned.count(), 0);
}

void TestConfig::leaveButtonReturnsAndReopensFresh_data()
{
    addWaysOut();
}

void TestConfig::leaveButtonReturnsAndReopensFresh()
{
    QFETCH(bool, byKey);
    ConfigWindow *w = openWindow();
    QCOMPARE(CONFIG1(), w);
    auto *combo = w->findChild<QComboBox *>(QStringLiteral("Combo1"));
    combo->setCurrentIndex(3);
    w->findChild<QLineEdit *>(QStringLiteral("T_3RW(0)"))->setText(QStringLiteral("55"));

    QSignalSpy returned(w, &ConfigWindow::returned);
    QPointer<ConfigWindow> old(w);
    leaveWindow(byKey, w);
    QCOMPARE(returned.count(), 1);
    QVERIFY(!w->isVisible());
    QVERIFY(!w->closeGuard());
    QVERIFY(!w->findChild<QTimer *>(QStringLiteral("Timer1"))->isActive());
    QTRY_VERIFY(!old); // unloaded
    m_window = nullptr;

    ConfigWindow *fresh = openWindow();
    QVERIFY(fresh->closeGuard());
    QCOMPARE(fresh->findChild<QComboBox *>(QStringLiteral("Combo1"))->currentText(), u("0:无 "));
    QVERIFY(fresh->findChild<QLineEdit *>(QStringLiteral("T_3RW(0)"))->text().isEmpty());
    QVERIFY(fresh->findChild<QLabel *>(QStringLiteral("D_4W(0)"))->text().isEmpty());
    for (qint32 v : fresh->parameterTable())
        QCOMPARE(v, 0);
}

void TestConfig::readCycleWithLinkClosed()
{
    // CommSettings all zero, as before the first "打开": the reads fail and
    // leave the table at zero.
    ConfigWindow *w = openWindow();
    stopReadCycle();
    w->readCycle();
    auto label = [w](int row) {
        return w->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row))->text();
    };
    QCOMPARE(label(0), QStringLiteral("0"));
    QCOMPARE(label(46), QStringLiteral("0"));
    QCOMPARE(label(52), QStringLiteral("0"));
    QCOMPARE(label(8), u("无"));
    QCOMPARE(label(17), u("4800BPS"));
    QCOMPARE(label(24), u("K(-200~1300)"));
    QVERIFY(label(20).isEmpty()); // the retransmission channel has no code 0
    // Again with a port number whose link does not exist.
    CommSettings[CommIndex::Port] = 7;
    CommSettings[CommIndex::Address] = 1;
    w->readCycle();
    QCOMPARE(label(0), QStringLiteral("0"));
    QVERIFY(label(20).isEmpty());
}

void TestConfig::writesWithLinkClosed()
{
    ConfigWindow *w = openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(0)"));
    QVERIFY(box);
    QTest::keyClicks(box, QStringLiteral("12"));
    leaveByTab(box);
    auto *combo = focusControl<QComboBox>(QStringLiteral("Combo17"));
    QVERIFY(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    leaveByTab(combo);
    QCOMPARE(combo->currentText(), QStringLiteral("1"));
    QCOMPARE(CommSettings[CommIndex::StagedWrite], 1);
    QVERIFY(w->isVisible());
}

// ------------------------------------------ the window and the simulator

void TestConfig::readCycleShowsInstrument()
{
    Simulator sim({"--hold", "45=7", "--hold", "47=25", "--hold", "53=1000", "--hold", "21=4",
                   "--hold", "25=16", "--hold", "29=-500", "--hold", "18=2", "--hold", "64=9"});
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    w->readCycle();
    const QPair<int, QString> expected[] = {{44, "7"},
                                            {46, "2.5"},
                                            {52, "100"},
                                            {20, u("通道4变送")},
                                            {24, u(" 0Ω5000(0～5000Ω)")},
                                            {28, "-500"},
                                            {17, u("19200BPS")}};
    for (const auto &[row, text] : expected)
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row))->text(), text);
    // Registers 54 to 64 are read into the table and shown nowhere.
    QCOMPARE(w->parameterTable()[63], 9);
    QCOMPARE(w->parameterTable()[64], 0);
    // The timer does the same on its own.
    w->findChild<QTimer *>(QStringLiteral("Timer1"))->start();
    Set_4X_D1(kPort, kAddress, 45, 8);
    QTRY_COMPARE_WITH_TIMEOUT(w->findChild<QLabel *>(QStringLiteral("D_4W(44)"))->text(),
                              QStringLiteral("8"), 3000);
}

void TestConfig::codedLabelKeptOnUnknownCode()
{
    Simulator sim({"--hold", "21=4", "--hold", "9=2"});
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    w->readCycle();
    QCOMPARE(Set_4X_D1(kPort, kAddress, 21, 0), 0);
    QCOMPARE(Set_4X_D1(kPort, kAddress, 9, 9), 0);
    w->readCycle();
    QCOMPARE(w->parameterTable()[20], 0);
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("D_4W(20)"))->text(), u("通道4变送"));
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("D_4W(8)"))->text(), u("下限报警"));
}

void TestConfig::everyReadBackTextReadable()
{
    // One register of each option list: every value label has the same width
    // and font. Each code in turn is written to the instrument and read back.
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    std::map<OptionList, const ParameterRow *> oneOfEach;
    for (const ParameterRow &row : parameters())
        if (row.kind == ValueKind::Coded)
            oneOfEach.emplace(row.list, &row);
    QCOMPARE(int(oneOfEach.size()), 12);
    int shown = 0, cut = 0;
    for (qint32 code = 0; code < options(OptionList::InputType).size(); ++code) {
        for (const auto &[list, row] : oneOfEach)
            if (optionOf(list, code))
                QCOMPARE(Set_4X_D1(kPort, kAddress, row->reg, code), 0);
        w->readCycle();
        for (const auto &[list, row] : oneOfEach) {
            const OptionRow *option = optionOf(list, code);
            if (!option)
                continue;
            auto *label = w->findChild<FittedLabel *>(QStringLiteral("D_4W(%1)").arg(row->row));
            QVERIFY(label);
            QCOMPARE(label->text(), u(option->readBackText));
            QCOMPARE(unreadableLabelText(label), QString());
            ++shown;
            cut += label->shownText() != label->text();
        }
    }
    QCOMPARE(shown, 67);
    QVERIFY(cut > 0); // " 正负100MV(-100-+100MV)" does not fit whole
}

void TestConfig::comboWrites_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<int>("downs");
    QTest::addColumn<QString>("picked");
    QTest::addColumn<QString>("write");
    QTest::addColumn<QString>("shown");
    QTest::newRow("baud") << "Combo5" << 2 << u("2:19200BPS ") << "write 18 2"
                          << "2";
    QTest::newRow("channel from 1") << "Combo7" << 3 << u("4:CH4 变送 ") << "write 21 4"
                                    << "4";
    QTest::newRow("CH2 input type, Combo12")
        << "Combo12" << 16 << u("16:0Ω4000(0～4000Ω) ") << "write 30 16"
        << "16";
    QTest::newRow("CH2 point, Combo11") << "Combo11" << 1 << u("1:XXXX.X ") << "write 31 1"
                                        << "1";
    QTest::newRow("open retransmission") << "Combo21" << 1 << u("1:保持 ") << "write 52 1"
                                         << "1";
}

void TestConfig::comboWrites()
{
    QFETCH(QString, combo);
    QFETCH(int, downs);
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *box = focusControl<QComboBox>(combo);
    QVERIFY(box);
    for (int i = 0; i < downs; ++i)
        QTest::keyClick(box, Qt::Key_Down);
    QTEST(box->currentText(), "picked");
    QVERIFY(sim.writes().isEmpty()); // picking alone writes nothing
    leaveByTab(box);
    QFETCH(QString, write);
    QTRY_COMPARE(sim.writes(), QStringList{write});
    QTEST(box->currentText(), "shown");
    QVERIFY(!box->hasFocus());
    QCOMPARE(CommSettings[CommIndex::StagedWrite], write.section(QLatin1Char(' '), 2).toInt());
    // The next read cycle shows what the instrument now holds.
    m_window->readCycle();
    const ParameterRow *row = parameterOf(write.section(QLatin1Char(' '), 1, 1).toInt());
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("D_4W(%1)").arg(row->row))->text(),
             *ParameterMap::shownText(*row, write.section(QLatin1Char(' '), 2).toInt()));
}

void TestConfig::comboFreeText_data()
{
    QTest::addColumn<QString>("combo");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("free text") << "Combo5"
                               << "abc" << QStringList() << u("0:4800BPS ");
    QTest::newRow("a code typed") << "Combo5"
                                  << "1" << QStringList{"write 18 1"} << "1";
    QTest::newRow("a code with words") << "Combo6"
                                       << "2 even" << QStringList{"write 19 2"} << "2";
    QTest::newRow("a number that is no code") << "Combo5"
                                              << "7" << QStringList() << u("0:4800BPS ");
    QTest::newRow("channel 0") << "Combo7"
                               << "0" << QStringList() << u("1:CH1 变送 ");
    QTest::newRow("emptied") << "Combo8"
                             << "" << QStringList() << u("0:4MA20 ");
}

void TestConfig::comboFreeText()
{
    QFETCH(QString, combo);
    QFETCH(QString, typed);
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *box = focusControl<QComboBox>(combo);
    QVERIFY(box);
    box->lineEdit()->selectAll();
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClicks(box, typed);
    leaveByTab(box);
    QTEST(box->currentText(), "shown");
    QTEST(sim.writes(), "writes");
}

void TestConfig::entryWrites_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("writes");
    QTest::newRow("filter 2.5 in tenths") << 46 << "2.5" << QStringList{"write 47 25"};
    QTest::newRow("2.5 to even") << 22 << "2.5" << QStringList{"write 23 2"};
    QTest::newRow("3.5 to even") << 22 << "3.5" << QStringList{"write 23 4"};
    QTest::newRow("-500") << 28 << "-500" << QStringList{"write 29 -500"};
    QTest::newRow("preset 100 in tenths") << 52 << "100" << QStringList{"write 53 1000"};
    QTest::newRow("outside the hint, sent as it is") << 15 << "99" << QStringList{"write 16 99"};
    QTest::newRow("a sign alone writes nothing") << 0 << "-" << QStringList();
    QTest::newRow("letters write nothing") << 0 << "abc" << QStringList();
    QTest::newRow("zero is a number") << 0 << " 0" << QStringList{"write 1 0"};
    QTest::newRow("trailing words") << 9 << "12s" << QStringList{"write 10 12"};
    // 1e9 fits 32 bits; the link refuses it as wider than a register, sends
    // nothing, and the retry is refused the same way.
    QTest::newRow("1e9 wider than a register") << 0 << "1e9" << QStringList();
    QTest::newRow("1e9 in tenths too wide") << 46 << "1e9" << QStringList();
    QTest::newRow("too wide for 32 bits") << 0 << "99999999999" << QStringList();
    QTest::newRow("blank") << 1 << "   " << QStringList();
}

void TestConfig::entryWrites()
{
    QFETCH(int, index);
    QFETCH(QString, typed);
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(%1)").arg(index));
    QVERIFY(box);
    QTest::keyClicks(box, typed);
    leaveByTab(box);
    QVERIFY(!box->hasFocus());
    QCOMPARE(box->text(), typed); // the box keeps the operator's text
    QTEST(sim.writes(), "writes");
}

void TestConfig::unchangedLeaveWritesNothing()
{
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(44)"));
    QTest::keyClicks(box, QStringLiteral("1234"));
    QTest::keyClick(box, Qt::Key_Return); // Enter is no leave
    QVERIFY(sim.writes().isEmpty());
    leaveByTab(box);
    QCOMPARE(sim.writes(), QStringList{"write 45 1234"});
    // Back into the box and out again without a change: written once only.
    QVERIFY(focusControl<QLineEdit>(QStringLiteral("T_3RW(44)")));
    leaveByTab(box);
    auto *combo = focusControl<QComboBox>(QStringLiteral("Combo17"));
    QTest::keyClick(combo, Qt::Key_Down);
    leaveByTab(combo);
    QVERIFY(focusControl<QComboBox>(QStringLiteral("Combo17")));
    leaveByTab(combo);
    QCOMPARE(sim.writes(), (QStringList{"write 45 1234", "write 48 1"}));
    // Editing again writes again, even the same value.
    QVERIFY(focusControl<QLineEdit>(QStringLiteral("T_3RW(44)")));
    QTest::keyClick(box, Qt::Key_Backspace);
    QTest::keyClick(box, Qt::Key_4);
    leaveByTab(box);
    QCOMPARE(sim.writes(), (QStringList{"write 45 1234", "write 48 1", "write 45 1234"}));
}

void TestConfig::tabbingThroughEverythingWritesNothing()
{
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    int visited = 0;
    for (int tab = 0; tab < tabs().size(); ++tab) {
        QTest::mouseClick(w->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(%1)").arg(tab)),
                          Qt::LeftButton);
        for (int reg = tabs()[tab].firstRegister; reg <= tabs()[tab].lastRegister; ++reg) {
            QWidget *control = focusControl<QWidget>(QLatin1String(parameterOf(reg)->control));
            QVERIFY(control);
            ++visited;
            leaveByTab(control);
            QVERIFY(!control->hasFocus());
        }
        // And round the page with the Tab key.
        for (int i = 0; i < 12; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, 53);
    w->readCycle();
    QVERIFY(sim.writes().isEmpty());
    QCOMPARE(w->findChild<QComboBox *>(QStringLiteral("Combo5"))->currentText(), u("0:4800BPS "));
}

void TestConfig::silentInstrumentGetsExactlyTwoAttempts()
{
    Simulator sim({"--silent"});
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(0)"));
    QTest::keyClicks(box, QStringLiteral("7"));
    leaveByTab(box);
    auto *combo = focusControl<QComboBox>(QStringLiteral("Combo1"));
    QTest::keyClick(combo, Qt::Key_Down);
    leaveByTab(combo);
    QCOMPARE(sim.writes(), (QStringList{"write 1 7", "write 1 7", "write 9 1", "write 9 1"}));
    QCOMPARE(combo->currentText(), QStringLiteral("1"));
    // The read cycle against a silent instrument shows zeros and goes on.
    m_window->readCycle();
    QCOMPARE(m_window->findChild<QLabel *>(QStringLiteral("D_4W(0)"))->text(), QStringLiteral("0"));
}

void TestConfig::typingThenLeavingWritesFirst_data()
{
    addWaysOut();
}

void TestConfig::typingThenLeavingWritesFirst()
{
    QFETCH(bool, byKey);
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(44)"));
    QTest::keyClicks(box, QStringLiteral("321"));
    QStringList writtenWhenReturned;
    int returned = 0;
    connect(w, &ConfigWindow::returned, this, [&] {
        ++returned;
        writtenWhenReturned = sim.writes();
    });
    QPointer<ConfigWindow> old(w);
    leaveWindow(byKey, box);
    QCOMPARE(returned, 1);
    QCOMPARE(writtenWhenReturned, QStringList{"write 45 321"});
    QTRY_VERIFY(!old);
    m_window = nullptr;
    QCOMPARE(sim.writes(), QStringList{"write 45 321"});
}

void TestConfig::pickFromTheList()
{
    // Opening the drop-down list takes the focus from the combo for a moment;
    // that is no leave. The pick is written when the operator moves on.
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *combo = focusControl<QComboBox>(QStringLiteral("Combo6"));
    QVERIFY(combo);
    QTest::keyClick(combo, Qt::Key_Down);
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    QVERIFY(sim.writes().isEmpty());
    const QRect item = list->visualRect(list->model()->index(2, 0));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, item.center());
    QTRY_VERIFY(!list->isVisible());
    QCOMPARE(combo->currentText(), u("2:偶校验 "));
    QVERIFY(sim.writes().isEmpty());
    QTest::mouseClick(m_window->findChild<QPushButton *>(QStringLiteral("SSTab2Tab(0)")),
                      Qt::LeftButton);
    QCOMPARE(sim.writes(), QStringList{"write 19 2"});
    QCOMPARE(combo->currentText(), QStringLiteral("2"));
}

void TestConfig::wheelOnlyInTheFocusedCombo()
{
    // The combos never show what the instrument holds, so an entry picked by a
    // wheel turned over a combo the operator is not in would go unseen and be
    // written by the next pass of the focus. Only the combo in use takes the wheel.
    Simulator sim;
    connectTo(sim);
    openWindow();
    stopReadCycle();
    auto *combo = m_window->findChild<QComboBox *>(QStringLiteral("Combo5"));
    QVERIFY(combo);
    auto turnWheel = [combo] {
        const QPoint centre = combo->rect().center();
        QWheelEvent wheel(centre, combo->mapToGlobal(centre), QPoint(), QPoint(0, -120),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(combo, &wheel);
    };
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(16)"));
    QVERIFY(box);
    turnWheel();
    QCOMPARE(combo->currentText(), u("0:4800BPS "));
    QVERIFY(box->hasFocus());
    // Nor does a wheel move the focus there.
    QVERIFY(combo->focusPolicy() != Qt::WheelFocus);
    QVERIFY(focusControl<QComboBox>(QStringLiteral("Combo5")));
    leaveByTab(combo);
    QVERIFY(sim.writes().isEmpty());

    QVERIFY(focusControl<QComboBox>(QStringLiteral("Combo5")));
    turnWheel();
    QCOMPARE(combo->currentText(), u("1:9600BPS "));
    leaveByTab(combo);
    QCOMPARE(sim.writes(), QStringList{"write 18 1"});
}

void TestConfig::writeDuringTheYield()
{
    // A leave that runs between the two block reads reaches the instrument
    // before the second one, so a register from 33 up shows at once.
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    auto *box = focusControl<QLineEdit>(QStringLiteral("T_3RW(44)"));
    QTest::keyClicks(box, QStringLiteral("77"));
    QTimer::singleShot(0, this, [box] { QTest::keyClick(box, Qt::Key_Tab); });
    w->readCycle();
    QCOMPARE(sim.writes(), QStringList{"write 45 77"});
    QCOMPARE(w->findChild<QLabel *>(QStringLiteral("D_4W(44)"))->text(), QStringLiteral("77"));
}

void TestConfig::leaveDuringTheYield()
{
    // " Esc 返回" pressed while a read cycle yields unloads the window; the
    // cycle stops there instead of touching the labels of a deleted window.
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    QPointer<ConfigWindow> old(w);
    QSignalSpy returned(w, &ConfigWindow::returned);
    QTimer::singleShot(0, this, [this] { leaveWindow(false, nullptr); });
    w->readCycle();
    QCOMPARE(returned.count(), 1);
    QTRY_VERIFY(!old);
    m_window = nullptr;
    QVERIFY(CONFIG1() != nullptr);
    m_window = CONFIG1();
}

void TestConfig::escClosesAnOpenListOnly_data()
{
    QTest::addColumn<int>("picksBefore"); // entries picked by key before the list opens
    QTest::newRow("first entry shown") << 0;
    QTest::newRow("a pick not yet written") << 2;
}

void TestConfig::escClosesAnOpenListOnly()
{
    // An operator dismissing a list means "not this one", not "leave the window".
    QFETCH(int, picksBefore);
    Simulator sim;
    connectTo(sim);
    ConfigWindow *w = openWindow();
    stopReadCycle();
    QSignalSpy returned(w, &ConfigWindow::returned);
    auto *combo = focusControl<QComboBox>(QStringLiteral("Combo9"));
    QVERIFY(combo);
    for (int i = 0; i < picksBefore; ++i)
        QTest::keyClick(combo, Qt::Key_Down);
    const QString before = combo->currentText();
    combo->showPopup();
    QAbstractItemView *list = combo->view();
    QTRY_VERIFY(list->isVisible());
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Down);
    QTest::keyClick(list, Qt::Key_Escape);
    QTRY_VERIFY(!list->isVisible());
    QVERIFY(w->isVisible());
    QCOMPARE(returned.count(), 0);
    QVERIFY(w->closeGuard());
    QCOMPARE(combo->currentText(), before);
    QVERIFY(combo->hasFocus());
    QVERIFY(sim.writes().isEmpty());

    // With no list open, Esc leaves as ever, writing the pick on the way out.
    QPointer<ConfigWindow> old(w);
    QTest::keyClick(combo, Qt::Key_Escape);
    QCOMPARE(returned.count(), 1);
    QTRY_VERIFY(!old);
    m_window = nullptr;
    QCOMPARE(sim.writes(), picksBefore ? QStringList{QStringLiteral("write 25 %1").arg(picksBefore)}
                                       : QStringList());
}

QTEST_MAIN(TestConfig)
#include "tst_config.moc"
