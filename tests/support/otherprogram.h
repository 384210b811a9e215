#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

// A second connection to the same file, as another program would hold it.
class OtherProgram
{
public:
    explicit OtherProgram(const QString &path, const QString &name = QStringLiteral("other"));
    ~OtherProgram();
    OtherProgram(const OtherProgram &) = delete;
    OtherProgram &operator=(const OtherProgram &) = delete;

    // Runs one statement; false (and a warning naming it) when it fails.
    bool exec(const QString &sql);
    // The first column of the first row, or an invalid value.
    QVariant value(const QString &sql);
    // Every column of the first row, or an empty list.
    QVariantList row(const QString &sql);
    qint64 count(const QString &table);
    // The row of sl_void.
    QVariantList counters();

private:
    QString m_name;
};
