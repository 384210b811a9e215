// Ranges on the two recording rings, decimation, the history chart's axes and
// the CSV export, against real SQLite files written by the store's own writer.
#include "chartdocument.h"
#include "chartsurface.h"
#include "clock.h"
#include "csvexport.h"
#include "daytime.h"
#include "decimate.h"
#include "historyaxis.h"
#include "historychart.h"
#include "historyrange.h"
#include "historyscaling.h"
#include "historywiring.h"
#include "overviewprint.h"
#include "overviewwindow.h"
#include "programrun.h"
#include "rangereading.h"
#include "recordingfixture.h"
#include "ringquery.h"
#include "shared.h"
#include "store.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <QTimer>
#include <QtTest>

#include <cstdlib>
#include <limits>

#include <memory>

#include <csignal>
#include <sys/resource.h>

using namespace History;
using namespace Print;

Q_DECLARE_METATYPE(const ChannelScaling *)

namespace
{

// The recording of every test: noon of 7 December 2026, its serials and ring ids.
using Recording = RecordingFixture;
const auto noon = RecordingFixture::noon;
const auto serialAt = RecordingFixture::serialAt;
const auto ringId = RecordingFixture::ringId;

class Reader
{
public:
    explicit Reader(const QString &path) { m_result = m_reader.open(path); }
    ~Reader() { m_reader.close(); }
    RingReader &operator*() { return m_reader; }
    RingReader *operator->() { return &m_reader; }
    RingReader::OpenResult result() const { return m_result; }

private:
    static int next()
    {
        static int n = 0;
        return ++n;
    }
    RingReader m_reader{QStringLiteral("history-test-reader-%1").arg(next())};
    RingReader::OpenResult m_result;
};

QVector<qint32> idsOf(const QVector<RingRow> &rows)
{
    QVector<qint32> ids;
    for (const RingRow &row : rows)
        ids << row.id;
    return ids;
}

QVector<qint32> idSequence(qint64 first, int count)
{
    QVector<qint32> ids;
    for (int i = 0; i < count; ++i)
        ids << ringId(first + i);
    return ids;
}

RingRow rowAt(qint64 second, std::array<float, kRecordedValueCount> values = {})
{
    RingRow row;
    row.date = double(second / 86400);
    row.time = double(second % 86400) / 86400.0;
    row.values = values;
    return row;
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
private slots:
    void csvLineWritesEveryOffset_data();
    void csvLineWritesEveryOffset();
    void wrapIsFound_data();
    void wrapIsFound();
    void rangeAcrossTheWrapIsInTimeOrder();
    void rangeEndsIncludeTheirRows_data();
    void rangeEndsIncludeTheirRows();
    void rangeOutsideTheRingIsEmpty();
    void clockSetBackKeepsDateAndTimeOrder();
    void ringChoiceAtTheBoundary_data();
    void ringChoiceAtTheBoundary();
    void gapRuleOfEachRing_data();
    void gapRuleOfEachRing();
    void decimationKeepsEveryColumnsExtremes();
    void tracesBreakAtGapsAndKeepPeaks();
    void stepBackInTimeStartsARun();
    void retransmissionOnItsOwnScale_data();
    void retransmissionOnItsOwnScale();
    void retransmissionAxisWhileItIsShown();
    void timeLabelsFitTheSpan_data();
    void timeLabelsFitTheSpan();
    void automaticRangeHoldsTheShownChannels();
    void rowsKeepTheScalingOfTheirMoment_data();
    void rowsKeepTheScalingOfTheirMoment();
    void valuesInTheirUnits_data();
    void valuesInTheirUnits();
    void differencesOnlyWithinOneUnit_data();
    void differencesOnlyWithinOneUnit();
    void axisTitleGroupsChannelsByUnit_data();
    void axisTitleGroupsChannelsByUnit();
    void overviewRangeForTheFirstShownChannel_data();
    void overviewRangeForTheFirstShownChannel();
    void ourViewsTellEveryCurveApart();

    void readerRefusesWhatIsNotARecording();
    void readerFailsOnALockedDatabase();

    void csvByteForByte();
    void csvCancelLeavesNoFile();
    void csvOnAFullDiskLeavesNoFile();
    void exportWhileTheRecorderHoldsItsLock();
    void csvFailsWithoutAFolderOrWriteAccess_data();
    void csvFailsWithoutAFolderOrWriteAccess();

    void exportRangeRefusesBadRanges_data();
    void exportRangeRefusesBadRanges();
    void commandLineExport();
    void commandLineExitCodes_data();
    void commandLineExitCodes();

    void windowOpensOnTheLastHourOfTheSecondRing();
    void windowChoosesTheTenSecondRingForOlderRanges();
    void dragZoomsInAndBackOutReturns();
    void arrowKeysPan();
    void windowAnswersWhileItReads();
    void newerRangeOvertakesAnOlderOne();
    void overtakenAnswerIsNeverDelivered_data();
    void overtakenAnswerIsNeverDelivered();
    void cursorAndMarkersReadValues();
    void paintsDrawWhatWasPrepared();
    void windowExportsTheMarkerRange();
    void picturesAtOnceAndTwiceTheSize();
    void printToPdfHoldsTheTitleLine();
    void overviewAsksForHistoryAndPrint();
    void windowWithoutADatabase();
    void topRowsFitFrom1280PixelsOnTheHistorian();
};

void TestHistory::wrapIsFound_data()
{
    QTest::addColumn<qint32>("newestId");
    QTest::addColumn<int>("count");
    QTest::addColumn<qint32>("oldestId");
    QTest::newRow("young ring") << 50 << 50 << 51;
    QTest::newRow("across id 65500") << 100 << 200 << 101;
    QTest::newRow("newest just after the wrap") << 1 << 30 << 2;
    QTest::newRow("newest at 65500") << 65500 << 40 << 1;
}

void TestHistory::wrapIsFound()
{
    QFETCH(qint32, newestId);
    QFETCH(int, count);
    QFETCH(qint32, oldestId);
    Recording recording;
    QVERIFY(recording.isReady());
    QVERIFY(recording.fill(RecordTable::PvData, newestId, count, noon(), 1));
    Reader reader(recording.path());
    QCOMPARE(reader.result(), RingReader::OpenResult::Opened);
    const MomentLookup momentOf = [&](qint32 id) {
        return reader->momentAt(RecordTable::PvData, id);
    };
    // From the recorder's counter, and searched for without it. Time order
    // starts after the newest id; ids never written stand before the oldest row.
    QCOMPARE(reader->newestId(RecordTable::PvData), std::optional<qint32>(newestId));
    QCOMPARE(findRingOrder(momentOf, newestId).oldestId, oldestId);
    QCOMPARE(findRingOrder(momentOf).oldestId, oldestId);
}

void TestHistory::rangeAcrossTheWrapIsInTimeOrder()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 100, 200, noon(), 1));
    Reader reader(recording.path());
    // Rows of ids 65451 .. 65500 and 1 .. 50: 100 seconds ending 50 s before the newest.
    const RangeRead read =
        readRange(*reader, RecordTable::PvData, serialAt(noon() - 149), serialAt(noon() - 50));
    QVERIFY(read.ok);
    QCOMPARE(idsOf(read.rows), idSequence(65451, 100));
    QVERIFY(read.oldest);
    QCOMPARE(*read.oldest, serialAt(noon() - 199));
}

void TestHistory::rangeEndsIncludeTheirRows_data()
{
    QTest::addColumn<int>("fromAge"); // seconds before the newest row
    QTest::addColumn<int>("toAge");
    QTest::addColumn<int>("firstId");
    QTest::addColumn<int>("count");
    QTest::newRow("ends on rows") << 20 << 10 << 980 << 11;
    QTest::newRow("one moment") << 5 << 5 << 995 << 1;
    QTest::newRow("from before the oldest") << 5000 << 90 << 901 << 10;
    QTest::newRow("to after the newest") << 3 << -100 << 997 << 4;
}

void TestHistory::rangeEndsIncludeTheirRows()
{
    QFETCH(int, fromAge);
    QFETCH(int, toAge);
    QFETCH(int, firstId);
    QFETCH(int, count);
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 1000, 100, noon(), 1));
    Reader reader(recording.path());
    const RangeRead read = readRange(*reader, RecordTable::PvData, serialAt(noon() - fromAge),
                                     serialAt(noon() - toAge));
    QVERIFY(read.ok);
    QCOMPARE(idsOf(read.rows), idSequence(firstId, count));
}

void TestHistory::rangeOutsideTheRingIsEmpty()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::LpvWdjl, 10, 10, noon(), 10));
    Reader reader(recording.path());
    QVERIFY(readRange(*reader, RecordTable::LpvWdjl, serialAt(noon() + 10), serialAt(noon() + 99))
                .rows.isEmpty());
    QVERIFY(readRange(*reader, RecordTable::PvData, serialAt(noon() - 99), serialAt(noon()))
                .rows.isEmpty());
    QVERIFY(!oldestMoment(*reader, RecordTable::PvData));
}

void TestHistory::clockSetBackKeepsDateAndTimeOrder()
{
    Recording recording;
    // Ids 1 .. 5 a second apart, then the clock set back by three seconds.
    QVERIFY(recording.fill(RecordTable::PvData, 5, 5, noon(), 1));
    QVERIFY(recording.record(RecordTable::PvData, 6, noon() - 3));
    QVERIFY(recording.record(RecordTable::PvData, 7, noon() - 2));
    Reader reader(recording.path());
    const RangeRead read =
        readRange(*reader, RecordTable::PvData, serialAt(noon() - 100), serialAt(noon() + 100));
    QVERIFY(read.ok);
    QCOMPARE(idsOf(read.rows), (QVector<qint32>{1, 2, 6, 3, 7, 4, 5}));
}

