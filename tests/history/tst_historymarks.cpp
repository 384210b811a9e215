// The history chart's not-live band and journal marks: the spans read from
// stored link events, the marks' positions on the time axis, and the window
// drawing both from a real recording database.

#include "clock.h"
#include "configevents.h"
#include "daytime.h"
#include "eventmarks.h"
#include "events.h"
#include "healthtexts.h"
#include "historyaxis.h"
#include "historychart.h"
#include "historymarks.h"
#include "historyrange.h"
#include "historywindow.h"
#include "inputchanges.h"
#include "linkspans.h"
#include "recordingfixture.h"
#include "ringquery.h"
#include "store.h"

#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace History;

namespace
{

const QDate kDay(2026, 12, 7);

QDateTime at(int hour, int minute, int second = 0)
{
    return QDateTime(kDay, QTime(hour, minute, second));
}

Event linkEvent(const QDateTime &when, LinkState state)
{
    return Event{when, EventKind::Link, QStringLiteral("端口 1 /dev/ttyUSB0"),
                 HealthTexts::linkEventDetail(
                     state, state == LinkState::Live ? QString()
                                                     : QStringLiteral("no reply from address 1"))};
}

// A link event as this version writes it: its state's code, here beside words
// that name no state, so that only the code can give the state.
Event codedEvent(const QDateTime &when, const char *code)
{
    return Event{when, EventKind::Link, QStringLiteral("端口 1 /dev/ttyUSB0"),
                 QStringLiteral("link changed"), QLatin1String(code)};
}

Event alarmEvent(const QDateTime &when, bool on)
{
    return Journal::changeEvent(Journal::StateChange{0, on, false, 300}, when);
}

Event relayEvent(const QDateTime &when)
{
    return Journal::changeEvent(Journal::StateChange{Journal::kDiscreteInputs, true, false, 0},
                                when);
}

using Spans = QVector<std::pair<QDateTime, QDateTime>>;

Spans spansOf(const std::vector<Event> &events, const QDateTime &from, const QDateTime &to)
{
    Spans spans;
    for (const NotLiveSpan &span : notLiveSpansOf(events, from, to))
        spans.append({span.from, span.to.value_or(QDateTime())});
    return spans;
}

} // namespace

class TestHistoryMarks : public QObject
{
    Q_OBJECT
private slots:
    void spansFromLinkEvents_data();
    void spansFromLinkEvents();
    void chartEventsKeepMarksOfTheRangeOnly();
    void markAndSpanPositionsOnTheTimeAxis();
    void chatteringDrawsAFewLinesPerColumn();
    void marksNearAMoment_data();
    void marksNearAMoment();
    void labelsStayInsideThePlot_data();
    void labelsStayInsideThePlot();
    void lastEventBeforeAndAFileWithoutEvents();
    void windowDrawsBandAndMarks();
    void marksNearAreBounded_data();
    void marksNearAreBounded();
    void readoutOfAFullEventsRingKeepsTheWindowsWidth();
};

