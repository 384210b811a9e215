// The overview window (ssqx): its controls built where the operator knows them,
// its display and panel ticks, the chart's zoom, steps and ruler as the
// buttons and keys run them, and the opening and closing of the link.

#include "overviewwindow.h"

#include "keyrouting.h"

#include "chartsources.h"
#include "chartsurface.h"
#include "clock.h"
#include "colours.h"
#include "configwindow.h"
#include "controlname.h"
#include "fittedtext.h"
#include "healthmonitor.h"
#include "journal.h"
#include "journalwindow.h"
#include "keymap.h"
#include "livedisplay.h"
#include "numbers.h"
#include "poller.h"
#include "portconnection.h"
#include "scalingwatch.h"
#include "shared.h"
#include "statusstrip.h"
#include "style.h"
#include "twips.h"
#include "windowplacement.h"
#include "yrange.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTimer>

#include <algorithm>
#include <initializer_list>

namespace
{

constexpr int kClientWidth = 16935; // twips
constexpr int kClientHeight = 11085;

constexpr int kPortCount = 20;          // port list "1 " .. "20 "
constexpr int kAddressCount = 16;       // address list "1 " .. "16 "
constexpr int kDefaultBaudOption = 1;   // "9600"
constexpr int kDefaultParityOption = 0; // "无校验"

// The chart pictures, built at the size the load gives them: one drawing unit per twip.
constexpr int kPt0Width = 12010;
constexpr int kPt0Height = 7510;
constexpr int kPtTop = 30; // pt inside pt0
constexpr int kPt0Left = 1620;
constexpr int kPt0Top = 2040;

// One step past either end of the chart pages the window.
constexpr int kSliderMinimum = TrendChart::kSliderLeftEnd;
constexpr int kSliderMaximum = TrendChart::kSliderRightEnd;

constexpr QRgb kRed = qRgb(255, 0, 0);
constexpr QRgb kBlue = qRgb(0, 0, 255);
constexpr QRgb kGreen = qRgb(0, 128, 0);
constexpr QRgb kGrey = qRgb(128, 128, 128);
constexpr QRgb kWhite = qRgb(255, 255, 255);
constexpr QRgb kPt0Background = qRgb(192, 192, 255);
constexpr QRgb kRulerDesignColour = qRgb(192, 192, 255);
constexpr QRgb kRulerReadingBackground = qRgb(255, 255, 0); // read-outs under the ruler
constexpr QRgb kStatusDesignBackground = qRgb(255, 224, 192);
constexpr QRgb kConfigBackground = qRgb(255, 128, 0); // orange
constexpr QRgb kExitBackground = qRgb(255, 192, 203); // pink
constexpr QRgb kMajorTick = qRgb(192, 0, 0);
constexpr QRgb kMinorTick = qRgb(0, 0, 255);

// Window y of the major value ticks, bottom to top; the scale labels stand beside them.
constexpr std::array<int, 7> kMajorValueTicks = {9540, 8295, 7065, 5820, 4575, 3345, 2100};
constexpr std::array<int, 6> kMinorValueTicks = {2700, 3945, 5190, 6420, 7665, 8910};
// Window x of the major time ticks, one under each time and date label.
constexpr std::array<int, 9> kMajorTimeTicks = {1650, 3150,  4635,  6135, 7635,
                                                9120, 10620, 12120, 13620};
constexpr std::array<int, 8> kMinorTimeTicks = {2400, 3900, 5385, 6885, 8370, 9870, 11370, 12870};

QFont songti(double points, bool bold = false)
{
    QFont font(QStringLiteral("宋体"));
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

template <typename Widget> Widget *place(Widget *widget, const QString &name, const QRect &twips)
{
    widget->setObjectName(name);
    widget->setGeometry(twipsRect(twips.x(), twips.y(), twips.width(), twips.height()));
    return widget;
}

QLabel *addLabel(QWidget *parent, const QString &name, const QString &text, const QRect &twips)
{
    return place(new QLabel(text, parent), name, twips);
}

QPushButton *addButton(QWidget *parent, const QString &name, const QString &text,
                       const QRect &twips)
{
    return place(new QPushButton(text, parent), name, twips);
}

QGroupBox *addFrame(QWidget *parent, const QString &name, const QString &caption,
                    const QRect &twips)
{
    return place(new QGroupBox(caption, parent), name, twips);
}

void setBackground(QWidget *widget, QRgb colour)
{
    // The boxes are set five times a second: only a change of colour touches them.
    if (widget->autoFillBackground() && widget->palette().color(QPalette::Window).rgb() == colour &&
        widget->palette().color(QPalette::Button).rgb() == colour)
        return;
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, QColor(colour));
    palette.setColor(QPalette::Button, QColor(colour));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void setTextColour(QWidget *widget, QRgb colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(colour));
    widget->setPalette(palette);
}

void setCaptionColour(QGroupBox *frame, QRgb colour)
{
    frame->setStyleSheet(
        QStringLiteral("QGroupBox::title { color: %1; }").arg(QColor(colour).name()));
}

// A bordered box of the value strip or the "ALM" panel.
void makeBox(QLabel *box, QRgb background)
{
    box->setFrameStyle(QFrame::Box | QFrame::Plain);
    setBackground(box, background);
}

QComboBox *addList(QWidget *parent, const QString &name, int count, const QRect &twips)
{
    auto *list = place(new QComboBox(parent), name, twips);
    // A list with an edit field: the operator may type any text, and "打开"
    // reads whatever it shows.
    list->setEditable(true);
    list->setInsertPolicy(QComboBox::NoInsert);
    for (int n = 1; n <= count; ++n)
        list->addItem(QStringLiteral("%1 ").arg(n));
    fitCombo(list);
    return list;
}

template <std::size_t N> int checkedIndex(const std::array<QRadioButton *, N> &options)
{
    for (std::size_t i = 0; i < N; ++i)
        if (options[i]->isChecked())
            return int(i);
    return kNoOptionSelected;
}

struct TickLine {
    QLine twips;
    QRgb colour;
};

// The tick marks around the chart: decoration that no code changes.
QVector<TickLine> tickLines()
{
    QVector<TickLine> lines;
    for (int y : kMajorValueTicks) {
        lines.append({QLine(1410, y, 1620, y), kMajorTick});
        lines.append({QLine(13650, y, 13860, y), kMajorTick});
    }
    for (int y : kMinorValueTicks) {
        lines.append({QLine(1530, y, 1650, y), kMinorTick});
        lines.append({QLine(13650, y, 13800, y), kMinorTick});
    }
    // Two of the time ticks stand 30 twips higher than the rest.
    auto timeTick = [](int x) {
        const int top = (x == 3900 || x == 4635) ? 9510 : 9540;
        return QLine(x, top, x, top + 180);
    };
    for (int x : kMajorTimeTicks)
        lines.append({timeTick(x), kMajorTick});
    for (int x : kMinorTimeTicks)
        lines.append({timeTick(x), kMinorTick});
    return lines;
}

} // namespace

