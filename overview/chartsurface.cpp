#include "chartsurface.h"

#include <QPainter>

ChartSurface::ChartSurface(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ChartSurface::clear()
{
    m_strokes.clear();
    update();
}

void ChartSurface::setBackground(const QColor &colour)
{
    m_background = colour;
    update();
}

void ChartSurface::addLine(const Stroke &stroke)
{
    m_strokes.append(stroke);
    update();
}

void ChartSurface::addLines(const QVector<Stroke> &strokes)
{
    m_strokes.append(strokes);
    update();
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