void TestHistoryMarks::spansFromLinkEvents_data()
{
    QTest::addColumn<std::vector<Event>>("events");
    QTest::addColumn<Spans>("spans");
    const QDateTime from = at(11, 0);
    const QDateTime to = at(12, 0);
    QTest::newRow("no events") << std::vector<Event>{} << Spans{};
    QTest::newRow("lost before the range, back inside")
        << std::vector<Event>{linkEvent(at(10, 50), LinkState::NoAnswer),
                              linkEvent(at(11, 15), LinkState::Live)}
        << Spans{{from, at(11, 15)}};
    QTest::newRow("live before, lost to the end")
        << std::vector<Event>{linkEvent(at(10, 0), LinkState::Live),
                              linkEvent(at(11, 40), LinkState::PortLost)}
        << Spans{{at(11, 40), to}};
    QTest::newRow("ended before the range")
        << std::vector<Event>{linkEvent(at(10, 0), LinkState::NoAnswer),
                              linkEvent(at(10, 30), LinkState::Live)}
        << Spans{};
    QTest::newRow("one span through several faults")
        << std::vector<Event>{linkEvent(at(11, 10), LinkState::NoAnswer),
                              linkEvent(at(11, 12), LinkState::PortLost),
                              linkEvent(at(11, 14), LinkState::Opening),
                              linkEvent(at(11, 20), LinkState::Live)}
        << Spans{{at(11, 10), at(11, 20)}};
    QTest::newRow("other kinds and unreadable details passed over")
        << std::vector<Event>{Event{at(11, 5), EventKind::Alarm, "x", "无应答"},
                              Event{at(11, 6), EventKind::Link, "x", "something else"},
                              linkEvent(at(11, 7), LinkState::OpenFailed)}
        << Spans{{at(11, 7), to}};
    QTest::newRow("codes, whatever the words")
        << std::vector<Event>{codedEvent(at(11, 10), "no_answer"), codedEvent(at(11, 20), "live"),
                              codedEvent(at(11, 30), "port_lost")}
        << Spans{{at(11, 10), at(11, 20)}, {at(11, 30), to}};
    QTest::newRow("codes beside words of earlier versions")
        << std::vector<Event>{linkEvent(at(11, 10), LinkState::NoAnswer),
                              codedEvent(at(11, 20), "live")}
        << Spans{{at(11, 10), at(11, 20)}};
    QTest::newRow("an unknown code passed over, though its words name a state")
        << std::vector<Event>{Event{at(11, 10), EventKind::Link, "x", "无应答", "flapping"}}
        << Spans{};
    QTest::newRow("events at the range end not read")
        << std::vector<Event>{linkEvent(at(12, 0), LinkState::NoAnswer),
                              linkEvent(at(12, 5), LinkState::NoAnswer)}
        << Spans{};
}

void TestHistoryMarks::spansFromLinkEvents()
{
    QFETCH(std::vector<Event>, events);
    QFETCH(Spans, spans);
    QCOMPARE(spansOf(events, at(11, 0), at(12, 0)), spans);
}

void TestHistoryMarks::chartEventsKeepMarksOfTheRangeOnly()
{
    const double from = serialOf(at(11, 0));
    const double to = serialOf(at(12, 0));
    const ChartEvents shown =
        chartEventsOf({linkEvent(at(10, 50), LinkState::NoAnswer), alarmEvent(at(10, 55), true),
                       linkEvent(at(11, 15), LinkState::Live), alarmEvent(at(11, 30), true),
                       relayEvent(at(11, 31)), alarmEvent(at(11, 35), false),
                       Journal::configWriteEvent(18, 1, 2, WriteOutcome::Written, at(11, 50)),
                       alarmEvent(at(12, 0, 1), false)},
                      from, to);
    QCOMPARE(int(shown.notLive.size()), 1);
    QCOMPARE(shown.notLive[0].from, from);
    QCOMPARE(shown.notLive[0].to, serialOf(at(11, 15)));
    QCOMPARE(int(shown.marks.size()), 3); // no relay, nothing outside the range
    QCOMPARE(shown.marks[0].moment, serialOf(at(11, 30)));
    QVERIFY(!shown.marks[0].off);
    QVERIFY(shown.marks[1].off);
    QCOMPARE(shown.marks[2].kind, EventKind::ConfigWrite);
    QVERIFY2(shown.marks[2].text.contains("2:19200BPS"), qPrintable(shown.marks[2].text));
}

void TestHistoryMarks::markAndSpanPositionsOnTheTimeAxis()
{
    const double from = 100;
    const double to = 101;
    std::vector<Journal::Mark> marks(5);
    marks[0].moment = from;
    marks[1].moment = to;
    marks[2].moment = from + 0.25;
    marks[3].moment = from - 0.001;
    marks[4].moment = to + 0.001;
    const auto xs = markXs(marks, from, to, 800);
    QCOMPARE(xs[0], std::optional<double>(0));
    QCOMPARE(xs[1], std::optional<double>(800));
    QCOMPARE(xs[2], std::optional<double>(200));
    QVERIFY(!xs[3] && !xs[4]);
    for (const auto &x : markXs(marks, to, from, 800)) // an empty axis places nothing
        QVERIFY(!x);

    const auto spans =
        spanXs({{from - 1, from + 0.5}, {from + 0.75, to + 2}, {to + 1, to + 2}}, from, to, 800);
    QCOMPARE(int(spans.size()), 2);
    QCOMPARE(spans[0], std::make_pair(0.0, 400.0));
    QCOMPARE(spans[1], std::make_pair(600.0, 800.0));
}

