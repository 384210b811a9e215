#include "chartgeometry.h"
#include "chartsurface.h"
#include "clock.h"
#include "daytime.h"
#include "history.h"
#include "recordingfixture.h"
#include "rowquality.h"
#include "shared.h"
#include "trendchart.h"
#include "yrange.h"

#include <QtTest>

#include <memory>

using namespace Chart;

namespace
{

// A buffer whose time at position p reads 10:00:00 plus p seconds and whose
// values tell their position and channel apart.
TrendBuffer numberedBuffer()
{
    TrendBuffer buffer;
    for (int p = 0; p < kPositions; ++p) {
        buffer.times[p] = (36000.0 + p) / 86400.0;
        buffer.dates[p] = daySerial(QDate(2026, 12, 7));
    }
    return buffer;
}

QString timeAt(int seconds)
{
    return chartTimeText(seconds / 86400.0);
}

TrendView liveView(int zoomLevel)
{
    TrendView view;
    view.zoomLevel = zoomLevel;
    applyZoom(zoomLevel, view.sampleStep, view.windowOffset);
    return view;
}

QVector<Stroke> curveStrokes(const TrendDrawing &drawing)
{
    QVector<Stroke> curves;
    for (const Stroke &s : drawing.strokes)
        if (s.style == Qt::SolidLine)
            curves.append(s);
    return curves;
}

// The ids a loaded window holds, by buffer position 1..n (value 0 is the id).
QVector<int> loadedIds(const TrendBuffer &buffer, int last)
{
    QVector<int> ids;
    for (int j = 1; j <= last; ++j)
        ids.append(int(buffer.values[0][j]));
    return ids;
}

// Records ids 1..newestId one second apart and loads the overview's chart from them.
bool loadRecorded(RecordingFixture &fixture, TrendChart &chart, qint32 newestId,
                  ChartUpdate *atLoad = nullptr)
{
    if (!fixture.isReady() || !fixture.fillRing(newestId, newestId))
        return false;
    const ChartUpdate update = chart.load(fixture.store());
    if (atLoad)
        *atLoad = update;
    return true;
}

QVector<int> idRange(int first, int last)
{
    QVector<int> ids;
    for (int id = first; id <= last; ++id)
        ids.append(id);
    return ids;
}

} // namespace

class TestChart : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { m_ring.reset(); }
    void init();
    void cleanup();

    // Geometry and texts
    void gridLines_data();
    void gridLines();
    void gridPenAndExtraLines();
    void applyZoomTable_data();
    void applyZoomTable();
    void sampleX_data();
    void sampleX();
    void valueY_data();
    void valueY();
    void curveOrderAndPens();
    void gapMarkers();
    void positionsBeyondBufferSkipped();
    void axisLabels_data();
    void axisLabels();
    void liveLabelsRollOverMidnight_data();
    void liveLabelsRollOverMidnight();
    void surfaceKeepsRedraw();
    void surfaceRepaintsOnlyWhatChanged_data();
    void surfaceRepaintsOnlyWhatChanged();
    void surfaceKeptImageDrawsTheSame_data();
    void surfaceKeptImageDrawsTheSame();

    // Y range
    void yRange_data();
    void yRange();

    // History
    void readWindowIds_data();
    void readWindowIds();
    void readWindowNullValuesAndClosedDatabase();
    void gapMarks_data();
    void gapMarks();
    void fewerRowsThanAsked();
    void emptyPositionsAreNotDrawn();
    void rowsWithoutAReadingBreakTheCurves_data();
    void rowsWithoutAReadingBreakTheCurves();

    // Navigation and live sampling
    void stepBackThroughHistory();
    void youngDatabaseRefusesStepBack();
    void veryYoungDatabaseStepsRoundTheRing();
    void sliderEndsPage();
    void sliderReadsSampleUnderCursor();
    void rulerWhileShifted();
    void f6AfterTheRulerKeepsTheShiftedWindow();
    void zoomSteps();
    void pageTurnAtTwentiethSample();
    void samplingGoesOnAfterZoomIn();
    void youngDatabaseContinuesTheLiveCurve();

private:
    std::unique_ptr<RecordingFixture> m_ring;
    bool m_ringFilled = false;
    int m_fixtureNumber = 0;
    QString nextConnection() { return QStringLiteral("chart-test-%1").arg(++m_fixtureNumber); }
};

void TestChart::init()
{
    resetSharedState();
    ChartSpan = kStartChartSpan;
    SystemClock::setFixed(QDateTime(QDate(2026, 12, 7), QTime(12, 30, 0)));
}

void TestChart::cleanup()
{
    SystemClock::setSource({});
}

// ---------------------------------------------------------------- geometry

void TestChart::gridLines_data()
{
    QTest::addColumn<bool>("horizontal");
    QTest::addColumn<int>("i");
    QTest::addColumn<double>("expected");
    // 312.5 and 937.5 round to the even neighbour.
    QTest::newRow("row 1") << true << 1 << 312.0;
    QTest::newRow("row 2") << true << 2 << 625.0;
    QTest::newRow("row 3") << true << 3 << 938.0;
    QTest::newRow("row 24") << true << 24 << 7500.0;
    QTest::newRow("column 1") << false << 1 << 375.0;
    QTest::newRow("column 32") << false << 32 << 12000.0;
}

void TestChart::gridLines()
{
    QFETCH(bool, horizontal);
    QFETCH(int, i);
    QFETCH(double, expected);
    const QVector<Stroke> grid = gridStrokes();
    // Draw order: y 0, y 7500, 25 rows, x 8, x 9000, 33 columns.
    const Stroke &s = horizontal ? grid.at(2 + i) : grid.at(2 + 25 + 2 + i);
    if (horizontal) {
        QCOMPARE(s.from, QPointF(0, expected));
        QCOMPARE(s.to, QPointF(ChartSurface::kWidth, expected));
    } else {
        QCOMPARE(s.from, QPointF(expected, 0));
        QCOMPARE(s.to, QPointF(expected, ChartSurface::kHeight));
    }
}

void TestChart::gridPenAndExtraLines()
{
    const QVector<Stroke> grid = gridStrokes();
    QCOMPARE(grid.size(), 62);
    for (const Stroke &s : grid) {
        QCOMPARE(s.colour, QColor(255, 128, 255));
        QCOMPARE(s.width, 1);
        QCOMPARE(s.style, Qt::DotLine);
    }
    QCOMPARE(grid.at(1).from.y(), 7500.0);
    QCOMPARE(grid.at(27).from, QPointF(8, 0));
    QCOMPARE(grid.at(28).from, QPointF(9000, 0));
}

