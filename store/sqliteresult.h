#pragma once

#include <QSqlDatabase>
#include <QSqlError>
#include <QString>

// SQLite's primary result codes as the Qt driver reports them in
// QSqlError::nativeErrorCode() (extended codes keep the primary in the low byte).
namespace SqliteCode
{
constexpr int Error = 1;
constexpr int Busy = 5;
constexpr int Locked = 6;
constexpr int ReadOnly = 8;
constexpr int Full = 13;
constexpr int CantOpen = 14;
constexpr int Corrupt = 11;
constexpr int Constraint = 19;
constexpr int Mismatch = 20;
constexpr int NotADatabase = 26;
} // namespace SqliteCode

// The primary result code of a failed statement; 0 when there is none.
inline int sqlitePrimaryCode(const QSqlError &error)
{
    return error.nativeErrorCode().toInt() & 0xff;
}

// Whether another connection holds the lock the statement needed.
inline bool isSqliteLockError(const QSqlError &error)
{
    const int code = sqlitePrimaryCode(error);
    return code == SqliteCode::Busy || code == SqliteCode::Locked;
}

// Closes and removes a named connection; harmless when there is none. Every
// query on it must be gone first.
inline void releaseSqlConnection(const QString &name)
{
    if (!QSqlDatabase::contains(name))
        return;
    {
        QSqlDatabase db = QSqlDatabase::database(name, false);
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}
