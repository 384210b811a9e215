// The history window over recordings written by the recorder itself, in the
// zone whose clocks go back an hour in autumn (Europe/Berlin): the state of
// each row in words, curves broken where rows hold no values, time the tool
// did not run, the repeated autumn hour and a clock set back.
#include "chartdocument.h"
#include "clock.h"
#include "daytime.h"
#include "decimate.h"
#include "events.h"
#include "healthtexts.h"
#include "historyaxis.h"
#include "historychart.h"
#include "historymarks.h"
#include "historyrange.h"
#include "historywindow.h"
#include "instants.h"
#include "otherprogram.h"
#include "recorder.h"
#include "rowquality.h"
#include "scaling.h"
#include "shared.h"

#include <QCheckBox>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(RowQuality)

namespace
{

const QDate kDay(2026, 12, 7);
const QDate kAutumnDay(2026, 10, 25);

QDateTime at(int hour, int minute, int second = 0)
{
    return QDateTime(kDay, QTime(hour, minute, second));
}

// A local time of the autumn day in the first (pass 0) or second pass of the
// repeated hour, as the clock then reads it.
QDateTime autumnMoment(const QTime &time, int pass)
{
    const qint64 utc = QDateTime(kAutumnDay, time, Qt::UTC).toSecsSinceEpoch() - 7200 + 3600 * pass;
    return QDateTime::fromSecsSinceEpoch(utc).toLocalTime();
}

Event linkEvent(const QDateTime &when, LinkState state)
{
    return Event{when, EventKind::Link, QStringLiteral("端口 1 /dev/ttyUSB0"),
                 HealthTexts::linkEventDetail(
                     state, state == LinkState::Live ? QString() : QStringLiteral("test"))};
}

Event toolEvent(const QDateTime &when, EventKind kind)
{
    return Event{when, kind, QStringLiteral("zelmar"), QString()};
}

// The colour a band leaves on the plot's background.
QRgb onBackground(const QColor &band)
{
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(Chart::gridBackground());
    QPainter(&image).fillRect(0, 0, 1, 1, band);
    return image.pixel(0, 0);
}

// A recording database in a temporary folder written by the recorder, each
// row with the quality and channel 1 value given, its events by the events
// log; then a history window over it.
class Recording
{
public:
    Recording()
    {
        resetSharedState();
        m_recorder = std::make_unique<Recorder>(nullptr, QStringLiteral("history-recorder"));
        m_recorder->setQualitySource([this] { return m_quality; });
    }
    ~Recording()
    {
        m_window.reset();
        m_recorder.reset();
        m_log.close();
        SystemClock::setSource({});
    }

    QString path() const { return m_dir.filePath(QStringLiteral("Rdatabj.db")); }

    void record(const QDateTime &moment, RowQuality quality, float channel1,
                std::array<float, 3> channels234 = {})
    {
        for (int k = 0; k < 3; ++k)
            ProcessValues[k + 1] = channels234[k];
        SystemClock::setFixed(moment);
        if (!m_loaded) {
            m_recorder->load(path());
            m_loaded = true;
        }
        m_quality = quality;
        ProcessValues[0] = channel1;
        m_recorder->tick();
    }
    // The scaling the link read at `when`, recorded by the next tick, as the tool records it.
    void scale(const KnownScaling &known, const QDateTime &when)
    {
        m_recorder->noteScaling(known, when);
    }
    bool note(const Event &event)
    {
        return (m_log.isOpen() || m_log.open(path())) && m_log.appendEvent(event);
    }
    // Ends the recording and opens a window on `from` .. `to`, the clock at `to`.
    bool show(const QDateTime &from, const QDateTime &to)
    {
        m_recorder.reset();
        SystemClock::setFixed(to);
        m_window = std::make_unique<HistoryWindow>(HistorySettings{path(), {}, {}});
        m_window->resize(1000, 600);
        m_window->show();
        return QTest::qWaitForWindowExposed(m_window.get()) && m_window->showRange(from, to) &&
               read();
    }
    // Waits for the range asked for to be read and shown.
    bool read() const
    {
        const bool shown = QTest::qWaitFor([this] { return !m_window->isReading(); }, 20000);
        // The units the range brings are laid out before the mouse goes over the chart.
        QCoreApplication::processEvents();
        return shown;
    }

