#include "chartprint.h"

#include "controlname.h"
#include "daytime.h"
#include "historyrange.h"
#include "numbers.h"
#include "shared.h"
#include "trendchart.h"

#include <QComboBox>
#include <QDir>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>
#include <QWidget>

#include <memory>

namespace History
{

namespace
{
constexpr int kTitleGap = 12; // points between the title and the picture
constexpr char kDefaultPdf[] = "zelmar-print.pdf";

QString momentText(double serial)
{
    return dateTimeOf(serial).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}
} // namespace

QImage widgetPicture(QWidget *widget, const QRect &area, int scale)
{
    QImage picture(area.size() * scale, QImage::Format_RGB32);
    picture.setDevicePixelRatio(scale);
    picture.fill(Qt::white);
    widget->render(&picture, QPoint(), QRegion(area), QWidget::DrawChildren);
    return picture;
}

QRect overviewChartArea(const QWidget *overview)
{
    QRect area;
    if (!overview)
        return area;
    const auto unite = [&](const QString &name) {
        if (const auto *child = overview->findChild<const QWidget *>(name))
            area |= QRect(child->mapTo(overview, QPoint(0, 0)), child->size());
    };
    unite(controlName("Frame2", 0)); // the scale panel
    unite(QStringLiteral("pt0"));
    unite(controlName("Label7", 8)); // the last date label, under the right end
    return area;
}

std::pair<double, double> overviewRange(const TrendChart &chart)
{
    const Chart::TrendBuffer &buffer = chart.buffer();
    std::pair<double, double> range{0, 0};
    bool found = false;
    const int last = std::min(chart.writePosition(), Chart::kLastPosition);
    for (int p = std::max(1, chart.windowOffset() + 1); p <= last; ++p) {
        if (buffer.dates[p] <= 0)
            continue; // never loaded
        const double moment = buffer.dates[p] + buffer.times[p];
        range.first = found ? std::min(range.first, moment) : moment;
        range.second = found ? std::max(range.second, moment) : moment;
        found = true;
    }
    return range;
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
        .arg(momentText(from), momentText(to));
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

bool printPicture(QPrinter &printer, const QString &title, const QImage &picture)
{
    printer.setPageOrientation(QPageLayout::Landscape);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const QRect page = painter.viewport();
    QFont font = painter.font();
    font.setPointSize(11);
    painter.setFont(font);
    const QRect titleBox = painter.fontMetrics().boundingRect(
        page, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title);
    painter.drawText(page, Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, title);
    const int gap = kTitleGap * printer.resolution() / 72;
    const QRect room(page.left(), titleBox.bottom() + gap, page.width(),
                     page.height() - titleBox.height() - gap);
    const QSize fitted = picture.size().scaled(room.size(), Qt::KeepAspectRatio);
    painter.drawImage(QRect(room.topLeft(), fitted), picture);
    return painter.end();
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

} // namespace History