void TestHistory::ringChoiceAtTheBoundary_data()
{
    QTest::addColumn<int>("fromAfterOldest"); // seconds after the 1 s ring's oldest row
    QTest::addColumn<int>("pvRows");
    QTest::addColumn<int>("lpvRows");
    QTest::addColumn<RecordTable>("ring");
    QTest::newRow("from on the oldest second") << 0 << 1000 << 500 << RecordTable::PvData;
    QTest::newRow("one second before it") << -1 << 1000 << 500 << RecordTable::LpvWdjl;
    QTest::newRow("well inside") << 500 << 1000 << 500 << RecordTable::PvData;
    QTest::newRow("no second rows") << 0 << 0 << 500 << RecordTable::LpvWdjl;
    // A young database: the rings started together, the older range has no rows in either.
    QTest::newRow("young, both rings alike") << -3600 << 1000 << 100 << RecordTable::PvData;
    QTest::newRow("young, no ten-second rows") << -3600 << 1000 << 0 << RecordTable::PvData;
    // The 10-second ring reaches back further only by more than its interval.
    QTest::newRow("ten-second ring 9 s older") << -3600 << 992 << 101 << RecordTable::PvData;
    QTest::newRow("ten-second ring 11 s older") << -3600 << 990 << 101 << RecordTable::LpvWdjl;
}

void TestHistory::ringChoiceAtTheBoundary()
{
    QFETCH(int, fromAfterOldest);
    QFETCH(int, pvRows);
    QFETCH(int, lpvRows);
    QFETCH(RecordTable, ring);
    Recording recording;
    QVERIFY(recording.fill(RecordTable::LpvWdjl, 500, lpvRows, noon(), 10));
    QVERIFY(recording.fill(RecordTable::PvData, 65500, pvRows, noon(), 1));
    Reader reader(recording.path());
    const qint64 oldestSecond = noon() - 999;
    QCOMPARE(chooseRing(*reader, serialAt(oldestSecond + fromAfterOldest), serialAt(noon())), ring);
    // A range longer than the 1-second ring holds is the 10-second ring's.
    QCOMPARE(chooseRing(*reader, serialAt(noon() - 65501), serialAt(noon())), RecordTable::LpvWdjl);
}

void TestHistory::gapRuleOfEachRing_data()
{
    QTest::addColumn<RecordTable>("ring");
    QTest::addColumn<int>("apart");
    QTest::addColumn<bool>("gap");
    QTest::newRow("1 s ring, 4 min") << RecordTable::PvData << 240 << false;
    QTest::newRow("1 s ring, 4:59") << RecordTable::PvData << 299 << false;
    QTest::newRow("1 s ring, 5 min") << RecordTable::PvData << 300 << true;
    QTest::newRow("10 s ring, 29 intervals") << RecordTable::LpvWdjl << 290 << false;
    QTest::newRow("10 s ring, 30 intervals") << RecordTable::LpvWdjl << 300 << true;
    QTest::newRow("10 s ring, an hour") << RecordTable::LpvWdjl << 3600 << true;
}

void TestHistory::gapRuleOfEachRing()
{
    QFETCH(RecordTable, ring);
    QFETCH(int, apart);
    QFETCH(bool, gap);
    Recording recording;
    const int step = ringSampleSeconds(ring);
    // Ten rows, a stretch of `apart` seconds, ten more rows.
    QVERIFY(recording.fill(ring, 10, 10, noon(), step));
    QVERIFY(recording.fill(ring, 20, 10, noon() + apart + 9 * step, step));
    Reader reader(recording.path());
    const double from = serialAt(noon() - 9 * step);
    const double to = serialAt(noon() + apart + 9 * step);
    const RangeRead read = readRange(*reader, ring, from, to);
    QCOMPARE(read.rows.size(), 20);
    const QVector<Run> runs =
        decimate(read.rows, placeRows(read.rows, TimeAxis()), from, to, 400, ring);
    QCOMPARE(runs.size(), gap ? 2 : 1);
}

void TestHistory::decimationKeepsEveryColumnsExtremes()
{
    // 1000 rows of a saw on channel 1 with one spike up and one down in
    // between, over 7 pixel columns (an uneven share of rows per column).
    QVector<RingRow> rows;
    for (int i = 0; i < 1000; ++i) {
        float v = float(i % 17);
        if (i == 333)
            v = 5000;
        if (i == 777)
            v = -4000;
        rows << rowAt(noon() + i, {v, 0, 0, 0, float(i), 0, 0, 0});
    }
    const QVector<double> places = placeRows(rows, TimeAxis());
    const double from = places.first();
    const double to = places.last();
    const int width = 7;
    const QVector<Run> runs = decimate(rows, places, from, to, width, RecordTable::PvData);
    QCOMPARE(runs.size(), 1);
    QCOMPARE(runs.first().size(), width);
    int total = 0;
    for (const PixelColumn &column : runs.first()) {
        float low = 1e9F, high = -1e9F;
        for (int i = column.firstRow; i < column.firstRow + column.rowCount; ++i) {
            QCOMPARE(columnOf(places.at(i), from, to, width), column.x);
            low = std::min(low, rows.at(i).values[0]);
            high = std::max(high, rows.at(i).values[0]);
        }
        QCOMPARE(column.lowest[0], low);
        QCOMPARE(column.highest[0], high);
        QCOMPARE(column.first[4], float(column.firstRow));
        QCOMPARE(column.last[4], float(column.firstRow + column.rowCount - 1));
        total += column.rowCount;
    }
    QCOMPARE(total, 1000);
    QCOMPARE(runs.first().at(columnOf(places.at(333), from, to, width)).highest[0], 5000.F);
    QCOMPARE(runs.first().at(columnOf(places.at(777), from, to, width)).lowest[0], -4000.F);
}

void TestHistory::tracesBreakAtGapsAndKeepPeaks()
{
    QVector<RingRow> rows;
    for (int i = 0; i < 100; ++i)
        rows << rowAt(noon() + i, {i == 50 ? 1500.F : 750.F, 0, 0, 0, 0, 0, 0, 0});
    for (int i = 0; i < 100; ++i)
        rows << rowAt(noon() + 1000 + i, {750.F, 0, 0, 0, 0, 0, 0, 0});
    const QVector<double> places = placeRows(rows, TimeAxis());
    const QVector<Run> runs =
        decimate(rows, places, places.first(), places.last(), 50, RecordTable::PvData);
    QCOMPARE(runs.size(), 2);
    const std::array<bool, kCurveCount> onlyChannel1 = {true, false, false, false, false};
    // The overview's start range 0 .. 1500 on a chart as tall as the overview's.
    const QVector<Trace> drawn = traces(runs, onlyChannel1, {0, 1500}, 50, ChartSurface::kHeight);
    QCOMPARE(drawn.size(), 2); // one polyline per run: nothing bridges the gap
    QCOMPARE(drawn.first().colour, QColor(255, 0, 0));
    QCOMPARE(drawn.first().width, 2);
    double top = ChartSurface::kHeight;
    for (const QPointF &point : drawn.first().points)
        top = std::min(top, point.y());
    QCOMPARE(top, 8.0); // ChartLow + ChartSpan maps to y = 8, as on the overview
    QVERIFY(drawn.last().points.first().x() > drawn.first().points.last().x());
}

// A clock set back ten minutes: the rows after it start a run of their own
// where their clock put them, never a line drawn backwards to them.
void TestHistory::stepBackInTimeStartsARun()
{
    QVector<RingRow> rows;
    for (int i = 0; i < 10; ++i)
        rows << rowAt(noon() + i, {float(i), 0, 0, 0, 0, 0, 0, 0});
    for (int i = 10; i < 20; ++i)
        rows << rowAt(noon() - 600 + i, {float(i), 0, 0, 0, 0, 0, 0, 0});
    const QVector<double> places = placeRows(rows, TimeAxis());
    const QVector<Run> runs = decimate(rows, places, serialAt(noon() - 700), serialAt(noon() + 100),
                                       800, RecordTable::PvData);
    QCOMPARE(runs.size(), 2);
    QCOMPARE(runs.at(0).first().firstRow, 0);
    QCOMPARE(runs.at(1).first().firstRow, 10); // recording order kept
    QVERIFY(runs.at(1).last().x < runs.at(0).first().x);
    // Rows a second apart going on after the step back stay one run.
    QVERIFY(std::is_sorted(runs.at(1).begin(), runs.at(1).end(),
                           [](const PixelColumn &a, const PixelColumn &b) { return a.x < b.x; }));
}

// The retransmission value in per cent on its own scale, −10 % at the foot of
// the plot and 110 % at its top, whatever range the channels' axis shows.
void TestHistory::retransmissionOnItsOwnScale_data()
{
    QTest::addColumn<float>("percent");
    QTest::addColumn<double>("y"); // in a plot 1200 pixels high
    QTest::addColumn<QString>("label");
    QTest::newRow("foot") << -10.F << 1200.0 << "-10 %";
    QTest::newRow("no output") << 0.F << 1100.0 << "";
    QTest::newRow("first label") << 10.F << 1000.0 << "10 %";
    QTest::newRow("40 %") << 40.F << 700.0 << "";
    QTest::newRow("middle") << 50.F << 600.0 << "50 %";
    QTest::newRow("full output") << 100.F << 100.0 << "";
    QTest::newRow("top") << 110.F << 0.0 << "110 %";
    QTest::newRow("beyond the top") << 120.F << -100.0 << "";
}