void TestChart::applyZoomTable_data()
{
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<float>("sampleStep");
    QTest::addColumn<int>("windowOffset");
    QTest::addColumn<int>("sliderStep");
    QTest::newRow("1") << 1 << 150.0F << 180 << 150;
    QTest::newRow("2") << 2 << 75.0F << 120 << 75;
    QTest::newRow("3") << 3 << 50.0F << 60 << 50;
    QTest::newRow("4") << 4 << 37.5F << 0 << 38;
    // Outside 1..4 both stay as they were (the sentinel values).
    QTest::newRow("0") << 0 << -1.0F << -7 << -1;
    QTest::newRow("5") << 5 << -1.0F << -7 << -1;
}

void TestChart::applyZoomTable()
{
    QFETCH(int, zoomLevel);
    QFETCH(float, sampleStep);
    QFETCH(int, windowOffset);
    QFETCH(int, sliderStep);
    float step = -1;
    int offset = -7;
    QCOMPARE(applyZoom(zoomLevel, step, offset), zoomLevel >= 1 && zoomLevel <= 4);
    QCOMPARE(step, sampleStep);
    QCOMPARE(offset, windowOffset);
    QCOMPARE(Chart::sliderStep(step), sliderStep);
}

void TestChart::sampleX_data()
{
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<int>("sample");
    QTest::addColumn<double>("x");
    QTest::newRow("zoom 4, sample 1 (37.5)") << 4 << 1 << 38.0;
    QTest::newRow("zoom 4, sample 3 (112.5)") << 4 << 3 << 112.0;
    QTest::newRow("zoom 4, sample 2") << 4 << 2 << 75.0;
    QTest::newRow("zoom 1, sample 60 on the now line") << 1 << 60 << 9000.0;
}

void TestChart::sampleX()
{
    QFETCH(int, zoomLevel);
    QFETCH(int, sample);
    QFETCH(double, x);
    const TrendDrawing drawing = drawTrend(TrendBuffer{}, liveView(zoomLevel), 1500, 0);
    const QVector<Stroke> curves = curveStrokes(drawing);
    // Five segments per step; step i ends at sample i, step i + 1 starts there.
    QCOMPARE(curves.at((sample - 1) * 5).to.x(), x);
    if (sample < drawnSteps(liveView(zoomLevel)))
        QCOMPARE(curves.at(sample * 5).from.x(), x);
}

void TestChart::valueY_data()
{
    QTest::addColumn<int>("span");
    QTest::addColumn<int>("low");
    QTest::addColumn<float>("value");
    QTest::addColumn<double>("channelY");
    QTest::addColumn<double>("retransmissionY");
    QTest::newRow("start range, 750") << 1500 << 0 << 750.0F << 3758.0 << 6883.0 - 46875;
    QTest::newRow("start range, 0 at the bottom") << 1500 << 0 << 0.0F << 7508.0 << 6883.0;
    QTest::newRow("start range, 1500 at the top") << 1500 << 0 << 1500.0F << 8.0 << 6883.0 - 93750;
    QTest::newRow("-200..1000, lower limit at the bottom")
        << 1200 << -200 << -200.0F << 7508.0 << 6883.0 + 12500;
    QTest::newRow("-200..1000, upper limit at the top")
        << 1200 << -200 << 1000.0F << 8.0 << 6883.0 - 62500;
    QTest::newRow("span 0: channels on the bottom edge")
        << 0 << 0 << 750.0F << 7508.0 << 6883.0 - 46875;
    QTest::newRow("span 0 with a lower limit") << 0 << 500 << 100.0F << 7508.0 << 633.0;
    QTest::newRow("retransmission 100 near the top") << 1500 << 0 << 100.0F << 7008.0 << 633.0;
    QTest::newRow("33000 wide range") << 33000 << 0 << 16500.0F << 3758.0 << 6883.0 - 1031250;
}

void TestChart::valueY()
{
    QFETCH(int, span);
    QFETCH(int, low);
    QFETCH(float, value);
    QFETCH(double, channelY);
    QFETCH(double, retransmissionY);
    TrendBuffer buffer;
    for (int k = 0; k < kDrawnValues; ++k)
        buffer.values[k].fill(value);
    const TrendDrawing drawing = drawTrend(buffer, liveView(1), span, low);
    const QVector<Stroke> curves = curveStrokes(drawing);
    QCOMPARE(curves.size(), 60 * 5);
    for (int order = 0; order < 4; ++order) {
        QCOMPARE(curves.at(order).from.y(), channelY);
        QCOMPARE(curves.at(order).to.y(), channelY);
    }
    QCOMPARE(curves.at(4).from.y(), retransmissionY);
}

void TestChart::curveOrderAndPens()
{
    TrendBuffer buffer;
    // Channel 3 (value 2) is drawn first, the retransmission value last.
    const TrendDrawing drawing = drawTrend(buffer, liveView(2), 1500, 0);
    const QVector<Stroke> curves = curveStrokes(drawing);
    QCOMPARE(curves.size(), 120 * 5);
    const QVector<QPair<QColor, int>> pens{{QColor(0, 64, 0), 2},
                                           {QColor(255, 0, 0), 2},
                                           {QColor(128, 128, 0), 1},
                                           {QColor(255, 0, 255), 1},
                                           {QColor(255, 0, 0), 1}};
    for (int i = 0; i < curves.size(); ++i) {
        QCOMPARE(curves.at(i).colour, pens.at(i % 5).first);
        QCOMPARE(curves.at(i).width, pens.at(i % 5).second);
    }
}

