#include "chartsurface.h"

#include <QPainter>

#include <algorithm>
#include <cmath>

ChartSurface::ChartSurface(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartSurface::clear()
{
    m_strokes.clear();
    scheduleRepaint();
}

void ChartSurface::setBackground(const QColor &colour)
{
    m_background = colour;
    scheduleRepaint();
}

void ChartSurface::addLines(const QVector<Stroke> &strokes)
{
    m_strokes.append(strokes);
    scheduleRepaint();
}

// Once the drawing in hand is done: a repaint when it differs from what the
// screen shows or is about to show. Comparing a thousand strokes costs far
// less than painting them.
void ChartSurface::scheduleRepaint()
{
    if (m_repaintScheduled)
        return;
    m_repaintScheduled = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_repaintScheduled = false;
            if (m_shownValid && m_strokes == m_shownStrokes && m_background == m_shownBackground)
                return;
            m_shownStrokes = m_strokes;
            m_shownBackground = m_background;
            m_shownValid = true;
            update();
        },
        Qt::QueuedConnection);
}

namespace
{
// One edge of a line object: the span [low, high] in pixels, widened round its
// middle to the pen when it is thinner, with edges on whole pixels.
std::pair<int, int> lineEdges(double low, double high, int penWidth)
{
    if (high - low < penWidth) {
        const double middle = (low + high) / 2;
        low = middle - penWidth / 2.0;
        high = low + penWidth;
    }
    return {int(std::floor(low + 0.5)), int(std::floor(high + 0.5))};
}
} // namespace

QRect ChartSurface::lineRect(const QPointF &from, const QPointF &to, int penWidth) const
{
    const double sx = width() / double(kWidth);
    const double sy = height() / double(kHeight);
    const auto [left, right] =
        lineEdges(std::min(from.x(), to.x()) * sx, std::max(from.x(), to.x()) * sx, penWidth);
    const auto [top, bottom] =
        lineEdges(std::min(from.y(), to.y()) * sy, std::max(from.y(), to.y()) * sy, penWidth);
    return QRect(left, top, right - left, bottom - top);
}

void ChartSurface::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_background);
    painter.scale(width() / double(kWidth), height() / double(kHeight));
    for (const Stroke &s : m_strokes) {
        QPen pen(s.colour, s.width, s.style);
        pen.setCosmetic(true); // widths are in pixels, whatever the scale
        painter.setPen(pen);
        painter.drawLine(s.from, s.to);
    }
}