    HistoryWindow *window() const { return m_window.get(); }
    HistoryChart *chart() const { return m_window->chart(); }
    QRect plot() const { return HistoryChart::plotRect(chart()->size()); }
    QString readout() const { return m_window->findChild<QLabel *>("cursorReadout")->text(); }
    QString markers() const { return m_window->findChild<QLabel *>("markerReadout")->text(); }
    int xOf(const QDateTime &instant) const
    {
        const double place = chart()->axis().positionOf(instant);
        const double share = (place - chart()->from()) / (chart()->to() - chart()->from());
        return plot().left() + int(std::lround(share * plot().width()));
    }
    // The cursor's read-out at an instant.
    QString readoutAt(const QDateTime &instant) const
    {
        QTest::mouseMove(chart(), QPoint(xOf(instant), plot().center().y()));
        return readout();
    }
    // Only channel 1 drawn, through the window's own boxes.
    void onlyChannel1() const
    {
        for (int k = 1; k < History::kCurveCount; ++k)
            m_window->findChild<QCheckBox *>(QStringLiteral("curve(%1)").arg(k))->setChecked(false);
    }
    void noCurves() const
    {
        onlyChannel1();
        m_window->findChild<QCheckBox *>(QStringLiteral("curve(0)"))->setChecked(false);
    }
    QImage picture() const
    {
        QImage image(chart()->size(), QImage::Format_RGB32);
        QPainter painter(&image);
        chart()->render(painter, chart()->size());
        return image;
    }

private:
    QTemporaryDir m_dir;
    std::unique_ptr<Recorder> m_recorder;
    EventLog m_log{QStringLiteral("history-events")};
    std::unique_ptr<HistoryWindow> m_window;
    RowQuality m_quality = RowQuality::Good;
    bool m_loaded = false;
};

// Whether column `x` of the plot holds `colour` below the marks' strip.
bool columnHolds(const QImage &image, const QRect &plot, int x, QRgb colour)
{
    for (int y = plot.top() + 20; y < plot.bottom(); ++y)
        if (image.pixel(x, y) == colour)
            return true;
    return false;
}

// Channel 1's red, as the overview draws it.
constexpr QRgb kChannel1 = qRgb(255, 0, 0);

} // namespace

class TestHistoryWindow : public QObject
{
    Q_OBJECT
private slots:
    void cursorNamesTheStateOfEachQuality_data();
    void cursorNamesTheStateOfEachQuality();
    void curveBreaksWhereRowsHoldNoValues_data();
    void curveBreaksWhereRowsHoldNoValues();
    void timeNotRecordedShadedApartFromNotLive_data();
    void timeNotRecordedShadedApartFromNotLive();
    void autumnHourStandsTwiceAnHourApart_data();
    void autumnHourStandsTwiceAnHourApart();
    void clockSetBackKeepsRecordingOrder();
    void eventsReadInRingOrderAcrossTheWrap();
    void readoutsByTheScalingOfEachRow_data();
    void readoutsByTheScalingOfEachRow();
    void mixedUnitsOnOneChart();
    void longUnitNamesNeverWidenTheWindow();
    void everyCurveBoxCarriesItsCurvesKey();
    void storedEventsStandWhereTheirMomentsWould_data();
    void storedEventsStandWhereTheirMomentsWould();
    void ticksWhereTheirLocalTimesStand_data();
    void ticksWhereTheirLocalTimesStand();
    void localTimesOnTheAxis_data();
    void localTimesOnTheAxis();
    void instantTexts_data();
    void instantTexts();
};

// Rows 12:00:00 .. 12:00:59, those of 12:00:20 .. 12:00:29 of one quality, the rest good.
void TestHistoryWindow::cursorNamesTheStateOfEachQuality_data()
{
    QTest::addColumn<RowQuality>("quality");
    QTest::addColumn<QString>("word");
    QTest::newRow("good") << RowQuality::Good << "在线";
    QTest::newRow("held") << RowQuality::Held << "无应答";
    QTest::newRow("port lost") << RowQuality::CommFailure << "端口丢失";
    QTest::newRow("not open") << RowQuality::NotConnected << "未打开";
}

void TestHistoryWindow::cursorNamesTheStateOfEachQuality()
{
    QFETCH(RowQuality, quality);
    QFETCH(QString, word);
    Recording recording;
    for (int s = 0; s < 60; ++s)
        recording.record(at(12, 0, s), s >= 20 && s < 30 ? quality : RowQuality::Good, float(s));
    QVERIFY(recording.show(at(11, 59, 50), at(12, 1, 10)));
    // One row either side of each boundary of the stretch.
    const std::pair<int, QString> rows[] = {{19, "在线"}, {20, word}, {29, word}, {30, "在线"}};
    for (const auto &[second, expected] : rows) {
        const QString text = recording.readoutAt(at(12, 0, second));
        QVERIFY2(text.startsWith(momentText(at(12, 0, second))), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("CH1 %1 ").arg(second)), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("   ") + expected), qPrintable(text));
        for (const QString other : {"在线", "无应答", "端口丢失", "未打开"})
            QVERIFY2(other == expected || !text.contains(other), qPrintable(text));
    }
}

