#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>

#include <deque>
#include <optional>

class Recorder;

// Why the recorder does not record, from the store's SQLite result code and
// its own checks of the file.
enum class RecordingFault {
    None,
    ReadOnly,             // SQLITE_READONLY, or a file the process may not write
    NotRecordingDatabase, // not SQLite, or a table without the recording columns
    DiskFull,             // SQLITE_FULL
    Locked,               // SQLITE_BUSY/SQLITE_LOCKED past the short wait
    Other,                // anything else; the store's own text says what
};

// The fault behind a store's lastErrorCode() and lastError(); None for an empty error.
RecordingFault classifyRecordingError(int sqliteCode, const QString &error);
// The reason in the system's words: "database read-only", "not a recording
// database", "disk full", "locked by another program", or `error` itself.
QString recordingFaultText(RecordingFault fault, const QString &error);

// What the recorder achieved, as the last tick left it.
struct RecordingStatus {
    bool recording = false;
    RecordingFault fault = RecordingFault::None;
    QString reason; // empty while recording
    QString path;
    int rowsLastMinute = 0;                 // pv_data rows written in the last 60 s
    std::optional<QDateTime> newestRow;     // time of the newest pv_data row this process wrote
    std::optional<QDateTime> resumedAt;     // when recording last resumed after a fault
    std::optional<QDateTime> countingSince; // the first tick seen: rows counted from then on
};

// Follows the recorder's ticks and keeps its RecordingStatus.
//
// States (update() makes every transition, after each Recorder tick):
//   unknown       --store open, no error-->            recording
//   unknown       --store closed or an error-->        not recording
//   recording     --open fails, write fails, lock-->   not recording (reason)
//   not recording --a tick that ends without error-->  recording (resumedAt set)
class RecordingWatch : public QObject
{
    Q_OBJECT
public:
    // How long the rows-per-minute count looks back.
    static constexpr qint64 kRowWindowSeconds = 60;

    // Watches `recorder` (which must outlive this object).
    explicit RecordingWatch(Recorder *recorder, QObject *parent = nullptr);

    // The status as the last tick left it.
    const RecordingStatus &status() const { return m_status; }
    // Whether any tick has been seen yet.
    bool known() const { return m_known; }

public slots:
    // Reads the recorder's outcome; called on its ticked() signal.
    void update();

signals:
    // The recording flag or the reason changed (not the row count).
    void stateChanged(const RecordingStatus &status);

private:
    Recorder *m_recorder = nullptr;
    RecordingStatus m_status;
    bool m_known = false;
    double m_lastDate = 0;
    double m_lastTime = 0;
    std::deque<QDateTime> m_rows;
};
