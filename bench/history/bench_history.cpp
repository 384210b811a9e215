// Speed of the history window's steps on full rings (65500 rows each): finding
// the ids of a from/to, reading and drawing a long range decimated to the
// chart's width, with a full events ring's not-live spans and journal marks
// read and drawn, the CSV export of the whole 1-second ring, and the history
// window's own actions ("最近 7 天", a pan, "后退") by the time they take on the
// UI thread, the reading on its own thread left out. Run by hand:
//   QT_QPA_PLATFORM=offscreen build/bench_history [runs] [copy.db]
// With copy.db the database it filled is copied there, to be read again by
//   build/bench_history --week-events copy.db
// which reads the 7 days' events in ring order once, as the window's
// background read does, and prints their count: a whole process to time beside
// another client reading the same rows.

#include "clock.h"
#include "csvexport.h"
#include "daytime.h"
#include "events.h"
#include "historychart.h"
#include "historymarks.h"
#include "historyrange.h"
#include "historyscaling.h"
#include "historywindow.h"
#include "median.h"
#include "ringquery.h"
#include "store.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextStream>
#include <QVariant>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <functional>
#include <vector>

namespace
{

constexpr int kDefaultRuns = 50;
constexpr int kChartWidth = 1000; // about the history chart's plot on a 1280-pixel screen
constexpr int kChartHeight = 520;
// The newest ids: both rings have gone round and wrap in the middle.
constexpr qint32 kNewestPv = 30000;
constexpr qint32 kNewestLpv = 40000;

// Changes of scaling per channel over each range read.
constexpr int kScalingChanges = 10;

double medianMilliseconds(int runs, const std::function<void()> &step)
{
    return medianNanoseconds(runs, step) / 1e6;
}

// A full ring ending at `newestSecond`, written in one transaction beside the
// store's connection, with slowly moving values; sl_void names the newest id.
bool fillRing(QSqlDatabase db, RecordTable ring, qint32 newestId, qint64 newestSecond)
{
    const int step = ringSampleSeconds(ring);
    const QString table = ring == RecordTable::PvData ? "pv_data" : "Lpv_wdjl";
    QSqlQuery query(db);
    QSqlQuery quality(db);
    if (!db.transaction() ||
        !query.prepare("insert or replace into " + table + " values (?,?,?,?,?,?,?,?,?,?,?)") ||
        !quality.prepare("insert or replace into row_quality values (?,?,?,?,192,3600)"))
        return false;
    for (int age = kRecordRingIds - 1; age >= 0; --age) {
        const qint32 id =
            ((newestId - 1 - age) % kRecordRingIds + kRecordRingIds) % kRecordRingIds + 1;
        const qint64 second = newestSecond - qint64(age) * step;
        // Every row with its quality entry, as the recorder writes them.
        quality.addBindValue(ring == RecordTable::PvData ? 1 : 2);
        quality.addBindValue(id);
        quality.addBindValue(double(second / 86400));
        quality.addBindValue(double(second % 86400) / 86400.0);
        if (!quality.exec())
            return false;
        query.addBindValue(id);
        query.addBindValue(double(second / 86400));
        query.addBindValue(double(second % 86400) / 86400.0);
        for (int k = 0; k < kRecordedValueCount; ++k)
            query.addBindValue(
                double(std::lround(300 + 200 * std::sin(second / (600.0 + 97 * k)))));
        if (!query.exec())
            return false;
    }
    const QString counter = ring == RecordTable::PvData
                                ? "update sl_void set newest_pv = ?, newest_pv_copy = ?"
                                : "update sl_void set newest_lpv = ?, newest_lpv_copy = ?";
    query.prepare(counter);
    query.addBindValue(newestId);
    query.addBindValue(newestId);
    return query.exec() && db.commit();
}

// A full events ring over the 7 days up to `newestSecond`, written in one
// transaction: every fourth event the link lost or back, the others a
// channel alarm coming on or going off, so that half the range is shaded.
bool fillEvents(QSqlDatabase db, const QString &path, qint64 newestSecond)
{
    {
        EventLog log("bench-history-events");
        if (!log.open(path)) // creates the events table
            return false;
    }
    QSqlQuery query(db);
    if (!db.transaction() ||
        !query.prepare("insert or replace into events (ev_id, ev_date, ev_time, ev_kind, "
                       "ev_source, ev_detail) values (?,?,?,?,?,?)"))
        return false;
    const qint64 apart = 7 * 86400 / EventLog::kEventRingIds;
    for (qint32 id = 1; id <= EventLog::kEventRingIds; ++id) {
        const qint64 second = newestSecond - qint64(EventLog::kEventRingIds - id) * apart;
        const bool link = id % 4 == 0;
        const bool on = id % 8 < 4;
        query.addBindValue(id);
        query.addBindValue(double(second / 86400));
        query.addBindValue(double(second % 86400) / 86400.0);
        query.addBindValue(link ? "link" : "alarm");
        query.addBindValue(link ? "端口 1 /dev/ttyUSB0" : "通道一报警");
        query.addBindValue(link ? (on ? "无应答: no reply" : "在线") : (on ? "ON 300" : "OFF 20"));
        if (!query.exec())
            return false;
    }
    query.prepare("update events_void set newest_event = ?");
    query.addBindValue(EventLog::kEventRingIds);
    return query.exec() && db.commit();
}

// The CPU time of the calling thread, in nanoseconds.
qint64 threadCpuNanoseconds()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// The time the UI thread spends on an action until the range it asked for is
// shown and painted: its own handler, the answer applied, the repaint, and
// whatever else the event loop runs meanwhile, but not its waits for events
// (the reading thread's work is one of those).
struct UiThreadTime {
    double busyMs = 0;  // wall-clock time outside the waits
    double cpuMs = 0;   // the UI thread's CPU time in the same stretches
    double shownMs = 0; // wall-clock time until the range was shown
};

UiThreadTime uiThreadTime(HistoryWindow &window, const std::function<void()> &action)
{
    QElapsedTimer wall;
    wall.start();
    qint64 busy = 0;
    qint64 cpu = 0;
    qint64 since = 0;
    qint64 cpuSince = threadCpuNanoseconds();
    bool running = true;
    QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
    const QMetaObject::Connection blocking =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, [&] {
            if (!running)
                return;
            busy += wall.nsecsElapsed() - since;
            cpu += threadCpuNanoseconds() - cpuSince;
            running = false;
        });
    const QMetaObject::Connection awake =
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, [&] {
            if (running)
                return;
            since = wall.nsecsElapsed();
            cpuSince = threadCpuNanoseconds();
            running = true;
        });
    action();
    while (window.isReading())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const qint64 shown = wall.nsecsElapsed();
    // The repaint the answer asked for.
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    if (running) {
        busy += wall.nsecsElapsed() - since;
        cpu += threadCpuNanoseconds() - cpuSince;
    }
    QObject::disconnect(blocking);
    QObject::disconnect(awake);
    return {busy / 1e6, cpu / 1e6, shown / 1e6};
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// The noon the bench's database ends at.
qint64 benchNowSecond()
{
    return qint64(daySerial(QDate(2026, 12, 7))) * 86400 + 12 * 3600;
}

