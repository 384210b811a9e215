#pragma once

// What the benchmarks of the running tool share: the process's CPU time, and
// "打开" on port 1 at 9600 baud as the operator presses it.

#include "overviewwindow.h"

#include <QComboBox>
#include <QPushButton>
#include <QRadioButton>

#include <sys/resource.h>

// User and system CPU seconds this process has used so far.
inline double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval &t) { return double(t.tv_sec) + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// Chooses port 1 and 9600 baud on `overview` and presses "打开".
inline void openPortOneAt9600(OverviewWindow *overview)
{
    overview->findChild<QComboBox *>(QStringLiteral("Combo1"))->setEditText(QStringLiteral("1 "));
    overview->findChild<QRadioButton *>(QStringLiteral("Option1(1)"))->setChecked(true); // 9600
    overview->findChild<QPushButton *>(QStringLiteral("Command9"))->click();             // 打开
}
