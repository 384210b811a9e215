#pragma once

#include "historywindow.h"

class OverviewWindow;
class QPrinter;

// The history window and the print of the overview's chart, served from the
// overview: the overview only asks for them (its historyRequested and
// printRequested), the history window knows no overview, and this wiring
// hands each what it needs.

// The history window's settings: the recording database at `databasePath`,
// the historian of ZELMAR_HISTORIAN when it names a server, the station of
// ZELMAR_STATION (or this machine's name).
HistorySettings historySettingsFromEnvironment(const QString &databasePath);

// What a print or picture of the overview's chart says: its title (port,
// address, the range it shows), the legend of all five curves, the axes.
History::ChartDocument overviewDocument(const OverviewWindow *overview);
// The overview's chart as the history window pictures it beside its own.
OtherChart overviewChart(const OverviewWindow *overview);
// Prints the overview's chart as a document filling a landscape page.
bool printOverview(OverviewWindow *overview, QPrinter &printer);

// Serves the overview's "历史曲线" (F8) with the history window and its
// "F3 打印" (F3) with a print of its chart.
void attachHistory(OverviewWindow *overview);
