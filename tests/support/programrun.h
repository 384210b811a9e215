#pragma once

#include <QString>
#include <QStringList>

// How a program run by a test ended: its exit code (-1 when it crashed or
// did not end in 30 s) and what it wrote to standard error and output.
struct ProgramRun {
    int code = -1;
    QString error;
    QString output;
};

// Runs `program` with `arguments` as a scheduled job would: no display and no
// $ZELMAR_DB, so that a command-line action shows it needs neither.
// `environment` ("NAME=value") is added to that.
ProgramRun runWithoutDisplay(const QString &program, const QStringList &arguments,
                             const QStringList &environment = {});