namespace
{
// CH1 a thermocouple in °C of `decimals`, the others unknown (never read well).
KnownScaling channel1Scaled(qint32 decimals)
{
    KnownScaling known;
    known[0] = ChannelScaling{0, decimals, 13000, -2000, QStringLiteral("°C")};
    return known;
}
} // namespace

void TestHistoryWindow::readoutsByTheScalingOfEachRow_data()
{
    QTest::addColumn<int>("second");
    QTest::addColumn<QString>("channel1");
    // CH1 holds 2515 throughout: no scaling known before 12:00:20, decimal
    // point 1 from then, 2 from 12:00:40 (changed in the configuration window).
    QTest::newRow("before any scaling: raw") << 19 << "CH1 2515   ";
    QTest::newRow("the first row scaled") << 20 << "CH1 251.5 °C   ";
    QTest::newRow("the last row of one decimal") << 39 << "CH1 251.5 °C   ";
    QTest::newRow("the first row of two decimals") << 40 << "CH1 25.15 °C   ";
}

void TestHistoryWindow::readoutsByTheScalingOfEachRow()
{
    QFETCH(int, second);
    QFETCH(QString, channel1);
    Recording recording;
    for (int s = 0; s < 60; ++s) {
        if (s == 20)
            recording.scale(channel1Scaled(1), at(12, 0, 20));
        if (s == 40)
            recording.scale(channel1Scaled(2), at(12, 0, 40));
        recording.record(at(12, 0, s), RowQuality::Good, 2515);
    }
    QVERIFY(recording.show(at(11, 59), at(12, 1)));
    const QString text = recording.readoutAt(at(12, 0, second));
    QVERIFY2(text.contains(channel1), qPrintable(text));
    // Rows of either decimal point and raw rows on one axis: each channel's units named.
    const QString title = recording.window()->findChild<QLabel *>("valueAxisTitle")->text();
    QCOMPARE(title, QStringLiteral("测量值 CH1 (原始值/°C)  CH2 CH3 CH4 (原始值)"));
    QCOMPARE(recording.window()->document().valueAxis, title);
    QCOMPARE(recording.window()->findChild<QCheckBox *>("curve(0)")->toolTip(),
             QStringLiteral("CH1 (原始值/°C)"));
    // Differences between the markers: in one unit, across a change of decimal point.
    const auto markerAt = [&recording](int s, Qt::MouseButton button) {
        QTest::mouseClick(recording.chart(), button, {},
                          QPoint(recording.xOf(at(12, 0, s)), recording.plot().center().y()));
    };
    markerAt(39, Qt::LeftButton);
    markerAt(40, Qt::RightButton);
    QVERIFY2(recording.markers().contains(QStringLiteral("ΔCH1 -226.35 °C")),
             qPrintable(recording.markers()));
    markerAt(19, Qt::LeftButton);
    markerAt(20, Qt::RightButton);
    QVERIFY2(recording.markers().contains(QStringLiteral("ΔCH1 —")),
             qPrintable(recording.markers()));
}

void TestHistoryWindow::mixedUnitsOnOneChart()
{
    Recording recording;
    KnownScaling known;
    known[0] = ChannelScaling{0, 1, 13000, -2000, QStringLiteral("°C")};
    known[1] = ChannelScaling{19, 2, 1000, 0, QStringLiteral("MPa")};
    known[2] = ChannelScaling{20, 0, 100, 0, QString()}; // linear, its unit not named
    for (int s = 0; s < 30; ++s) {
        if (s == 0)
            recording.scale(known, at(12, 0, 0));
        recording.record(at(12, 0, s), RowQuality::Good, 2515, {123, 45, 678});
    }
    QVERIFY(recording.show(at(11, 59), at(12, 1)));
    HistoryWindow *window = recording.window();
    const QString text = recording.readoutAt(at(12, 0, 10));
    for (const QString value : {"CH1 251.5 °C", "CH2 1.23 MPa", "CH3 45   ", "CH4 678   "})
        QVERIFY2(text.contains(value), qPrintable(text));
    const auto title = [window] { return window->findChild<QLabel *>("valueAxisTitle")->text(); };
    QCOMPARE(title(), QStringLiteral("测量值 CH1 (°C)  CH2 (MPa)  CH3 (单位未命名)  CH4 (原始值)"));
    // The print's legend names each curve's units; DA in per cent on its own axis.
    QStringList legend;
    for (const Print::LegendEntry &entry : window->document().legend)
        legend << entry.name;
    QCOMPARE(legend, QStringList({"CH1 (°C)", "CH2 (MPa)", "CH3 (单位未命名)", "CH4 (原始值)",
                                  "变送值 DA (%)"}));
    QCOMPARE(window->document().retransmissionAxis, QStringLiteral("变送值 DA (%)"));
    // A channel taken off the chart leaves the title.
    window->findChild<QCheckBox *>("curve(1)")->setChecked(false);
    QCOMPARE(title(), QStringLiteral("测量值 CH1 (°C)  CH3 (单位未命名)  CH4 (原始值)"));
}

