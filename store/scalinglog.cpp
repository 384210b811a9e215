// The scaling entries and the operator's unit names in the recording database:
// their two tables, their reads and writes, and the lookup of the entry in
// force at a row's instant.

#include "scalinglog.h"

#include "daytime.h"
#include "instants.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <cstdlib>

namespace
{

// The columns read and written, in this order; a table of our name without
// them belongs to someone else.
constexpr char kScalingColumns[] =
    "s_date, s_time, utc_offset, channel, input_type, decimals, input_upper, input_lower, unit";
constexpr char kUnitsColumns[] = "channel, unit, u_date, u_time";
// No zone lies further than this from UTC.
constexpr qint64 kLargestUtcOffsetSeconds = 18 * 3600;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

QDateTime instantOf(double date, double time, qint32 utcOffset)
{
    const qint64 utc = localSeconds(date, time) - utcOffset;
    return QDateTime::fromSecsSinceEpoch(utc, Qt::OffsetFromUTC, utcOffset);
}

std::optional<qint32> wholeNumber(const QVariant &value)
{
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (value.isNull() || !ok || number != double(qint32(number)))
        return std::nullopt;
    return qint32(number);
}

} // namespace

bool prepareScalingTables(const QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    const bool ready = query.exec(QLatin1String(kScalingCreateSql)) &&
                       query.exec(QLatin1String(kUnitsCreateSql)) &&
                       query.exec(QStringLiteral("SELECT %1 FROM channel_scaling WHERE 0")
                                      .arg(QLatin1String(kScalingColumns))) &&
                       query.exec(QStringLiteral("SELECT %1 FROM channel_units WHERE 0")
                                      .arg(QLatin1String(kUnitsColumns)));
    if (!ready)
        setError(error, QStringLiteral("scaling tables: ") + query.lastError().text());
    return ready;
}

namespace
{

// One row of the table, its columns in kScalingColumns' order from `first`;
// nullopt for an entry a program of another kind damaged, which scales nothing.
std::optional<ScalingEntry> scalingEntryAt(const QSqlQuery &query, int first)
{
    bool dateOk = false;
    bool timeOk = false;
    const double date = query.value(first).toDouble(&dateOk);
    const double time = query.value(first + 1).toDouble(&timeOk);
    const std::optional<qint32> offset = wholeNumber(query.value(first + 2));
    const std::optional<qint32> channel = wholeNumber(query.value(first + 3));
    const std::optional<qint32> type = wholeNumber(query.value(first + 4));
    const std::optional<qint32> decimals = wholeNumber(query.value(first + 5));
    if (!dateOk || !timeOk || !offset || std::abs(*offset) > kLargestUtcOffsetSeconds || !channel ||
        *channel < 1 || *channel > kScaledChannels || !type || !decimals ||
        !channelScalingProblem(*channel - 1, *type, *decimals).isEmpty())
        return std::nullopt;
    ScalingEntry entry;
    entry.since = instantOf(date, time, *offset);
    entry.channel = *channel - 1;
    entry.scaling.inputType = *type;
    entry.scaling.decimals = *decimals;
    entry.scaling.upper = wholeNumber(query.value(first + 6)).value_or(0);
    entry.scaling.lower = wholeNumber(query.value(first + 7)).value_or(0);
    const UnitTextCheck unit = checkUnitText(query.value(first + 8).toString());
    entry.scaling.unit = unit.accepted ? unit.unit : QString();
    return entry;
}

} // namespace

std::optional<QVector<ScalingEntry>> readScalingEntries(const QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT %1 FROM channel_scaling ORDER BY sc_id")
                        .arg(QLatin1String(kScalingColumns)))) {
        setError(error, QStringLiteral("channel_scaling: ") + query.lastError().text());
        return std::nullopt;
    }
    QVector<ScalingEntry> entries;
    while (query.next())
        if (const std::optional<ScalingEntry> entry = scalingEntryAt(query, 0))
            entries << *entry;
    // In the order they took effect; written order among entries of one instant.
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ScalingEntry &a, const ScalingEntry &b) {
                         return a.since.toSecsSinceEpoch() < b.since.toSecsSinceEpoch();
                     });
    return entries;
}

std::optional<QVector<StoredScalingEntry>>
readScalingEntriesAfter(const QSqlDatabase &db, qint32 afterId, int count, QString *error)
{
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT sc_id, %1 FROM channel_scaling WHERE sc_id > ? ORDER BY "
                                 "sc_id LIMIT ?")
                      .arg(QLatin1String(kScalingColumns)));
    query.addBindValue(afterId);
    query.addBindValue(count);
    if (!query.exec()) {
        setError(error, QStringLiteral("channel_scaling: ") + query.lastError().text());
        return std::nullopt;
    }
    QVector<StoredScalingEntry> entries;
    while (query.next())
        entries << StoredScalingEntry{query.value(0).toInt(), query.value(1).toDouble(),
                                      query.value(2).toDouble(), scalingEntryAt(query, 1)};
    return entries;
}