void TestChart::gapMarkers()
{
    TrendBuffer buffer;
    buffer.gapMarks[1] = 1;
    buffer.gapMarks[3] = 3;
    buffer.gapMarks[181] = 181;
    const TrendDrawing zoom4 = drawTrend(buffer, liveView(4), 1500, 0);
    QVector<Stroke> markers;
    for (const Stroke &s : zoom4.strokes)
        if (s.style == Qt::DashLine)
            markers.append(s);
    QCOMPARE(markers.size(), 3);
    // Markers stand at i × SampleStep, not rounded, from 0 to 9000.
    QCOMPARE(markers.at(0),
             (Stroke{QPointF(37.5, 0), QPointF(37.5, 9000), QColor(255, 255, 0), 1, Qt::DashLine}));
    QCOMPARE(markers.at(1).from.x(), 112.5);
    QCOMPARE(markers.at(2).from.x(), 181 * 37.5);
    // The markers come before the curves.
    QCOMPARE(zoom4.strokes.at(2).style, Qt::DashLine);
    QCOMPARE(zoom4.strokes.at(3).style, Qt::SolidLine);

    // At zoom 1 position 181 is sample 1.
    const TrendDrawing zoom1 = drawTrend(buffer, liveView(1), 1500, 0);
    QCOMPARE(zoom1.strokes.at(0).from.x(), 150.0);
    QCOMPARE(zoom1.strokes.at(1).style, Qt::SolidLine);
}

void TestChart::positionsBeyondBufferSkipped()
{
    TrendView view = liveView(1);
    view.writePosition = 400; // n = 60 + 159 steps, positions up to 399
    TrendBuffer buffer;
    buffer.gapMarks.fill(1);
    const TrendDrawing drawing = drawTrend(buffer, view, 1500, 0);
    // Steps whose end lies beyond position 322 are skipped: 322 - 180 steps remain.
    QCOMPARE(curveStrokes(drawing).size(), (322 - 180) * 5);
    QCOMPARE(drawing.strokes.size() - curveStrokes(drawing).size(), 322 - 180);
}

void TestChart::axisLabels_data()
{
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<int>("windowLength");
    QTest::addColumn<QVector<int>>("seconds"); // after 10:00:00, for labels 0..8
    // Live windows: labels 0..6 at positions 181 .. 241 (zoom 1); 7 and 8 just
    // under 10 × ZoomLevel and 20 × ZoomLevel seconds after position 241.
    QTest::newRow("live, zoom 1") << 1 << 241
                                  << QVector<int>{181, 191, 201, 211, 221, 231, 241, 251, 261};
    QTest::newRow("live, zoom 2") << 2 << 241
                                  << QVector<int>{121, 141, 161, 181, 201, 221, 241, 261, 281};
    QTest::newRow("live, zoom 4") << 4 << 241
                                  << QVector<int>{1, 41, 81, 121, 161, 201, 241, 281, 321};
    // A shifted window reads labels 7 and 8 from the buffer too.
    QTest::newRow("shifted, zoom 1")
        << 1 << 321 << QVector<int>{181, 191, 201, 211, 221, 231, 241, 251, 261};
}

void TestChart::axisLabels()
{
    QFETCH(int, zoomLevel);
    QFETCH(int, windowLength);
    QFETCH(QVector<int>, seconds);
    TrendBuffer buffer = numberedBuffer();
    // Mark the buffer's own positions 251 and up so that reading them shows.
    for (int p = 242; p < kPositions; ++p)
        buffer.times[p] += 1000 / 86400.0;
    TrendView view = liveView(zoomLevel);
    view.windowLength = windowLength;
    const AxisLabels labels = Chart::axisLabels(buffer, view);
    for (int j = 0; j < kLabelCount; ++j) {
        const int fromBuffer = (j >= 7 && windowLength == 321) ? 1000 : 0;
        QCOMPARE(labels.times[j].value_or(QString()), timeAt(36000 + seconds[j] + fromBuffer));
        QCOMPARE(labels.dates[j].value_or(QString()), QStringLiteral("2026/12/07"));
    }
}

void TestChart::liveLabelsRollOverMidnight_data()
{
    QTest::addColumn<int>("zoomLevel");
    QTest::addColumn<QTime>("newest");       // the time of position 241, on 31 December 2026
    QTest::addColumn<QStringList>("label7"); // time, date
    QTest::addColumn<QStringList>("label8");
    const QString today = QStringLiteral("2026/12/31");
    const QString tomorrow = QStringLiteral("2027/01/01");
    QTest::newRow("23:59:55") << 1 << QTime(23, 59, 55) << QStringList{"00:00:05", tomorrow}
                              << QStringList{"00:00:15", tomorrow};
    // Just under ten seconds later reads as midnight: the midnight of the next day.
    QTest::newRow("23:59:50") << 1 << QTime(23, 59, 50) << QStringList{"00:00:00", tomorrow}
                              << QStringList{"00:00:10", tomorrow};
    QTest::newRow("23:59:40") << 1 << QTime(23, 59, 40) << QStringList{"23:59:50", today}
                              << QStringList{"00:00:00", tomorrow};
    QTest::newRow("zoom 2, 23:59:20") << 2 << QTime(23, 59, 20) << QStringList{"23:59:40", today}
                                      << QStringList{"00:00:00", tomorrow};
}

void TestChart::liveLabelsRollOverMidnight()
{
    QFETCH(int, zoomLevel);
    QFETCH(QTime, newest);
    QFETCH(QStringList, label7);
    QFETCH(QStringList, label8);
    TrendBuffer buffer;
    buffer.dates[241] = daySerial(QDate(2026, 12, 31));
    buffer.times[241] = dayFraction(newest);
    const AxisLabels labels = Chart::axisLabels(buffer, liveView(zoomLevel));
    QCOMPARE(*labels.times[6], newest.toString(QStringLiteral("HH:mm:ss")));
    QCOMPARE(*labels.dates[6], QStringLiteral("2026/12/31"));
    QCOMPARE((QStringList{*labels.times[7], *labels.dates[7]}), label7);
    QCOMPARE((QStringList{*labels.times[8], *labels.dates[8]}), label8);
}

void TestChart::surfaceKeepsRedraw()
{
    ChartSurface surface;
    surface.resize(800, 500);
    TrendChart chart;
    chart.attachSurface(&surface);
    surface.addLines({Stroke{QPointF(1, 1), QPointF(2, 2), Qt::black, 1, Qt::SolidLine}});
    chart.redraw();
    // Cleared, then the grid, then the curves of the 60 live steps at zoom 1.
    QCOMPARE(surface.strokes().size(), 62 + 60 * 5);
    QCOMPARE(surface.strokes().first(), gridStrokes().first());
    QCOMPARE(surface.background(), QColor(192, 255, 255));
    QVERIFY(!surface.grab().isNull());
}