void TestHistoryWindow::longUnitNamesNeverWidenTheWindow()
{
    Recording recording;
    // Every channel linear, named with the longest name a unit may have, then renamed.
    const QString first(int(kUnitTextLongest), QLatin1Char('m'));
    const QString second(int(kUnitTextLongest), QLatin1Char('w'));
    for (int s = 0; s < 20; ++s) {
        if (s == 0 || s == 10) {
            KnownScaling known;
            for (int ch = 0; ch < kScaledChannels; ++ch)
                known[ch] = ChannelScaling{19, 4, 1000, 0, s == 0 ? first : second};
            recording.scale(known, at(12, 0, s));
        }
        recording.record(at(12, 0, s), RowQuality::Good, 2515);
    }
    QVERIFY(recording.show(at(11, 59), at(12, 1)));
    QVERIFY2(recording.window()->minimumSizeHint().width() <= 1280,
             qPrintable(QString::number(recording.window()->minimumSizeHint().width())));
    // The check box keeps its name; its tool tip and the axis title name the units.
    const QCheckBox *box = recording.window()->findChild<QCheckBox *>("curve(3)");
    QCOMPARE(box->text(), QStringLiteral("CH4"));
    QCOMPARE(box->toolTip(), QStringLiteral("CH4 (%1/%2)").arg(first, second));
    QVERIFY(recording.window()
                ->findChild<QLabel *>("valueAxisTitle")
                ->text()
                .endsWith(QStringLiteral("(%1/%2)").arg(first, second)));
}

// Each check box shows its own curve's colour and dash, DA's blue dash included.
void TestHistoryWindow::everyCurveBoxCarriesItsCurvesKey()
{
    Recording recording;
    recording.record(at(12, 0, 0), RowQuality::Good, 2515);
    QVERIFY(recording.show(at(11, 59), at(12, 1)));
    const QVector<Print::LegendEntry> keys = Print::curveLegend({true, true, true, true, true});
    for (int k = 0; k < keys.size(); ++k) {
        const QCheckBox *box =
            recording.window()->findChild<QCheckBox *>(QStringLiteral("curve(%1)").arg(k));
        QVERIFY(box);
        const QImage shown =
            box->icon().pixmap(box->iconSize()).toImage().convertToFormat(QImage::Format_ARGB32);
        const QImage key = Print::swatchPicture(keys.at(k), box->iconSize())
                               .toImage()
                               .convertToFormat(QImage::Format_ARGB32);
        QVERIFY2(shown == key, qPrintable(keys.at(k).name));
    }
}

void TestHistoryWindow::curveBreaksWhereRowsHoldNoValues_data()
{
    QTest::addColumn<RowQuality>("quality");
    QTest::addColumn<LinkState>("link"); // the link's state over the stretch
    QTest::addColumn<bool>("drawn");
    QTest::newRow("good") << RowQuality::Good << LinkState::Live << true;
    QTest::newRow("held, under the shading") << RowQuality::Held << LinkState::NoAnswer << true;
    QTest::newRow("port lost") << RowQuality::CommFailure << LinkState::PortLost << false;
    QTest::newRow("not open") << RowQuality::NotConnected << LinkState::NotOpened << false;
}

void TestHistoryWindow::curveBreaksWhereRowsHoldNoValues()
{
    QFETCH(RowQuality, quality);
    QFETCH(LinkState, link);
    QFETCH(bool, drawn);
    Recording recording;
    for (int s = 0; s < 60; ++s)
        recording.record(at(12, 0, s), s >= 20 && s < 30 ? quality : RowQuality::Good, 500);
    if (link != LinkState::Live) {
        QVERIFY(recording.note(linkEvent(at(12, 0, 20), link)));
        QVERIFY(recording.note(linkEvent(at(12, 0, 30), LinkState::Live)));
    }
    QVERIFY(recording.show(at(11, 59, 50), at(12, 1, 10)));
    recording.onlyChannel1();
    const QImage image = recording.picture();
    const QRect plot = recording.plot();
    // The rows either side of the stretch are drawn whatever it holds.
    for (const int second : {18, 31})
        QVERIFY(columnHolds(image, plot, recording.xOf(at(12, 0, second)), kChannel1));
    // Inside it: the line held (and shaded where the link was not live) or broken.
    for (int second = 21; second <= 28; ++second) {
        const int x = recording.xOf(at(12, 0, second));
        QCOMPARE(columnHolds(image, plot, x, kChannel1), drawn);
        if (link != LinkState::Live)
            QVERIFY(columnHolds(image, plot, x, onBackground(Chart::notLiveBandColour())));
    }
}