bool appendScalingEntries(const QSqlDatabase &db, const QVector<ScalingEntry> &entries,
                          QString *error)
{
    if (entries.isEmpty())
        return true;
    QSqlDatabase connection = db;
    if (!connection.transaction()) {
        setError(error, QStringLiteral("channel_scaling: ") + connection.lastError().text());
        return false;
    }
    QSqlQuery insert(db);
    bool done = insert.prepare(QStringLiteral("INSERT INTO channel_scaling (%1) VALUES (?, ?, ?, "
                                              "?, ?, ?, ?, ?, ?)")
                                   .arg(QLatin1String(kScalingColumns)));
    for (const ScalingEntry &entry : entries) {
        if (!done)
            break;
        insert.bindValue(0, daySerial(entry.since.date()));
        insert.bindValue(1, dayFraction(entry.since.time()));
        insert.bindValue(2, entry.since.offsetFromUtc());
        insert.bindValue(3, entry.channel + 1);
        insert.bindValue(4, entry.scaling.inputType);
        insert.bindValue(5, entry.scaling.decimals);
        insert.bindValue(6, entry.scaling.upper);
        insert.bindValue(7, entry.scaling.lower);
        insert.bindValue(8, entry.scaling.unit);
        done = insert.exec();
    }
    if (!done || !connection.commit()) {
        setError(error, QStringLiteral("channel_scaling: ") +
                            (done ? connection.lastError() : insert.lastError()).text());
        insert.finish();
        connection.rollback();
        return false;
    }
    return true;
}

std::optional<OperatorUnits> readOperatorUnits(const QSqlDatabase &db, QString *error)
{
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT channel, unit FROM channel_units"))) {
        setError(error, QStringLiteral("channel_units: ") + query.lastError().text());
        return std::nullopt;
    }
    OperatorUnits units;
    while (query.next()) {
        const std::optional<qint32> channel = wholeNumber(query.value(0));
        if (!channel || *channel < 1 || *channel > kScaledChannels)
            continue;
        const UnitTextCheck unit = checkUnitText(query.value(1).toString());
        units[*channel - 1] = unit.accepted ? unit.unit : QString();
    }
    return units;
}

bool writeOperatorUnit(const QSqlDatabase &db, int channel, const QString &unit,
                       const QDateTime &when, QString *error)
{
    QSqlQuery query(db);
    const bool done = query.prepare(
        QStringLiteral("INSERT OR REPLACE INTO channel_units (%1) VALUES (?, ?, ?, ?)")
            .arg(QLatin1String(kUnitsColumns)));
    query.bindValue(0, channel + 1);
    query.bindValue(1, unit);
    query.bindValue(2, daySerial(when.date()));
    query.bindValue(3, dayFraction(when.time()));
    if (!done || !query.exec()) {
        setError(error, QStringLiteral("channel_units: ") + query.lastError().text());
        return false;
    }
    return true;
}

KnownScaling latestScaling(const QVector<ScalingEntry> &entries)
{
    KnownScaling latest;
    for (const ScalingEntry &entry : entries)
        latest[entry.channel] = entry.scaling;
    return latest;
}

QVector<ScalingEntry> scalingChanges(const KnownScaling &stored, const KnownScaling &now,
                                     const QDateTime &when)
{
    QVector<ScalingEntry> changes;
    for (int ch = 0; ch < kScaledChannels; ++ch)
        if (now[ch] && (!stored[ch] || *stored[ch] != *now[ch]))
            changes << ScalingEntry{when, ch, *now[ch]};
    return changes;
}

QString scalingChangeText(const ScalingEntry &entry, const std::optional<ChannelScaling> &before)
{
    const auto describe = [](const ChannelScaling &s) {
        return QStringLiteral("小数点 %1, 输入类型 %2, 量程 %3～%4, 单位 %5")
            .arg(s.decimals)
            .arg(s.inputType)
            .arg(engineeringText(s.lower, s.decimals), engineeringText(s.upper, s.decimals),
                 s.unit.isEmpty() ? QStringLiteral("未命名") : s.unit);
    };
    QString text =
        QStringLiteral("CH%1 标度 %2").arg(entry.channel + 1).arg(describe(entry.scaling));
    text += before ? QStringLiteral(" (之前 %1)").arg(describe(*before))
                   : QStringLiteral(" (首次读到)");
    return text;
}

ScalingTimeline::ScalingTimeline(const QVector<ScalingEntry> &entries)
{
    for (const ScalingEntry &entry : entries)
        if (entry.channel >= 0 && entry.channel < kScaledChannels)
            m_steps[entry.channel] << Step{entry.since.toSecsSinceEpoch(), entry.scaling};
    for (auto &steps : m_steps)
        std::stable_sort(steps.begin(), steps.end(),
                         [](const Step &a, const Step &b) { return a.utc < b.utc; });
}

const ChannelScaling *ScalingTimeline::at(int channel, qint64 utcSeconds) const
{
    if (channel < 0 || channel >= kScaledChannels)
        return nullptr;
    const QVector<Step> &steps = m_steps[channel];
    // The first step after the instant; the one before it is in force.
    const auto after =
        std::upper_bound(steps.begin(), steps.end(), utcSeconds,
                         [](qint64 utc, const Step &step) { return utc < step.utc; });
    if (after == steps.begin())
        return nullptr;
    return &std::prev(after)->scaling;
}

QStringList ScalingTimeline::unitsBetween(int channel, qint64 fromUtc, qint64 toUtc) const
{
    QStringList units;
    if (channel < 0 || channel >= kScaledChannels)
        return units;
    const auto add = [&units](const ChannelScaling *scaling) {
        if (scaling && !scaling->unit.isEmpty() && !units.contains(scaling->unit))
            units << scaling->unit;
    };
    add(at(channel, fromUtc));
    for (const Step &step : m_steps[channel])
        if (step.utc > fromUtc && step.utc <= toUtc)
            add(&step.scaling);
    return units;
}

bool ScalingTimeline::isEmpty() const
{
    return std::all_of(m_steps.begin(), m_steps.end(),
                       [](const QVector<Step> &steps) { return steps.isEmpty(); });
}
