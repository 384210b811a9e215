#pragma once

// The channels' scaling with the time it took effect, and the operator's unit
// names, in two tables of our own beside the rings: every recorded row is
// scaled by the entry in force when it was recorded, and a row older than the
// first entry stays raw (unit unknown).

#include "scaling.h"

#include <QDateTime>
#include <QSqlDatabase>
#include <QString>
#include <QVector>
#include <QtGlobal>

#include <optional>

// One entry per channel and change: from (s_date, s_time, local day serials
// like the rings, at utc_offset seconds east) on, channel (1..4) was scaled so.
// Entries are never rewritten: a change is a new entry.
constexpr char kScalingTable[] = "channel_scaling";
constexpr char kScalingCreateSql[] =
    "CREATE TABLE IF NOT EXISTS channel_scaling (sc_id INTEGER PRIMARY KEY, s_date, s_time, "
    "utc_offset INTEGER, channel INTEGER NOT NULL, input_type INTEGER, decimals INTEGER, "
    "input_upper INTEGER, input_lower INTEGER, unit TEXT)";
// The operator's names of the linear channels' units, one row per named channel.
constexpr char kUnitsTable[] = "channel_units";
constexpr char kUnitsCreateSql[] =
    "CREATE TABLE IF NOT EXISTS channel_units (channel INTEGER PRIMARY KEY, unit TEXT, "
    "u_date, u_time)";

// One stored entry: channel 0..3 scaled by `scaling` from `since` on.
struct ScalingEntry {
    QDateTime since; // the instant it took effect, with its offset from UTC
    int channel = 0;
    ChannelScaling scaling;
};

// Creates both tables where missing and checks that they are ours (the columns
// this file reads and writes); false with `error` when a table of one of those
// names has another layout (it is never altered) or the statement fails.
bool prepareScalingTables(const QSqlDatabase &db, QString *error = nullptr);

// Every entry, in the order it took effect (then in the order written);
// nullopt with `error` when the table is missing, not ours, or unreadable.
// Entries whose values lie outside the instrument's codes are skipped.
std::optional<QVector<ScalingEntry>> readScalingEntries(const QSqlDatabase &db,
                                                        QString *error = nullptr);
// An entry as stored, for the forwarder: its id in the table (ids only grow:
// entries are never deleted), its local date and time as stored, and the entry
// itself, empty where the row is damaged and scales nothing.
struct StoredScalingEntry {
    qint32 id = 0;
    double date = 0; // day serial
    double time = 0; // fraction of a day
    std::optional<ScalingEntry> entry;
};
// The first `count` entries with ids after `afterId`, in id order; nullopt
// with `error` when the table is missing, not ours, or unreadable.
std::optional<QVector<StoredScalingEntry>> readScalingEntriesAfter(const QSqlDatabase &db,
                                                                   qint32 afterId, int count,
                                                                   QString *error = nullptr);
// Appends the entries in one transaction; false with nothing written on any fault.
bool appendScalingEntries(const QSqlDatabase &db, const QVector<ScalingEntry> &entries,
                          QString *error = nullptr);

// The operator's unit names (empty where none); nullopt with `error` when the
// table is missing or unreadable. A stored name that checkUnitText() refuses reads as empty.
std::optional<OperatorUnits> readOperatorUnits(const QSqlDatabase &db, QString *error = nullptr);
// Stores the name of channel 0..3's unit (empty clears it) with the moment it was named.
bool writeOperatorUnit(const QSqlDatabase &db, int channel, const QString &unit,
                       const QDateTime &when, QString *error = nullptr);

// The latest entry per channel: what a new reading is compared with.
KnownScaling latestScaling(const QVector<ScalingEntry> &entries);
// The entries a reading adds to what is stored: one per channel whose scaling
// is known now and differs from the latest stored (or none was stored).
QVector<ScalingEntry> scalingChanges(const KnownScaling &stored, const KnownScaling &now,
                                     const QDateTime &when);
// The journal's words for a change: "CH1 小数点 1, 输入类型 0, 单位 °C (之前 小数点 2 …)".
QString scalingChangeText(const ScalingEntry &entry, const std::optional<ChannelScaling> &before);

// The scaling in force at any instant, per channel, from the stored entries.
class ScalingTimeline
{
public:
    ScalingTimeline() = default;
    explicit ScalingTimeline(const QVector<ScalingEntry> &entries);

    // The scaling of channel 0..3 in force at `utcSeconds` (seconds since
    // 1970 UTC): the latest entry at or before it; nullptr before the first.
    const ChannelScaling *at(int channel, qint64 utcSeconds) const;
    // The distinct units of channel 0..3 in force from `fromUtc` to `toUtc`
    // (seconds since 1970 UTC), in the order they took effect; empty units are left out.
    QStringList unitsBetween(int channel, qint64 fromUtc, qint64 toUtc) const;
    // Whether any entry is known at all.
    bool isEmpty() const;

private:
    struct Step {
        qint64 utc = 0;
        ChannelScaling scaling;
    };
    std::array<QVector<Step>, kScaledChannels> m_steps;
};