// Rows 12:00:00 .. 12:00:19, the tool away, rows again 12:00:40 .. 12:00:59;
// the link silent 12:00:45 .. 12:00:50.
void TestHistoryWindow::timeNotRecordedShadedApartFromNotLive_data()
{
    QTest::addColumn<bool>("ended"); // the tool said "end", or it crashed
    QTest::addColumn<int>("from");   // the second time not recorded starts at
    QTest::newRow("ended and started again") << true << 20;
    QTest::newRow("crashed, started again") << false << 19; // from its last row
}

void TestHistoryWindow::timeNotRecordedShadedApartFromNotLive()
{
    QFETCH(bool, ended);
    QFETCH(int, from);
    Recording recording;
    for (int s = 0; s < 20; ++s) {
        recording.record(at(12, 0, s), RowQuality::Good, 100);
        if (s == 0) // the file exists from the first row on
            QVERIFY(recording.note(toolEvent(at(11, 59, 59), EventKind::ToolStart)));
    }
    if (ended)
        QVERIFY(recording.note(toolEvent(at(12, 0, 20), EventKind::ToolEnd)));
    QVERIFY(recording.note(toolEvent(at(12, 0, 40), EventKind::ToolStart)));
    QVERIFY(recording.note(linkEvent(at(12, 0, 45), LinkState::NoAnswer)));
    QVERIFY(recording.note(linkEvent(at(12, 0, 50), LinkState::Live)));
    for (int s = 40; s < 60; ++s)
        recording.record(at(12, 0, s), s >= 45 && s < 50 ? RowQuality::Held : RowQuality::Good,
                         100);
    QVERIFY(recording.show(at(11, 59, 50), at(12, 1, 10)));

    const std::vector<Chart::TimeSpan> &spans = recording.chart()->events().notRecorded;
    QCOMPARE(int(spans.size()), 1);
    const TimeAxis &axis = recording.chart()->axis();
    QCOMPARE(spans[0].from, axis.positionOf(at(12, 0, from)));
    QCOMPARE(spans[0].to, axis.positionOf(at(12, 0, 40)));

    recording.noCurves();
    const QImage image = recording.picture();
    const int y = recording.plot().top() + recording.plot().height() / 12; // between grid lines
    const QRgb notLive = onBackground(Chart::notLiveBandColour());
    // Seconds off the grid's lines, which stand every ten seconds.
    const QRgb notRecorded = image.pixel(recording.xOf(at(12, 0, 33)), y);
    QCOMPARE(image.pixel(recording.xOf(at(12, 0, 47)), y), notLive);
    QVERIFY(notRecorded != notLive);
    QVERIFY(notRecorded != Chart::gridBackground().rgb());
    QCOMPARE(image.pixel(recording.xOf(at(12, 0, 57)), y), Chart::gridBackground().rgb());

    // The read-out names time not recorded, and only there.
    const QString away = QStringLiteral("未记录 (工具未运行)");
    QVERIFY2(recording.readoutAt(at(12, 0, 33)).contains(away), qPrintable(recording.readout()));
    QVERIFY2(!recording.readoutAt(at(12, 0, 47)).contains(away), qPrintable(recording.readout()));
    QVERIFY2(recording.readout().contains("无应答"), qPrintable(recording.readout()));
    QVERIFY2(!recording.readoutAt(at(12, 0, 10)).contains(away), qPrintable(recording.readout()));
}

// The autumn hour 02:00 .. 03:00 passes twice: ten recordings in each pass,
// six minutes apart, with their offsets stored or, from an earlier version,
// without them.
void TestHistoryWindow::autumnHourStandsTwiceAnHourApart_data()
{
    QTest::addColumn<bool>("offsetsStored");
    QTest::newRow("offsets stored") << true;
    QTest::newRow("rows of an earlier version") << false;
}

