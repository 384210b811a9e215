#include "recordingstate.h"

#include "clock.h"
#include "daytime.h"
#include "recorder.h"
#include "shared.h"
#include "sqliteresult.h"

#include <cstdlib>

namespace
{
// The store's own findings about a file that is not one of ours.
bool isLayoutFault(const QString &error)
{
    return error.startsWith(QLatin1String("not a SQLite database")) ||
           error.startsWith(QLatin1String("not a recording database")) ||
           error.startsWith(QLatin1String("table ")) ||
           error.startsWith(QLatin1String("not a file"));
}
} // namespace

RecordingFault classifyRecordingError(int sqliteCode, const QString &error)
{
    if (error.isEmpty())
        return RecordingFault::None;
    if (isLayoutFault(error))
        return RecordingFault::NotRecordingDatabase;
    switch (sqliteCode) {
    case SqliteCode::ReadOnly:
        return RecordingFault::ReadOnly;
    case SqliteCode::Full:
        return RecordingFault::DiskFull;
    case SqliteCode::Busy:
    case SqliteCode::Locked:
        return RecordingFault::Locked;
    case SqliteCode::NotADatabase:
        return RecordingFault::NotRecordingDatabase;
    default:
        return RecordingFault::Other;
    }
}

QString recordingFaultText(RecordingFault fault, const QString &error)
{
    switch (fault) {
    case RecordingFault::None:
        return {};
    case RecordingFault::ReadOnly:
        return QStringLiteral("database read-only");
    case RecordingFault::NotRecordingDatabase:
        return QStringLiteral("not a recording database");
    case RecordingFault::DiskFull:
        return QStringLiteral("disk full");
    case RecordingFault::Locked:
        return QStringLiteral("locked by another program");
    case RecordingFault::Other:
        break;
    }
    return error;
}

RecordingWatch::RecordingWatch(Recorder *recorder, QObject *parent)
    : QObject(parent), m_recorder(recorder), m_lastDate(PvLastDate), m_lastTime(PvLastTime)
{
    connect(recorder, &Recorder::ticked, this, &RecordingWatch::update);
}

void RecordingWatch::update()
{
    const QDateTime now = SystemClock::now();
    const RecordingStore &store = m_recorder->store();
    if (!m_status.countingSince)
        m_status.countingSince = now;
    if (PvLastDate != m_lastDate || PvLastTime != m_lastTime) {
        m_lastDate = PvLastDate;
        m_lastTime = PvLastTime;
        m_status.newestRow = QDateTime(dateFromSerial(m_lastDate), timeFromFraction(m_lastTime));
        m_rows.push_back(now);
    }
    while (!m_rows.empty() && std::llabs(m_rows.front().secsTo(now)) >= kRowWindowSeconds)
        m_rows.pop_front();
    m_status.rowsLastMinute = static_cast<int>(m_rows.size());
    m_status.path = store.path();

    const QString error = store.isOpen()                ? store.lastError()
                          : store.lastError().isEmpty() ? QStringLiteral("database not open")
                                                        : store.lastError();
    const RecordingFault fault = classifyRecordingError(store.lastErrorCode(), error);
    const bool recording = store.isOpen() && error.isEmpty();
    const QString reason = recordingFaultText(fault, error);
    if (m_known && recording == m_status.recording && reason == m_status.reason)
        return;
    if (recording && m_known && !m_status.recording)
        m_status.resumedAt = now;
    m_known = true;
    m_status.recording = recording;
    m_status.fault = fault;
    m_status.reason = reason;
    emit stateChanged(m_status);
}
