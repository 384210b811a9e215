#pragma once

#include "historywindow.h"

class OverviewWindow;

// The history window and the print of the overview's chart, served from the
// overview: the overview only asks for them (its historyRequested and
// printRequested), the history window knows no overview, and this wiring
// hands the history window the overview's chart (a printable chart of the
// print module, which both windows use).

// The history window's settings: the recording database at `databasePath`,
// the historian of ZELMAR_HISTORIAN when it names a server, the station of
// ZELMAR_STATION (or this machine's name).
HistorySettings historySettingsFromEnvironment(const QString &databasePath);

// Serves the overview's "历史曲线" (F8) with the history window and its
// "F3 打印" (F3) with a print of its chart.
void attachHistory(OverviewWindow *overview);