void TestHistoryWindow::autumnHourStandsTwiceAnHourApart()
{
    QFETCH(bool, offsetsStored);
    Recording recording;
    // An alarm in each pass, the second earlier by the clock: in ring order
    // the local time goes back, and the second resolves to the later offset.
    const QDateTime alarms[2] = {autumnMoment(QTime(2, 40, 30), 0),
                                 autumnMoment(QTime(2, 12, 30), 1)};
    for (int pass = 0; pass < 2; ++pass) {
        for (int k = 0; k < 10; ++k) {
            const QDateTime moment = autumnMoment(QTime(2, 6 * k), pass);
            recording.record(moment, RowQuality::Good, float(pass * 10 + k));
            const qint64 ahead = moment.secsTo(alarms[pass]); // written after its row
            if (ahead > 0 && ahead < 360)
                QVERIFY(recording.note(Event{alarms[pass].toLocalTime(), EventKind::Alarm,
                                             QStringLiteral("通道一报警"), QStringLiteral("ON")}));
        }
    }
    if (!offsetsStored) {
        OtherProgram other(recording.path());
        QVERIFY(other.exec(QStringLiteral("DROP TABLE row_quality")));
    }
    QVERIFY(recording.show(autumnMoment(QTime(1, 59), 0), autumnMoment(QTime(2, 55), 1)));

    // The cursor along the plot meets all twenty recordings, in recording order.
    const QRect plot = recording.plot();
    const QRegularExpression channel1(QStringLiteral("CH1 (\\d+) "));
    QVector<int> met;
    QMap<int, std::pair<int, int>> columns; // recording: its first and last x
    for (int x = plot.left(); x <= plot.right(); ++x) {
        QTest::mouseMove(recording.chart(), QPoint(x, plot.center().y()));
        const QRegularExpressionMatch match = channel1.match(recording.readout());
        QVERIFY2(match.hasMatch(), qPrintable(recording.readout()));
        const int value = match.captured(1).toInt();
        if (met.isEmpty() || met.last() != value)
            met.append(value);
        if (!columns.contains(value))
            columns[value] = {x, x};
        columns[value].second = x;
    }
    QVector<int> expected(20);
    std::iota(expected.begin(), expected.end(), 0);
    QCOMPARE(met, expected);

    const std::vector<Journal::Mark> &marks = recording.chart()->events().marks;
    QCOMPARE(int(marks.size()), 2);
    for (int pass = 0; pass < 2; ++pass)
        QCOMPARE(marks[pass].moment, recording.chart()->axis().positionOf(alarms[pass]));

    // Each recording of the first pass an hour before its twin, and the
    // read-out tells the two apart by their offsets.
    const auto middle = [&](int value) {
        return QPoint((columns[value].first + columns[value].second) / 2, plot.center().y());
    };
    for (int k = 0; k < 10; ++k) {
        const QString time = QStringLiteral("2026-10-25 02:%1:00").arg(6 * k, 2, 10, QChar('0'));
        QTest::mouseMove(recording.chart(), middle(k));
        QVERIFY2(recording.readout().startsWith(time + " (UTC+02:00)"),
                 qPrintable(recording.readout()));
        QTest::mouseMove(recording.chart(), middle(k + 10));
        QVERIFY2(recording.readout().startsWith(time + " (UTC+01:00)"),
                 qPrintable(recording.readout()));
        QTest::mouseClick(recording.chart(), Qt::LeftButton, {}, middle(k));
        QTest::mouseClick(recording.chart(), Qt::RightButton, {}, middle(k + 10));
        QVERIFY2(recording.markers().contains("Δt 3600 s"), qPrintable(recording.markers()));
    }
    // A range that starts in winter time anchors its axis an hour apart: the
    // markers keep their instants on it.
    HistoryChart *chart = recording.chart();
    const QDateTime markerA = chart->axis().instantAt(*chart->marker(0));
    QCOMPARE(markerA, autumnMoment(QTime(2, 54), 0));
    QVERIFY(recording.window()->showRange(autumnMoment(QTime(2, 30), 1),
                                          autumnMoment(QTime(3, 30), 1)));
    QVERIFY(recording.read());
    QCOMPARE(chart->axis().anchorOffset(), 3600);
    QCOMPARE(chart->axis().instantAt(*chart->marker(0)), markerA);
}

// The clock set back ten minutes while recording: the rows stay in the order
// they were recorded, those after it stand where the clock put them, and no
// line joins the two backwards.
void TestHistoryWindow::clockSetBackKeepsRecordingOrder()
{
    Recording recording;
    for (int s = 0; s < 30; ++s)
        recording.record(at(12, 0, s), RowQuality::Good, float(s));
    for (int s = 30; s < 60; ++s)
        recording.record(at(11, 50, s), RowQuality::Good, float(s));
    QVERIFY(recording.show(at(11, 45), at(12, 5)));
    const QVector<RingRow> &rows = recording.chart()->rows();
    QCOMPARE(rows.size(), 60);
    for (int i = 0; i < rows.size(); ++i)
        QCOMPARE(rows.at(i).id, i + 1);
    // Where the clock put them: a row after the set-back at 11:50:45, one before it at 12:00:15.
    const QRegularExpression channel1(QStringLiteral("CH1 (\\d+) "));
    const int after = channel1.match(recording.readoutAt(at(11, 50, 45))).captured(1).toInt();
    QVERIFY2(after >= 40 && after <= 50, qPrintable(recording.readout()));
    const int before = channel1.match(recording.readoutAt(at(12, 0, 15))).captured(1).toInt();
    QVERIFY2(before >= 10 && before <= 20, qPrintable(recording.readout()));
    const QVector<History::Run> runs =
        History::decimate(rows, recording.chart()->places(), recording.chart()->from(),
                          recording.chart()->to(), 1000, RecordTable::PvData);
    QCOMPARE(runs.size(), 2);
}