// The chart is drawn afresh every second: the surface repaints only when the
// drawing differs from what it shows.
void TestChart::surfaceRepaintsOnlyWhatChanged_data()
{
    QTest::addColumn<int>("change"); // 0 none, 1 a stroke moved, 2 one more, 3 background
    QTest::addColumn<int>("paints");
    QTest::newRow("the same drawing") << 0 << 0;
    QTest::newRow("a stroke moved by one unit") << 1 << 1;
    QTest::newRow("one stroke more") << 2 << 1;
    QTest::newRow("another background") << 3 << 1;
}

void TestChart::surfaceRepaintsOnlyWhatChanged()
{
    QFETCH(int, change);
    QFETCH(int, paints);
    ChartSurface surface;
    surface.resize(800, 500);
    const QVector<Stroke> drawing = gridStrokes();
    surface.addLines(drawing);
    surface.show();
    QVERIFY(QTest::qWaitForWindowExposed(&surface));
    QCoreApplication::processEvents();
    struct PaintCount : QObject {
        int count = 0;
        bool eventFilter(QObject *, QEvent *event) override
        {
            count += event->type() == QEvent::Paint;
            return false;
        }
    } painted;
    surface.installEventFilter(&painted);

    QVector<Stroke> next = drawing;
    if (change == 1)
        next.last().to.rx() += 1;
    if (change == 2)
        next.append(Stroke{QPointF(1, 1), QPointF(2, 2), Qt::black, 1, Qt::SolidLine});
    surface.clear();
    surface.setBackground(change == 3 ? QColor(Qt::white) : surface.background());
    surface.addLines(next);
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(painted.count, paints);
    QCOMPARE(surface.strokes(), next);
}

// The surface keeps the start that stayed the same as an image; whatever the
// drawing does next, it shows what a surface painting it afresh shows.
void TestChart::surfaceKeptImageDrawsTheSame_data()
{
    QTest::addColumn<QString>("change");
    for (const char *change :
         {"the same again", "the curves moved", "a grid line moved", "strokes added at the end",
          "strokes taken from the end", "another background", "another size", "cleared"})
        QTest::newRow(change) << QString::fromLatin1(change);
}

void TestChart::surfaceKeptImageDrawsTheSame()
{
    QFETCH(QString, change);
    const QVector<Stroke> grid = gridStrokes();
    QVector<Stroke> curves;
    for (int x = 0; x < 9000; x += 300)
        curves.append(Stroke{QPointF(x, 3000 + x / 10), QPointF(x + 300, 3100 + x / 10), Qt::red, 2,
                             Qt::SolidLine});
    ChartSurface surface;
    surface.resize(800, 500);
    // Three paints of one drawing: its whole start is kept by then.
    surface.addLines(grid + curves);
    for (int i = 0; i < 3; ++i)
        surface.grab();

    QVector<Stroke> next = grid + curves;
    QColor background = surface.background();
    QSize size(800, 500);
    if (change == QLatin1String("the curves moved")) {
        for (qsizetype i = grid.size(); i < next.size(); ++i)
            next[i].to.ry() += 400;
    } else if (change == QLatin1String("a grid line moved")) {
        next[0].from.rx() += 120;
        next[0].to.rx() += 120;
    } else if (change == QLatin1String("strokes added at the end")) {
        next.append(Stroke{QPointF(0, 0), QPointF(12008, 7508), Qt::blue, 1, Qt::DashLine});
    } else if (change == QLatin1String("strokes taken from the end")) {
        next.resize(grid.size() + 3);
    } else if (change == QLatin1String("another background")) {
        background = Qt::white;
    } else if (change == QLatin1String("another size")) {
        size = QSize(640, 420);
    } else if (change == QLatin1String("cleared")) {
        next.clear();
    }
    surface.clear();
    surface.setBackground(background);
    surface.resize(size);
    surface.addLines(next);
    // Twice: the paint that finds the change, and the one after it.
    for (int i = 0; i < 2; ++i) {
        ChartSurface fresh;
        fresh.resize(size);
        fresh.setBackground(background);
        fresh.addLines(next);
        QCOMPARE(surface.grab().toImage(), fresh.grab().toImage());
    }
}

// ---------------------------------------------------------------- Y range

void TestChart::yRange_data()
{
    QTest::addColumn<QString>("upper");
    QTest::addColumn<QString>("lower");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");
    QTest::addColumn<int>("span");
    QTest::newRow("1000 / -200") << "1000"
                                 << "-200" << true << -200 << 1000 << 1200;
    QTest::newRow("upper 36001") << "36001"
                                 << "0" << false << 0 << 0 << 0;
    QTest::newRow("upper -12001") << "-12001"
                                  << "-12001" << false << 0 << 0 << 0;
    QTest::newRow("lower 35001") << "36000"
                                 << "35001" << false << 0 << 0 << 0;
    QTest::newRow("lower -12001") << "1000"
                                  << "-12001" << false << 0 << 0 << 0;
    QTest::newRow("upper below lower") << "100"
                                       << "200" << false << 0 << 0 << 0;
    QTest::newRow("equal limits") << "100"
                                  << "100" << true << 100 << 100 << 0;
    QTest::newRow("design texts") << ""
                                  << "0" << true << 0 << 0 << 0;
    QTest::newRow("500abc") << "500abc"
                            << "0" << true << 0 << 500 << 500;
    QTest::newRow("abc") << "abc"
                         << "-5" << true << -5 << 0 << 5;
    QTest::newRow("1 000") << "1 000"
                           << "0" << true << 0 << 1000 << 1000;
    QTest::newRow("12.5 halves to even") << "12.5"
                                         << "0" << true << 0 << 12 << 12;
    QTest::newRow("3.5 halves to even") << "3.5"
                                        << "-2.5" << true << -2 << 4 << 6;
    QTest::newRow("33000 takes effect") << "33000"
                                        << "0" << true << 0 << 33000 << 33000;
    QTest::newRow("widest range") << "36000"
                                  << "-12000" << true << -12000 << 36000 << 48000;
}

void TestChart::yRange()
{
    QFETCH(QString, upper);
    QFETCH(QString, lower);
    QFETCH(bool, accepted);
    QFETCH(int, low);
    QFETCH(int, high);
    QFETCH(int, span);
    // A rejected entry leaves the previous range.
    ChartLow = 7;
    ChartHigh = 8;
    ChartSpan = 9;
    QCOMPARE(applyYRange(upper, lower), accepted);
    QCOMPARE(ChartLow, accepted ? low : 7);
    QCOMPARE(ChartHigh, accepted ? high : 8);
    QCOMPARE(ChartSpan, accepted ? span : 9);
}