void TestHistory::retransmissionOnItsOwnScale()
{
    QFETCH(float, percent);
    QFETCH(double, y);
    QFETCH(QString, label);
    QCOMPARE(retransmissionPixelY(percent, 1200), y);
    // The curve stands there, on a channel range that has nothing to do with it.
    QVector<RingRow> rows{rowAt(noon(), {0, 0, 0, 0, percent, 0, 0, 0}),
                          rowAt(noon() + 1, {0, 0, 0, 0, percent, 0, 0, 0})};
    const QVector<double> places = placeRows(rows, TimeAxis());
    const QVector<Run> runs =
        decimate(rows, places, places.first(), places.last(), 10, RecordTable::PvData);
    const std::array<bool, kCurveCount> onlyDa = {false, false, false, false, true};
    for (const ValueRange &channels : {ValueRange{0, 1500}, ValueRange{-200, 60}}) {
        const QVector<Trace> drawn = traces(runs, onlyDa, channels, 10, 1200);
        QCOMPARE(drawn.size(), 1);
        QCOMPARE(drawn.first().points.first().y(), y);
    }
    const QVector<AxisLabel> axis = retransmissionAxis(1200);
    QCOMPARE(axis.size(), 7);
    QCOMPARE(axis.first().text, QString("-10 %"));
    QCOMPARE(axis.last().text, QString("110 %"));
    if (!label.isEmpty()) {
        const auto it = std::find_if(axis.begin(), axis.end(),
                                     [&](const AxisLabel &a) { return a.text == label; });
        QVERIFY(it != axis.end());
        QCOMPARE(it->y, y);
    }
}

// While "变送值 DA" is shown its axis in per cent stands right of the plot in
// the overview's blue; hidden, the axis goes with it.
void TestHistory::retransmissionAxisWhileItIsShown()
{
    HistoryChart chart;
    chart.resize(800, 400);
    QVector<RingRow> rows;
    for (int i = 0; i < 60; ++i)
        rows << rowAt(noon() + i, {float(500 + i), 0, 0, 0, 40, 0, 0, 0});
    const QVector<double> places = placeRows(rows, TimeAxis());
    chart.setContent(rows, places, RecordTable::PvData, TimeAxis(), places.first(), places.last());
    const QRect plot = HistoryChart::plotRect(chart.size());
    const auto blueRightOfThePlot = [&] {
        QImage image(chart.size(), QImage::Format_RGB32);
        QPainter painter(&image);
        chart.render(painter, chart.size());
        painter.end();
        int blue = 0;
        for (int x = plot.left() + plot.width() + 1; x < image.width(); ++x)
            for (int y = 0; y < image.height(); ++y)
                blue += image.pixelColor(x, y) == QColor(0, 0, 255);
        return blue;
    };
    QVERIFY(blueRightOfThePlot() > 10);
    chart.setShown({true, true, true, true, false});
    QCOMPARE(blueRightOfThePlot(), 0);
}

void TestHistory::timeLabelsFitTheSpan_data()
{
    QTest::addColumn<int>("spanSeconds");
    QTest::addColumn<int>("stepSeconds");
    QTest::addColumn<QString>("firstTime");
    QTest::newRow("one minute") << 60 << 10 << "12:00:00";
    QTest::newRow("ten minutes") << 600 << 60 << "12:00";
    QTest::newRow("twenty minutes") << 1200 << 120 << "12:00";
    QTest::newRow("eight hours") << 8 * 3600 << 3600 << "12:00";
    QTest::newRow("seven days") << 7 * 86400 << 86400 << "00:00";
}

void TestHistory::timeLabelsFitTheSpan()
{
    QFETCH(int, spanSeconds);
    QFETCH(int, stepSeconds);
    QFETCH(QString, firstTime);
    const QVector<TimeTick> ticks = timeTicks(serialAt(noon()), serialAt(noon() + spanSeconds), 10);
    QVERIFY(ticks.size() >= 2 && ticks.size() <= 11);
    QCOMPARE(ticks.first().time, firstTime);
    QCOMPARE(qRound64((ticks.at(1).moment - ticks.at(0).moment) * 86400), qint64(stepSeconds));
    QCOMPARE(ticks.first().date,
             spanSeconds >= 86400 ? QString("2026-12-08") : QString("2026-12-07"));
}

void TestHistory::automaticRangeHoldsTheShownChannels()
{
    QVector<RingRow> rows;
    rows << rowAt(noon(), {100, -5000, 0, 0, 90, 0, 0, 0})
         << rowAt(noon() + 1, {300, 20, 0, 0, 10, 0, 0, 0});
    const QVector<double> places = placeRows(rows, TimeAxis());
    const QVector<Run> runs =
        decimate(rows, places, places.first(), places.last(), 10, RecordTable::PvData);
    const ValueRange both = automaticRange(runs, {true, true, false, false, true});
    QVERIFY(both.low < -5000 && both.low + both.span > 300);
    const ValueRange one = automaticRange(runs, {true, false, true, false, false});
    QVERIFY(one.low < 0 && one.low > -5000 && one.low + one.span > 300);
    QCOMPARE(both.low % (both.span / 6), 0); // round labels
    const ValueRange none = automaticRange(runs, {false, false, false, false, true});
    QCOMPARE(none.span, kStartChartSpan);
}

// In the history window, its print and picture every curve has a key of its
// own (CH1 and DA share the overview's red there); the overview keeps its pens.
void TestHistory::ourViewsTellEveryCurveApart()
{
    const QVector<LegendEntry> keys = curveLegend({true, true, true, true, true});
    QCOMPARE(keys.size(), kCurveCount);
    for (int a = 0; a < kCurveCount; ++a)
        for (int b = a + 1; b < kCurveCount; ++b)
            QVERIFY2(keys[a].colour != keys[b].colour || keys[a].style != keys[b].style,
                     qPrintable(keys[a].name + u' ' + keys[b].name));
    const QVector<LegendEntry> overview = curveLegend({true, true, true, true, true}, true);
    QCOMPARE(overview[4].colour, overview[0].colour); // both RGB(255,0,0), as ever
    QCOMPARE(overview[4].style, Qt::SolidLine);
    // The traces drawn are the legend's.
    QVector<RingRow> rows{rowAt(0, {10, 20, 30, 40, 50}), rowAt(1, {11, 21, 31, 41, 51})};
    const QVector<Run> runs =
        decimate(rows, {0.0, 1.0 / 86400}, 0, 1.0 / 86400, 100, RecordTable::PvData);
    for (const Trace &trace : traces(runs, {true, true, true, true, true}, {0, 1500}, 100, 100)) {
        QCOMPARE(trace.colour, keys[trace.curve].colour);
        QCOMPARE(trace.style, keys[trace.curve].style);
    }
}

void TestHistory::readerRefusesWhatIsNotARecording()
{
    QTemporaryDir dir;
    Reader missing(dir.filePath("absent.db"));
    QCOMPARE(missing.result(), RingReader::OpenResult::NoFile);
    QVERIFY(!QFile::exists(dir.filePath("absent.db"))); // not created

    QFile text(dir.filePath("notes.db"));
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("not a database at all, just some text that is long enough\n");
    text.close();
    Reader foreign(text.fileName());
    QCOMPARE(foreign.result(), RingReader::OpenResult::NotRecording);

    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "other-tables");
        db.setDatabaseName(dir.filePath("other.db"));
        QVERIFY(db.open());
        QSqlQuery(db).exec("create table pv_data (a, b)");
        db.close();
    }
    QSqlDatabase::removeDatabase("other-tables");
    Reader other(dir.filePath("other.db"));
    QCOMPARE(other.result(), RingReader::OpenResult::NotRecording);
    QVERIFY(other->lastError().contains("not a recording database"));
}

void TestHistory::readerFailsOnALockedDatabase()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 10, 10, noon(), 1));
    recording.store().close(); // the writer's WAL mode goes too
    {
        QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "locker");
        db.setDatabaseName(recording.path());
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec("pragma journal_mode=delete"));
        QVERIFY(query.exec("begin exclusive"));
        QVERIFY(query.exec("update pv_data set v0 = 1"));
        Reader reader(recording.path());
        QCOMPARE(reader.result(), RingReader::OpenResult::Unreadable);
        QVERIFY(reader->lastError().contains("locked"));
        query.exec("rollback");
        db.close();
    }
    QSqlDatabase::removeDatabase("locker");
    Reader reader(recording.path());
    QCOMPARE(reader.result(), RingReader::OpenResult::Opened);
}

