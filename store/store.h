#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QtGlobal>

#include <optional>

// The counter row of the recording database: the newest pv_data id (twice) and
// the newest Lpv_wdjl id (twice).
struct SlVoid
{
    qint32 newestPv = 0;
    qint32 newestPvCopy = 0;
    qint32 newestLpv = 0;
    qint32 newestLpvCopy = 0;
};

// The file of the recording database: $ZELMAR_DB when set, otherwise Rdatabj.db
// in the per-user application data folder.
QString databasePath();

// One named connection to the recording database. The recorder and the
// overview each hold their own.
class RecordingStore
{
public:
    explicit RecordingStore(const QString &connectionName);
    ~RecordingStore();

    // Opens (and, when missing, creates) the database. False when it cannot be
    // used; nothing is deleted or rewritten then.
    bool open(const QString &path = databasePath());
    void close();
    bool isOpen() const;

    // The counter row; nullopt when the database is not open or the row cannot be read.
    std::optional<SlVoid> readCounters() const;

    // The connection, for the history queries that live beside this class.
    QSqlDatabase database() const;

private:
    QString m_connectionName;
    bool m_open = false;
};