OverviewWindow::OverviewWindow(QWidget *parent)
    : QWidget(parent), m_timer1(new QTimer(this)), m_timer2(new QTimer(this)),
      m_timer3(new QTimer(this)), m_panelTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("ssqx"));
    setWindowTitle(QStringLiteral("过程控制仪表 ZELMAR  OverView"));
    setFont(songti(9));
    setFixedSize(twipsRect(0, 0, kClientWidth, kClientHeight).size());

    buildLinkControls();
    buildValueStrip();
    buildStatusPanel();
    buildFunctionButtons();
    buildChart();
    buildScalePanel();
    buildAxisLabels();
    buildRangeEditor();
    buildExitButtons();
    connect(Met1(), &Poller::polled, attachStatusStrip(toolHealthMonitor(linkHealth()), this),
            &StatusStrip::pollDelivered);
    centreOnScreen(this);

    m_timer1->setObjectName(QStringLiteral("Timer1"));
    m_timer1->setInterval(kDisplayInterval);
    // The alarm panel's boxes are refreshed on the same tick while it runs.
    connect(m_timer1, &QTimer::timeout, this, [this] {
        onDisplayTick();
        onPanelTick();
    });
    m_timer2->setObjectName(QStringLiteral("Timer2"));
    m_timer2->setInterval(kChartInterval);
    connect(m_timer2, &QTimer::timeout, this, [this] {
        // The connection follows the database file in every mode of the chart.
        currentStore();
        apply(m_chart.redrawChart());
    });
    m_timer3->setObjectName(QStringLiteral("Timer3"));
    m_timer3->setInterval(kClockInterval);
    connect(m_timer3, &QTimer::timeout, this,
            [this] { apply(m_chart.clockTick(SystemClock::now())); });
    // The alarm panel keeps showing alarms while Timer1 is stopped for history
    // or the ruler: the boxes have a tick of their own then.
    m_panelTimer->setObjectName(QStringLiteral("PanelTimer"));
    m_panelTimer->setInterval(kPanelInterval);
    connect(m_panelTimer, &QTimer::timeout, this, &OverviewWindow::onPanelTick);

    // Key preview: the window sees every key before the control that has the
    // focus, also inside an open list. A key the window system addressed to
    // another of the tool's windows is sent there before this filter sees it.
    qApp->installEventFilter(this);
    KeyRouting::install();

    load();
}