// The events of a range in the order they were written, across the wrap of
// the events ring, whatever their times say: the order their instants resolve in.
void TestHistoryWindow::eventsReadInRingOrderAcrossTheWrap()
{
    Recording recording;
    recording.record(at(12, 0), RowQuality::Good, 0);
    QVERIFY(recording.note(toolEvent(at(12, 0), EventKind::ToolStart)));
    {
        OtherProgram other(recording.path());
        const qint32 ids[] = {EventLog::kEventRingIds - 1, EventLog::kEventRingIds, 1, 2};
        for (int i = 0; i < 4; ++i)
            QVERIFY(other.exec(QStringLiteral("INSERT OR REPLACE INTO events VALUES "
                                              "(%1, %2, %3, 'alarm', 'x', 'e%4', NULL)")
                                   .arg(ids[i])
                                   .arg(daySerial(kDay))
                                   .arg(dayFraction(QTime(12, 0, 3 - i)), 0, 'g', 17)
                                   .arg(i)));
        QVERIFY(other.exec(QStringLiteral("UPDATE events_void SET newest_event = 2")));
    }
    RingReader reader(QStringLiteral("ring-order-reader"));
    QCOMPARE(reader.open(recording.path()), RingReader::OpenResult::Opened);
    QStringList details;
    for (const StoredEvent &stored :
         readEventsBetweenInRingOrder(reader.connectionName(), at(11, 0), at(13, 0)))
        details << stored.event.detail;
    QCOMPARE(details, (QStringList{"e0", "e1", "e2", "e3"}));
    reader.close();
}

// Events read as the ring holds them (date and time serials, no moment made)
// stand where the same events with their local moments stand, in ring order:
// across a skipped hour and both passes of the repeated one.
void TestHistoryWindow::storedEventsStandWhereTheirMomentsWould_data()
{
    QTest::addColumn<QStringList>("moments"); // local times in ring order
    QTest::newRow("an ordinary day") << QStringList{"2026-12-07 12:00:00", "2026-12-07 12:00:05"};
    QTest::newRow("spring: 02:30 skipped")
        << QStringList{"2026-03-29 01:59:59", "2026-03-29 02:30:00", "2026-03-29 03:00:01"};
    QTest::newRow("autumn: 02:10 and 02:50 in both passes")
        << QStringList{"2026-10-25 02:10:00", "2026-10-25 02:50:00", "2026-10-25 02:10:00",
                       "2026-10-25 02:50:00", "2026-10-25 03:10:00"};
}

void TestHistoryWindow::storedEventsStandWhereTheirMomentsWould()
{
    QFETCH(QStringList, moments);
    std::vector<Event> events;
    std::vector<StoredEvent> stored;
    for (const QString &text : moments) {
        // Apart, so that a skipped time stays as stored.
        const QDate date = QDate::fromString(text.left(10), QStringLiteral("yyyy-MM-dd"));
        const QTime time = QTime::fromString(text.mid(11), QStringLiteral("HH:mm:ss"));
        const Event event{QDateTime(date, time), EventKind::Alarm, QStringLiteral("通道一报警"),
                          text};
        events.push_back(event);
        stored.push_back({daySerial(date), dayFraction(time), event});
    }
    const TimeAxis axis(QTimeZone::systemTimeZone(), events.front().when);
    const std::vector<History::PlacedEvent> expected = History::placeEvents(events, axis);
    const std::vector<History::PlacedEvent> placed = History::placeEvents(stored, axis);
    QCOMPARE(placed.size(), expected.size());
    for (std::size_t i = 0; i < placed.size(); ++i) {
        QCOMPARE(placed[i].event.detail, expected[i].event.detail);
        QCOMPARE(placed[i].at, expected[i].at);
    }
}

void TestHistoryWindow::ticksWhereTheirLocalTimesStand_data()
{
    QTest::addColumn<QDateTime>("from");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<QStringList>("times");
    QTest::newRow("an ordinary day")
        << QDateTime(kDay, QTime(1, 30)) << 3 * 3600
        << QStringList{"01:30", "02:00", "02:30", "03:00", "03:30", "04:00", "04:30"};
    QTest::newRow("autumn: 02:00 and 02:30 twice")
        << autumnMoment(QTime(1, 30), 0) << 3 * 3600
        << QStringList{"01:30", "02:00", "02:30", "02:00", "02:30", "03:00", "03:30"};
    QTest::newRow("spring: no 02:xx")
        << QDateTime(QDate(2026, 3, 29), QTime(1, 0)) << 3 * 3600
        << QStringList{"01:00", "01:30", "03:00", "03:30", "04:00", "04:30", "05:00"};
    QTest::newRow("autumn, steps of two hours: 02:00 once")
        << autumnMoment(QTime(0, 0), 0) << 19 * 3600
        << QStringList{"00:00", "02:00", "04:00", "06:00", "08:00",
                       "10:00", "12:00", "14:00", "16:00", "18:00"};
}