void TestHistoryMarks::chatteringDrawsAFewLinesPerColumn()
{
    // An input chattering every second for a day, on a plot of 100 columns.
    std::vector<Journal::Mark> marks;
    for (int s = 0; s < 86400; ++s)
        marks.push_back({100 + s / 86400.0, EventKind::Alarm, s % 2 == 1, "x"});
    marks.push_back({101, EventKind::ConfigWrite, false, "c"}); // at the range's end
    marks.insert(marks.begin() + 43200, {100.5, EventKind::ConfigWrite, false, "c"});
    const std::vector<ColumnMark> columns = columnMarks(marks, 100, 101, 100);
    QCOMPARE(int(columns.size()), 100 * 2 + 2);
    QCOMPARE(columns.front().x, 0);
    QVERIFY(!columns.front().off);
    QCOMPARE(columns.back().x, 99);
    QCOMPARE(columns.back().kind, EventKind::ConfigWrite);
    QVERIFY(std::is_sorted(columns.begin(), columns.end(),
                           [](const ColumnMark &a, const ColumnMark &b) { return a.x < b.x; }));

    // A link flapping every 10 s for a day: one band, not 4320.
    std::vector<Chart::TimeSpan> spans;
    for (int s = 0; s < 86400; s += 20)
        spans.push_back({100 + s / 86400.0, 100 + (s + 10) / 86400.0});
    const auto xs = spanXs(spans, 100, 101, 100);
    QCOMPARE(int(xs.size()), 1);
    QCOMPARE(xs.front().first, 0.0);
}

void TestHistoryMarks::marksNearAMoment_data()
{
    QTest::addColumn<bool>("anyMarks");
    QTest::addColumn<double>("moment");
    QTest::addColumn<double>("halfWindow");
    QTest::addColumn<QStringList>("texts");
    QTest::addColumn<int>("count");
    QTest::newRow("two within the window") << true << 10.5 << 0.1 << QStringList{"b", "c"} << 2;
    QTest::newRow("none within the window") << true << 10.25 << 0.2 << QStringList() << 0;
    QTest::newRow("no marks at all") << false << 10.0 << 1.0 << QStringList() << 0;
}
void TestHistoryMarks::marksNearAMoment()
{
    QFETCH(bool, anyMarks);
    QFETCH(double, moment);
    QFETCH(double, halfWindow);
    QFETCH(QStringList, texts);
    QFETCH(int, count);
    std::vector<Journal::Mark> marks;
    if (anyMarks)
        marks = {{10.0, EventKind::Alarm, false, "a"},
                 {10.5, EventKind::Alarm, true, "b"},
                 {10.6, EventKind::ConfigWrite, false, "c"}};
    const NearMarks near = marksNear(marks, moment, halfWindow, 5);
    QCOMPARE(near.texts, texts);
    QCOMPARE(near.count, count);
}

void TestHistoryMarks::marksNearAreBounded_data()
{
    QTest::addColumn<int>("near"); // marks at the moment
    QTest::addColumn<int>("shown");
    QTest::addColumn<QString>("text");
    QTest::newRow("none") << 0 << 3 << "";
    QTest::newRow("one") << 1 << 3 << "m0";
    QTest::newRow("as many as shown") << 3 << 3 << "m0；m1；m2";
    QTest::newRow("one more than shown") << 4 << 3 << "m0；m1；m2  +1";
    QTest::newRow("a full column") << 500 << 3 << "m0；m1；m2  +497";
    QTest::newRow("none shown") << 2 << 0 << "  +2";
}

void TestHistoryMarks::marksNearAreBounded()
{
    QFETCH(int, near);
    QFETCH(int, shown);
    QFETCH(QString, text);
    // Marks before and after the window, and `near` of them on the moment.
    std::vector<Journal::Mark> marks;
    marks.push_back({9.0, EventKind::Alarm, false, "before"});
    for (int i = 0; i < near; ++i)
        marks.push_back({10.0, EventKind::Alarm, false, QStringLiteral("m%1").arg(i)});
    marks.push_back({11.0, EventKind::Alarm, false, "after"});
    const NearMarks found = marksNear(marks, 10.0, 0.5, shown);
    QCOMPARE(found.count, near);
    QCOMPARE(int(found.texts.size()), std::min(near, shown));
    QCOMPARE(nearMarksText(found), text);
}