void TestHistory::csvByteForByte()
{
    Recording recording;
    // 23:59:59 and midnight across the wrap, then a row without values, a
    // fraction and a negative value.
    QVERIFY(recording.record(RecordTable::PvData, 65500, noon() + 43199,
                             {12.5F, -3, 0, 250, 40, 1, 2, 3}));
    QVERIFY(recording.record(RecordTable::PvData, 1, noon() + 43200,
                             {0.1F, 100000, -0.5F, 7, 8, 9, 10, 11}));
    QVERIFY(recording.record(RecordTable::PvData, 2, noon() + 43201));
    {
        QSqlDatabase db = recording.db();
        QVERIFY(QSqlQuery(db).exec("update pv_data set v2 = null where w_id = 2"));
    }
    Reader reader(recording.path());
    const RangeRead read =
        readRange(*reader, RecordTable::PvData, serialAt(noon()), serialAt(noon() + 86400));
    QCOMPARE(read.rows.size(), 3);
    const QString path = recording.folder() + "/out.csv";
    const ExportResult result = writeCsv(path, read.rows);
    QCOMPARE(result.outcome, ExportResult::Written);
    QCOMPARE(result.rows, qint64(3));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    // Rows recorded without quality: the zone's offset, the quality empty.
    const int seconds = QDateTime(QDate(2026, 12, 8), QTime(0, 0)).offsetFromUtc();
    const QByteArray offset =
        QString::asprintf("%c%02d:%02d", seconds < 0 ? '-' : '+', std::abs(seconds) / 3600,
                          std::abs(seconds) % 3600 / 60)
            .toLatin1();
    const QByteArray expected =
        "\xEF\xBB\xBF" +
        QString("日期时间,CH1,CH2,CH3,CH4,变送值 DA,输入寄存器6,输入寄存器7,输入寄存器8,质量")
            .toUtf8() +
        "\r\n"
        "2026-12-07T23:59:59" +
        offset +
        ",12.5,-3,0,250,40,1,2,3,\r\n"
        "2026-12-08T00:00:00" +
        offset +
        ",0.1,100000,-0.5,7,8,9,10,11,\r\n"
        "2026-12-08T00:00:01" +
        offset + ",2,3,,5,6,7,8,9,\r\n";
    QCOMPARE(file.readAll(), expected);
}

void TestHistory::csvCancelLeavesNoFile()
{
    QVector<RingRow> rows;
    for (int i = 0; i < 10000; ++i)
        rows << rowAt(noon() + i);
    QTemporaryDir dir;
    const QString path = dir.filePath("cancelled.csv");
    int reports = 0;
    const ExportResult result = writeCsv(path, rows, [&](qint64 done, qint64 total) {
        ++reports;
        return done < total / 2;
    });
    QCOMPARE(result.outcome, ExportResult::Cancelled);
    QVERIFY(reports > 1);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());

    // An existing file stays as it was.
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("yesterday");
    old.close();
    writeCsv(path, rows, [](qint64, qint64) { return false; });
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("yesterday"));
}

void TestHistory::csvOnAFullDiskLeavesNoFile()
{
    QVector<RingRow> rows;
    for (int i = 0; i < 20000; ++i)
        rows << rowAt(noon() + i);
    QTemporaryDir dir;
    const QString path = dir.filePath("full.csv");
    // A file size limit of 64 KiB fails the writes past it as a full disk would.
    struct rlimit old {
    };
    QVERIFY(getrlimit(RLIMIT_FSIZE, &old) == 0);
    const auto oldSignal = signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64 * 1024;
    QVERIFY(setrlimit(RLIMIT_FSIZE, &small) == 0);
    const ExportResult result = writeCsv(path, rows);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, oldSignal);
    QCOMPARE(result.outcome, ExportResult::Failed);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

void TestHistory::exportWhileTheRecorderHoldsItsLock()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 100, 100, noon(), 1));
    Reader reader(recording.path());
    // The recorder in the middle of a recording: its write transaction open.
    QSqlDatabase writer = recording.db();
    QSqlQuery query(writer);
    QVERIFY(query.exec("begin immediate"));
    QVERIFY(query.exec("update pv_data set v0 = -1"));
    const QString path = recording.folder() + "/during.csv";
    const RangeExport done =
        exportRange(*reader, serialAt(noon() - 99), serialAt(noon()), std::nullopt, path);
    QVERIFY(query.exec("rollback"));
    QCOMPARE(done.fault, RangeFault::None);
    QCOMPARE(done.rows, qint64(100));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(!file.readAll().contains(",-1,")); // only what was committed
}

void TestHistory::csvFailsWithoutAFolderOrWriteAccess_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("missing folder") << QDir::tempPath() + "/no-such-folder-zelmar/x.csv";
    // Not even root may create files there.
    QTest::newRow("folder not writable") << "/proc/zelmar-export.csv";
    QTest::newRow("a folder's name") << QDir::tempPath();
}

void TestHistory::csvFailsWithoutAFolderOrWriteAccess()
{
    QFETCH(QString, path);
    const ExportResult result = writeCsv(path, {rowAt(noon())});
    QCOMPARE(result.outcome, ExportResult::Failed);
    QVERIFY(result.error.startsWith("cannot write"));
    if (!QFileInfo(path).isDir())
        QVERIFY(!QFile::exists(path));
}

void TestHistory::exportRangeRefusesBadRanges_data()
{
    QTest::addColumn<int>("fromAge");
    QTest::addColumn<int>("toAge");
    QTest::addColumn<bool>("forceSeconds");
    QTest::addColumn<RangeFault>("fault");
    QTest::newRow("from after to") << 10 << 20 << false << RangeFault::FromAfterTo;
    QTest::newRow("no rows") << -1000 << -2000 << false << RangeFault::EmptyRange;
    QTest::newRow("two days from the 1 s ring")
        << 2 * 86400 << 0 << true << RangeFault::LongerThanRing;
    QTest::newRow("nine days") << 9 * 86400 << 0 << false << RangeFault::LongerThanRing;
    QTest::newRow("two days from the 10 s ring") << 2 * 86400 << 0 << false << RangeFault::None;
}

void TestHistory::exportRangeRefusesBadRanges()
{
    QFETCH(int, fromAge);
    QFETCH(int, toAge);
    QFETCH(bool, forceSeconds);
    QFETCH(RangeFault, fault);
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 100, 100, noon(), 1));
    QVERIFY(recording.fill(RecordTable::LpvWdjl, 100, 100, noon(), 10));
    Reader reader(recording.path());
    const QString path = recording.folder() + "/range.csv";
    const RangeExport done =
        exportRange(*reader, serialAt(noon() - fromAge), serialAt(noon() - toAge),
                    forceSeconds ? std::optional(RecordTable::PvData) : std::nullopt, path);
    QCOMPARE(done.fault, fault);
    QCOMPARE(QFile::exists(path), fault == RangeFault::None);
    if (fault == RangeFault::None) {
        QCOMPARE(done.ring, RecordTable::LpvWdjl);
        QCOMPARE(done.rows, qint64(100));
    }
}

namespace
{
// The real program without a display: an action must not need one.
ProgramRun runProgram(const QStringList &arguments)
{
    return runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM), arguments);
}

QString minuteText(qint64 second)
{
    return QDateTime(dateFromSerial(double(second / 86400)), timeFromFraction(serialAt(second)))
        .toString("yyyy-MM-dd HH:mm");
}
} // namespace

void TestHistory::commandLineExport()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 200, 200, noon() + 60, 1));
    const QString path = recording.folder() + "/noon.csv";
    // 11:59 .. 12:00: the rows of 11:58:41 .. 11:59:59 lie before 12:00 and after 11:59.
    const ProgramRun run = runProgram({"--export-csv", path, "--from", minuteText(noon() - 60),
                                       "--to", minuteText(noon()), "--db", recording.path()});
    QCOMPARE(run.error, QString());
    QCOMPARE(run.code, 0);
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = file.readAll().split('\n');
    QCOMPARE(lines.size(), 1 + 61 + 1); // header, 11:59:00 .. 12:00:00, the empty rest
    QVERIFY(lines.first().startsWith("\xEF\xBB\xBF"));
    QVERIFY(lines.at(1).startsWith("2026-12-07T11:59:00+"));
    QVERIFY(lines.at(61).startsWith("2026-12-07T12:00:00+"));
}

void TestHistory::commandLineExitCodes_data()
{
    QTest::addColumn<QStringList>("arguments"); // DB and OUT stand for the paths
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("reason");
    const QString from = minuteText(noon() - 60);
    const QString to = minuteText(noon());
    QTest::newRow("no --to") << QStringList{"--export-csv", "OUT", "--from", from, "--db", "DB"}
                             << 1 << "--export-csv needs --from and --to";
    QTest::newRow("unreadable time")
        << QStringList{"--export-csv", "OUT", "--from", "noon", "--to", to, "--db", "DB"} << 1
        << "unreadable date-time";
    QTest::newRow("bad ring") << QStringList{"--export-csv", "OUT", "--from", from, "--to", to,
                                             "--ring",       "5s",  "--db",   "DB"}
                              << 1 << "--ring is 1s or 10s";
    QTest::newRow("from after to")
        << QStringList{"--export-csv", "OUT", "--from", to, "--to", from, "--db", "DB"} << 2
        << "from after to";
    QTest::newRow("no such database")
        << QStringList{"--export-csv", "OUT", "--from", from, "--to", to, "--db", "DB.missing"} << 3
        << "no such database";
    QTest::newRow("not a recording database")
        << QStringList{"--export-csv", "OUT", "--from", from, "--to", to, "--db", "OUT.txt"} << 4
        << "not a recording database";
    QTest::newRow("empty range") << QStringList{"--export-csv", "OUT",
                                                "--from",       "2020-01-01 00:00",
                                                "--to",         "2020-01-01 08:00",
                                                "--db",         "DB"}
                                 << 5 << "empty range";
    QTest::newRow("longer than the ring")
        << QStringList{"--export-csv", "OUT", "--from", "2026-11-01 00:00",
                       "--to",         to,    "--db",   "DB"}
        << 5 << "range longer than the 10 s ring";
    QTest::newRow("folder missing") << QStringList{"--export-csv", "OUT.dir/none/x.csv",
                                                   "--from",       from,
                                                   "--to",         to,
                                                   "--db",         "DB"}
                                    << 6 << "cannot write";
    QTest::newRow("folder not writable")
        << QStringList{"--export-csv", "/proc/zelmar.csv", "--from", from, "--to", to, "--db", "DB"}
        << 6 << "cannot write";
}