// ---------------------------------------------------------------- history

void TestChart::readWindowIds_data()
{
    QTest::addColumn<int>("endId");
    QTest::addColumn<int>("length");
    QTest::addColumn<QVector<int>>("ids");
    QTest::newRow("5000/241") << 5000 << 241 << idRange(4760, 5000);
    // Round the ring the older ids 65360..65500 come first in time.
    QTest::newRow("100/241") << 100 << 241 << idRange(65360, 65500) + idRange(1, 100);
    QTest::newRow("241/241") << 241 << 241 << idRange(1, 241);
    // Nothing at or below id 0: only the ring's end.
    QTest::newRow("0/241") << 0 << 241 << idRange(65260, 65500);
    QTest::newRow("340/321") << 340 << 321 << idRange(20, 340);
}

void TestChart::readWindowIds()
{
    QFETCH(int, endId);
    QFETCH(int, length);
    QFETCH(QVector<int>, ids);
    // A full ring whose newest record is id 5000, filled once for all rows.
    if (!m_ring) {
        m_ring = std::make_unique<RecordingFixture>(QStringLiteral("chart-test-ring"));
        m_ringFilled = m_ring->isReady() && m_ring->fillRing(5000, kRecordRingIds);
    }
    QVERIFY(m_ringFilled);
    const auto records = readPvWindow(m_ring->db(), endId, length);
    QVERIFY(records);
    QVector<int> read;
    for (const PvRecord &r : *records)
        read.append(int(r.values[0]));
    QCOMPARE(read, ids);
    // Eight values, by column position.
    QCOMPARE(records->first().values[7], float(ids.first() + 7));
}

void TestChart::readWindowNullValuesAndClosedDatabase()
{
    RecordingFixture fixture(nextConnection());
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.addRecord(10, RecordingFixture::noon(), true));
    const auto records = readPvWindow(fixture.db(), 10, 241);
    QVERIFY(records);
    QCOMPARE(records->size(), 1);
    QCOMPARE(records->first().values, (std::array<float, 8>{}));
    QCOMPARE(records->first().time, 0.5);

    fixture.store().close();
    QVERIFY(!readPvWindow(fixture.db(), 10, 241));
}

void TestChart::gapMarks_data()
{
    QTest::addColumn<qint64>("newestMoment");
    QTest::addColumn<int>("pause"); // seconds between ids 100 and 101
    QTest::addColumn<bool>("marked");
    QTest::newRow("4 minutes") << RecordingFixture::noon() << 240 << false;
    QTest::newRow("299 seconds") << RecordingFixture::noon() << 299 << false;
    QTest::newRow("5 minutes") << RecordingFixture::noon() << 300 << true;
    QTest::newRow("1 hour") << RecordingFixture::noon() << 3600 << true;
    // Id 100 at 23:59:59, id 101 at 00:00:00 of the next day.
    QTest::newRow("midnight, 1 second") << RecordingFixture::noon() + 12 * 3600 + 140 << 1 << false;
    // 23:58 to 00:03: five minutes across midnight.
    QTest::newRow("midnight, 5 minutes")
        << RecordingFixture::noon() + 12 * 3600 + 180 + 140 << 300 << true;
}

void TestChart::gapMarks()
{
    QFETCH(qint64, newestMoment);
    QFETCH(int, pause);
    QFETCH(bool, marked);
    RecordingFixture fixture(nextConnection());
    QVERIFY(fixture.isReady());
    // Ids 101..241 one second apart, ending at newestMoment; ids 1..100 before the pause.
    QVERIFY(fixture.fillRing(241, 141, newestMoment));
    QVERIFY(fixture.fillRing(100, 100, newestMoment - 140 - pause));
    QVERIFY(fixture.setNewest(241));

    TrendChart chart;
    chart.reloadLive(fixture.store());
    const TrendBuffer &buffer = chart.buffer();
    QCOMPARE(loadedIds(buffer, 241), idRange(1, 241));
    for (int j = 1; j <= 241; ++j)
        QCOMPARE(buffer.gapMarks[j], qint16(j == 101 && marked ? 101 : 0));
    QCOMPARE(buffer.gapMarks[0], qint16(0));
}

void TestChart::fewerRowsThanAsked()
{
    RecordingFixture fixture(nextConnection());
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.fillRing(100, 100));
    TrendChart chart;
    const Readout readout = chart.reloadLive(fixture.store());
    const TrendBuffer &buffer = chart.buffer();
    QCOMPARE(chart.newestPvId(), 100);
    QCOMPARE(chart.windowStartId(), 65359);
    // The records fill the newest positions, 142 … 241; the others hold none.
    QCOMPARE(loadedIds(buffer, 241).mid(141), idRange(1, 100));
    for (int j = 0; j < kPositions; ++j) {
        QCOMPARE(buffer.empty[j], j < 142 || j > 241);
        if (buffer.empty[j]) {
            QCOMPARE(buffer.dates[j], 0.0);
            QCOMPARE(buffer.values[0][j], 0.0F);
        }
        // Neither where the records start nor anywhere else is a gap.
        QCOMPARE(buffer.gapMarks[j], qint16(0));
    }
    // Before the first redraw WindowOffset is 0: the read-out shows position 1, empty.
    QCOMPARE(readout.date, QString());
    QCOMPARE(readout.time, QString());
    QVERIFY(!readout.highlighted);
}

// Empty positions: no segment to or from them, no gap marker, blank labels.
void TestChart::emptyPositionsAreNotDrawn()
{
    TrendBuffer buffer = numberedBuffer();
    for (int p = 0; p < 200; ++p)
        buffer.empty[p] = true;
    buffer.gapMarks[100] = 100;
    buffer.gapMarks[220] = 220;
    const TrendDrawing zoom4 = drawTrend(buffer, liveView(4), 1500, 0);
    const QVector<Stroke> curves = curveStrokes(zoom4);
    // Steps 201 … 240 join positions 200 … 240.
    QCOMPARE(curves.size(), 40 * 5);
    QCOMPARE(curves.first().from.x(), 7500.0);
    QCOMPARE(zoom4.strokes.size() - curves.size(), 1);
    QCOMPARE(zoom4.strokes.first().from.x(), 220 * 37.5);
    // Labels 0 … 4 stand over positions 1, 41, 81, 121 and 161.
    for (int j = 0; j < kLabelCount; ++j) {
        QCOMPARE(zoom4.labels.times[j].value_or(QStringLiteral("?")).isEmpty(), j < 5);
        QCOMPARE(zoom4.labels.dates[j].value_or(QStringLiteral("?")).isEmpty(), j < 5);
    }
    // Without a newest record the live labels 7 and 8 have nothing to count on from.
    buffer.empty[241] = true;
    const AxisLabels labels = Chart::axisLabels(buffer, liveView(1));
    QCOMPARE(*labels.times[5], timeAt(36000 + 231));
    QVERIFY(labels.times[6]->isEmpty() && labels.times[8]->isEmpty());
    QVERIFY(labels.dates[7]->isEmpty());
}

