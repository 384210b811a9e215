#pragma once

#include "events.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QSet>
#include <QString>

#include <array>
#include <deque>
#include <optional>
#include <vector>

// What the journal view shows, as plain functions: one row per event with the
// duration of an alarm episode beside its "off" event, the filter, the counts
// of the last day, and the CSV of the rows shown.

namespace Journal
{

struct JournalRow {
    Event event;
    // On an "OFF" row: seconds since the matching "ON" of the same state.
    std::optional<qint64> durationSeconds;
    // The matching "ON" was the starting state: the episode began earlier.
    bool durationAtLeast = false;
};

// The rows of the journal, built from both ends: new events as they are
// recorded (add) and stored events read back from the newest down (addOlder),
// so that the view can show the newest rows before the whole ring is read.
// Each row has a serial: 0, 1, 2 ... for added rows, -1, -2 ... for older
// ones, so the serials ascend from the oldest row to the newest.
class RowBuilder
{
public:
    // Appends the row of `event`, newer than every row before it. An "OFF" gets
    // the duration since the latest "ON" of its state.
    void add(const Event &event);
    // Prepends the row of `event`, older than every row before it. The newest
    // "OFF" of its state without a duration gets it when this is its "ON".
    void addOlder(const Event &event);

    // The rows, oldest first.
    const std::deque<JournalRow> &rows() const { return m_rows; }
    // The serials of the oldest and past the newest row.
    qint64 firstSerial() const { return m_firstSerial; }
    qint64 endSerial() const { return m_firstSerial + qint64(m_rows.size()); }
    // The row of a serial in firstSerial() .. endSerial() - 1.
    const JournalRow &row(qint64 serial) const
    {
        return m_rows[std::size_t(serial - m_firstSerial)];
    }

private:
    std::deque<JournalRow> m_rows;
    qint64 m_firstSerial = 0;
    // Newest end: per state name, when its episode began and whether that was
    // a starting state; states whose last event at the newest end is known.
    QHash<QString, std::pair<QDateTime, bool>> m_openEpisodes;
    QSet<QString> m_settled;
    bool m_allSettled = false; // an opening of the link was met going down
    // Oldest end: per state name, the serial of its oldest "OFF" still without its "ON".
    QHash<QString, qint64> m_unmatchedOffs;
};

// The view's filter: a kind, a time range (inclusive), a text that the source
// or detail must contain (case-insensitive). Unset parts let every row pass.
struct JournalFilter {
    std::optional<EventKind> kind;
    std::optional<QDateTime> from;
    std::optional<QDateTime> to;
    QString text;
};

// Whether a row passes the filter.
bool rowMatches(const JournalRow &row, const JournalFilter &filter);
// The serials of the rows from `from` to `to` (exclusive) that pass, ascending.
std::vector<qint64> filterRows(const RowBuilder &rows, qint64 from, qint64 to,
                               const JournalFilter &filter);

// The name of a kind as the view shows it ("报警", "开路", "继电器", "配置" ...).
QString kindText(EventKind kind);
// A duration as "H:MM:SS" (hours beyond 24 kept), "≥" in front when at least.
QString durationText(qint64 seconds, bool atLeast);

// The alarm episodes (a channel alarm coming on, the starting state included)
// of channels 1..4 within the 24 hours up to `now`.
std::array<int, 4> alarmEpisodesLastDay(const RowBuilder &rows, const QDateTime &now);

// The CSV of the rows of `serials`, in that order: UTF-8 with a byte-order
// mark, a header line, fields quoted where they hold a comma, quote or line break.
QByteArray journalCsv(const RowBuilder &rows, const std::vector<qint64> &serials);

} // namespace Journal