void TestHistory::commandLineExitCodes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, reason);
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 200, 200, noon(), 1));
    const QString out = recording.folder() + "/out.csv";
    QFile text(out + ".txt");
    QVERIFY(text.open(QIODevice::WriteOnly));
    text.write("date,value\n2026-12-07,1\n");
    text.close();
    for (QString &argument : arguments)
        argument.replace("OUT", out).replace("DB", recording.path());
    const ProgramRun run = runProgram(arguments);
    QCOMPARE(run.code, code);
    QVERIFY2(run.error.startsWith("zelmar: " + reason), qPrintable(run.error));
    QCOMPARE(run.error.count('\n'), 1);
    QVERIFY(!QFile::exists(out));
}

namespace
{
// A recording of the last 2 hours in the 1-second ring and of 26 hours in the
// 10-second ring, up to noon, and a window over it with the clock at noon.
struct WindowFixture {
    Recording recording;
    std::unique_ptr<HistoryWindow> window;
    bool exposed = false;

    WindowFixture()
    {
        SystemClock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
        recording.fill(RecordTable::PvData, 7200, 7200, noon(), 1);
        recording.fill(RecordTable::LpvWdjl, 9360, 9360, noon(), 10);
        window = std::make_unique<HistoryWindow>(HistorySettings{recording.path(), {}, {}});
        window->resize(1000, 600);
        window->show();
        exposed = QTest::qWaitForWindowExposed(window.get()) && settled();
    }
    ~WindowFixture() { SystemClock::setSource({}); }

    // Waits until the range asked for last is read and shown.
    bool settled() const
    {
        return QTest::qWaitFor([this] { return !window->isReading(); }, 20000);
    }

    HistoryChart *chart() const { return window->chart(); }
    template <typename T> T *find(const char *name) const
    {
        return window->findChild<T *>(QString::fromLatin1(name));
    }
    QPoint at(double moment) const
    {
        const QRect plot = HistoryChart::plotRect(chart()->size());
        const double share = (moment - chart()->from()) / (chart()->to() - chart()->from());
        return QPoint(plot.left() + int(share * plot.width()), plot.center().y());
    }
};

// The words of a PDF's first page with their boxes, as shares of the page.
QVector<std::pair<QString, QRectF>> pdfWords(const QString &path)
{
    QProcess process;
    process.start("pdftotext", {"-bbox", "-f", "1", "-l", "1", path, "-"});
    QVector<std::pair<QString, QRectF>> words;
    if (!process.waitForFinished(20000))
        return words;
    const QString html = QString::fromUtf8(process.readAllStandardOutput());
    const QRegularExpression page(QStringLiteral("<page width=\"([\\d.]+)\" height=\"([\\d.]+)\""));
    const QRegularExpressionMatch size = page.match(html);
    if (!size.hasMatch())
        return words;
    const double width = size.captured(1).toDouble();
    const double height = size.captured(2).toDouble();
    const QRegularExpression word(
        QStringLiteral("<word xMin=\"([\\d.]+)\" yMin=\"([\\d.]+)\" xMax=\"([\\d.]+)\" "
                       "yMax=\"([\\d.]+)\">([^<]*)</word>"));
    for (auto it = word.globalMatch(html); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        words.append(
            {m.captured(5),
             QRectF(QPointF(m.captured(1).toDouble() / width, m.captured(2).toDouble() / height),
                    QPointF(m.captured(3).toDouble() / width, m.captured(4).toDouble() / height))});
    }
    return words;
}

// The union of the boxes of a page's words.
QRectF wordsBox(const QVector<std::pair<QString, QRectF>> &words)
{
    QRectF box;
    for (const auto &word : words)
        box |= word.second;
    return box;
}

// Whether a picture holds `colour` inside `area`.
bool holdsColour(const QImage &picture, const QRect &area, const QColor &colour)
{
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            if (picture.pixelColor(x, y) == colour)
                return true;
    return false;
}

QString pdfText(const QString &path)
{
    QProcess process;
    process.start("pdftotext", {"-layout", path, "-"});
    if (!process.waitForFinished(20000))
        return {};
    return QString::fromUtf8(process.readAllStandardOutput());
}
} // namespace

void TestHistory::windowOpensOnTheLastHourOfTheSecondRing()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    QCOMPARE(f.window->windowTitle(), QString("历史曲线"));
    QCOMPARE(f.window->ring(), RecordTable::PvData);
    QVERIFY(f.find<QLabel>("ringLabel")->text().contains("1 s"));
    QCOMPARE(f.chart()->rows().size(), 3601); // 11:00:00 .. 12:00:00
    QCOMPARE(f.chart()->rows().last().id, 7200);
    QCOMPARE(f.find<QDateTimeEdit>("fromEdit")->dateTime(),
             QDateTime(QDate(2026, 12, 7), QTime(11, 0)));
}

void TestHistory::windowChoosesTheTenSecondRingForOlderRanges()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    QTest::mouseClick(f.find<QPushButton>("quick(3)"), Qt::LeftButton); // the last 24 h
    QVERIFY(f.settled());
    QCOMPARE(f.window->ring(), RecordTable::LpvWdjl);
    QVERIFY(f.find<QLabel>("ringLabel")->text().contains("10 s"));
    QCOMPARE(f.chart()->rows().size(), 8641);
    // Back inside the 1-second ring, it is used again.
    QVERIFY(f.window->showRange(QDateTime(QDate(2026, 12, 7), QTime(10, 10)),
                                QDateTime(QDate(2026, 12, 7), QTime(10, 30))));
    QVERIFY(f.settled());
    QCOMPARE(f.window->ring(), RecordTable::PvData);
    QVERIFY(!f.window->showRange(QDateTime(QDate(2026, 12, 7), QTime(10, 30)),
                                 QDateTime(QDate(2026, 12, 7), QTime(10, 0))));
    QCOMPARE(f.chart()->rows().size(), 1201); // unchanged by the refused range
}

void TestHistory::dragZoomsInAndBackOutReturns()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    const double from = f.chart()->from();
    const double to = f.chart()->to();
    const double quarter = (to - from) / 4;
    const QPoint start = f.at(from + quarter);
    const QPoint end = f.at(from + 2 * quarter);
    QTest::mousePress(f.chart(), Qt::LeftButton, {}, start);
    QTest::mouseMove(f.chart(), end);
    QTest::mouseRelease(f.chart(), Qt::LeftButton, {}, end);
    QVERIFY(f.settled());
    QVERIFY(std::abs(f.chart()->from() - (from + quarter)) < quarter / 50);
    QVERIFY(std::abs(f.chart()->to() - (from + 2 * quarter)) < quarter / 50);
    QVERIFY(f.chart()->rows().size() < 1000);
    QVERIFY(f.find<QPushButton>("backButton")->isEnabled());
    QTest::mouseClick(f.find<QPushButton>("backButton"), Qt::LeftButton);
    QVERIFY(f.settled());
    QCOMPARE(f.chart()->from(), from);
    QCOMPARE(f.chart()->to(), to);
}

void TestHistory::arrowKeysPan()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    const double from = f.chart()->from();
    const double span = f.chart()->to() - from;
    f.chart()->setFocus();
    QTest::keyClick(f.chart(), Qt::Key_Left);
    QVERIFY(f.settled());
    QVERIFY(std::abs(f.chart()->from() - (from - span / 4)) < 1e-9);
    QCOMPARE(f.chart()->rows().first().moment(), serialAt(noon() - 3600 - 900));
    QTest::keyClick(f.chart(), Qt::Key_Backspace); // back out
    QVERIFY(f.settled());
    QCOMPARE(f.chart()->from(), from);
}

// A range is read off the window's thread: until it is in, the chart keeps
// the range before and the ring label says it is reading.
void TestHistory::windowAnswersWhileItReads()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    const double from = f.chart()->from();
    const int rows = f.chart()->rows().size();
    QTest::mouseClick(f.find<QPushButton>("quick(4)"), Qt::LeftButton); // the last 7 days
    QVERIFY(f.window->isReading());
    QCOMPARE(f.chart()->from(), from);
    QCOMPARE(f.chart()->rows().size(), rows);
    QCOMPARE(f.find<QLabel>("ringLabel")->text(), QString("正在读取 …"));
    QCOMPARE(f.find<QDateTimeEdit>("fromEdit")->dateTime(),
             QDateTime(QDate(2026, 11, 30), QTime(12, 0)));
    QVERIFY(f.settled());
    QVERIFY(f.find<QLabel>("ringLabel")->text().contains("10 s"));
    QCOMPARE(f.chart()->rows().size(), 9360); // the whole 10-second ring
}

void TestHistory::overtakenAnswerIsNeverDelivered_data()
{
    QTest::addColumn<bool>("cancel"); // false: a second ask overtakes the first
    QTest::newRow("two asks back to back: the second's answer alone") << false;
    QTest::newRow("ask, then cancel: no answer") << true;
}