OverviewWindow::~OverviewWindow() = default;

// ---- Layout. Positions are the designed twips (left, top, width, height),
// relative to the containing frame. ----

void OverviewWindow::buildLinkControls()
{
    auto *frame6 = addFrame(this, QStringLiteral("Frame6"), QStringLiteral("通讯端口选择"),
                            {60, 0, 2115, 585});
    setCaptionColour(frame6, kRed);
    addLabel(frame6, controlName("Label1", 0), QStringLiteral("通讯端口"), {90, 240, 870, 255});
    m_combo1 = addList(frame6, QStringLiteral("Combo1"), kPortCount, {990, 210, 1005, 300});

    auto *frame50 =
        addFrame(this, controlName("Frame5", 0), QStringLiteral("模块地址"), {2220, 0, 2175, 585});
    addLabel(frame50, controlName("Label1", 1), QStringLiteral("模块地址"), {90, 240, 855, 255});
    m_combo2 = addList(frame50, QStringLiteral("Combo2"), kAddressCount, {960, 210, 1095, 300});

    auto *frame21 =
        addFrame(this, controlName("Frame2", 1), QStringLiteral("波特率"), {4470, 0, 2865, 585});
    setCaptionColour(frame21, kGreen);
    const std::array<const char *, 3> bauds = {"4800", "9600", "19200"};
    for (int i = 0; i < 3; ++i) {
        m_option1[i] = place(new QRadioButton(QLatin1String(bauds[i]), frame21),
                             controlName("Option1", i), {120 + 900 * i, 180, 870, 345});
    }

    auto *frame51 =
        addFrame(this, controlName("Frame5", 1), QStringLiteral("校验方式"), {7410, 0, 3255, 585});
    const std::array<QString, 3> parities = {QStringLiteral("无校验"), QStringLiteral("奇校验"),
                                             QStringLiteral("偶校验")};
    for (int i = 0; i < 3; ++i) {
        m_option2[i] = place(new QRadioButton(parities[i], frame51), controlName("Option2", i),
                             {120 + 1035 * i, 180, 1005, 345});
    }

    m_command9 =
        addButton(this, QStringLiteral("Command9"), QStringLiteral("打开"), {10770, 120, 825, 435});
    m_command10 = addButton(this, QStringLiteral("Command10"), QStringLiteral("关闭"),
                            {11730, 120, 825, 435});
    connect(m_command9, &QPushButton::clicked, this, &OverviewWindow::openLink);
    connect(m_command10, &QPushButton::clicked, this, &OverviewWindow::closeLink);

    // The date and time read-out: the clock, or the sample under the ruler.
    m_readouts[0] = addLabel(this, controlName("Label2", 9), QStringLiteral("2001-03-12"),
                             {12750, 240, 1245, 285});
    m_readouts[1] = addLabel(this, controlName("Label2", 10), QStringLiteral("18：42：00"),
                             {14010, 240, 1305, 285});
    QFont arial(QStringLiteral("Arial"));
    arial.setPointSizeF(10.5);
    arial.setBold(true);
    for (QLabel *readout : m_readouts) {
        readout->setFont(arial);
        readout->setAlignment(Qt::AlignCenter);
        setBackground(readout, LiveDisplay::kReadoutBackground);
        setTextColour(readout, kRed);
    }
}

void OverviewWindow::buildValueStrip()
{
    auto *frame4 = addFrame(this, QStringLiteral("Frame4"), QString(), {60, 690, 15315, 1005});
    struct Channel {
        int titleIndex;
        QString title;
        int left;
    };
    const std::array<Channel, LiveDisplay::kValueBoxes> channels = {{
        {2, QStringLiteral("通道一 CH1"), 1110},
        {4, QStringLiteral("通道二 CH2"), 4320},
        {3, QStringLiteral("通道三 CH3"), 7530},
        {12, QStringLiteral("通道四 CH4"), 10740},
        {23, QStringLiteral("变送值 DA"), 13950},
    }};
    for (int i = 0; i < LiveDisplay::kValueBoxes; ++i) {
        const Channel &c = channels[i];
        // Each title stands left of its value box.
        QLabel *title = addLabel(frame4, controlName("Label1", c.titleIndex), c.title,
                                 {c.left - 1035, 405, 1005, 255});
        title->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        title->setFont(songti(9, true));
        setTextColour(title, Chart::kChannelColours[i]);

        m_valueBoxes[i] =
            addLabel(frame4, controlName("D_3W", i), QStringLiteral("0"), {c.left, 360, 1200, 350});
        makeBox(m_valueBoxes[i], UiColour::kValueBox);
        m_valueBoxes[i]->setFont(songti(15, true));
    }
}