int readWeekEvents(const QString &path)
{
    QTextStream out(stdout);
    RingReader reader("bench-history-week");
    if (reader.open(path) != RingReader::OpenResult::Opened) {
        out << "cannot read the recording database\n";
        return 1;
    }
    const double nowSerial = benchNowSecond() / kSecondsPerDay;
    const std::vector<StoredEvent> events = readEventsBetweenInRingOrder(
        reader.connectionName(), dateTimeOf(nowSerial - 7), dateTimeOf(nowSerial));
    out << events.size() << " events\n";
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && QByteArray(argv[1]) == "--week-events") {
        QCoreApplication app(argc, argv);
        return readWeekEvents(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    const int runs = argc > 1 ? std::max(1, QString::fromLocal8Bit(argv[1]).toInt()) : kDefaultRuns;
    QTextStream out(stdout);

    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    const qint64 now = benchNowSecond();
    {
        RecordingStore store("bench-history-writer");
        if (!store.open(path) || !fillRing(store.database(), RecordTable::PvData, kNewestPv, now) ||
            !fillRing(store.database(), RecordTable::LpvWdjl, kNewestLpv, now) ||
            !fillEvents(store.database(), path, now)) {
            out << "cannot create the recording database\n";
            return 1;
        }
    }
    if (argc > 2 && !QFile::copy(path, QString::fromLocal8Bit(argv[2]))) {
        out << "cannot copy the database to " << argv[2] << "\n";
        return 1;
    }
    RingReader reader("bench-history");
    if (reader.open(path) != RingReader::OpenResult::Opened) {
        out << "cannot read the recording database\n";
        return 1;
    }

    QRandomGenerator random(7);
    const auto findIds = [&](RecordTable ring) {
        const double span = kRecordRingIds * ringSampleSeconds(ring) / kSecondsPerDay;
        const double nowSerial = now / kSecondsPerDay;
        return medianMilliseconds(runs * 4, [&] {
            const double from = nowSerial - span * random.generateDouble();
            const double to = std::min(nowSerial, from + span * random.generateDouble());
            const History::MomentLookup momentOf = [&](qint32 id) {
                return reader.momentAt(ring, id);
            };
            const History::RingOrder order =
                History::findRingOrder(momentOf, reader.newestId(ring));
            History::searchPosition(order, momentOf, from);
            History::searchPosition(order, momentOf, to, true);
        });
    };
    const double findPv = findIds(RecordTable::PvData);
    const double findLpv = findIds(RecordTable::LpvWdjl);

    // The 1-second ring holds 18.2 hours: its longest range is the whole ring.
    const double nowSerial = now / kSecondsPerDay;
    struct Range {
        const char *name;
        RecordTable ring;
        double from;
    };
    const Range ranges[] = {
        {"whole 1 s ring (18.2 h)", RecordTable::PvData,
         nowSerial - (kRecordRingIds - 1) / kSecondsPerDay},
        {"24 h, 10 s ring        ", RecordTable::LpvWdjl, nowSerial - 1},
        {"7 days, 10 s ring      ", RecordTable::LpvWdjl, nowSerial - 7},
    };
    HistoryChart chart;
    chart.resize(kChartWidth + HistoryChart::kLeftMargin + HistoryChart::kRightMargin,
                 kChartHeight + HistoryChart::kTopMargin + HistoryChart::kBottomMargin);
    QImage picture(chart.size(), QImage::Format_RGB32);
    out << "runs " << runs << ", plot " << kChartWidth << " x " << kChartHeight << " pixels\n";
    out << "finding the ids of a from/to, 1 s ring:  median " << findPv << " ms\n";
    out << "finding the ids of a from/to, 10 s ring: median " << findLpv << " ms\n";
    for (const Range &range : ranges) {
        History::RangeRead read;
        const double load = medianMilliseconds(
            runs, [&] { read = History::readRange(reader, range.ring, range.from, nowSerial); });
        // Each row's instant, resolved in recording order in the system's zone, as the window
        // places them.
        QVector<double> places;
        const double place = medianMilliseconds(runs, [&] {
            places = History::placeRows(
                read.rows, TimeAxis(QTimeZone::systemTimeZone(), dateTimeOf(range.from)));
        });
        // Each row's scaling (ten changes of decimal point per channel over the
        // range, as a busy commissioning might make) and the rows in chart steps.
        QVector<ScalingEntry> entries;
        for (int change = 0; change < kScalingChanges; ++change)
            for (int ch = 0; ch < kScaledChannels; ++ch)
                entries.append(
                    {dateTimeOf(range.from + (nowSerial - range.from) * change / kScalingChanges),
                     ch, ChannelScaling{0, change % 3, 13000, -2000, "°C"}});
        const ScalingTimeline timeline(entries);
        History::ShownScaling scaling;
        const double scale = medianMilliseconds(runs, [&] {
            scaling = History::scaleRows(read.rows, timeline);
            History::chartRows(read.rows, scaling);
        });
        chart.setContent(read.rows, History::placeRows(read.rows, TimeAxis()), range.ring,
                         TimeAxis(), range.from, nowSerial, scaling);
        // A change (here the curves shown) makes the next paint prepare again:
        // decimation, traces, ticks; paints after it only draw.
        const double prepare = medianMilliseconds(runs, [&] {
            chart.setShown({true, true, true, true, true});
            QPainter painter(&picture);
            chart.render(painter, chart.size());
        });
        const double draw = medianMilliseconds(runs, [&] {
            QPainter painter(&picture);
            chart.render(painter, chart.size());
        });
        out << range.name << " " << read.rows.size() << " rows: read median " << load
            << " ms, place median " << place << " ms, scale median " << scale
            << " ms, prepare and draw median " << prepare << " ms, draw alone median " << draw
            << " ms\n";
    }

    // The same ranges with the events ring's spans and marks, as the window
    // reads them on every range it shows.
    for (const Range &range : ranges) {
        History::ChartEvents events;
        const double load = medianMilliseconds(
            runs, [&] { events = History::readChartEvents(reader, range.from, nowSerial); });
        const QVector<RingRow> rows =
            History::readRange(reader, range.ring, range.from, nowSerial).rows;
        chart.setContent(rows, History::placeRows(rows, TimeAxis()), range.ring, TimeAxis(),
                         range.from, nowSerial);
        chart.setEvents(events);
        const double draw = medianMilliseconds(runs, [&] {
            chart.setShown({true, true, true, true, true});
            QPainter painter(&picture);
            chart.render(painter, chart.size());
        });
        out << range.name << " " << events.notLive.size() << " spans, " << events.marks.size()
            << " marks: read median " << load << " ms, prepare and draw with the curves median "
            << draw << " ms\n";
    }
    chart.setEvents({});

    // The week's events read by local time and in ring order (the order in
    // which the window resolves their instants), then placed on the axis.
    const QDateTime weekFrom = dateTimeOf(ranges[2].from);
    const QDateTime weekTo = dateTimeOf(nowSerial);
    std::vector<Event> byTimeEvents;
    const double byTime = medianMilliseconds(
        runs, [&] { byTimeEvents = readEventsBetween(reader.connectionName(), weekFrom, weekTo); });
    std::vector<StoredEvent> events;
    const double inRing = medianMilliseconds(runs, [&] {
        events = readEventsBetweenInRingOrder(reader.connectionName(), weekFrom, weekTo);
    });
    const TimeAxis axis(QTimeZone::systemTimeZone(), weekFrom);
    const double placing = medianMilliseconds(runs, [&] {
        History::chartEventsOf(events, axis.positionOf(weekFrom), axis.positionOf(weekTo), {},
                               axis);
    });
    out << "7 days' events, " << events.size() << ": read by time median " << byTime
        << " ms, in ring order median " << inRing << " ms, spans and marks placed median "
        << placing << " ms\n";

    const QString csv = dir.filePath("ring.csv");
    History::RangeExport done;
    const double exportMs = medianMilliseconds(std::max(1, runs / 10), [&] {
        done = History::exportRange(reader, ranges[0].from, nowSerial, RecordTable::PvData, csv);
    });
    out << "CSV of the whole 1 s ring, " << done.rows << " rows: median " << exportMs << " ms, "
        << qint64(done.rows / (exportMs / 1000)) << " rows/s\n";
    out.flush();
    reader.close();

    // The window on the same file at its noon: each run shows the last hour,
    // then "最近 7 天", a pan a quarter older, and "后退" to the 7 days again.
    SystemClock::setFixed(dateTimeOf(nowSerial));
    HistoryWindow window(HistorySettings{path, {}, {}});
    window.resize(1280, 700);
    window.show();
    const auto settle = [&] {
        while (window.isReading())
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        QCoreApplication::processEvents();
    };
    settle();
    struct Action {
        const char *name;
        std::function<void()> run;
        std::vector<double> busy, cpu, shown;
    };
    Action actions[] = {
        {"\"最近 7 天\"",
         [&] { window.findChild<QPushButton *>("quick(4)")->click(); },
         {},
         {},
         {}},
        {"pan (←)     ", [&] { window.pan(-1); }, {}, {}, {}},
        {"\"后退\"      ",
         [&] { window.findChild<QPushButton *>("backButton")->click(); },
         {},
         {},
         {}},
    };
    for (int run = 0; run < runs; ++run) {
        window.showLast(3600);
        settle();
        for (Action &action : actions) {
            const UiThreadTime time = uiThreadTime(window, action.run);
            action.busy.push_back(time.busyMs);
            action.cpu.push_back(time.cpuMs);
            action.shown.push_back(time.shownMs);
        }
    }
    out << "history window, 7 days with a full events ring, UI thread per action (medians):\n";
    for (const Action &action : actions)
        out << "  " << QString::fromUtf8(action.name) << ": UI thread busy " << median(action.busy)
            << " ms (its CPU " << median(action.cpu) << " ms), shown after " << median(action.shown)
            << " ms\n";
    SystemClock::setSource({});
    return 0;
}
