#include "overviewprint.h"

#include "chartgeometry.h"
#include "chartsurface.h"
#include "controlname.h"
#include "historyaxis.h"
#include "livedisplay.h"
#include "overviewwindow.h"
#include "trendchart.h"

#include <QLabel>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace
{
// The overview chart's room for its labels around the plot.
constexpr int kOverviewLeft = 60;
constexpr int kOverviewRight = 52;
constexpr int kOverviewTop = 8;
constexpr int kOverviewBottom = 40;
constexpr QRgb kTimeColour = qRgb(128, 128, 128);

// Where a label of the overview stands along its chart surface, as a share of
// the surface's width (x) or height (y).
std::optional<QPointF> shareOnSurface(const QWidget *overview, const ChartSurface *surface,
                                      const QString &name)
{
    const auto *label = overview->findChild<const QLabel *>(name);
    if (!label || surface->width() <= 0 || surface->height() <= 0)
        return std::nullopt;
    const QPoint centre =
        surface->mapFrom(overview, label->mapTo(overview, label->rect().center()));
    return QPointF(double(centre.x()) / surface->width(), double(centre.y()) / surface->height());
}
} // namespace

void paintOverviewChart(QPainter &painter, const QRect &area, const QWidget *overview)
{
    const auto *surface =
        overview ? overview->findChild<const ChartSurface *>(QStringLiteral("pt")) : nullptr;
    if (!surface)
        return;
    const QRect plot =
        area.adjusted(kOverviewLeft, kOverviewTop, -kOverviewRight, -kOverviewBottom);
    painter.fillRect(area, Qt::white);
    painter.fillRect(plot, surface->background());
    painter.save();
    painter.setClipRect(plot);
    const double sx = double(plot.width()) / ChartSurface::kWidth;
    const double sy = double(plot.height()) / ChartSurface::kHeight;
    const auto place = [&](const QPointF &p) {
        return QPointF(plot.left() + p.x() * sx, plot.top() + p.y() * sy);
    };
    for (const Stroke &stroke : surface->strokes()) {
        painter.setPen(QPen(stroke.colour, stroke.width, stroke.style));
        painter.drawLine(place(stroke.from), place(stroke.to));
    }
    painter.restore();
    painter.setPen(Qt::black);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));

    const int line = painter.fontMetrics().height();
    const auto valueY = [&](const QPointF &share) {
        const double y = plot.top() + share.y() * plot.height();
        return std::clamp(y - line / 2.0, double(area.top()), double(area.bottom() - line));
    };
    for (int i = 0; i < LiveDisplay::kScaleLabels; ++i) {
        if (const auto share = shareOnSurface(overview, surface, controlName("Label5", i))) {
            painter.setPen(QColor(History::kValueAxisColour));
            painter.drawText(QRectF(area.left(), valueY(*share), kOverviewLeft - 4, line),
                             Qt::AlignRight | Qt::AlignVCenter,
                             overview->findChild<const QLabel *>(controlName("Label5", i))->text());
        }
        if (const auto share = shareOnSurface(overview, surface, controlName("Label6", i))) {
            painter.setPen(QColor(History::kRetransmissionAxisColour));
            painter.drawText(QRectF(plot.right() + 5, valueY(*share), kOverviewRight - 6, line),
                             Qt::AlignLeft | Qt::AlignVCenter,
                             overview->findChild<const QLabel *>(controlName("Label6", i))->text() +
                                 QStringLiteral(" %"));
        }
    }
    painter.setPen(QColor(kTimeColour));
    const QFontMetrics metrics = painter.fontMetrics();
    for (int j = 0;; ++j) {
        const auto *time = overview->findChild<const QLabel *>(controlName("Label4", j));
        const auto *date = overview->findChild<const QLabel *>(controlName("Label7", j));
        const auto share = shareOnSurface(overview, surface, controlName("Label4", j));
        if (!time || !date || !share)
            break;
        const double width = std::max(metrics.horizontalAdvance(time->text()),
                                      metrics.horizontalAdvance(date->text())) +
                             4.0;
        const double left = History::labelLeft(plot.left() + share->x() * plot.width(), width,
                                               plot.left(), plot.left() + plot.width());
        painter.drawText(QRectF(left, plot.bottom() + 3, width, line), Qt::AlignCenter,
                         time->text());
        painter.drawText(QRectF(left, plot.bottom() + 3 + line, width, line), Qt::AlignCenter,
                         date->text());
    }
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

Print::ChartDocument overviewDocument(const OverviewWindow *overview)
{
    const auto [from, to] = overviewRange(overview->chart());
    return {Print::printTitle(overview, from, to),
            Print::curveLegend({true, true, true, true, true}, true),
            QString::fromUtf8(Print::kValueAxisName),
            QString::fromUtf8(Print::kRetransmissionAxisName),
            QString::fromUtf8(Print::kTimeAxisName)};
}

Print::PrintableChart overviewChart(const OverviewWindow *overview)
{
    return {[overview] { return overviewDocument(overview); },
            [overview](QPainter &painter, const QRect &area) {
                paintOverviewChart(painter, area, overview);
            },
            [overview] { return overviewChartArea(overview).size(); }};
}

bool printOverview(const OverviewWindow *overview, QPrinter &printer)
{
    const Print::PrintableChart chart = overviewChart(overview);
    return Print::printDocument(printer, chart.document(), chart.painter);
}