void OverviewWindow::buildStatusPanel()
{
    auto *frame9 =
        addFrame(this, QStringLiteral("Frame9"), QStringLiteral("ALM"), {15480, 90, 1335, 9525});
    for (int i = 0; i < LiveDisplay::kStatusBoxes; ++i) {
        const QString design = i == 0 ? QStringLiteral("报警一OFF") : QStringLiteral("报警二OFF");
        m_statusBoxes[i] =
            addLabel(frame9, controlName("D_2R", i), design, {105, 360 + 442 * i, 1125, 285});
        makeBox(m_statusBoxes[i], kStatusDesignBackground);
    }
    for (int i = 0; i < LiveDisplay::kRelayBoxes; ++i) {
        m_relayBoxes[i] = addLabel(frame9, controlName("D_1R", i), QStringLiteral("报警二OFF"),
                                   {105, 7620 + 450 * i, 1125, 285});
        makeBox(m_relayBoxes[i], LiveDisplay::kOpenBackground);
    }
}

void OverviewWindow::buildFunctionButtons()
{
    auto *frame3 =
        addFrame(this, QStringLiteral("Frame3"), QStringLiteral("功能"), {13920, 1860, 1395, 7725});
    struct Button {
        QPushButton **member;
        const char *name;
        QString caption;
    };
    const std::array<Button, 8> buttons = {{
        {&m_command4, "Command4", QStringLiteral("F1 缩小")},
        {&m_command3, "Command3", QStringLiteral("F2 放大")},
        {&m_command2, "Command2", QStringLiteral("F3 打印")},
        {&m_command5, "Command5", QStringLiteral("F4 标尺")},
        {&m_command6, "Command6", QStringLiteral("F5 选择")},
        {&m_command7, "Command7", QStringLiteral("F6 左移")},
        {&m_command8, "Command8", QStringLiteral("F7 右移")},
        {&m_command29, "Command29", QStringLiteral("历史曲线")},
    }};
    const std::array<int, 8> tops = {300, 1268, 2236, 3204, 4172, 5140, 6108, 7080};
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        *buttons[i].member = addButton(frame3, QLatin1String(buttons[i].name), buttons[i].caption,
                                       {150, tops[i], 1095, 405});
    }
    // Selecting has no action in this system. Printing and the history window
    // are asked for here and served by whoever listens.
    m_command6->setEnabled(false);
    connect(m_command2, &QPushButton::clicked, this, &OverviewWindow::printRequested);
    connect(m_command29, &QPushButton::clicked, this, &OverviewWindow::historyRequested);

    connect(m_command3, &QPushButton::clicked, this, &OverviewWindow::zoomIn);
    connect(m_command4, &QPushButton::clicked, this, &OverviewWindow::zoomOut);
    connect(m_command7, &QPushButton::clicked, this, &OverviewWindow::stepTowardsLive);
    connect(m_command8, &QPushButton::clicked, this, &OverviewWindow::stepBack);
    connect(m_command5, &QPushButton::clicked, this, &OverviewWindow::toggleRuler);

    // The journal view's button stands in the free space between "F7 右移" and "历史曲线".
    m_journalButton = addButton(frame3, QStringLiteral("JournalButton"), QStringLiteral("事件记录"),
                                {150, 6615, 1095, 360});
    connect(m_journalButton, &QPushButton::clicked, this, &OverviewWindow::showJournal);
}