void TestChart::rowsWithoutAReadingBreakTheCurves_data()
{
    QTest::addColumn<int>("quality"); // of the row at position 221; 0: unknown
    QTest::addColumn<bool>("broken");
    QTest::newRow("good (192)") << 192 << false;
    QTest::newRow("held (68)") << 68 << false;
    QTest::newRow("unknown") << 0 << false;
    QTest::newRow("port lost or open failed (24)") << 24 << true;
    QTest::newRow("not open (8)") << 8 << true;
}

// A row recorded while nothing was read (its values are zeros) is no vertex:
// no stroke of any curve runs to or from it, live samples included; its
// labels stay, and the ruler shows no values over it.
void TestChart::rowsWithoutAReadingBreakTheCurves()
{
    QFETCH(int, quality);
    QFETCH(bool, broken);
    RecordingFixture fixture(nextConnection());
    QVERIFY(fixture.isReady());
    QVERIFY(fixture.fillRing(241, 241));
    const qint64 moment = RecordingFixture::noon() - 20; // id 221
    std::optional<RowQuality> stored;
    if (quality != 0)
        stored = RowQuality(quality);
    QVERIFY(recordRow(fixture.store(), RecordTable::PvData, 221, RecordingFixture::dateOf(moment),
                      RecordingFixture::timeOf(moment), {}, stored));
    QVERIFY(fixture.setNewest(241));

    TrendChart chart;
    chart.reloadLive(fixture.store());
    chart.redraw();
    QCOMPARE(chart.buffer().noValues[221], broken);
    const TrendDrawing drawing = drawTrend(chart.buffer(), chart.view(), 1500, 0);
    const QVector<Stroke> curves = curveStrokes(drawing);
    // Zoom level 1: position 221 is vertex 41, at x = 41 × 150.
    QCOMPARE(curves.size(), (broken ? 58 : 60) * kDrawnValues);
    for (const Stroke &s : curves)
        QVERIFY(!broken || (s.from.x() != 6150 && s.to.x() != 6150));
    chart.toggleRuler(fixture.store());
    const ChartUpdate ruler = chart.sliderChanged(fixture.store(), 6150);
    QVERIFY(ruler.values);
    QCOMPARE((*ruler.values)[0].isEmpty(), broken);
    chart.toggleRuler(fixture.store()); // off: the live window again

    // The live sample taken from a row of that quality.
    chart.setSampleQuality([quality]() -> std::optional<qint16> {
        return quality == 0 ? std::nullopt : std::optional<qint16>(qint16(quality));
    });
    PvRecorded = true;
    chart.takeLiveSample(fixture.store());
    QCOMPARE(chart.writePosition(), kLivePosition + 1);
    QCOMPARE(chart.buffer().noValues[kLivePosition + 1], broken);
    QVERIFY(!chart.buffer().empty[kLivePosition + 1]);
}

// ---------------------------------------------------------------- navigation

void TestChart::stepBackThroughHistory()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    ChartUpdate atLoad;
    QVERIFY(loadRecorded(fixture, chart, 1000, &atLoad));
    QCOMPARE(atLoad.zoomInEnabled, std::optional<bool>(false));
    QCOMPARE(atLoad.towardsLiveEnabled, std::optional<bool>(false));
    QCOMPARE(atLoad.sliderEnabled, std::optional<bool>(false));
    QCOMPARE(loadedIds(chart.buffer(), 241), idRange(760, 1000));

    ChartUpdate first = chart.stepBack(fixture.store());
    QCOMPARE(first.liveTimerRunning, std::optional<bool>(false));
    QCOMPARE(first.towardsLiveEnabled, std::optional<bool>(true));
    QVERIFY(first.axisLabels);
    QCOMPARE(chart.windowEndId(), 940);
    QCOMPARE(chart.writePosition(), 321);
    QCOMPARE(loadedIds(chart.buffer(), 321), idRange(620, 940));

    chart.stepBack(fixture.store());
    QCOMPARE(loadedIds(chart.buffer(), 321), idRange(560, 880));

    for (int step = 3; step <= 11; ++step)
        QVERIFY(!chart.stepBack(fixture.store()).stepBackEnabled);
    QCOMPARE(chart.windowEndId(), 340);

    // The twelfth would end at 280, reaching back before record 1.
    const ChartUpdate twelfth = chart.stepBack(fixture.store());
    QCOMPARE(twelfth.stepBackEnabled, std::optional<bool>(false));
    QVERIFY(!twelfth.liveTimerRunning && !twelfth.axisLabels && !twelfth.towardsLiveEnabled);
    QVERIFY(chart.atOldest());
    QVERIFY(!chart.canStepBack());
    QCOMPARE(chart.shiftCount(), 11);
    QCOMPARE(loadedIds(chart.buffer(), 321), idRange(20, 340));

    // F6 from the oldest window lets F7 work again.
    const ChartUpdate towards = chart.stepTowardsLive(fixture.store());
    QCOMPARE(towards.stepBackEnabled, std::optional<bool>(true));
    QVERIFY(!chart.atOldest());
    QCOMPARE(chart.windowEndId(), 400);
}