void TestHistoryMarks::labelsStayInsideThePlot_data()
{
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("left");
    QTest::newRow("centred") << 500.0 << 70.0 << 465.0;
    QTest::newRow("at the left edge") << 56.0 << 70.0 << 56.0;
    QTest::newRow("at the right edge") << 988.0 << 80.0 << 908.0;
    QTest::newRow("wider than the plot") << 500.0 << 2000.0 << 56.0;
}

void TestHistoryMarks::labelsStayInsideThePlot()
{
    QFETCH(double, x);
    QFETCH(double, width);
    QFETCH(double, left);
    QCOMPARE(labelLeft(x, width, 56, 988), left);
}

void TestHistoryMarks::lastEventBeforeAndAFileWithoutEvents()
{
    QTemporaryDir dir;
    const QString path = dir.filePath("Rdatabj.db");
    RecordingStore store(QStringLiteral("marks-test-store"));
    QVERIFY(store.open(path));
    QVERIFY(
        recordRow(store, RecordTable::PvData, 1, daySerial(kDay), dayFraction(QTime(11, 0)), {}));
    {
        // A recording database written before the events table existed.
        RingReader reader(QStringLiteral("marks-test-bare"));
        QCOMPARE(reader.open(path), RingReader::OpenResult::Opened);
        QString error;
        QVERIFY(!readLastEventBefore(reader.connectionName(), EventKind::Link, at(12, 0), &error));
        QVERIFY(!error.isEmpty());
        const ChartEvents none = readChartEvents(reader, serialOf(at(11, 0)), serialOf(at(12, 0)));
        QVERIFY(none.notLive.empty() && none.marks.empty());
        reader.close();
    }
    EventLog log(QStringLiteral("marks-test-log"));
    QVERIFY(log.open(path));
    QVERIFY(log.appendEvent(linkEvent(at(10, 0), LinkState::NoAnswer)));
    QVERIFY(log.appendEvent(linkEvent(at(10, 30), LinkState::Live)));
    QVERIFY(log.appendEvent(alarmEvent(at(10, 40), true)));
    QVERIFY(log.appendEvent(linkEvent(at(11, 0), LinkState::PortLost))); // not before 11:00
    RingReader reader(QStringLiteral("marks-test-reader"));
    QCOMPARE(reader.open(path), RingReader::OpenResult::Opened);
    const std::optional<Event> before =
        readLastEventBefore(reader.connectionName(), EventKind::Link, at(11, 0));
    QVERIFY(before);
    QCOMPARE(before->when, at(10, 30));
    QVERIFY(!readLastEventBefore(reader.connectionName(), EventKind::Link, at(10, 0)));
    reader.close();
    log.close();
    store.close();
}

namespace
{
// An hour of the 1-second ring up to noon and the events of that hour, both
// written by the store's own writers, and a window over it at noon.
struct MarkedWindow {
    RecordingFixture recording{QStringLiteral("marks-window-store")};
    EventLog log{QStringLiteral("marks-window-log")};
    std::unique_ptr<HistoryWindow> window;
    bool ready = false;

    MarkedWindow()
    {
        SystemClock::setFixed(at(12, 0));
        ready = recording.isReady() && log.open(recording.path());
        const qint64 ten = RecordingFixture::noon() - 2 * 3600;
        for (int s = 0; s <= 7200 && ready; ++s) {
            std::array<float, kRecordedValueCount> values{};
            values.fill(float(s % 600));
            ready = recording.record(RecordTable::PvData, s + 1, ten + s, values);
        }
        for (const Event &event :
             {linkEvent(at(10, 50), LinkState::NoAnswer), linkEvent(at(11, 15), LinkState::Live),
              relayEvent(at(11, 20)), alarmEvent(at(11, 30), true), alarmEvent(at(11, 35), false),
              linkEvent(at(11, 40), LinkState::PortLost), linkEvent(at(11, 45), LinkState::Live),
              Journal::configWriteEvent(18, 1, 2, WriteOutcome::Written, at(11, 50))})
            ready = ready && log.appendEvent(event);
        window = std::make_unique<HistoryWindow>(HistorySettings{recording.path(), {}, {}});
        window->resize(1000, 600);
        window->show();
        ready = ready && QTest::qWaitForWindowExposed(window.get()) &&
                QTest::qWaitFor([this] { return !window->isReading(); }, 20000);
    }
    ~MarkedWindow()
    {
        window.reset();
        log.close();
        SystemClock::setSource({});
    }

