// Speed of the trend chart's two heavy steps: RedrawChart with a full buffer and
// LoadTrendWindow of a shifted window from a full pv_data ring. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/bench_chart [runs]

#include "chartsurface.h"
#include "median.h"
#include "recordingfixture.h"
#include "shared.h"
#include "trendchart.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

namespace
{

constexpr int kDefaultRuns = 200;
constexpr qint32 kNewestId = 1000;
// Six minutes between records: every neighbouring pair is a gap.
constexpr int kGapSeconds = 360;

double medianMicroseconds(int runs, const std::function<void()> &step)
{
    return medianNanoseconds(runs, step) / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRuns;
    QTextStream out(stdout);

    ChartSpan = kStartChartSpan;
    RecordingFixture fixture(QStringLiteral("bench-chart"));
    if (!fixture.isReady() ||
        !fixture.fillRing(kNewestId, 65500, RecordingFixture::noon(), kGapSeconds)) {
        out << "cannot create the recording database\n";
        return 1;
    }

    ChartSurface surface;
    surface.resize(801, 501);
    TrendChart chart;
    chart.attachSurface(&surface);
    chart.load(fixture.store());
    chart.stepBack(fixture.store()); // a shifted window of 321 records, WritePosition 321
    for (int level = 1; level < TrendChart::kMaxZoomLevel; ++level)
        chart.zoomOut(); // zoom 4: 320 sample steps across the whole width

    int marks = 0;
    for (qint16 mark : chart.buffer().gapMarks)
        marks += mark > 0 ? 1 : 0;

    const double load = medianMicroseconds(runs, [&] { chart.loadTrendWindow(fixture.db()); });
    const double redraw = medianMicroseconds(runs, [&] { chart.redraw(); });
    const double paint = medianMicroseconds(runs, [&] {
        chart.redraw();
        surface.grab();
    });

    // A live window across the ring's end: ids 65360..65500 and 1..100.
    TrendChart wrapped;
    fixture.setNewest(100);
    wrapped.reloadLive(fixture.store());
    const double wrapLoad =
        medianMicroseconds(runs, [&] { wrapped.loadTrendWindow(fixture.db()); });

    out << "runs " << runs << ", gap marks " << marks << ", strokes " << surface.strokes().size()
        << "\n";
    out << "LoadTrendWindow, 321 records of a full ring: median " << load << " us\n";
    out << "LoadTrendWindow, 241 records across id 65500: median " << wrapLoad << " us\n";
    out << "RedrawChart into the stroke list:            median " << redraw << " us\n";
    out << "RedrawChart and painting 801 x 501 pixels:   median " << paint << " us\n";
    return 0;
}