void TestChart::youngDatabaseRefusesStepBack()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 200));
    const TrendBuffer before = chart.buffer();

    const ChartUpdate refused = chart.stepBack(fixture.store());
    ChartUpdate expected;
    expected.stepBackEnabled = false;
    // Only F7 changes: live sampling (Timer1) and F6 stay as they were.
    QVERIFY(!refused.liveTimerRunning);
    QVERIFY(!refused.towardsLiveEnabled);
    QVERIFY(!refused.axisLabels && !refused.readout);
    QCOMPARE(refused.stepBackEnabled, expected.stepBackEnabled);
    QCOMPARE(chart.shiftCount(), 0);
    QVERIFY(chart.atOldest());
    QCOMPARE(chart.windowLength(), 241);
    QCOMPARE(chart.buffer().values, before.values);

    // The live window goes on taking samples.
    PvRecorded = true;
    ProcessValues[0] = 4242;
    QVERIFY(chart.takeLiveSample(fixture.store()).axisLabels);
    QCOMPARE(chart.writePosition(), 242);
    QCOMPARE(chart.buffer().values[0][242], 4242.0F);
    QVERIFY(!PvRecorded);

    // The slider's left end does nothing more at the oldest window.
    QVERIFY(!chart.sliderChanged(fixture.store(), TrendChart::kSliderLeftEnd).stepBackEnabled);
    QCOMPARE(chart.shiftCount(), 0);

    // Returning to live through the ruler lets F7 try again on the grown database.
    chart.rulerOn();
    const ChartUpdate live = chart.rulerOff(fixture.store());
    QCOMPARE(live.stepBackEnabled, std::optional<bool>(true));
    QVERIFY(!chart.atOldest());
}

void TestChart::veryYoungDatabaseStepsRoundTheRing()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 30));
    chart.stepBack(fixture.store());
    QCOMPARE(chart.shiftCount(), 1);
    QCOMPARE(chart.windowEndId(), 65470);
    // The range holds no records yet: an empty window.
    QCOMPARE(chart.buffer().values[0][321], 0.0F);
    QCOMPARE(chart.buffer().dates[1], 0.0);
}

void TestChart::sliderEndsPage()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));

    const ChartUpdate left = chart.sliderChanged(fixture.store(), TrendChart::kSliderLeftEnd);
    QCOMPARE(chart.shiftCount(), 1);
    QCOMPARE(chart.windowEndId(), 940);
    QCOMPARE(left.liveTimerRunning, std::optional<bool>(false));
    QCOMPARE(left.rulerLine, (std::optional<RulerLine>(RulerLine{
                                 QColor(192, 0, 192), 2, QPointF(-1, 0), QPointF(-1, 7500)})));

    chart.sliderChanged(fixture.store(), TrendChart::kSliderLeftEnd);
    QCOMPARE(chart.shiftCount(), 2);
    chart.sliderChanged(fixture.store(), TrendChart::kSliderRightEnd);
    QCOMPARE(chart.shiftCount(), 1);
    QCOMPARE(chart.windowEndId(), 940);

    const ChartUpdate live = chart.sliderChanged(fixture.store(), TrendChart::kSliderRightEnd);
    QCOMPARE(chart.shiftCount(), 0);
    QCOMPARE(chart.windowLength(), 241);
    QCOMPARE(live.liveTimerRunning, std::optional<bool>(true));
    QCOMPARE(live.towardsLiveEnabled, std::optional<bool>(false));

    // At live the right end only moves the cursor.
    const ChartUpdate still = chart.sliderChanged(fixture.store(), TrendChart::kSliderRightEnd);
    QCOMPARE(chart.shiftCount(), 0);
    QVERIFY(!still.liveTimerRunning && !still.axisLabels);
}

void TestChart::sliderReadsSampleUnderCursor()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));
    // Zoom 1: x 150 is vertex 1, position 181, id 940; x 224 rounds to the same vertex.
    for (int x : {150, 224}) {
        const ChartUpdate update = chart.sliderChanged(fixture.store(), x);
        QVERIFY(update.readout && update.values);
        QVERIFY(update.readout->highlighted);
        QCOMPARE(update.readout->time, chartTimeText(chart.buffer().times[181]));
        QCOMPARE(update.values->at(0), QStringLiteral("940"));
        QCOMPARE(update.values->at(4), QStringLiteral("944"));
    }
    // x 225 is 1.5 samples: halves to even, vertex 2.
    QCOMPARE(chart.sliderChanged(fixture.store(), 225).values->at(0), QStringLiteral("941"));
}

void TestChart::rulerWhileShifted()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));
    for (int i = 0; i < 3; ++i)
        chart.stepBack(fixture.store());
    QCOMPARE(chart.windowEndId(), 820);

    const ChartUpdate on = chart.toggleRuler(fixture.store());
    QVERIFY(chart.rulerIsOn());
    QCOMPARE(on.rulerCaption, std::optional<QString>(QStringLiteral("F4 复原")));
    QCOMPARE(on.sliderEnabled, std::optional<bool>(true));
    QCOMPARE(on.liveTimerRunning, std::optional<bool>(false));
    QCOMPARE(on.focus, std::optional<ChartFocus>(ChartFocus::Slider));
    QCOMPARE(on.rulerLine->colour, QColor(255, 255, 0));
    QVERIFY(!chart.clockTick(QDateTime::currentDateTime()).readout);

    // The recorder went on meanwhile.
    QVERIFY(fixture.addRecord(1001, RecordingFixture::noon() + 1));
    QVERIFY(fixture.setNewest(1001));

    const ChartUpdate off = chart.toggleRuler(fixture.store());
    QVERIFY(!chart.rulerIsOn());
    QCOMPARE(off.rulerCaption, std::optional<QString>(QStringLiteral("F4 标尺")));
    QCOMPARE(off.sliderEnabled, std::optional<bool>(false));
    QCOMPARE(off.liveTimerRunning, std::optional<bool>(true));
    QCOMPARE(off.rulerLine->colour, QColor(0, 255, 0));
    QVERIFY(!off.towardsLiveEnabled);
    QCOMPARE(chart.shiftCount(), 3);
    QCOMPARE(chart.windowLength(), 241);
    QCOMPARE(chart.writePosition(), 241);
    QCOMPARE(loadedIds(chart.buffer(), 241), idRange(761, 1001));

    // F6 now loads the window two steps back from the newest record.
    chart.stepTowardsLive(fixture.store());
    QCOMPARE(chart.shiftCount(), 2);
    QCOMPARE(chart.windowEndId(), 1001 - 120);
    QCOMPARE(chart.writePosition(), 321);
}