    HistoryChart *chart() const { return window->chart(); }
    int xAt(const QDateTime &moment) const
    {
        const QRect plot = HistoryChart::plotRect(chart()->size());
        const double share =
            (serialOf(moment) - chart()->from()) / (chart()->to() - chart()->from());
        return plot.left() + int(std::lround(share * plot.width()));
    }
    QImage picture() const
    {
        QImage image(chart()->size(), QImage::Format_RGB32);
        QPainter painter(&image);
        chart()->render(painter, chart()->size());
        return image;
    }
};

// The colour a band leaves on the plot's background.
QRgb bandOnBackground()
{
    QImage image(1, 1, QImage::Format_RGB32);
    image.fill(Chart::gridBackground());
    QPainter(&image).fillRect(0, 0, 1, 1, Chart::notLiveBandColour());
    return image.pixel(0, 0);
}

bool columnHolds(const QImage &image, int x, int top, int bottom, QRgb colour)
{
    for (int dx = -1; dx <= 1; ++dx)
        for (int y = top; y <= bottom; ++y)
            if (image.pixel(x + dx, y) == colour)
                return true;
    return false;
}
} // namespace

void TestHistoryMarks::windowDrawsBandAndMarks()
{
    MarkedWindow f;
    QVERIFY(f.ready);
    // The last hour: the outage that began at 10:50 is shaded from 11:00.
    const ChartEvents &events = f.chart()->events();
    QCOMPARE(int(events.notLive.size()), 2);
    QCOMPARE(events.notLive[0].from, serialOf(at(11, 0)));
    QCOMPARE(events.notLive[0].to, serialOf(at(11, 15)));
    QCOMPARE(events.notLive[1].from, serialOf(at(11, 40)));
    QCOMPARE(int(events.marks.size()), 3);

    // The curves hidden, so that only the band, the marks and the grid are on the plot.
    f.chart()->setShown({false, false, false, false, false});
    const QImage image = f.picture();
    const QRect plot = HistoryChart::plotRect(f.chart()->size());
    const int y = plot.top() + plot.height() / 12; // between grid lines
    QCOMPARE(image.pixel(f.xAt(at(11, 7, 30)), y), bandOnBackground());
    QCOMPARE(image.pixel(f.xAt(at(11, 42, 30)), y), bandOnBackground());
    QCOMPARE(image.pixel(f.xAt(at(11, 27, 30)), y), Chart::gridBackground().rgb());

    const int markBottom = plot.top() + Journal::kMarkHeightPixels - 1;
    QVERIFY(columnHolds(image, f.xAt(at(11, 30)), plot.top() + 1, markBottom,
                        Journal::markColour(EventKind::Alarm).rgb()));
    QVERIFY(columnHolds(image, f.xAt(at(11, 50)), plot.top() + 1, markBottom,
                        Journal::markColour(EventKind::ConfigWrite).rgb()));
    QVERIFY(!columnHolds(image, f.xAt(at(11, 20)), plot.top() + 1, markBottom,
                         Journal::markColour(EventKind::Alarm).rgb()));

    // The labels under the plot stay inside its width: white right of it.
    for (int x = plot.left() + plot.width() + 1; x < image.width(); ++x)
        for (int yy = plot.bottom() + 2; yy < image.height(); ++yy)
            QCOMPARE(image.pixel(x, yy), qRgb(255, 255, 255));

    // The cursor's read-out names the events at its sample, and none elsewhere.
    auto *readout = f.window->findChild<QLabel *>("cursorReadout");
    QTest::mouseMove(f.chart(), QPoint(f.xAt(at(11, 30)), plot.center().y()));
    QVERIFY2(readout->text().contains("通道一报警 ON"), qPrintable(readout->text()));
    QTest::mouseMove(f.chart(), QPoint(f.xAt(at(11, 25)), plot.center().y()));
    QVERIFY2(!readout->text().contains("报警"), qPrintable(readout->text()));
}

