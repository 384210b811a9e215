// What one redraw of the overview's trend chart costs (the strokes computed
// and the surface painted), with nothing in memory beside the curves, and
// with a day of a long run: a full day of the journal's marks and the health
// monitor's not-live spans. The redraw takes only the marks and spans of the
// samples shown, so both should cost the same; the third line takes every
// span kept, as the redraw did before, for comparison. The last line paints
// curves that moved each time, as in the running overview, where only the
// grid stays as it was. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/bench_redraw [runs]

#include "chartsources.h"
#include "chartsurface.h"
#include "clock.h"
#include "daytime.h"
#include "journal.h"
#include "linkspans.h"
#include "median.h"
#include "notliveband.h"
#include "store.h"
#include "trendchart.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVariant>

#include <cmath>
#include <limits>

namespace
{

constexpr int kDefaultRuns = 200;
constexpr int kRows = 600;       // the newest rows of the pv_data ring, a second apart
constexpr int kDayMarks = 33000; // a day at about 23 alarm events a minute
constexpr int kDaySpans = 2000;  // as many not-live spans as the monitor keeps

// `kRows` pv_data rows a second apart ending at `now`, and sl_void naming the newest.
bool fillRows(QSqlDatabase db, const QDateTime &now)
{
    QSqlQuery query(db);
    if (!db.transaction() ||
        !query.prepare("insert or replace into pv_data values (?,?,?,?,?,?,?,?,?,?,?)"))
        return false;
    for (int id = 1; id <= kRows; ++id) {
        const QDateTime at = now.addSecs(id - kRows);
        query.addBindValue(id);
        query.addBindValue(daySerial(at.date()));
        query.addBindValue(dayFraction(at.time()));
        for (int k = 0; k < kRecordedValueCount; ++k)
            query.addBindValue(double(std::lround(600 + 400 * std::sin(id / (30.0 + 7 * k)))));
        if (!query.exec())
            return false;
    }
    return query.exec(QStringLiteral("update sl_void set newest_pv = %1, newest_pv_copy = %1")
                          .arg(kRows)) &&
           db.commit();
}

// Medians of one redraw, in milliseconds, and the strokes it drew.
struct Redraw {
    double strokes = 0;
    double painted = 0;
    int count = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRuns;
    QTextStream out(stdout);

    const QDateTime now(QDate(2026, 12, 7), QTime(12, 0));
    SystemClock::setFixed(now);
    QTemporaryDir dir;
    RecordingStore store(QStringLiteral("bench-redraw"));
    if (!store.open(dir.filePath(QStringLiteral("Rdatabj.db"))) ||
        !fillRows(store.database(), now)) {
        out << "cannot create the recording database\n";
        return 1;
    }

    // A day of marks in the journal (it keeps the newest day of them) and a
    // day of spans, the newest ending a minute ago.
    EventJournal journal;
    EventJournal none;
    for (int i = kDayMarks; i >= 1; --i)
        journal.record(Event{now.addSecs(-qint64(i) * 86400 / kDayMarks), EventKind::Alarm,
                             QStringLiteral("通道一报警"),
                             i % 2 ? QStringLiteral("ON 300") : QStringLiteral("OFF 20")});
    std::vector<NotLiveSpan> spans;
    for (int i = kDaySpans; i >= 1; --i) {
        const QDateTime from = now.addSecs(-i * 86400 / kDaySpans - 60);
        spans.push_back({from, from.addSecs(20)});
    }

    ChartSurface surface;
    surface.resize(801, 501);
    TrendChart chart;
    chart.attachSurface(&surface);
    chart.load(store);
    QImage picture(surface.size(), QImage::Format_RGB32);

    const auto redraw = [&](const std::vector<NotLiveSpan> &kept, const EventJournal &marks,
                            bool everySpan) {
        chart.setUnderlay([&](const Chart::TrendBuffer &buffer, const Chart::TrendView &view) {
            double first = 0;
            double last = 0;
            if (everySpan) {
                first = -std::numeric_limits<double>::infinity();
                last = std::numeric_limits<double>::infinity();
            } else if (!Chart::viewSpan(buffer, view, first, last)) {
                return QVector<Stroke>{};
            }
            return Chart::notLiveBand(buffer, view,
                                      Chart::spansWithin(kept, first, last, serialOf(now)));
        });
        chart.setMarkSource(
            [&](double from, double to) { return Chart::journalMarks(marks, from, to); });
        const double strokes = medianNanoseconds(runs, [&] { chart.redraw(); }) / 1e6;
        const double painted = medianNanoseconds(runs,
                                                 [&] {
                                                     chart.redraw();
                                                     surface.render(&picture);
                                                 }) /
                               1e6;
        return Redraw{strokes, painted, int(surface.strokes().size())};
    };
    // The grid as drawn, then the rest moved a little for each paint.
    const auto moving = [&] {
        chart.setUnderlay({});
        chart.setMarkSource({});
        chart.redraw();
        const QVector<Stroke> drawn = surface.strokes();
        const qsizetype grid = Chart::gridStrokes().size();
        int sample = 0;
        const double painted =
            medianNanoseconds(runs,
                              [&] {
                                  QVector<Stroke> moved = drawn;
                                  ++sample;
                                  for (qsizetype i = grid; i < moved.size(); ++i) {
                                      moved[i].from.ry() += sample % 7;
                                      moved[i].to.ry() += sample % 7;
                                  }
                                  surface.clear();
                                  surface.addLines(moved);
                                  surface.render(&picture);
                              }) /
            1e6;
        return Redraw{0, painted, int(surface.strokes().size())};
    };

    out << "runs " << runs << ", live window of " << chart.windowLength() << " records, "
        << surface.width() << " x " << surface.height() << " pixels\n";
    const std::vector<std::pair<const char *, Redraw>> lines = {
        {"nothing beside the curves        ", redraw({}, none, false)},
        {"a day of marks and spans         ", redraw(spans, journal, false)},
        {"a day, every span kept (before)  ", redraw(spans, journal, true)},
        {"the curves moved, the grid kept  ", moving()},
    };
    for (const auto &[name, times] : lines)
        out << name << ": " << times.count << " strokes, computed median " << times.strokes
            << " ms, computed and painted median " << times.painted << " ms\n";
    SystemClock::setSource({});
    return 0;
}
