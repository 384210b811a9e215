#include "historychart.h"

#include "chartgeometry.h"
#include "chartsurface.h"
#include "daytime.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRubberBand>

#include <algorithm>
#include <cmath>
#include <utility>

namespace
{
// One value label per grid line, seven as on the overview's scale panel.
constexpr int kValueDivisions = 6;
constexpr int kTimeLabelWidth = 90;               // pixels a time and date label needs
constexpr QRgb kCursorColour = qRgb(192, 0, 192); // the overview's ruler
constexpr QRgb kMarkerColours[2] = {qRgb(0, 0, 255), qRgb(0, 128, 0)};
constexpr QRgb kLabelColour = qRgb(128, 128, 128);
constexpr QRgb kValueLabelColour = qRgb(255, 0, 0);
constexpr QRgb kRetransmissionLabelColour = qRgb(0, 0, 255); // the overview's blue scale
} // namespace

HistoryChart::HistoryChart(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_band = new QRubberBand(QRubberBand::Rectangle, this);
}

void HistoryChart::setContent(const QVector<RingRow> &rows, const QVector<double> &places,
                              RecordTable ring, const TimeAxis &axis, double from, double to,
                              const History::ShownScaling &scaling)
{
    m_rows = rows;
    m_scaling = scaling;
    m_drawn = History::chartRows(m_rows, m_scaling);
    m_places = places;
    m_places.resize(m_rows.size());
    m_timeOrder = History::timeOrder(m_places);
    m_ring = ring;
    // Markers keep their instants on an axis anchored elsewhere.
    for (std::optional<double> &marker : m_markers) {
        if (marker)
            marker = axis.positionOf(m_axis.instantAt(*marker));
    }
    m_axis = axis;
    m_from = from;
    m_to = to;
    changed();
}

void HistoryChart::setShown(const std::array<bool, History::kCurveCount> &shown)
{
    m_shown = shown;
    changed();
}

void HistoryChart::setValueRange(std::optional<History::ValueRange> range)
{
    m_range = range;
    changed();
}

void HistoryChart::setEvents(History::ChartEvents events)
{
    m_events = std::move(events);
    changed();
}

void HistoryChart::changed()
{
    m_prepared.reset();
    update();
}

History::NearMarks HistoryChart::marksNearRow(int row, int shown) const
{
    if (row < 0 || row >= m_rows.size())
        return {};
    const double interval = (m_ring == RecordTable::PvData ? 1 : 10) / kSecondsPerDay;
    const double column = (m_to - m_from) / plotRect(size()).width();
    // A pointer can only be put on whole pixels: a mark a column away is near.
    return History::marksNear(m_events.marks, m_places.at(row), std::max(interval / 2, column),
                              shown);
}

int HistoryChart::rowNearest(double moment) const
{
    return History::nearestRow(m_places, m_timeOrder, moment);
}

void HistoryChart::setMarker(int which, std::optional<double> moment)
{
    m_markers.at(std::clamp(which, 0, 1)) = moment;
    update();
}

QRect HistoryChart::plotRect(const QSize &size)
{
    return QRect(kLeftMargin, kTopMargin, std::max(1, size.width() - kLeftMargin - kRightMargin),
                 std::max(1, size.height() - kTopMargin - kBottomMargin));
}

double HistoryChart::momentAt(int x) const
{
    return momentAt(x, size());
}

double HistoryChart::momentAt(int x, const QSize &size) const
{
    const QRect plot = plotRect(size);
    const double share = std::clamp(double(x - plot.left()) / plot.width(), 0.0, 1.0);
    return m_from + share * (m_to - m_from);
}

double HistoryChart::xOf(double moment, const QRect &plot) const
{
    if (m_to <= m_from)
        return plot.left();
    return plot.left() + (moment - m_from) / (m_to - m_from) * plot.width();
}

HistoryChart::Prepared HistoryChart::prepare(const QSize &size) const
{
    ++m_preparations;
    const QRect plot = plotRect(size);
    Prepared prepared;
    prepared.size = size;
    prepared.finest = m_scaling.finest;
    const QVector<History::Run> runs =
        History::decimate(m_drawn, m_places, m_from, m_to, plot.width(), m_ring);
    prepared.range =
        m_range ? History::overviewRangeInSteps(
                      *m_range, History::referenceDecimals(m_scaling, m_shown), m_scaling.finest)
                : History::automaticRange(runs, m_shown);
    prepared.ticks =
        History::timeTicks(m_from, m_to, std::max(2, plot.width() / kTimeLabelWidth), m_axis);
    for (const History::TimeTick &tick : prepared.ticks)
        prepared.tickXs.append(xOf(tick.moment, plot));
    for (int i = 1; i < runs.size(); ++i)
        prepared.gapXs.append(plot.left() + runs.at(i).first().x + 0.5);
    prepared.traces = History::traces(runs, m_shown, prepared.range, plot.width(), plot.height());
    prepared.notLive = History::spanXs(m_events.notLive, m_from, m_to, plot.width());
    prepared.notRecorded = History::spanXs(m_events.notRecorded, m_from, m_to, plot.width());
    prepared.marks = History::columnMarks(m_events.marks, m_from, m_to, plot.width());
    return prepared;
}