void OverviewWindow::buildChart()
{
    m_pt0 =
        place(new QFrame(this), QStringLiteral("pt0"), {kPt0Left, kPt0Top, kPt0Width, kPt0Height});
    setBackground(m_pt0, kPt0Background);

    m_pt = place(new ChartSurface(m_pt0), QStringLiteral("pt"),
                 {0, kPtTop, ChartSurface::kWidth, ChartSurface::kHeight});

    // The ruler cursor, as designed until the ruler is first used.
    m_line1 = place(new QFrame(m_pt), QStringLiteral("Line1"), {0, 0, kTwipsPerPixel, 5940});
    setBackground(m_line1, kRulerDesignColour);

    m_hc = place(new QSlider(Qt::Horizontal, this), QStringLiteral("hc"), {1500, 1740, 12255, 285});
    m_hc->setRange(kSliderMinimum, kSliderMaximum);
    // Any change, by the operator or by the chart's actions, moves the ruler.
    connect(m_hc, &QSlider::valueChanged, this, &OverviewWindow::onSliderChanged);
    m_chart.attachSurface(m_pt);
    m_chart.setUnderlay([](const Chart::TrendBuffer &buffer, const Chart::TrendView &view) {
        // Only the spans of the samples shown: the cost of a redraw stays the
        // same however long the tool has run.
        double first = 0;
        double last = 0;
        if (!Chart::viewSpan(buffer, view, first, last))
            return QVector<Stroke>{};
        return Chart::notLiveBand(
            buffer, view, Chart::notLiveSpans(*toolHealthMonitor(linkHealth()), first, last));
    });
    m_chart.setMarkSource(
        [](double from, double to) { return Chart::journalMarks(*eventJournal(), from, to); });

    // The events under the ruler, below the marks at the chart's top edge.
    m_rulerEvents = place(new QLabel(m_pt), QStringLiteral("RulerEvents"), {60, 330, 9000, 285});
    setBackground(m_rulerEvents, kRulerReadingBackground);
    m_rulerEvents->hide();
}

void OverviewWindow::buildScalePanel()
{
    auto *frame20 = addFrame(this, controlName("Frame2", 0), QString(), {60, 1740, 1275, 8025});
    const int panelTop = 1740;
    const std::array<const char *, 7> outputScale = {"-10", "10", "30", "50", "70", "90", "110"};
    for (int i = 0; i < LiveDisplay::kScaleLabels; ++i) {
        const int top = kMajorValueTicks[i] - panelTop - 120;
        QLabel *output = addLabel(frame20, controlName("Label6", i), QLatin1String(outputScale[i]),
                                  {30, top, 480, 240});
        output->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        setTextColour(output, kBlue);

        m_scaleLabels[i] = addLabel(frame20, controlName("Label5", i), QString::number(100 * i),
                                    {525, top, 720, 240});
        m_scaleLabels[i]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_scaleLabels[i]->setFont(songti(10.5, true));
        setTextColour(m_scaleLabels[i], kRed);
    }
    struct Caption {
        QString name;
        QString text;
        QRgb colour;
        int left;
        int width;
    };
    const std::array<Caption, 4> captions = {{
        {controlName("Label8", 1), QStringLiteral("OP"), kBlue, 30, 300},
        {controlName("Label8", 2), QStringLiteral("SV"), kGreen, 330, 300},
        {controlName("Label8", 0), QStringLiteral("PV"), kRed, 630, 270},
        {QStringLiteral("Label11"), QStringLiteral("量程"), kRed, 900, 360},
    }};
    for (const Caption &c : captions)
        setTextColour(addLabel(frame20, c.name, c.text, {c.left, 30, c.width, 210}), c.colour);
}

void OverviewWindow::buildAxisLabels()
{
    // A date such as "2026/12/07" is about 1035 twips wide in the window's font:
    // 1000-twip labels cut its last pixel column. Wider labels, still centred
    // under their ticks, show it whole; neighbours stay about 300 twips apart.
    constexpr int kAxisLabelWidth = 1200;
    for (int j = 0; j < int(kMajorTimeTicks.size()); ++j) {
        const int left = kMajorTimeTicks[j] - kAxisLabelWidth / 2;
        m_timeLabels[j] = addLabel(this, controlName("Label4", j), QStringLiteral("00:00:00"),
                                   {left, 9780, kAxisLabelWidth, 255});
        m_dateLabels[j] = addLabel(this, controlName("Label7", j), QStringLiteral("2001/07/19"),
                                   {left, 10050, kAxisLabelWidth, 255});
        for (QLabel *label : {m_timeLabels[j], m_dateLabels[j]}) {
            label->setAlignment(Qt::AlignCenter);
            setTextColour(label, kGrey);
        }
    }
}

