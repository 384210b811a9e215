#pragma once

#include <QColor>
#include <QImage>
#include <QPointF>
#include <QRect>
#include <QVector>
#include <QWidget>

// One line drawn on the chart, in chart units (x 0..12008 right, y 0..7508 down).
struct Stroke {
    QPointF from;
    QPointF to;
    QColor colour;
    int width = 1; // pixels
    Qt::PenStyle style = Qt::SolidLine;

    bool operator==(const Stroke &o) const
    {
        return from == o.from && to == o.to && colour == o.colour && width == o.width &&
               style == o.style;
    }
};

// The chart's drawing surface: keeps what was drawn since the last clear as a
// list of strokes in chart units and paints them scaled to the widget's size.
// New strokes only schedule a look at what changed, so a burst of drawing costs
// one paint, and a redraw that draws what is on screen already (the chart is
// redrawn every second, new sample or not) costs none.
class ChartSurface : public QWidget
{
    Q_OBJECT
public:
    static constexpr int kWidth = 12008;
    static constexpr int kHeight = 7508;

    explicit ChartSurface(QWidget *parent = nullptr);

    // Forgets every stroke drawn since the last clear.
    void clear();
    // The colour the surface is filled with under the strokes.
    void setBackground(const QColor &colour);
    // The current fill colour.
    QColor background() const { return m_background; }
    // Appends many strokes with one repaint request.
    void addLines(const QVector<Stroke> &strokes);
    // What was drawn since the last clear, in draw order.
    const QVector<Stroke> &strokes() const { return m_strokes; }
    // Where a straight line object from `from` to `to` (chart units) with a pen of
    // `penWidth` pixels stands on the widget at its current size: the rectangle of a
    // child widget that shows it, never thinner than the pen.
    QRect lineRect(const QPointF &from, const QPointF &to, int penWidth) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void scheduleRepaint();

    QColor m_background = QColor(192, 255, 255);
    QVector<Stroke> m_strokes;
    // What the screen shows once the repaints asked for are done; a repaint
    // is asked for only when the drawing differs from it.
    QColor m_shownBackground;
    QVector<Stroke> m_shownStrokes;
    bool m_shownValid = false;
    bool m_repaintScheduled = false;
    // The strokes of the last paint, and the start of the drawing that the
    // image holds painted on the background.
    QVector<Stroke> m_paintedStrokes;
    QImage m_cache;
    QColor m_cacheBackground;
    QVector<Stroke> m_cachedStrokes;
};
