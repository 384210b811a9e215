#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The CSV files the tool writes for the operator (the history's rows, the
// journal): UTF-8 with a byte-order mark, so that a spreadsheet shows the
// Chinese headers right, and lines ended by CR LF.
constexpr char kCsvByteOrderMark[] = "\xEF\xBB\xBF";
constexpr char kCsvLineEnd[] = "\r\n";

// One field: as it is, or quoted with its quotes doubled when it holds a
// comma, a quote or a line break, which would otherwise split the record.
QString csvField(const QString &text);
// One record: the fields, each by csvField(), joined by commas, with its line end.
QString csvRecord(const QStringList &fields);