void HistoryChart::render(QPainter &painter, const QSize &size) const
{
    // Pictures and prints at other sizes are prepared for their own size.
    if (size != this->size()) {
        draw(painter, prepare(size));
        return;
    }
    if (!m_prepared || m_prepared->size != size)
        m_prepared = prepare(size);
    draw(painter, *m_prepared);
}

void HistoryChart::draw(QPainter &painter, const Prepared &prepared) const
{
    const QRect plot = plotRect(prepared.size);
    painter.fillRect(QRect(QPoint(0, 0), prepared.size), Qt::white);
    painter.fillRect(plot, Chart::gridBackground());

    // Grid: dotted pink, a vertical line at each time label, six divisions of value.
    painter.setPen(QPen(Chart::gridPen(), 1, Qt::DotLine));
    for (const double x : prepared.tickXs)
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
    for (int i = 0; i <= kValueDivisions; ++i) {
        const double y = plot.top() + plot.height() * double(i) / kValueDivisions;
        painter.drawLine(QPointF(plot.left(), y), QPointF(plot.right(), y));
    }

    // Spans without a live link shaded, the journal's events marked along the
    // top edge: under the gap marks and curves, as on the overview.
    for (const auto &[left, right] : prepared.notLive)
        painter.fillRect(
            QRectF(plot.left() + left, plot.top(), std::max(1.0, right - left), plot.height()),
            Chart::notLiveBandColour());
    // Time the tool did not run: its own colour, hatched, so it is never taken for an outage.
    for (const auto &[left, right] : prepared.notRecorded) {
        const QRectF band(plot.left() + left, plot.top(), std::max(1.0, right - left),
                          plot.height());
        painter.fillRect(band, History::notRecordedBandColour());
        painter.fillRect(band,
                         QBrush(History::notRecordedBandColour().darker(150), Qt::BDiagPattern));
    }
    for (const History::ColumnMark &mark : prepared.marks) {
        const double x = plot.left() + mark.x + 0.5;
        painter.setPen(QPen(Journal::markColour(mark.kind), Journal::kMarkWidth,
                            mark.off ? Qt::DotLine : Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(QPointF(x, plot.top()),
                         QPointF(x, plot.top() + Journal::kMarkHeightPixels));
    }

    // Gap marks: where a run starts after a gap, the overview's yellow dashed line.
    painter.setPen(QPen(Chart::gapPen(), 1, Qt::DashLine));
    for (const double x : prepared.gapXs)
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));

    painter.save();
    painter.setClipRect(plot);
    painter.translate(plot.topLeft());
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const History::Trace &trace : prepared.traces) {
        painter.setPen(QPen(trace.colour, trace.width, trace.style));
        if (trace.points.size() == 1) {
            painter.drawPoint(trace.points.first());
            continue;
        }
        // A dashed pen (one pixel wide) keeps its dashes along one polyline.
        if (trace.style != Qt::SolidLine) {
            painter.drawPolyline(trace.points);
            continue;
        }
        // Separate segments: a wide pen strokes a polyline with joins between
        // its many overlapping vertical segments, many times slower.
        QVector<QLineF> segments;
        segments.reserve(trace.points.size() - 1);
        for (int i = 1; i < trace.points.size(); ++i)
            segments.append(QLineF(trace.points.at(i - 1), trace.points.at(i)));
        painter.drawLines(segments);
    }
    painter.restore();

    for (int which = 0; which < 2; ++which) {
        if (!m_markers[which])
            continue;
        painter.setPen(QPen(QColor(kMarkerColours[which]), 1, Qt::DashDotLine));
        const double x = xOf(*m_markers[which], plot);
        painter.drawLine(QPointF(x, plot.top()), QPointF(x, plot.bottom()));
        painter.drawText(QPointF(x + 3, plot.top() + 12),
                         which == 0 ? QStringLiteral("A") : QStringLiteral("B"));
    }

    // Labels: values on the left in the overview's red, times and dates below.
    const QFontMetrics metrics(painter.font());
    const History::ValueRange &range = prepared.range;
    painter.setPen(QColor(kValueLabelColour));
    for (int i = 0; i <= kValueDivisions; ++i) {
        const double y = plot.bottom() - plot.height() * double(i) / kValueDivisions;
        const double value = range.low + double(range.span) * i / kValueDivisions;
        painter.drawText(QRectF(0, y - 8, kLeftMargin - 4, 16), Qt::AlignRight | Qt::AlignVCenter,
                         History::axisValueText(value, prepared.finest));
    }
    if (m_shown[History::kCurveCount - 1]) {
        painter.setPen(QColor(kRetransmissionLabelColour));
        for (const History::AxisLabel &label : History::retransmissionAxis(plot.height())) {
            const double y = plot.top() + label.y;
            painter.drawLine(QPointF(plot.right(), y), QPointF(plot.right() + 3, y));
            // The end labels kept beside the plot, clear of the time labels.
            const double top = std::clamp(y - 8, double(plot.top()), double(plot.bottom() - 15));
            painter.drawText(QRectF(plot.right() + 5, top, kRightMargin - 6, 16),
                             Qt::AlignLeft | Qt::AlignVCenter, label.text);
        }
    }
    painter.setPen(QColor(kLabelColour));
    for (int i = 0; i < prepared.ticks.size(); ++i) {
        const History::TimeTick &tick = prepared.ticks.at(i);
        // As wide as its longer line, and kept inside the plot's width: the
        // last date would otherwise run past the window's right edge.
        const double width = std::max({kTimeLabelWidth, metrics.horizontalAdvance(tick.time),
                                       metrics.horizontalAdvance(tick.date)});
        const QRectF timeBox(History::labelLeft(prepared.tickXs.at(i), width, plot.left(),
                                                plot.left() + plot.width()),
                             plot.bottom() + 3, width, metrics.height());
        painter.drawText(timeBox, Qt::AlignHCenter | Qt::AlignTop, tick.time);
        painter.drawText(timeBox.translated(0, metrics.height()), Qt::AlignHCenter | Qt::AlignTop,
                         tick.date);
    }
    painter.setPen(Qt::black);
    painter.drawRect(plot.adjusted(0, 0, -1, -1));
}

