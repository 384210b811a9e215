#pragma once

#include <QDateTime>
#include <QString>

class QWidget;

// The file name a "save as" asks for: Qt's file dialog, with its date column
// in the tool's own date and time form (Qt's own dialog shows it in the
// system locale's, English on a machine set to C); empty when cancelled.
QString askSaveFileName(QWidget *parent, const QString &title, const QString &suggested,
                        const QString &filter);

// A file's time in the dialog's date column: "2026-12-07 08:00".
QString fileTimeText(const QDateTime &modified);
