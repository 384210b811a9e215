#include "chartdocument.h"

#include "chartgeometry.h"
#include "daytime.h"
#include "historyaxis.h"
#include "numbers.h"
#include "shared.h"

#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QWidget>

#include <algorithm>
#include <memory>
#include <optional>

namespace Print
{

const char *const kValueAxisName = "测量值 CH1–CH4 (仪表显示值)";
const char *const kRetransmissionAxisName = "变送值 DA (%)";
const char *const kTimeAxisName = "日期 / 时间";

namespace
{
constexpr char kDefaultPdf[] = "zelmar-print.pdf";

// A document is laid out in logical pixels, with fonts in pixels, so that a
// page and a picture look alike: a page is this many logical pixels wide.
constexpr int kPageWidth = 1400;
constexpr int kFontPixels = 13;
constexpr int kTitlePixels = 18;
constexpr int kPageMargin = 12;
constexpr int kSwatchWidth = 28; // the stroke before a curve's name in the legend
constexpr int kLegendGap = 24;

QFont documentFont(QFont font, int pixels, bool bold = false)
{
    font.setPixelSize(pixels);
    font.setBold(bold);
    return font;
}

// A day serial in the tool's one moment form ("2026-12-07 08:00:05").
QString serialText(double serial)
{
    return momentText(dateTimeOf(serial));
}

// An axis name longer than its axis (four channels of four units) is written
// smaller, down to this share of the font, and only then cut with "…".
constexpr double kSmallestAxisNameScale = 0.6;

// Text turned a quarter left, centred in `box`, as a value axis is named.
void drawUpright(QPainter &painter, const QRect &box, const QString &text)
{
    painter.save();
    const int wide = painter.fontMetrics().horizontalAdvance(text);
    if (wide > box.height()) {
        QFont font = painter.font();
        const double scale = std::max(kSmallestAxisNameScale, double(box.height()) / wide);
        if (font.pointSizeF() > 0)
            font.setPointSizeF(font.pointSizeF() * scale);
        else
            font.setPixelSize(std::max(1, int(font.pixelSize() * scale)));
        painter.setFont(font);
    }
    painter.translate(box.center());
    painter.rotate(-90);
    painter.drawText(QRect(-box.height() / 2, -box.width() / 2, box.height(), box.width()),
                     Qt::AlignCenter,
                     painter.fontMetrics().elidedText(text, Qt::ElideRight, box.height()));
    painter.restore();
}

} // namespace

DocumentLayout documentLayout(const QSize &size, const QFontMetrics &metrics)
{
    const int line = metrics.height();
    DocumentLayout layout;
    const QRect page =
        QRect(QPoint(0, 0), size).adjusted(kPageMargin, kPageMargin, -kPageMargin, -kPageMargin);
    layout.title = QRect(page.left(), page.top(), page.width(), line * 3 / 2);
    layout.legend = QRect(page.left(), layout.title.bottom() + 1, page.width(), line * 3 / 2);
    const int axisName = line * 3 / 2;
    const int top = layout.legend.bottom() + 1 + line / 2;
    const int bottom = page.bottom() - axisName;
    layout.valueAxis = QRect(page.left(), top, axisName, bottom - top + 1);
    layout.retransmissionAxis = QRect(page.right() - axisName + 1, top, axisName, bottom - top + 1);
    layout.chart = QRect(QPoint(layout.valueAxis.right() + 1, top),
                         QPoint(layout.retransmissionAxis.left() - 1, bottom));
    layout.timeAxis = QRect(layout.chart.left(), bottom + 1, layout.chart.width(), axisName);
    return layout;
}

QVector<LegendEntry> curveLegend(const std::array<bool, History::kCurveCount> &shown,
                                 bool overviewPens,
                                 const std::array<QString, History::kCurveCount> &names)
{
    const auto &pens = overviewPens ? Chart::curvePens() : Chart::ownViewPens();
    QVector<LegendEntry> legend;
    for (int curve = 0; curve < History::kCurveCount; ++curve) {
        if (!shown[curve])
            continue;
        for (const Chart::CurvePen &pen : pens)
            if (pen.value == curve)
                legend.append({names[curve].isEmpty()
                                   ? QString::fromUtf8(History::kCurveNames[curve])
                                   : names[curve],
                               pen.colour, pen.width, pen.style});
    }
    return legend;
}

void drawSwatch(QPainter &painter, const LegendEntry &entry, int x, int y, int width)
{
    painter.save();
    // One pixel wider than the curve, so that a thin curve's key is still seen.
    QPen pen(entry.colour, entry.width + 1, entry.style);
    pen.setCapStyle(Qt::FlatCap);
    painter.setPen(pen);
    painter.drawLine(x, y, x + width, y);
    painter.restore();
}

QPixmap swatchPicture(const LegendEntry &entry, const QSize &size)
{
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    drawSwatch(painter, entry, 0, size.height() / 2, size.width());
    return picture;
}

void paintDocument(QPainter &painter, const QSize &size, const ChartDocument &document,
                   const ChartPainter &drawChart)
{
    painter.fillRect(QRect(QPoint(0, 0), size), Qt::white);
    const QFont font = documentFont(painter.font(), kFontPixels);
    painter.setFont(font);
    const DocumentLayout layout = documentLayout(size, QFontMetrics(font));

    painter.setFont(documentFont(font, kTitlePixels, true));
    painter.setPen(Qt::black);
    painter.drawText(
        layout.title, Qt::AlignLeft | Qt::AlignVCenter,
        painter.fontMetrics().elidedText(document.title, Qt::ElideRight, layout.title.width()));
    painter.setFont(font);
    int x = layout.legend.left();
    for (const LegendEntry &entry : document.legend) {
        drawSwatch(painter, entry, x, layout.legend.center().y(), kSwatchWidth);
        x += kSwatchWidth + 6;
        painter.setPen(Qt::black);
        const int width = painter.fontMetrics().horizontalAdvance(entry.name);
        painter.drawText(QRect(x, layout.legend.top(), width + 2, layout.legend.height()),
                         Qt::AlignLeft | Qt::AlignVCenter, entry.name);
        x += width + kLegendGap;
    }
    painter.setPen(QColor(History::kValueAxisColour));
    drawUpright(painter, layout.valueAxis, document.valueAxis);
    if (!document.retransmissionAxis.isEmpty()) {
        painter.setPen(QColor(History::kRetransmissionAxisColour));
        drawUpright(painter, layout.retransmissionAxis, document.retransmissionAxis);
    }
    painter.setPen(Qt::black);
    painter.drawText(layout.timeAxis, Qt::AlignCenter, document.timeAxis);

    painter.save();
    painter.setClipRect(layout.chart);
    drawChart(painter, layout.chart);
    painter.restore();
}

QImage documentPicture(const QSize &size, int scale, const ChartDocument &document,
                       const ChartPainter &drawChart)
{
    QImage picture(size * scale, QImage::Format_RGB32);
    QPainter painter(&picture);
    painter.scale(scale, scale);
    paintDocument(painter, size, document, drawChart);
    painter.end();
    return picture;
}

bool printDocument(QPrinter &printer, const ChartDocument &document, const ChartPainter &drawChart)
{
    printer.setPageOrientation(QPageLayout::Landscape);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRect page = painter.viewport();
    const QSize size(kPageWidth, kPageWidth * page.height() / std::max(1, page.width()));
    painter.setWindow(QRect(QPoint(0, 0), size));
    paintDocument(painter, size, document, drawChart);
    return painter.end();
}

QString printTitle(const QWidget *overview, double from, double to)
{
    int port = CommSettings[CommIndex::Port];
    int address = CommSettings[CommIndex::Address];
    const auto listed = [overview](const char *name) {
        const auto *list =
            overview ? overview->findChild<const QComboBox *>(QLatin1String(name)) : nullptr;
        return list ? int(leadingNumber(list->currentText())) : 0;
    };
    if (port <= 0) { // no "打开" yet
        port = listed("Combo1");
        address = listed("Combo2");
    }
    return QStringLiteral("过程控制仪表 ZELMAR   通讯端口 %1   模块地址 %2   %3 至 %4")
        .arg(port)
        .arg(address)
        .arg(serialText(from), serialText(to));
}

QString stationPrintTitle(const QString &station, double from, double to)
{
    return QStringLiteral("过程控制仪表 ZELMAR   历史库 站 %1   %2 至 %3")
        .arg(station, serialText(from), serialText(to));
}

bool savePng(const QImage &picture, const QString &path, QString *error)
{
    QSaveFile file(path);
    const bool saved =
        file.open(QIODevice::WriteOnly) && picture.save(&file, "PNG") && file.commit();
    if (!saved) {
        if (error)
            *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        file.cancelWriting();
    }
    return saved;
}

void askAndPrint(QWidget *parent, const std::function<void(QPrinter &)> &print)
{
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    if (QPrinterInfo::availablePrinters().isEmpty()) {
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(QDir::home().filePath(QLatin1String(kDefaultPdf)));
    }
    auto *dialog = new QPrintDialog(printer.get(), parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(dialog, &QDialog::accepted, dialog, [printer, print] { print(*printer); });
    dialog->open();
}

} // namespace Print
