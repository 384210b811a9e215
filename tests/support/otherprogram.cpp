#include "otherprogram.h"

#include <QDebug>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

OtherProgram::OtherProgram(const QString &path, const QString &name) : m_name(name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=2000"));
    db.open();
}

OtherProgram::~OtherProgram()
{
    QSqlDatabase::database(m_name, false).close();
    QSqlDatabase::removeDatabase(m_name);
}

bool OtherProgram::exec(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    const bool ok = query.exec(sql);
    if (!ok)
        qWarning() << sql << query.lastError().text();
    return ok;
}

QVariant OtherProgram::value(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    if (!query.exec(sql) || !query.next())
        return {};
    return query.value(0);
}

QVariantList OtherProgram::row(const QString &sql)
{
    QSqlQuery query(QSqlDatabase::database(m_name, false));
    QVariantList values;
    if (query.exec(sql) && query.next()) {
        for (int i = 0; i < query.record().count(); ++i)
            values << query.value(i);
    }
    return values;
}

qint64 OtherProgram::count(const QString &table)
{
    return value(QStringLiteral("SELECT COUNT(*) FROM ") + table).toLongLong();
}

QVariantList OtherProgram::counters()
{
    return row(QStringLiteral("SELECT * FROM sl_void"));
}
