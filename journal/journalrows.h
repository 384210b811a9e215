#pragma once

#include "events.h"

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

#include <array>
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

// Rows oldest first, built one event at a time (the view adds each new event
// as it is recorded, so a day of chattering is never rebuilt from scratch).
class RowBuilder
{
public:
    // Appends the row of `event`, which is newer than every row before it.
    void add(const Event &event);
    // The rows, oldest first.
    const std::vector<JournalRow> &rows() const { return m_rows; }

private:
    std::vector<JournalRow> m_rows;
    // Per state name: when its episode began and whether that was a starting state.
    QHash<QString, std::pair<QDateTime, bool>> m_openEpisodes;
};

// Whether an event is a state coming on ("ON ...") or going off ("OFF ...").
bool isOnEvent(const Event &event);
bool isOffEvent(const Event &event);

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
// The positions (into `rows`, oldest first) of the rows that pass.
std::vector<int> filterRows(const std::vector<JournalRow> &rows, const JournalFilter &filter);

// The name of a kind as the view shows it ("报警", "开路", "继电器", "配置" ...).
QString kindText(EventKind kind);
// A duration as "H:MM:SS" (hours beyond 24 kept), "≥" in front when at least.
QString durationText(qint64 seconds, bool atLeast);
// The date and time of an event as the view shows it: "yyyy-MM-dd HH:mm:ss".
QString momentText(const QDateTime &when);

// The alarm episodes (a channel alarm coming on, the starting state included)
// of channels 1..4 within the 24 hours up to `now`.
std::array<int, 4> alarmEpisodesLastDay(const std::vector<JournalRow> &rows, const QDateTime &now);

// The CSV of the rows at `positions`, in that order: UTF-8 with a byte-order
// mark, a header line, fields quoted where they hold a comma, quote or line break.
QByteArray journalCsv(const std::vector<JournalRow> &rows, const std::vector<int> &positions);

} // namespace Journal
