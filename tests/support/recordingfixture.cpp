#include "recordingfixture.h"

#include "daytime.h"
#include "history.h"

#include <QDate>
#include <QSqlQuery>
#include <QVariant>

qint64 RecordingFixture::noon()
{
    // Computed on use: the day serial's epoch is itself a static of another file.
    return qint64(daySerial(QDate(2026, 12, 7))) * 86400 + 12 * 3600;
}

RecordingFixture::RecordingFixture(const QString &connectionName)
    : m_path(m_dir.filePath(QStringLiteral("Rdatabj.db"))),
      m_store(std::make_unique<RecordingStore>(connectionName))
{
    m_ready = m_dir.isValid() && m_store->open(m_path);
}

RecordingFixture::~RecordingFixture()
{
    m_store->close();
}

double RecordingFixture::dateOf(qint64 moment)
{
    return double(moment / 86400);
}

double RecordingFixture::timeOf(qint64 moment)
{
    return double(moment % 86400) / 86400.0;
}

double RecordingFixture::serialAt(qint64 moment)
{
    return dateOf(moment) + timeOf(moment);
}

qint32 RecordingFixture::ringId(qint64 n)
{
    return qint32(((n - 1) % kRecordRingIds + kRecordRingIds) % kRecordRingIds + 1);
}

bool RecordingFixture::addRecord(qint32 id, qint64 moment, bool nullValues)
{
    QSqlQuery query(db());
    query.prepare(
        QStringLiteral("insert or replace into pv_data values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    query.addBindValue(id);
    query.addBindValue(dateOf(moment));
    query.addBindValue(timeOf(moment));
    for (int k = 0; k < 8; ++k)
        query.addBindValue(nullValues ? QVariant() : QVariant(double(id + k)));
    return query.exec();
}

bool RecordingFixture::fillRing(qint32 newestId, int count, qint64 newestMoment, int secondsApart)
{
    QSqlDatabase database = db();
    if (!database.transaction())
        return false;
    bool ok = true;
    for (int age = 0; age < count && ok; ++age) {
        ok = addRecord(ringId(qint64(newestId) - age), newestMoment - qint64(age) * secondsApart);
    }
    ok = ok && setNewest(newestId);
    return database.commit() && ok;
}

bool RecordingFixture::setNewest(qint32 id)
{
    QSqlQuery query(db());
    if (!query.exec(QStringLiteral("delete from sl_void")))
        return false;
    query.prepare(QStringLiteral("insert into sl_void values (?, ?, 0, 0)"));
    query.addBindValue(id);
    query.addBindValue(id);
    return query.exec();
}

bool RecordingFixture::record(RecordTable table, qint32 id, qint64 moment)
{
    std::array<float, kRecordedValueCount> values{};
    for (int k = 0; k < kRecordedValueCount; ++k)
        values[k] = float(id + k);
    return record(table, id, moment, values);
}

bool RecordingFixture::record(RecordTable table, qint32 id, qint64 moment,
                              const std::array<float, kRecordedValueCount> &values)
{
    return recordRow(*m_store, table, id, dateOf(moment), timeOf(moment), values);
}

bool RecordingFixture::fill(RecordTable table, qint32 newestId, int count, qint64 newestMoment,
                            int secondsApart)
{
    bool ok = true;
    for (int age = count - 1; age >= 0 && ok; --age)
        ok = record(table, ringId(qint64(newestId) - age),
                    newestMoment - qint64(age) * secondsApart);
    return ok;
}

bool recordRow(RecordingStore &store, RecordTable table, qint32 id, double date, double time,
               const std::array<float, kRecordedValueCount> &values,
               std::optional<RowQuality> quality, std::optional<qint32> utcOffset)
{
    const RowToRecord row{date, time, values, quality, utcOffset};
    return store.recordRows(table, id, &row, 1);
}