void TestChart::f6AfterTheRulerKeepsTheShiftedWindow()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));
    for (int i = 0; i < 3; ++i)
        chart.stepBack(fixture.store());
    chart.rulerOn();
    QCOMPARE(chart.rulerOff(fixture.store()).liveTimerRunning, std::optional<bool>(true));

    // F6 from the live window with ShiftCount 3 shows a shifted window: no sampling.
    const ChartUpdate f6 = chart.stepTowardsLive(fixture.store());
    QCOMPARE(f6.liveTimerRunning, std::optional<bool>(false));
    QCOMPARE(chart.windowLength(), 321);
    // A tick that still comes neither samples nor turns the page.
    QVERIFY(fixture.addRecord(1001, RecordingFixture::noon() + 1));
    QVERIFY(fixture.setNewest(1001));
    PvRecorded = true;
    QVERIFY(chart.takeLiveSample(fixture.store()).isEmpty());
    QVERIFY(PvRecorded);
    QCOMPARE(chart.shiftCount(), 2);
    QCOMPARE(chart.writePosition(), 321);
    QCOMPARE(loadedIds(chart.buffer(), 321), idRange(560, 880));

    // Live again through F6 twice: the raised flag is the first live sample.
    chart.stepTowardsLive(fixture.store());
    chart.stepTowardsLive(fixture.store());
    QCOMPARE(chart.windowLength(), 241);
    QVERIFY(chart.takeLiveSample(fixture.store()).axisLabels);
    QCOMPARE(chart.writePosition(), 242);
}

void TestChart::zoomSteps()
{
    TrendChart chart;
    chart.redraw();
    QVERIFY(chart.zoomIn().isEmpty()); // already at level 1
    const ChartUpdate two = chart.zoomOut();
    QCOMPARE(two.sliderStep, std::optional<int>(75));
    QCOMPARE(two.zoomInEnabled, std::optional<bool>(true));
    QCOMPARE(two.zoomOutEnabled, std::optional<bool>(true));
    QCOMPARE(chart.windowOffset(), 120);
    chart.zoomOut();
    const ChartUpdate four = chart.zoomOut();
    QCOMPARE(four.sliderStep, std::optional<int>(38));
    QCOMPARE(four.zoomOutEnabled, std::optional<bool>(false));
    QVERIFY(chart.zoomOut().isEmpty());
    QCOMPARE(chart.zoomLevel(), 4);
    chart.zoomIn();
    chart.zoomIn();
    const ChartUpdate one = chart.zoomIn();
    QCOMPARE(one.sliderStep, std::optional<int>(150));
    QCOMPARE(one.zoomInEnabled, std::optional<bool>(false));
    // Zooming changes neither the window nor WritePosition.
    QCOMPARE(chart.writePosition(), 241);
    QCOMPARE(chart.windowLength(), 241);
}

void TestChart::pageTurnAtTwentiethSample()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));
    for (int k = 1; k <= 20; ++k) {
        // The recorder writes a row, then the overview's tick samples it.
        QVERIFY(fixture.addRecord(1000 + k, RecordingFixture::noon() + k));
        QVERIFY(fixture.setNewest(1000 + k));
        ProcessValues[0] = float(1000 + k);
        PvRecorded = true;
        const ChartUpdate update = chart.takeLiveSample(fixture.store());
        QCOMPARE(update.readout.has_value(), k == 20);
        QCOMPARE(chart.writePosition(), k < 20 ? 241 + k : 241);
    }
    // Reloaded to end at 1020, whose live sample then overwrote position 241.
    QCOMPARE(chart.newestPvId(), 1020);
    QCOMPARE(loadedIds(chart.buffer(), 241), idRange(780, 1020));
    QCOMPARE(chart.buffer().values[1][241], 0.0F); // live samples copy ProcessValues
    QCOMPARE(chart.buffer().times[241], dayFraction(QTime(12, 30, 0)));
    QCOMPARE(chart.buffer().values[0][242], 0.0F);
}

void TestChart::samplingGoesOnAfterZoomIn()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 1000));
    chart.zoomOut(); // the page now ends at 281
    for (int k = 1; k <= 25; ++k) {
        PvRecorded = true;
        chart.takeLiveSample(fixture.store());
    }
    QCOMPARE(chart.writePosition(), 266);
    chart.zoomIn(); // the page end 261 now lies behind the newest sample
    PvRecorded = true;
    ProcessValues[0] = 77;
    QVERIFY(chart.takeLiveSample(fixture.store()).readout);
    QCOMPARE(chart.writePosition(), 241);
    QCOMPARE(chart.buffer().values[0][241], 77.0F);
    PvRecorded = true;
    chart.takeLiveSample(fixture.store());
    QCOMPARE(chart.writePosition(), 242);
}

// A page turn on a database of 100 records: the 120 rows it loads fill
// positions 122 … 241, so the curve drawn at zoom 1 goes on from them.
void TestChart::youngDatabaseContinuesTheLiveCurve()
{
    RecordingFixture fixture(nextConnection());
    TrendChart chart;
    QVERIFY(loadRecorded(fixture, chart, 100));
    for (int id = 101; id <= 120; ++id) {
        QVERIFY(fixture.addRecord(id, RecordingFixture::noon() + id - 100));
        QVERIFY(fixture.setNewest(id));
        ProcessValues[0] = float(id);
        PvRecorded = true;
        chart.takeLiveSample(fixture.store());
    }
    QCOMPARE(chart.writePosition(), 241);
    const TrendBuffer &buffer = chart.buffer();
    QCOMPARE(loadedIds(buffer, 241).mid(121), idRange(1, 120));
    QVERIFY(buffer.empty[121] && !buffer.empty[122]);
    const TrendDrawing drawn = drawTrend(buffer, chart.view(), ChartSpan, ChartLow);
    QCOMPARE(curveStrokes(drawn).size(), 60 * 5);
    QCOMPARE(drawn.strokes.size(), 60 * 5);
    QCOMPARE(drawn.labels.times[0], std::optional<QString>(chartTimeText(buffer.times[181])));

    // The ruler at zoom 4: x 0 is empty position 0, x 4575 position 122, record 1.
    for (int level = 1; level < TrendChart::kMaxZoomLevel; ++level)
        chart.zoomOut();
    const ChartUpdate blank = chart.sliderChanged(fixture.store(), 0);
    QVERIFY(blank.readout && blank.values);
    QCOMPARE(blank.readout->date, QString());
    QCOMPARE(blank.readout->time, QString());
    QVERIFY(blank.readout->highlighted);
    QCOMPARE(*blank.values, (std::array<QString, kDrawnValues>{}));
    QCOMPARE(chart.sliderChanged(fixture.store(), 4575).values->at(0), QStringLiteral("1"));
}

QTEST_MAIN(TestChart)
#include "tst_chart.moc"