// The first range is read and its answer waits in this thread's queue when
// the second ask (or the cancel) comes: the waiting answer must be dropped.
void TestHistory::overtakenAnswerIsNeverDelivered()
{
    QFETCH(bool, cancel);
    Recording recording;
    recording.fill(RecordTable::PvData, 600, 600, noon(), 1);
    RangeReading reading(recording.path());
    QSignalSpy answers(&reading, &RangeReading::answered);
    const QDateTime to(QDate(2026, 12, 7), QTime(12, 0)); // noon()
    const QDateTime first = to.addSecs(-600);
    const QDateTime second = to.addSecs(-300);
    reading.ask(first, to);
    // Generous: a read of 600 rows takes milliseconds; the answer then waits
    // for this thread's event loop, which does not run while it sleeps.
    QThread::msleep(500);
    if (cancel)
        reading.cancel();
    else
        reading.ask(second, to);
    QTRY_VERIFY(!reading.isBusy());
    QTest::qWait(200); // anything still to come
    QCOMPARE(answers.size(), cancel ? 0 : 1);
    if (!cancel) {
        const auto range = answers.first().first().value<LocalRange>();
        QCOMPARE(range.from, range.axis.positionOf(second));
    }
}

// Ranges asked for one after the other while the first is read: the newest
// is the one shown, and the older ones never are; a pan goes on from the
// range asked for, and "后退" returns to it.
void TestHistory::newerRangeOvertakesAnOlderOne()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    const double from = f.chart()->from();
    const double to = f.chart()->to();
    const double quarter = (to - from) / 4;
    QSignalSpy shown(f.window.get(), &HistoryWindow::rangeShown);
    f.chart()->setFocus();
    QTest::mouseClick(f.find<QPushButton>("quick(4)"), Qt::LeftButton); // 7 days
    QTest::mouseClick(f.find<QPushButton>("quick(1)"), Qt::LeftButton); // the hour again
    QTest::keyClick(f.chart(), Qt::Key_Left);
    QTest::keyClick(f.chart(), Qt::Key_Left);
    QVERIFY(f.settled());
    QCOMPARE(shown.count(), 1);
    QVERIFY(std::abs(shown.first().at(0).toDouble() - (from - 2 * quarter)) < 1e-9);
    QVERIFY(std::abs(f.chart()->from() - (from - 2 * quarter)) < 1e-9);
    QCOMPARE(f.chart()->rows().first().moment(), serialAt(noon() - 3600 - 1800));
    QTest::keyClick(f.chart(), Qt::Key_Backspace); // back to the first pan, never shown before
    QVERIFY(f.settled());
    QVERIFY(std::abs(f.chart()->from() - (from - quarter)) < 1e-9);
    QCOMPARE(shown.count(), 2);
}

void TestHistory::cursorAndMarkersReadValues()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    // The row of 11:30:00 is id 7200 − 1800.
    const double half = serialAt(noon() - 1800);
    QTest::mouseMove(f.chart(), f.at(half));
    const QString readout = f.find<QLabel>("cursorReadout")->text();
    QVERIFY2(readout.startsWith("2026-12-07 11:"), qPrintable(readout));
    const int row = f.chart()->rowNearest(f.chart()->momentAt(f.at(half).x()));
    QVERIFY(readout.contains(QString("CH1 %1").arg(f.chart()->rows().at(row).id)));
    QVERIFY(readout.contains(QString("变送值 DA %1").arg(f.chart()->rows().at(row).id + 4)));

    QTest::mouseClick(f.chart(), Qt::LeftButton, {}, f.at(serialAt(noon() - 3000)));
    QTest::mouseClick(f.chart(), Qt::RightButton, {}, f.at(serialAt(noon() - 600)));
    QVERIFY(f.chart()->marker(0) && f.chart()->marker(1));
    const double seconds = std::round((*f.chart()->marker(1) - *f.chart()->marker(0)) * 86400);
    const QString markers = f.find<QLabel>("markerReadout")->text();
    QVERIFY2(markers.contains(QString("Δt %1 s").arg(seconds)), qPrintable(markers));
    QVERIFY(markers.contains(QString("ΔCH1 %1").arg(seconds))); // value 0 is the id
}

// A paint draws what was prepared: the cursor's paints prepare nothing; a
// change of the curves shown, of the size or of the range prepares once more.
void TestHistory::paintsDrawWhatWasPrepared()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    HistoryChart *chart = f.chart();
    // The first read-out may take its line's height from the chart.
    QTest::mouseMove(chart, f.at(chart->from() + (chart->to() - chart->from()) / 7));
    QCoreApplication::processEvents();
    chart->grab();
    const int prepared = chart->preparations();
    for (int i = 2; i <= 6; ++i) {
        QTest::mouseMove(chart, f.at(chart->from() + (chart->to() - chart->from()) * i / 7));
        chart->grab();
    }
    QCOMPARE(chart->preparations(), prepared);
    f.find<QCheckBox>("curve(2)")->setChecked(false);
    chart->grab();
    chart->grab();
    QCOMPARE(chart->preparations(), prepared + 1);
    f.window->resize(1100, 650);
    QCoreApplication::processEvents();
    chart->grab();
    QCOMPARE(chart->preparations(), prepared + 2);
    chart->setFocus();
    QTest::keyClick(chart, Qt::Key_Left); // a pan: another range, other rows
    QVERIFY(f.settled());
    chart->grab();
    QCOMPARE(chart->preparations(), prepared + 3);
}

void TestHistory::windowExportsTheMarkerRange()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    f.chart()->setMarker(0, serialAt(noon() - 20));
    f.chart()->setMarker(1, serialAt(noon() - 11));
    const QString path = f.recording.folder() + "/markers.csv";
    const RangeExport done = f.window->exportCsvTo(path);
    QCOMPARE(done.fault, RangeFault::None);
    QCOMPARE(done.rows, qint64(10));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll().count('\n'), 11);
}

void TestHistory::picturesAtOnceAndTwiceTheSize()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    const QString once = f.recording.folder() + "/once.png";
    const QString twice = f.recording.folder() + "/twice.png";
    QVERIFY(f.window->saveHistoryPicture(once, 1));
    QVERIFY(f.window->saveHistoryPicture(twice, 2));
    QCOMPARE(QImage(once).size(), f.chart()->size());
    QCOMPARE(QImage(twice).size(), f.chart()->size() * 2);
    // The picture holds the curves in the overview's colours.
    const QImage picture(once);
    bool red = false;
    for (int y = 0; y < picture.height() && !red; ++y)
        for (int x = 0; x < picture.width() && !red; ++x)
            red = picture.pixelColor(x, y) == QColor(255, 0, 0);
    QVERIFY(red);
    QVERIFY(!f.window->saveHistoryPicture("/proc/zelmar.png", 1));

    // The picture is the document: the title, and the legend in the curves' colours.
    QFont font = QApplication::font();
    font.setPixelSize(13);
    const DocumentLayout layout = documentLayout(picture.size(), QFontMetrics(font));
    QVERIFY(holdsColour(picture, layout.title, QColor(0, 0, 0)));
    for (const LegendEntry &entry : curveLegend({true, true, true, true, true}))
        QVERIFY2(holdsColour(picture, layout.legend, entry.colour), qPrintable(entry.name));
    f.find<QCheckBox>("curve(1)")->setChecked(false);
    QVERIFY(f.window->saveHistoryPicture(once, 1));
    QVERIFY(!holdsColour(QImage(once), layout.legend,
                         curveLegend({false, true, false, false, false}).first().colour));
}

void TestHistory::printToPdfHoldsTheTitleLine()
{
    WindowFixture f;
    QVERIFY(f.exposed);
    CommSettings[CommIndex::Port] = 3;
    CommSettings[CommIndex::Address] = 7;
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = f.recording.folder() + "/history.pdf";
    printer.setOutputFileName(path);
    QVERIFY(f.window->printTo(printer));
    QVERIFY(QFileInfo(path).size() > 1000);
    const QString text = pdfText(path);
    QVERIFY2(text.contains("通讯端口 3") && text.contains("模块地址 7"), qPrintable(text));
    QVERIFY(text.contains("2026-12-07 11:00:00 至 2026-12-07 12:00:00"));
    // The legend, the axes' names and labels, none of the window's controls.
    for (const char *said : {"CH1", "CH2", "CH3", "CH4", "变送值 DA", "测量值", "日期 / 时间",
                             "110 %", "-10 %", "11:30", "2026-12-07"})
        QVERIFY2(text.contains(QString::fromUtf8(said)), said);
    for (const char *control : {"导出 CSV", "后退", "F3 打印", "最近 10 分钟", "本地数据库"})
        QVERIFY2(!text.contains(QString::fromUtf8(control)), control);
    // The document fills the landscape page, not its upper part.
    const QVector<std::pair<QString, QRectF>> words = pdfWords(path);
    const QRectF box = wordsBox(words);
    QVERIFY2(box.left() < 0.05 && box.right() > 0.95 && box.top() < 0.05 && box.bottom() > 0.95,
             qPrintable(QString("%1 %2 %3 %4")
                            .arg(box.left())
                            .arg(box.right())
                            .arg(box.top())
                            .arg(box.bottom())));
}