void HistoryChart::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    render(painter, size());
    if (m_cursorX) {
        const QRect plot = plotRect(size());
        painter.setPen(QPen(QColor(kCursorColour), 1));
        painter.drawLine(*m_cursorX, plot.top(), *m_cursorX, plot.bottom());
    }
}

void HistoryChart::resizeEvent(QResizeEvent *)
{
    m_prepared.reset();
}

void HistoryChart::mouseMoveEvent(QMouseEvent *event)
{
    const int x = event->position().toPoint().x();
    const QRect plot = plotRect(size());
    m_cursorX = std::clamp(x, plot.left(), plot.right());
    if (m_pressX) {
        const int left = std::min(*m_pressX, *m_cursorX);
        m_band->setGeometry(
            QRect(left, plot.top(), std::abs(*m_cursorX - *m_pressX) + 1, plot.height()));
        m_band->show();
    }
    m_pointed = momentAt(*m_cursorX);
    const int row = rowNearest(*m_pointed);
    if (row >= 0)
        m_cursorX = int(std::lround(xOf(m_places.at(row), plot)));
    emit cursorMoved(row);
    update();
}

void HistoryChart::mousePressEvent(QMouseEvent *event)
{
    const int x = event->position().toPoint().x();
    if (event->button() == Qt::RightButton) {
        emit markerPlaced(1, momentAt(x));
        return;
    }
    if (event->button() == Qt::LeftButton)
        m_pressX = x;
}

void HistoryChart::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !m_pressX)
        return;
    const int x = event->position().toPoint().x();
    const int pressed = *m_pressX;
    m_pressX.reset();
    m_band->hide();
    if (std::abs(x - pressed) < kSmallestDrag) {
        emit markerPlaced(0, momentAt(x));
        return;
    }
    const double a = momentAt(pressed);
    const double b = momentAt(x);
    if (a != b)
        emit zoomRequested(std::min(a, b), std::max(a, b));
}

void HistoryChart::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Left || event->key() == Qt::Key_Right) {
        emit panRequested(event->key() == Qt::Key_Left ? -1 : 1);
        return;
    }
    QWidget::keyPressEvent(event);
}

void HistoryChart::leaveEvent(QEvent *)
{
    m_cursorX.reset();
    update();
}