void TestHistoryWindow::ticksWhereTheirLocalTimesStand()
{
    QFETCH(QDateTime, from);
    QFETCH(int, seconds);
    QFETCH(QStringList, times);
    const TimeAxis axis(QTimeZone::systemTimeZone(), from);
    const double first = axis.positionOf(from);
    const double last = axis.positionOf(from.addSecs(seconds));
    QStringList got;
    double previous = first - 1;
    for (const History::TimeTick &tick : History::timeTicks(first, last, 10, axis)) {
        got << tick.time;
        QVERIFY(tick.moment > previous);
        // Each stands at the instant its local time names.
        const QDateTime instant = axis.instantAt(tick.moment);
        QCOMPARE(instant.toString("HH:mm"), tick.time);
        previous = tick.moment;
    }
    QCOMPARE(got, times);
}

void TestHistoryWindow::localTimesOnTheAxis_data()
{
    QTest::addColumn<QDateTime>("local"); // a local date and time, of no instant yet
    QTest::addColumn<QStringList>("instants");
    QTest::newRow("an ordinary hour")
        << QDateTime(kDay, QTime(2, 30)) << QStringList{"2026-12-07T01:30:00Z"};
    QTest::newRow("the repeated hour: twice")
        << QDateTime(kAutumnDay, QTime(2, 30))
        << QStringList{"2026-10-25T00:30:00Z", "2026-10-25T01:30:00Z"};
    QTest::newRow("last second of the repeated hour")
        << QDateTime(kAutumnDay, QTime(2, 59, 59))
        << QStringList{"2026-10-25T00:59:59Z", "2026-10-25T01:59:59Z"};
    QTest::newRow("after it: once")
        << QDateTime(kAutumnDay, QTime(3, 0)) << QStringList{"2026-10-25T02:00:00Z"};
    QTest::newRow("the skipped hour: never")
        << QDateTime(QDate(2026, 3, 29), QTime(2, 30)) << QStringList{};
}

void TestHistoryWindow::localTimesOnTheAxis()
{
    QFETCH(QDateTime, local);
    QFETCH(QStringList, instants);
    const TimeAxis axis(QTimeZone::systemTimeZone(), QDateTime(kAutumnDay, QTime(0, 0)));
    QStringList got;
    const qint64 seconds = localSeconds(daySerial(local.date()), dayFraction(local.time()));
    for (const double place : axis.positionsOfLocal(seconds))
        got << axis.instantAt(place).toUTC().toString(Qt::ISODate);
    QCOMPARE(got, instants);
    // The axis's places are the local times from its anchor until the offset changes.
    QCOMPARE(axis.localSerialAt(axis.positionOf(QDateTime(kAutumnDay, QTime(1, 0)))),
             daySerial(kAutumnDay) + dayFraction(QTime(1, 0)));
    QCOMPARE(axis.positionOf(QDateTime(kAutumnDay, QTime(1, 0))),
             daySerial(kAutumnDay) + dayFraction(QTime(1, 0)));
}

void TestHistoryWindow::instantTexts_data()
{
    QTest::addColumn<QDateTime>("instant");
    QTest::addColumn<QString>("text");
    QTest::newRow("an ordinary time") << QDateTime(kDay, QTime(8, 0, 5)) << "2026-12-07 08:00:05";
    QTest::newRow("before the repeated hour")
        << autumnMoment(QTime(1, 59, 59), 0) << "2026-10-25 01:59:59";
    QTest::newRow("its first pass")
        << autumnMoment(QTime(2, 0), 0) << "2026-10-25 02:00:00 (UTC+02:00)";
    QTest::newRow("its second pass")
        << autumnMoment(QTime(2, 59, 59), 1) << "2026-10-25 02:59:59 (UTC+01:00)";
    QTest::newRow("after it") << autumnMoment(QTime(3, 0), 1) << "2026-10-25 03:00:00";
    QTest::newRow("the spring change")
        << QDateTime(QDate(2026, 3, 29), QTime(3, 0)) << "2026-03-29 03:00:00";
}

void TestHistoryWindow::instantTexts()
{
    QFETCH(QDateTime, instant);
    QFETCH(QString, text);
    const TimeAxis axis(QTimeZone::systemTimeZone(), instant);
    QCOMPARE(History::instantText(axis.instantAt(axis.positionOf(instant))), text);
}

QTEST_MAIN(TestHistoryWindow)
#include "tst_historywindow.moc"