void TestHistory::overviewAsksForHistoryAndPrint()
{
    Recording recording;
    QVERIFY(recording.fill(RecordTable::PvData, 600, 600, noon(), 1));
    qputenv("ZELMAR_DB", recording.path().toLocal8Bit());
    OverviewWindow overview;
    overview.show();
    QVERIFY(QTest::qWaitForWindowExposed(&overview));
    QSignalSpy history(&overview, &OverviewWindow::historyRequested);
    QSignalSpy print(&overview, &OverviewWindow::printRequested);
    auto *command29 = overview.findChild<QPushButton *>("Command29");
    auto *command2 = overview.findChild<QPushButton *>("Command2");
    QVERIFY(command29->isEnabled() && command2->isEnabled());
    QTest::mouseClick(command29, Qt::LeftButton);
    QTest::keyClick(overview.findChild<QWidget *>("Combo1"), Qt::Key_F8);
    QCOMPARE(history.count(), 2);
    QTest::mouseClick(command2, Qt::LeftButton);
    QTest::keyClick(overview.findChild<QWidget *>("Combo1"), Qt::Key_F3);
    QCOMPARE(print.count(), 2);

    // Served: the history window opens beside the overview, which keeps running.
    attachHistory(&overview);
    SystemClock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 0)));
    QTest::mouseClick(command29, Qt::LeftButton);
    SystemClock::setSource({});
    HistoryWindow *window = nullptr;
    for (QWidget *top : QApplication::topLevelWidgets())
        window = window ? window : qobject_cast<HistoryWindow *>(top);
    QVERIFY(window && window->isVisible());
    QVERIFY(overview.isVisible() && overview.displayTimer()->isActive());
    QTRY_VERIFY(!window->isReading());
    QVERIFY2(window->chart()->rows().size() == 600,
             qPrintable(window->findChild<QLabel *>("ringLabel")->text()));
    // The overview's chart handed to the window: pictured beside the history's own.
    const QString overviewPng = recording.folder() + "/overview.png";
    QVERIFY(window->saveOverviewPicture(overviewPng, 2));
    QCOMPARE(QImage(overviewPng).size(), overviewChartArea(&overview).size() * 2);

    // The print of the overview's chart: its range is the records it loaded,
    // its scale the one the overview shows.
    ChartSpan = 1500;
    ChartLow = 0;
    QTRY_COMPARE(overview.findChild<QLabel *>("Label5(6)")->text(), QString("1500"));
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    const QString path = recording.folder() + "/overview.pdf";
    printer.setOutputFileName(path);
    QVERIFY(printOverview(&overview, printer));
    const QString text = pdfText(path);
    QVERIFY2(text.contains("至 2026-12-07 12:00:00"), qPrintable(text));
    // The chart as a document: legend, axes and labels, and none of the
    // overview's controls (the ruler's slider, the function column).
    for (const char *said :
         {"CH1", "CH4", "变送值 DA", "测量值", "日期 / 时间", "1500", "110 %", "-10 %", "12:00"})
        QVERIFY2(text.contains(QString::fromUtf8(said)), qPrintable(text));
    for (const char *control : {"F1 缩小", "F4 标尺", "打开", "修改Y", "ALM", "CONFIG"})
        QVERIFY2(!text.contains(QString::fromUtf8(control)), control);
    const QRectF box = wordsBox(pdfWords(path));
    QVERIFY(box.right() > 0.95 && box.bottom() > 0.95);
    // Before any "打开" the title names the port and address the lists show.
    CommSettings[CommIndex::Port] = 0;
    overview.findChild<QComboBox *>("Combo1")->setCurrentIndex(4);
    overview.findChild<QComboBox *>("Combo2")->setCurrentIndex(11);
    QVERIFY(printTitle(&overview, 0, 0).contains("通讯端口 5   模块地址 12"));
    const QImage picture =
        documentPicture(overviewChartArea(&overview).size(), 2, overviewDocument(&overview),
                        overviewChart(&overview).painter);
    QCOMPARE(picture.size(), overviewChartArea(&overview).size() * 2);
    qunsetenv("ZELMAR_DB");
}

void TestHistory::windowWithoutADatabase()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    HistoryWindow window(HistorySettings{path, {}, {}});
    window.show();
    QTRY_VERIFY(!window.isReading());
    QVERIFY(window.findChild<QLabel *>("ringLabel")->text().contains("no such database"));
    QVERIFY(window.chart()->rows().isEmpty());
    QTest::mouseClick(window.findChild<QPushButton *>("quick(4)"), Qt::LeftButton);
    QTRY_VERIFY(!window.isReading());
    QTest::mouseMove(window.chart(), window.chart()->rect().center());
    QVERIFY(window.findChild<QLabel *>("cursorReadout")->text().isEmpty());
    QCOMPARE(window.exportCsvTo(dir.filePath("none.csv")).fault, RangeFault::ReadFailed);
    QVERIFY(!window.saveOverviewPicture(dir.filePath("none.png"), 1)); // no overview handed
    QVERIFY(!QFile::exists(path));                                     // nothing created
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

