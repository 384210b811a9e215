// The journal's costs: change detection on a poll that changes nothing and on
// one where all 20 watched states change (detection alone, and with the events
// formed and written to a database), and the journal view opening on a full
// ring of 100000 events (window built and shown with the newest rows; then
// the whole ring read, and the longest turn of the event loop meanwhile), and
// an alarm event recorded once the view has been opened and closed again,
// over the alarms of eight hours (its first and last ten minutes).
//   QT_QPA_PLATFORM=offscreen bench_journal [folder]   (a temporary folder when none is given)
#include "alarmannunciator.h"
#include "clock.h"
#include "events.h"
#include "inputchanges.h"
#include "journal.h"
#include "journalwindow.h"
#include "store.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Journal;

namespace
{

constexpr int kPolls = 20000;
constexpr int kWrittenPolls = 200;
constexpr int kChatterPolls = 2 * 3600; // an hour at 2 Hz
constexpr int kOpenings = 7;
// About 23 alarm, output and relay events a minute, as the moving simulator gives.
constexpr int kEventsPerMinute = 23;
constexpr int kClosedViewEvents = 8 * 60 * kEventsPerMinute;
constexpr int kTenMinutesOfEvents = 10 * kEventsPerMinute;
const QDateTime kStart(QDate(2026, 3, 14), QTime(8, 0, 0));

void report(const char *what, std::vector<qint64> nanoseconds)
{
    std::sort(nanoseconds.begin(), nanoseconds.end());
    const auto at = [&](double q) {
        return nanoseconds[static_cast<size_t>(q * (nanoseconds.size() - 1))] / 1e6;
    };
    std::printf("%-44s n=%5zu  median %9.4f ms  p99 %9.4f ms  max %9.4f ms\n", what,
                nanoseconds.size(), at(0.5), at(0.99), nanoseconds.back() / 1e6);
}

// The events ring filled to its last id with a day's worth of mixed events.
void fillRing(const QString &path)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), "fill");
        db.setDatabaseName(path);
        db.open();
        QSqlQuery query(db);
        query.exec(
            QStringLiteral(
                "WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < %1) "
                "INSERT OR REPLACE INTO events (ev_id, ev_date, ev_time, ev_kind, ev_source, "
                "ev_detail) SELECT i, 46095, i / 100000.0, "
                "CASE i % 4 WHEN 0 THEN 'alarm' WHEN 1 THEN 'relay' WHEN 2 THEN 'output' "
                "ELSE 'config' END, "
                "CASE i % 4 WHEN 0 THEN '通道一报警' WHEN 1 THEN '继电器1' WHEN 2 THEN '1有报警' "
                "ELSE '寄存器2 CH1报警值' END, "
                "CASE i % 8 WHEN 0 THEN 'ON 300' WHEN 4 THEN 'OFF 240' WHEN 1 THEN 'ON 300' "
                "WHEN 5 THEN 'OFF 240' WHEN 2 THEN 'ON 300' WHEN 6 THEN 'OFF 240' "
                "ELSE '250 → 350 已写入' END FROM n")
                .arg(EventLog::kEventRingIds));
        query.exec(QStringLiteral("UPDATE events_void SET newest_event = %1")
                       .arg(EventLog::kEventRingIds));
        query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)"));
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QTemporaryDir temporary;
    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1]) : temporary.path();
    const QString path = folder + QStringLiteral("/Rdatabj.db");
    QFile::remove(path);
    {
        RecordingStore store(QStringLiteral("create"));
        if (!store.open(path)) {
            std::fprintf(stderr, "cannot open %s\n", qPrintable(path));
            return 1;
        }
    }
    SystemClock::setFixed(kStart);

    // Detection alone.
    StateSnapshot all;
    all.delivered.set();
    const std::array<float, kChannels> values = {300, 50, 200, 50};
    KnownStates known = mergeKnown({}, all);
    std::vector<qint64> still, everything;
    QElapsedTimer timer;
    std::size_t found = 0;
    for (int i = 0; i < kPolls; ++i) {
        timer.start();
        const std::vector<StateChange> changes = detectChanges(known, all, values);
        known = mergeKnown(known, all);
        still.push_back(timer.nsecsElapsed());
        found += changes.size();
    }
    for (int i = 0; i < kPolls; ++i) {
        StateSnapshot flipped = all;
        flipped.states.fill(quint8((i + 1) % 2));
        timer.start();
        const std::vector<StateChange> changes = detectChanges(known, flipped, values);
        known = mergeKnown(known, flipped);
        std::vector<Event> events;
        for (const StateChange &c : changes)
            events.push_back(changeEvent(c, kStart));
        everything.push_back(timer.nsecsElapsed());
        found += events.size();
    }
    std::printf("detection: %zu changes found\n", found);
    report("poll, no change (detect)", still);
    report("poll, all 20 change (detect, form events)", everything);

    // Through the journal, written to the database.
    std::vector<qint64> written;
    {
        EventJournal journal;
        journal.open(path);
        journal.linkOpened();
        for (int i = 0; i < kWrittenPolls; ++i) {
            StateSnapshot flipped = all;
            flipped.states.fill(quint8((i + 1) % 2));
            SystemClock::setFixed(kStart.addSecs(i));
            timer.start();
            journal.observe(flipped, values);
            written.push_back(timer.nsecsElapsed());
        }
    }
    report("poll, all 20 change (written, 20 events)", written);

    // One alarm chattering at 2 Hz for an hour, with the flash and the bell
    // following it: it stays one unacknowledged entry, and a poll costs what
    // its one event costs.
    std::vector<qint64> chattering;
    int waiting = 0;
    {
        EventJournal journal;
        journal.open(path);
        journal.linkOpened();
        AlarmAnnunciator annunciator(&journal);
        annunciator.setBell({});
        for (int i = 0; i < kChatterPolls; ++i) {
            StateSnapshot chatter = all;
            chatter.states.fill(0);
            chatter.states[0] = quint8(i % 2 == 0);
            SystemClock::setFixed(kStart.addMSecs(500 * qint64(i)));
            timer.start();
            journal.observe(chatter, values);
            chattering.push_back(timer.nsecsElapsed());
        }
        waiting = annunciator.unacknowledgedCount();
    }
    std::printf("chattering: %d unacknowledged after %d changes\n", waiting, kChatterPolls);
    report("poll, one alarm chattering (written, 1 event)", chattering);
    // No slowdown over the hour: its first and last ten minutes.
    constexpr std::size_t kTenMinutes = 2 * 600;
    report("  the first ten minutes",
           std::vector<qint64>(chattering.begin(), chattering.begin() + kTenMinutes));
    report("  the last ten minutes",
           std::vector<qint64>(chattering.end() - kTenMinutes, chattering.end()));

    // The view on a full ring.
    fillRing(path);
    EventJournal journal;
    journal.open(path);
    std::vector<qint64> reads;
    for (int i = 0; i < kOpenings; ++i) {
        timer.start();
        const std::vector<Event> stored = journal.log().newestEvents(EventLog::kEventRingIds);
        reads.push_back(timer.nsecsElapsed());
    }
    report("reading the full ring (newestEvents)", reads);
    std::vector<qint64> openings, complete, longestTurn;
    int rows = 0;
    for (int i = 0; i < kOpenings; ++i) {
        timer.start();
        JournalWindow window(&journal);
        window.show();
        QCoreApplication::processEvents();
        openings.push_back(timer.nsecsElapsed());
        // The rest of the ring, read a piece per turn of the event loop.
        qint64 longest = 0;
        while (window.isLoading()) {
            QElapsedTimer turn;
            turn.start();
            QCoreApplication::processEvents();
            longest = std::max(longest, turn.nsecsElapsed());
        }
        complete.push_back(timer.nsecsElapsed());
        longestTurn.push_back(longest);
        rows = window.model().rowCount();
    }
    std::printf("view: %d rows shown\n", rows);
    report("journal view opening, full ring (shown)", openings);
    report("journal view, whole ring read", complete);
    report("journal view, longest turn while reading", longestTurn);

    // The view opened once and closed: the events recorded after that.
    std::vector<qint64> closedView;
    {
        JournalWindow window(&journal);
        window.show();
        while (window.isLoading())
            QCoreApplication::processEvents();
        window.hide();
        for (int i = 0; i < kClosedViewEvents; ++i) {
            SystemClock::setFixed(kStart.addMSecs(60000 * qint64(i) / kEventsPerMinute));
            const Event event{SystemClock::now(), EventKind::Alarm, QStringLiteral("通道一报警"),
                              i % 2 ? QStringLiteral("OFF 240") : QStringLiteral("ON 300")};
            timer.start();
            journal.record(event);
            closedView.push_back(timer.nsecsElapsed());
        }
    }
    report("event recorded, view closed: first 10 min",
           std::vector<qint64>(closedView.begin(), closedView.begin() + kTenMinutesOfEvents));
    report("event recorded, view closed: last 10 min of 8 h",
           std::vector<qint64>(closedView.end() - kTenMinutesOfEvents, closedView.end()));
    return 0;
}
