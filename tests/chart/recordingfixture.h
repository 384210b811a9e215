#pragma once

#include "store.h"

#include <QSqlDatabase>
#include <QString>
#include <QTemporaryDir>
#include <QVector>

#include <memory>

// A recording database in a temporary folder, opened through the real store and
// filled the way the recorder fills the pv_data ring. Value 0 of every record
// holds its id, so a loaded window shows which records it holds.
class RecordingFixture
{
public:
    // Noon of 7 December 2026, in seconds after day zero of the day serials.
    static qint64 noon();

    explicit RecordingFixture(const QString &connectionName);
    ~RecordingFixture();

    // True when the database was created and opened.
    bool isReady() const { return m_ready; }
    RecordingStore &store() { return *m_store; }
    QSqlDatabase db() const { return m_store->database(); }
    QString path() const { return m_path; }

    // One pv_data row at `moment` (seconds after day zero); value 0 is the id,
    // value k is id + k; with `nullValues` the eight value columns hold no value.
    bool addRecord(qint32 id, qint64 moment, bool nullValues = false);
    // `count` records ending with `newestId` at `newestMoment`, counted back round
    // the ring of 65500 ids, `secondsApart` apart; sets sl_void to `newestId`.
    bool fillRing(qint32 newestId, int count, qint64 newestMoment = noon(), int secondsApart = 1);
    // sl_void's pv_data positions.
    bool setNewest(qint32 id);

    // Date and time of day of a moment, as day serials.
    static double dateOf(qint64 moment);
    static double timeOf(qint64 moment);

private:
    QTemporaryDir m_dir;
    QString m_path;
    std::unique_ptr<RecordingStore> m_store;
    bool m_ready = false;
};