// Reading a station of the historian, with a long station name and a server
// that refuses (its reason in the ring label): at 1280 pixels every control
// above the chart is whole, inside the window and clear of the others.
void TestHistory::topRowsFitFrom1280PixelsOnTheHistorian()
{
    Recording recording;
    QVERIFY(recording.isReady());
    qputenv("ZELMAR_HISTORIAN", "postgresql://zelmar@127.0.0.1:9/zelmar");
    HistoryWindow window(historySettingsFromEnvironment(recording.path()));
    qunsetenv("ZELMAR_HISTORIAN");
    window.resize(1280, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QString station = QStringLiteral("plc7-boiler-house-port1");
    window.setSource(HistoryWindow::Source::Historian, station);
    auto *ringLabel = window.findChild<QLabel *>("ringLabel");
    QTRY_VERIFY_WITH_TIMEOUT(!ringLabel->text().startsWith("正在读取"), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(window.width(), 1280);

    QList<QWidget *> controls;
    for (QWidget *child : window.findChildren<QWidget *>(QString(), Qt::FindDirectChildrenOnly))
        if (child->isVisible() && child != window.chart() &&
            child->geometry().bottom() < window.chart()->geometry().top())
            controls << child;
    QVERIFY(controls.size() >= 20);
    for (QWidget *control : controls) {
        const QString name = control->objectName() + " " + control->metaObject()->className();
        QVERIFY2(window.rect().contains(control->geometry()), qPrintable(name));
        if (control->sizePolicy().horizontalPolicy() != QSizePolicy::Ignored)
            QVERIFY2(control->width() >= control->minimumSizeHint().width(), qPrintable(name));
        for (QWidget *other : controls)
            QVERIFY2(other == control || !other->geometry().intersects(control->geometry()),
                     qPrintable(name + " / " + other->objectName()));
    }
    auto *stationEdit = window.findChild<QLineEdit *>("stationEdit");
    QCOMPARE(stationEdit->text(), station);
    QVERIFY(stationEdit->width() > stationEdit->fontMetrics().horizontalAdvance(station));
    QVERIFY(window.findChild<QPushButton *>("printButton")->isVisible());
}

// The export's offset column: "+hh:mm" for every offset, and whole for one
// that only a damaged row could hold.
void TestHistory::csvLineWritesEveryOffset_data()
{
    QTest::addColumn<qint32>("offset");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("UTC") << 0 << QByteArray("+00:00");
    QTest::newRow("an hour east") << 3600 << QByteArray("+01:00");
    QTest::newRow("three and a half west") << -12600 << QByteArray("-03:30");
    QTest::newRow("the widest in two-digit hours") << 359999 << QByteArray("+99:59");
    QTest::newRow("three-digit hours") << -360000 << QByteArray("-100:00");
    QTest::newRow("the most negative")
        << std::numeric_limits<qint32>::min() << QByteArray("-596523:14");
    QTest::newRow("the largest") << std::numeric_limits<qint32>::max() << QByteArray("+596523:14");
}

void TestHistory::csvLineWritesEveryOffset()
{
    QFETCH(qint32, offset);
    QFETCH(QByteArray, written);
    RingRow row;
    row.date = daySerial(QDate(2026, 12, 8));
    row.time = dayFraction(QTime(12, 0));
    const QByteArray line = History::csvLine(row, offset);
    QVERIFY2(line.startsWith("2026-12-08T12:00:00" + written + ','), line.constData());
}

namespace
{
// 12:00:00 UTC of 7 December 2026, and rows every second after it, each with
// its offset (UTC+1) as the recorder stores it.
const QDateTime kScaledStart(QDate(2026, 12, 7), QTime(12, 0, 0), Qt::UTC);
constexpr qint32 kScaledOffset = 3600;

RingRow scaledRow(int second, float channel1)
{
    const QDateTime local = kScaledStart.addSecs(second + kScaledOffset);
    RingRow row;
    row.date = daySerial(local.date());
    row.time = dayFraction(local.time());
    row.utcOffset = kScaledOffset;
    row.values[0] = channel1;
    return row;
}

ScalingEntry entryAt(int second, int channel, qint32 decimals, const QString &unit, qint32 type = 0)
{
    return {kScaledStart.addSecs(second).toOffsetFromUtc(kScaledOffset), channel,
            ChannelScaling{type, decimals, 13000, -2000, unit}};
}

const ChannelScaling kOneDecimalCelsius{0, 1, 13000, -2000, QStringLiteral("°C")};
const ChannelScaling kTwoDecimalsCelsius{0, 2, 13000, -2000, QStringLiteral("°C")};
const ChannelScaling kTwoDecimalsKelvin{0, 2, 13000, -2000, QStringLiteral("K")};
const ChannelScaling kUnnamedLinear{19, 3, 1000, 0, QString()};
} // namespace

void TestHistory::rowsKeepTheScalingOfTheirMoment_data()
{
    QTest::addColumn<int>("second");
    QTest::addColumn<int>("decimals"); // -1: raw
    QTest::addColumn<float>("drawn");  // in steps of the finest decimal point (2)
    QTest::addColumn<QString>("text");
    // Channel 1 holds 2515 throughout; decimal point 1 from second 20, 2 from second 40.
    QTest::newRow("before any scaling: raw") << 19 << -1 << 251500.0f << "2515";
    QTest::newRow("the second it took effect") << 20 << 1 << 25150.0f << "251.5 °C";
    QTest::newRow("the last row of one decimal") << 39 << 1 << 25150.0f << "251.5 °C";
    QTest::newRow("the decimal point changed") << 40 << 2 << 2515.0f << "25.15 °C";
}

void TestHistory::rowsKeepTheScalingOfTheirMoment()
{
    QFETCH(int, second);
    QFETCH(int, decimals);
    QFETCH(float, drawn);
    QFETCH(QString, text);
    QVector<RingRow> rows;
    for (int s = 0; s < 60; ++s)
        rows << scaledRow(s, 2515);
    const ScalingTimeline timeline(
        {entryAt(20, 0, 1, QStringLiteral("°C")), entryAt(40, 0, 2, QStringLiteral("°C"))});
    const ShownScaling scaling = scaleRows(rows, timeline);
    QCOMPARE(scaling.finest, 2);
    QCOMPARE(scaling.labels[0], QStringList({"原始值", "°C"}));
    QCOMPARE(scaling.labels[1], QStringList({"原始值"}));
    const ChannelScaling *in = scaling.at(second, 0);
    QCOMPARE(in ? int(in->decimals) : -1, decimals);
    QCOMPARE(chartRows(rows, scaling).at(second).values[0], drawn);
    QCOMPARE(valueText(0, rows.at(second).values[0], in), text);
    // A file without entries leaves every row as recorded.
    const ShownScaling none = scaleRows(rows, ScalingTimeline());
    QCOMPARE(none.finest, 0);
    QCOMPARE(none.at(second, 0), nullptr);
    QCOMPARE(chartRows(rows, none).at(second).values[0], 2515.0f);
}

void TestHistory::valuesInTheirUnits_data()
{
    QTest::addColumn<int>("curve");
    QTest::addColumn<float>("value");
    QTest::addColumn<const ChannelScaling *>("scaling");
    QTest::addColumn<QString>("text");
    QTest::newRow("one decimal") << 0 << 2515.0f << &kOneDecimalCelsius << "251.5 °C";
    QTest::newRow("negative, below one") << 1 << -5.0f << &kOneDecimalCelsius << "-0.5 °C";
    QTest::newRow("an unnamed unit") << 2 << 7.0f << &kUnnamedLinear << "0.007";
    QTest::newRow("raw") << 3 << 2515.0f << static_cast<const ChannelScaling *>(nullptr) << "2515";
    QTest::newRow("the last exact integer")
        << 0 << 16777215.0f << &kOneDecimalCelsius << "1677721.5 °C";
    QTest::newRow("beyond a float's integers: as recorded")
        << 0 << 16777216.0f << &kOneDecimalCelsius << "1.677722E+07";
    QTest::newRow("a fraction is no instrument's integer")
        << 0 << 2.5f << &kOneDecimalCelsius << "2.5";
    QTest::newRow("DA in per cent, never scaled") << 4 << 37.0f << &kOneDecimalCelsius << "37 %";
}

void TestHistory::valuesInTheirUnits()
{
    QFETCH(int, curve);
    QFETCH(float, value);
    QFETCH(const ChannelScaling *, scaling);
    QFETCH(QString, text);
    QCOMPARE(valueText(curve, value, scaling), text);
}

void TestHistory::differencesOnlyWithinOneUnit_data()
{
    QTest::addColumn<const ChannelScaling *>("a");
    QTest::addColumn<const ChannelScaling *>("b");
    QTest::addColumn<QString>("text");
    const ChannelScaling *raw = nullptr;
    // 2515 at A, 2515 at B: a change of decimal point is a change of value.
    QTest::newRow("one scaling") << &kOneDecimalCelsius << &kOneDecimalCelsius << "0.0 °C";
    QTest::newRow("decimal point 1 then 2")
        << &kOneDecimalCelsius << &kTwoDecimalsCelsius << "-226.35 °C";
    QTest::newRow("both raw") << raw << raw << "0";
    QTest::newRow("raw then scaled") << raw << &kOneDecimalCelsius << "—";
    QTest::newRow("scaled then raw") << &kOneDecimalCelsius << raw << "—";
    QTest::newRow("two units") << &kTwoDecimalsCelsius << &kTwoDecimalsKelvin << "—";
}

void TestHistory::differencesOnlyWithinOneUnit()
{
    QFETCH(const ChannelScaling *, a);
    QFETCH(const ChannelScaling *, b);
    QFETCH(QString, text);
    QCOMPARE(differenceText(0, 2515, a, 2515, b), text);
}

void TestHistory::axisTitleGroupsChannelsByUnit_data()
{
    QTest::addColumn<QVector<bool>>("shown");
    QTest::addColumn<QStringList>("units"); // per channel, "a/b" for two
    QTest::addColumn<QString>("title");
    const QVector<bool> all{true, true, true, true, true};
    QTest::newRow("one unit") << all << QStringList{"°C", "°C", "°C", "°C"}
                              << "测量值 CH1 CH2 CH3 CH4 (°C)";
    QTest::newRow("mixed units, in the order met")
        << all << QStringList{"°C", "MPa", "°C", "原始值"}
        << "测量值 CH1 CH3 (°C)  CH2 (MPa)  CH4 (原始值)";
    QTest::newRow("a hidden channel leaves its unit out")
        << QVector<bool>{true, false, true, true, true} << QStringList{"°C", "MPa", "°C", "°C"}
        << "测量值 CH1 CH3 CH4 (°C)";
    QTest::newRow("a unit changed within the range")
        << all << QStringList{"原始值/°C", "°C", "°C", "°C"}
        << "测量值 CH1 (原始值/°C)  CH2 CH3 CH4 (°C)";
    QTest::newRow("no rows") << all << QStringList{"", "", "", ""} << "测量值 CH1 CH2 CH3 CH4";
    QTest::newRow("only DA") << QVector<bool>{false, false, false, false, true}
                             << QStringList{"°C", "°C", "°C", "°C"} << "测量值";
}

void TestHistory::axisTitleGroupsChannelsByUnit()
{
    QFETCH(QVector<bool>, shown);
    QFETCH(QStringList, units);
    QFETCH(QString, title);
    std::array<bool, kCurveCount> shownCurves{};
    std::array<QStringList, kScaledChannels> labels;
    for (int k = 0; k < kCurveCount; ++k)
        shownCurves[k] = shown.at(k);
    for (int ch = 0; ch < kScaledChannels; ++ch)
        labels[ch] = units.at(ch).isEmpty() ? QStringList() : units.at(ch).split('/');
    QCOMPARE(valueAxisTitle(shownCurves, labels), title);
    // The legend names each channel's units the same way.
    QCOMPARE(curveTitle(0, labels[0]), labels[0].isEmpty()
                                           ? QStringLiteral("CH1")
                                           : QStringLiteral("CH1 (%1)").arg(units.at(0)));
    QCOMPARE(curveTitle(4, labels[0]), QStringLiteral("变送值 DA (%)"));
}

void TestHistory::overviewRangeForTheFirstShownChannel_data()
{
    QTest::addColumn<int>("firstShown");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("span");
    QTest::addColumn<QString>("topLabel");
    // The overview's 0 .. 1500 of the instrument's integers; CH1 of one
    // decimal, CH2 of two, CH3 raw; the chart in steps of 0.01.
    QTest::newRow("CH1: one decimal") << 0 << 0 << 15000 << "150";
    QTest::newRow("CH2: two decimals") << 1 << 0 << 1500 << "15";
    QTest::newRow("CH3: raw") << 2 << 0 << 150000 << "1500";
}

void TestHistory::overviewRangeForTheFirstShownChannel()
{
    QFETCH(int, firstShown);
    QFETCH(int, low);
    QFETCH(int, span);
    QFETCH(QString, topLabel);
    const QVector<RingRow> rows{scaledRow(0, 100), scaledRow(1, 100)};
    const ScalingTimeline timeline(
        {entryAt(0, 0, 1, QStringLiteral("°C")), entryAt(0, 1, 2, QStringLiteral("MPa"), 19)});
    const ShownScaling scaling = scaleRows(rows, timeline);
    std::array<bool, kCurveCount> shown{};
    for (int k = firstShown; k < kCurveCount; ++k)
        shown[k] = true;
    const ValueRange range = overviewRangeInSteps(
        ValueRange{0, 1500}, referenceDecimals(scaling, shown), scaling.finest);
    QCOMPARE(range.low, low);
    QCOMPARE(range.span, span);
    QCOMPARE(axisValueText(range.low + range.span, scaling.finest), topLabel);
    // An overview range too wide for the steps stays within qint32.
    QCOMPARE(overviewRangeInSteps(ValueRange{-2000000000, 2000000000}, 0, 4).span,
             std::numeric_limits<qint32>::max());
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
