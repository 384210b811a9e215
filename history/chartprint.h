#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <functional>
#include <utility>

class QPrinter;
class QWidget;
class TrendChart;

// Pictures and prints of the two charts: PNG files at the on-screen size or
// twice it, and a page with a title line through Qt's print support (a PDF
// file when there is no printer).

namespace History
{

// The picture of `area` (in `widget`'s coordinates) at `scale` times its on-screen size.
QImage widgetPicture(QWidget *widget, const QRect &area, int scale);

// The overview's chart as the operator reads it: the scale panel, the chart and
// the time and date labels under it (found by their control names); empty when
// `overview` is not the overview window.
QRect overviewChartArea(const QWidget *overview);

// The first and last sample the overview's chart shows, as day serials.
std::pair<double, double> overviewRange(const TrendChart &chart);

// The title line of a print: the port and module address of the link (as the
// last "打开" stored them; before any, as the overview's lists show them, when
// `overview` is given) and the date-time range.
QString printTitle(const QWidget *overview, double from, double to);

// Writes `picture` as a PNG file through a temporary file, so a failed write
// leaves no file; false with the reason in `error`.
bool savePng(const QImage &picture, const QString &path, QString *error = nullptr);

// One page: the title line, the picture fitted under it. False when the
// printer (or the PDF file) cannot be started.
bool printPicture(QPrinter &printer, const QString &title, const QImage &picture);

// Asks for a printer with the print dialog, not blocking the windows behind it,
// and hands the chosen one to `print`. Without a printer installed the dialog
// offers a PDF file, zelmar-print.pdf in the home folder by default.
void askAndPrint(QWidget *parent, const std::function<void(QPrinter &)> &print);

} // namespace History
