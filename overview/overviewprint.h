#pragma once

#include "chartdocument.h"

#include <QRect>

#include <utility>

class OverviewWindow;
class QPainter;
class QPrinter;
class QWidget;
class TrendChart;

// The overview's chart as a picture or a print takes it: drawn afresh from
// what the overview shows, not copied from the window, and handed to the print
// module as a document.

// The overview's chart as data, not as a copy of the window: the curves and
// gap marks it drew (the strokes of its surface "pt"), its value labels
// (Label5) on the left, the retransmission scale (Label6) in per cent on the
// right, the time and date labels (Label4, Label7) below, each where the
// overview shows it. Nothing when `overview` holds no such chart.
void paintOverviewChart(QPainter &painter, const QRect &area, const QWidget *overview);

// The overview's chart as the operator reads it: the scale panel, the chart and
// the time and date labels under it (found by their control names), whose size
// a picture of it takes; empty when `overview` is not the overview window.
QRect overviewChartArea(const QWidget *overview);

// The first and last sample the overview's chart shows, as day serials.
std::pair<double, double> overviewRange(const TrendChart &chart);

// What a print or picture of the overview's chart says: its title (port,
// address, the range it shows), the legend of all five curves, the axes.
Print::ChartDocument overviewDocument(const OverviewWindow *overview);
// The overview's chart as a document draws it, for a print or a picture.
Print::PrintableChart overviewChart(const OverviewWindow *overview);
// Prints the overview's chart as a document filling a landscape page.
bool printOverview(const OverviewWindow *overview, QPrinter &printer);