void OverviewWindow::buildRangeEditor()
{
    m_label9 = addLabel(this, QStringLiteral("Label9"), QStringLiteral("Y轴最大值"),
                        {240, 10680, 855, 255});
    m_ykd = place(new QLineEdit(this), QStringLiteral("YKD"), {1110, 10650, 615, 285});
    m_label10 = addLabel(this, QStringLiteral("Label10"), QStringLiteral("Y轴最小值"),
                         {1950, 10680, 855, 255});
    m_ykd1 = place(new QLineEdit(QStringLiteral("0"), this), QStringLiteral("YKD1"),
                   {2820, 10650, 615, 285});
    for (QLineEdit *entry : {m_ykd, m_ykd1}) {
        QPalette palette = entry->palette();
        palette.setColor(QPalette::Base, QColor(kWhite));
        entry->setPalette(palette);
    }
    m_command26 = addButton(this, QStringLiteral("Command26"), QStringLiteral("修改Y"),
                            {3480, 10650, 675, 315});
    connect(m_command26, &QPushButton::clicked, this, &OverviewWindow::applyRangeEntry);
}

void OverviewWindow::buildExitButtons()
{
    auto *frame11 = addFrame(this, QStringLiteral("Frame11"), QString(), {4440, 10320, 8835, 645});
    m_command21 = addButton(frame11, QStringLiteral("Command21"), QStringLiteral("CONFIG"),
                            {360, 180, 1095, 405});
    colourButton(m_command21, kConfigBackground);
    m_command1 = addButton(frame11, QStringLiteral("Command1"), QStringLiteral("退出"),
                           {7440, 180, 1095, 405});
    colourButton(m_command1, kExitBackground);
    connect(m_command21, &QPushButton::clicked, this, &OverviewWindow::showConfiguration);
    connect(m_command1, &QPushButton::clicked, this, &OverviewWindow::exitTool);
}

void OverviewWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (const TickLine &tick : tickLines()) {
        painter.setPen(QColor(tick.colour));
        painter.drawLine(twipsToPixels(tick.twips.x1()), twipsToPixels(tick.twips.y1()),
                         twipsToPixels(tick.twips.x2()), twipsToPixels(tick.twips.y2()));
    }
}

// ---- Load ----

void OverviewWindow::load()
{
    m_combo1->setCurrentIndex(0);
    m_option1[kDefaultBaudOption]->setChecked(true);
    m_option2[kDefaultParityOption]->setChecked(true);
    m_combo2->setCurrentIndex(0);

    OverviewOpen = true;
    m_store.follow(databasePath(), SystemClock::now());
    m_closeGuard = true;

    m_hc->setFocusPolicy(Qt::ClickFocus); // out of the tab order

    // The chart's start values, the live window from the database, the first redraw.
    apply(m_chart.load(m_store));

    setLiveTicks(true);
    m_timer2->start();
    m_timer3->start();
}

void OverviewWindow::setLiveTicks(bool running)
{
    if (running) {
        m_timer1->start();
        m_panelTimer->stop();
    } else {
        m_timer1->stop();
        m_panelTimer->start();
    }
}

// ---- The 200 ms tick ----

void OverviewWindow::onDisplayTick()
{
    showScaleLabels();
    apply(m_chart.takeLiveSample(currentStore()));
}

void OverviewWindow::onPanelTick()
{
    if (!m_chart.rulerIsOn())
        restoreReadoutColours();
    refreshChannelDisplay();
}

// Ruler mode paints the read-outs yellow; outside it they have their own colours.
void OverviewWindow::restoreReadoutColours()
{
    for (QLabel *readout : m_readouts)
        setBackground(readout, LiveDisplay::kReadoutBackground);
    for (QLabel *box : m_valueBoxes)
        setBackground(box, UiColour::kValueBox);
}

void OverviewWindow::showScaleLabels()
{
    for (int i = 0; i < LiveDisplay::kScaleLabels; ++i)
        m_scaleLabels[i]->setText(LiveDisplay::scaleLabelText(i, ChartSpan, ChartLow));
}

void OverviewWindow::refreshChannelDisplay()
{
    if (!m_chart.rulerIsOn()) {
        for (int i = 0; i < LiveDisplay::kValueBoxes; ++i)
            m_valueBoxes[i]->setText(singleText(ProcessValues[i]));
    }
    for (int i = 0; i < LiveDisplay::kStatusBoxes; ++i) {
        const LiveDisplay::BoxLook look = LiveDisplay::statusLook(i, InputStates[i]);
        m_statusBoxes[i]->setText(look.text);
        setBackground(m_statusBoxes[i], look.background.rgb());
    }
    for (int i = 0; i < LiveDisplay::kRelayBoxes; ++i) {
        const LiveDisplay::BoxLook look = LiveDisplay::relayLook(i, CoilStates[i]);
        m_relayBoxes[i]->setText(look.text);
        setBackground(m_relayBoxes[i], look.background.rgb());
    }
}