namespace
{
// A recording whose 10-second ring and events ring are both full over the 7
// days up to noon, written in one transaction each beside the store's own
// connection: an alarm comes on or goes off about every 6 s.
struct FullWeek {
    RecordingFixture recording{QStringLiteral("full-week-store")};
    bool ready = false;

    FullWeek()
    {
        ready =
            recording.isReady() && EventLog(QStringLiteral("full-week-log")).open(recording.path());
        QSqlDatabase db = recording.db();
        QSqlQuery query(db);
        const qint64 noon = RecordingFixture::noon();
        const auto serial = [](qint64 second) {
            return std::pair(RecordingFixture::dateOf(second), RecordingFixture::timeOf(second));
        };
        ready = ready && db.transaction() &&
                query.prepare("insert or replace into Lpv_wdjl values (?,?,?,?,?,?,?,?,?,?,?)");
        for (qint32 id = 1; id <= kRecordRingIds && ready; ++id) {
            const auto [date, time] = serial(noon - qint64(kRecordRingIds - id) * 10);
            query.addBindValue(id);
            query.addBindValue(date);
            query.addBindValue(time);
            for (int k = 0; k < kRecordedValueCount; ++k)
                query.addBindValue(double(id % 600 + k));
            ready = query.exec();
        }
        ready = ready &&
                query.exec(QStringLiteral("update sl_void set newest_lpv = %1, "
                                          "newest_lpv_copy = %1")
                               .arg(kRecordRingIds)) &&
                query.prepare("insert or replace into events (ev_id, ev_date, ev_time, ev_kind, "
                              "ev_source, ev_detail) values (?,?,?,?,?,?)");
        const qint64 apart = 7 * 86400 / EventLog::kEventRingIds + 1;
        for (qint32 id = 1; id <= EventLog::kEventRingIds && ready; ++id) {
            const Event alarm = alarmEvent(QDateTime(), id % 2 == 1);
            const auto [date, time] = serial(noon - qint64(EventLog::kEventRingIds - id) * apart);
            query.addBindValue(id);
            query.addBindValue(date);
            query.addBindValue(time);
            query.addBindValue(eventKindName(alarm.kind));
            query.addBindValue(alarm.source);
            query.addBindValue(alarm.detail);
            ready = query.exec();
        }
        ready = ready &&
                query.exec(QStringLiteral("update events_void set newest_event = %1")
                               .arg(EventLog::kEventRingIds)) &&
                db.commit();
    }
};
} // namespace

// Seven days with a full events ring: a pixel column holds dozens of events,
// the read-out names the first few and how many more, and neither it nor any
// other text moves the window's edges, wherever the cursor goes.
void TestHistoryMarks::readoutOfAFullEventsRingKeepsTheWindowsWidth()
{
    FullWeek week;
    QVERIFY(week.ready);
    SystemClock::setFixed(at(12, 0));
    HistoryWindow window(HistorySettings{week.recording.path(), {}, {}});
    window.resize(1280, 700);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTest::mouseClick(window.findChild<QPushButton *>("quick(4)"), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!window.isReading(), 20000);
    QCOMPARE(window.ring(), RecordTable::LpvWdjl);
    QVERIFY(window.chart()->events().marks.size() > 50000);
    const QRect plot = HistoryChart::plotRect(window.chart()->size());
    auto *readout = window.findChild<QLabel *>("cursorReadout");
    const QRegularExpression bounded(
        QStringLiteral("(；[^；]*){%1}  \\+\\d+$").arg(HistoryWindow::kReadoutMarks - 1));
    for (int step = 1; step < 10; ++step) {
        QTest::mouseMove(window.chart(),
                         QPoint(plot.left() + plot.width() * step / 10, plot.center().y()));
        QCoreApplication::processEvents();
        QVERIFY2(bounded.match(readout->text()).hasMatch(), qPrintable(readout->text()));
        QCOMPARE(window.width(), 1280);
        QVERIFY(window.minimumSizeHint().width() <= 1280);
    }
    SystemClock::setSource({});
}

QTEST_MAIN(TestHistoryMarks)
#include "tst_historymarks.moc"
