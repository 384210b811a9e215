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

namespace
{
void paintStrokes(QPainter &painter, QVector<Stroke>::const_iterator first,
                  QVector<Stroke>::const_iterator last)
{
    for (auto s = first; s != last; ++s) {
        QPen pen(s->colour, s->width, s->style);
        pen.setCosmetic(true); // widths are in pixels, whatever the scale
        painter.setPen(pen);
        painter.drawLine(s->from, s->to);
    }
}

// How many strokes from the start the two drawings share.
qsizetype sharedStart(const QVector<Stroke> &a, const QVector<Stroke> &b)
{
    return std::mismatch(a.cbegin(), a.cbegin() + std::min(a.size(), b.size()), b.cbegin()).first -
           a.cbegin();
}
} // namespace

// The strokes at the start of the drawing that stayed the same from one paint
// to the next (the grid, drawn first, and what the curves keep while a page
// fills) are kept painted in an image: a paint copies it and draws only the
// rest. The dotted grid alone costs more than the curves drawn over it.
void ChartSurface::paintEvent(QPaintEvent *)
{
    const qreal ratio = devicePixelRatioF();
    const QSize pixels = (QSizeF(size()) * ratio).toSize();
    const qsizetype stable = sharedStart(m_strokes, m_paintedStrokes);
    const bool cacheHolds = m_cache.size() == pixels && m_cacheBackground == m_background &&
                            sharedStart(m_cachedStrokes, m_strokes) == m_cachedStrokes.size();
    if (!cacheHolds) {
        m_cache = QImage(pixels, QImage::Format_RGB32);
        m_cache.setDevicePixelRatio(ratio);
        m_cacheBackground = m_background;
        m_cachedStrokes.clear();
        QPainter(&m_cache).fillRect(rect(), m_background);
    }
    if (stable > m_cachedStrokes.size()) {
        // Drawn over what the image holds, in the drawing's order, as the
        // widget itself would be.
        QPainter cache(&m_cache);
        cache.scale(width() / double(kWidth), height() / double(kHeight));
        paintStrokes(cache, m_strokes.cbegin() + m_cachedStrokes.size(),
                     m_strokes.cbegin() + stable);
        m_cachedStrokes = m_strokes.mid(0, stable);
    }
    m_paintedStrokes = m_strokes;

    QPainter painter(this);
    painter.drawImage(0, 0, m_cache);
    painter.scale(width() / double(kWidth), height() / double(kHeight));
    paintStrokes(painter, m_strokes.cbegin() + m_cachedStrokes.size(), m_strokes.cend());
}