// ---- The trend chart ----

void OverviewWindow::zoomIn()
{
    apply(m_chart.zoomIn());
}

void OverviewWindow::zoomOut()
{
    apply(m_chart.zoomOut());
}

void OverviewWindow::stepTowardsLive()
{
    apply(m_chart.stepTowardsLive(currentStore()));
}

void OverviewWindow::stepBack()
{
    apply(m_chart.stepBack(currentStore()));
}

void OverviewWindow::toggleRuler()
{
    apply(m_chart.toggleRuler(currentStore()));
}

void OverviewWindow::onSliderChanged(int x)
{
    apply(m_chart.sliderChanged(currentStore(), x));
}

const RecordingStore &OverviewWindow::currentStore()
{
    m_store.keepOpen(SystemClock::now());
    return m_store;
}

void OverviewWindow::applyRangeEntry()
{
    // A rejected entry is ignored without a word; nothing is redrawn here.
    applyYRange(m_ykd->text(), m_ykd1->text());
}

// The editor is visible from the start: the double-click changes nothing on screen.
void OverviewWindow::showRangeEditor()
{
    for (QWidget *control :
         std::initializer_list<QWidget *>{m_label9, m_label10, m_ykd, m_ykd1, m_command26})
        control->setVisible(true);
}

void OverviewWindow::placeRulerLine(const RulerLine &line)
{
    setBackground(m_line1, line.colour.rgb());
    m_line1->setGeometry(m_pt->lineRect(line.from, line.to, line.width));
    m_line1->raise();
}

void OverviewWindow::apply(const ChartUpdate &update)
{
    // Setting the slider's value runs its change handler, which applies its own update.
    if (update.sliderValue)
        m_hc->setValue(*update.sliderValue);
    if (update.rulerLine)
        placeRulerLine(*update.rulerLine);
    if (update.sliderEnabled)
        m_hc->setEnabled(*update.sliderEnabled);
    if (update.focus)
        (*update.focus == ChartFocus::Slider ? static_cast<QWidget *>(m_hc) : m_command5)
            ->setFocus();
    if (update.zoomInEnabled)
        m_command3->setEnabled(*update.zoomInEnabled);
    if (update.zoomOutEnabled)
        m_command4->setEnabled(*update.zoomOutEnabled);
    if (update.towardsLiveEnabled)
        m_command7->setEnabled(*update.towardsLiveEnabled);
    if (update.stepBackEnabled)
        m_command8->setEnabled(*update.stepBackEnabled);
    if (update.sliderStep) {
        m_hc->setSingleStep(*update.sliderStep);
        m_hc->setPageStep(*update.sliderStep);
    }
    if (update.liveTimerRunning)
        setLiveTicks(*update.liveTimerRunning);
    if (update.rulerCaption)
        m_command5->setText(*update.rulerCaption);
    if (update.axisLabels) {
        // The scale belongs to the curves: a redraw that rescales them while
        // Timer1 is stopped rewrites the scale labels too.
        showScaleLabels();
        for (int j = 0; j < Chart::kLabelCount; ++j) {
            if (const auto &time = update.axisLabels->times[j])
                m_timeLabels[j]->setText(*time);
            if (const auto &date = update.axisLabels->dates[j])
                m_dateLabels[j]->setText(*date);
        }
    }
    if (update.readout) {
        m_readouts[0]->setText(update.readout->date);
        m_readouts[1]->setText(update.readout->time);
        if (update.readout->highlighted) {
            for (QLabel *readout : m_readouts)
                setBackground(readout, kRulerReadingBackground);
        }
        m_rulerEvents->setText(update.readout->events);
        m_rulerEvents->setVisible(!update.readout->events.isEmpty());
        m_rulerEvents->adjustSize();
    }
    if (update.values) {
        for (int k = 0; k < Chart::kDrawnValues; ++k) {
            m_valueBoxes[k]->setText((*update.values)[k]);
            setBackground(m_valueBoxes[k], kRulerReadingBackground);
        }
    }
}

// ---- The link ----

void OverviewWindow::openLink()
{
    openConnection(m_combo1->currentText(), checkedIndex(m_option1), checkedIndex(m_option2),
                   m_combo2->currentText());
    // Whether or not the port opened: a failed opening is not reported.
    m_command21->setEnabled(true);
    Met1()->startPolling();
    eventJournal()->linkOpened();
}

