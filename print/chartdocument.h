#pragma once

#include "decimate.h"

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QRect>
#include <QString>
#include <QVector>

#include <array>
#include <functional>

class QFontMetrics;
class QPainter;
class QPrinter;
class QWidget;

// Pictures and prints of the two charts, the overview's and the history
// window's: PNG files at the on-screen size or twice it, and a landscape page
// through Qt's print support (a PDF file when there is no printer). Either is
// a document, drawn afresh rather than copied from the window: a title, a
// legend of the curves in their colours, the chart with both axes named, and
// none of the window's controls. Below both windows: each hands its chart here
// as a PrintableChart, and neither knows the other.

namespace Print
{

// One curve of a legend: its name and its pen.
struct LegendEntry {
    QString name;
    QColor colour;
    int width = 1;
    Qt::PenStyle style = Qt::SolidLine;
};

// What a document says beside the chart.
struct ChartDocument {
    QString title;               // the station or port and address, and the range
    QVector<LegendEntry> legend; // the curves drawn
    QString valueAxis;           // the left axis: the channels' values (and their units)
    QString retransmissionAxis;  // the right axis in per cent; empty when DA is not drawn
    QString timeAxis;            // the axis below
};

// Where the parts of a document stand on a page `size` logical pixels big,
// written in `metrics`: the title and legend rows on top, the chart filling
// the rest between the names of its axes.
struct DocumentLayout {
    QRect title;
    QRect legend;
    QRect chart; // the chart with its own value and time labels
    QRect valueAxis;
    QRect retransmissionAxis;
    QRect timeAxis;
};
DocumentLayout documentLayout(const QSize &size, const QFontMetrics &metrics);

// Draws a chart with its labels into a rectangle of the painter.
using ChartPainter = std::function<void(QPainter &, const QRect &)>;

// The five curves' names ("CH1" … "CH4", "变送值 DA") and pens, those of
// `shown`: our views' pens (Chart::ownViewPens), or the overview's for its chart;
// named by `names` where given (the history chart's names carry their units).
QVector<LegendEntry> curveLegend(const std::array<bool, History::kCurveCount> &shown,
                                 bool overviewPens = false,
                                 const std::array<QString, History::kCurveCount> &names = {});
// The colour key of one curve as the legend draws it: a stroke of its pen
// across `width` pixels, centred at height `y`, from `x`.
void drawSwatch(QPainter &painter, const LegendEntry &entry, int x, int y, int width);
// The same key as a picture for a check box: `size` pixels, transparent.
QPixmap swatchPicture(const LegendEntry &entry, const QSize &size);

// A chart as a document takes it: what the document says, how to draw the
// chart, and its size on screen (a picture's size at scale 1).
struct PrintableChart {
    std::function<ChartDocument()> document;
    ChartPainter painter;
    std::function<QSize()> size;
};

// Paints `document` on a page `size` logical pixels big, its chart by `drawChart`.
void paintDocument(QPainter &painter, const QSize &size, const ChartDocument &document,
                   const ChartPainter &drawChart);
// The document as a picture of `size` at `scale` times its pixels.
QImage documentPicture(const QSize &size, int scale, const ChartDocument &document,
                       const ChartPainter &drawChart);
// One landscape page filled by the document. False when the printer (or the
// PDF file) cannot be started.
bool printDocument(QPrinter &printer, const ChartDocument &document, const ChartPainter &drawChart);

// The title line of a print: the port and module address of the link (as the
// last "打开" stored them; before any, as the overview's lists show them, when
// `overview` is given) and the date-time range.
QString printTitle(const QWidget *overview, double from, double to);
// The same for a station read from the historian: "… 历史库 站 NAME  <from> 至 <to>".
QString stationPrintTitle(const QString &station, double from, double to);
// The names of the axes: the channels' values, the retransmission value in
// per cent, the time.
extern const char *const kValueAxisName;
extern const char *const kRetransmissionAxisName;
extern const char *const kTimeAxisName;

// Writes `picture` as a PNG file through a temporary file, so a failed write
// leaves no file; false with the reason in `error`.
bool savePng(const QImage &picture, const QString &path, QString *error = nullptr);

// Asks for a printer with the print dialog, not blocking the windows behind it,
// and hands the chosen one to `print`. Without a printer installed the dialog
// offers a PDF file, zelmar-print.pdf in the home folder by default.
void askAndPrint(QWidget *parent, const std::function<void(QPrinter &)> &print);

} // namespace Print
