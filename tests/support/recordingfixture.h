#pragma once

#include "store.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVector>

#include <array>
#include <memory>
#include <optional>

// A recording database in a temporary folder, opened through the real store and
// filled the way the recorder fills its rings. Value 0 of every record holds
// its id, value k id + k, so a loaded window shows which records it holds.
class RecordingFixture
{
public:
    // Noon of 7 December 2026, in seconds after day zero of the day serials.
    static qint64 noon();

    explicit RecordingFixture(const QString &connectionName = QStringLiteral("recording-fixture"));
    ~RecordingFixture();

    // True when the database was created and opened.
    bool isReady() const { return m_ready; }
    RecordingStore &store() { return *m_store; }
    QSqlDatabase db() const { return m_store->database(); }
    QString path() const { return m_path; }
    // The temporary folder, for files written beside the recording.
    QString folder() const { return m_dir.path(); }

    // One pv_data row at `moment` (seconds after day zero); value 0 is the id,
    // value k is id + k; with `nullValues` the eight value columns hold no value.
    bool addRecord(qint32 id, qint64 moment, bool nullValues = false);
    // `count` records ending with `newestId` at `newestMoment`, counted back round
    // the ring of 65500 ids, `secondsApart` apart; sets sl_void to `newestId`.
    bool fillRing(qint32 newestId, int count, qint64 newestMoment = noon(), int secondsApart = 1);
    // sl_void's pv_data positions.
    bool setNewest(qint32 id);

    // One row of `table` written by the store's own writer at `moment`, value
    // k being id + k, or `values`.
    bool record(RecordTable table, qint32 id, qint64 moment);
    bool record(RecordTable table, qint32 id, qint64 moment,
                const std::array<float, kRecordedValueCount> &values);
    // `count` rows of `table` ending with `newestId` at `newestMoment`,
    // `secondsApart` apart, written by the store's own writer.
    bool fill(RecordTable table, qint32 newestId, int count, qint64 newestMoment, int secondsApart);

    // Date and time of day of a moment, as day serials.
    static double dateOf(qint64 moment);
    static double timeOf(qint64 moment);
    // A moment as one day serial, the time of day as its fraction.
    static double serialAt(qint64 moment);
    // The id `n` steps after id 0 round the ring of 65500 ids (id 65500 is
    // followed by id 1).
    static qint32 ringId(qint64 n);

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<RecordingStore> m_store;
    bool m_ready = false;
};

// One row of `table` at ring id `id`, written by the store's own writer as
// the recorder writes one tick's row (recordRows with a single row).
bool recordRow(RecordingStore &store, RecordTable table, qint32 id, double date, double time,
               const std::array<float, kRecordedValueCount> &values,
               std::optional<RowQuality> quality = std::nullopt,
               std::optional<qint32> utcOffset = std::nullopt);