void OverviewWindow::closeLink()
{
    closeConnection();
    Met1()->stopPolling();
    m_command21->setEnabled(false);
    eventJournal()->linkClosed();
}

// ---- Configuration, the journal, keys, closing ----

void OverviewWindow::showJournal()
{
    JournalWindow *journal = journalWindow();
    journal->show();
    journal->raise();
    journal->activateWindow();
}

void OverviewWindow::showConfiguration()
{
    hide();
    ConfigWindow *config = CONFIG1();
    connect(config, &ConfigWindow::returned, this, &OverviewWindow::show, Qt::UniqueConnection);
    connect(config, &ConfigWindow::parameterWritten, eventJournal(), &EventJournal::configWritten,
            Qt::UniqueConnection);
    // A write of a decimal point, input type, input limit or the temperature
    // unit is read back as scaling after the next poll.
    connect(config, &ConfigWindow::parameterWritten, toolScalingWatch(), &ScalingWatch::noteWrite,
            Qt::UniqueConnection);
    config->show();
}

bool OverviewWindow::isInsideWindow(const QObject *object) const
{
    // An open list is a window of its own, but its parent chain leads here.
    // Any other window on the way (the details view, a print dialog) owns
    // its keys, although its parent chain leads here too.
    for (auto *widget = qobject_cast<const QWidget *>(object); widget;
         widget = widget->parentWidget()) {
        if (widget == this)
            return true;
        if (widget->isWindow() && widget->windowType() != Qt::Popup)
            return false;
    }
    return false;
}

namespace
{

// Whether a key goes to a drop-down list. The list may have closed itself on
// this very Esc already (it does so before the key press arrives); the key
// still goes to the list, not to the window.
bool isInsideList(const QObject *object)
{
    for (auto *widget = qobject_cast<const QWidget *>(object); widget;
         widget = widget->parentWidget()) {
        if (widget->windowType() == Qt::Popup)
            return true;
    }
    return false;
}

} // namespace

bool OverviewWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A double-click on a Y-axis scale label shows the range editor.
    if (event->type() == QEvent::MouseButtonDblClick &&
        std::find(m_scaleLabels.begin(), m_scaleLabels.end(), watched) != m_scaleLabels.end()) {
        showRangeEditor();
        return false;
    }
    if (event->type() != QEvent::KeyPress || !isVisible() || !isInsideWindow(watched))
        return false;
    return runKey(static_cast<QKeyEvent *>(event)->key(), isInsideList(watched));
}

// Runs the key's action; true when the key is one of the window's own.
bool OverviewWindow::runKey(int key, bool inList)
{
    const KeyConditions can{m_chart.canZoomIn(), m_chart.canZoomOut(), m_chart.canStepTowardsLive(),
                            m_chart.canStepBack(), inList};
    switch (keyAction(key, can)) {
    case KeyAction::NotMapped:
        return false;
    case KeyAction::Nothing:
        break;
    case KeyAction::ZoomIn:
        zoomIn();
        break;
    case KeyAction::ZoomOut:
        zoomOut();
        break;
    case KeyAction::StepTowardsLive:
        stepTowardsLive();
        break;
    case KeyAction::StepBack:
        stepBack();
        break;
    case KeyAction::ToggleRuler:
        toggleRuler();
        break;
    case KeyAction::Exit:
        exitTool();
        break;
    case KeyAction::Print:
        emit printRequested();
        break;
    case KeyAction::History:
        emit historyRequested();
        break;
    case KeyAction::ShowJournal:
        showJournal();
        break;
    case KeyAction::AcknowledgeAlarms:
        eventJournal()->acknowledgeAlarms();
        break;
    }
    return true;
}

// The unload. While the close guard holds it is refused and changes nothing:
// the connection and OverviewOpen stay, so the live chart goes on.
void OverviewWindow::closeEvent(QCloseEvent *event)
{
    if (m_closeGuard) {
        event->ignore();
        return;
    }
    m_store.close();
    OverviewOpen = false;
    event->accept();
}

void OverviewWindow::exitTool()
{
    eventJournal()->toolEnded();
    m_store.close();
    m_closeGuard = false;
    close();
    deleteLater();
    // The serial device is released, so that another program can use it at once.
    closeConnection();
    QCoreApplication::exit(0);
}

OverviewWindow *ssqx()
{
    static QPointer<OverviewWindow> instance;
    if (!instance)
        instance = new OverviewWindow;
    return instance;
}
