#pragma once

#include "decimate.h"
#include "historyaxis.h"
#include "historymarks.h"
#include "historyscaling.h"
#include "instants.h"
#include "ringquery.h"

#include <QRect>
#include <QVector>
#include <QWidget>

#include <array>
#include <optional>
#include <utility>
#include <vector>

class QPainter;
class QRubberBand;

// The history window's chart: the rows of a range drawn as the overview draws
// its trend (colours, pens, Y mapping, yellow dashed gap marks, the lines broken
// at gaps), decimated to the pixel width, with time labels fitting the span.
// Rows and events stand at the instants they were recorded at, on a time axis
// that runs with real time (TimeAxis). The channels' values stand on the left
// axis; while "变送值 DA" is shown it has its own axis in per cent on the right,
// as the overview's scale panel has it. The channels are drawn in engineering
// values by the scaling each row was recorded with (ShownScaling), in steps of
// the finest decimal point among them, and labelled so. The mouse shows a cursor; a drag over
// the plot is a zoom box; a click places marker A, a right click marker B.
//
// What a paint draws is prepared once after the rows, the range, the events,
// the curves shown, the value range or the size change (decimation, traces,
// ticks, bands, marks): a paint, the cursor's included, only draws it.
class HistoryChart : public QWidget
{
    Q_OBJECT
public:
    // Margins of the plot inside the widget, for the value and time labels.
    static constexpr int kLeftMargin = 56;
    // Room on the right for the retransmission value's own axis in per cent.
    static constexpr int kRightMargin = 48;
    static constexpr int kTopMargin = 10;
    static constexpr int kBottomMargin = 40;
    // A press and release closer than this is a click, not a zoom box.
    static constexpr int kSmallestDrag = 4;

    explicit HistoryChart(QWidget *parent = nullptr);

    // The rows of `ring` to draw over `from` .. `to` (places on `axis`): rows
    // in recording order, each at its place in `places` (placeRows), with
    // the scaling in force at each (none: every row raw).
    void setContent(const QVector<RingRow> &rows, const QVector<double> &places, RecordTable ring,
                    const TimeAxis &axis, double from, double to,
                    const History::ShownScaling &scaling = {});
    // Which of the five curves are drawn.
    void setShown(const std::array<bool, History::kCurveCount> &shown);
    // The channels' vertical range in the instrument's integers, as the
    // overview's chart has it (drawn for the first shown channel's decimal
    // point); nullopt: automatic, from the values drawn.
    void setValueRange(std::optional<History::ValueRange> range);
    // The not-live spans and the journal's marks of the range shown.
    void setEvents(History::ChartEvents events);
    // Marker 0 (A) or 1 (B) at a moment; nullopt removes it.
    void setMarker(int which, std::optional<double> moment);

    // The rows, their places, the axis, the range and the markers shown.
    const QVector<RingRow> &rows() const { return m_rows; }
    const QVector<double> &places() const { return m_places; }
    // The scaling of each of rows().
    const History::ShownScaling &scaling() const { return m_scaling; }
    const TimeAxis &axis() const { return m_axis; }
    double from() const { return m_from; }
    double to() const { return m_to; }
    std::optional<double> marker(int which) const { return m_markers.at(which); }
    const History::ChartEvents &events() const { return m_events; }
    // The moment under the mouse when the cursor last moved (before it snapped to a row).
    std::optional<double> pointedMoment() const { return m_pointed; }
    // The marks near row `row` of rows(): within half a sample interval of
    // it, or one pixel column when a column holds more; the texts of `shown`.
    History::NearMarks marksNearRow(int row, int shown) const;

    // Where the plot stands in a picture of `size`.
    static QRect plotRect(const QSize &size);
    // The moment under pixel column `x` of the widget.
    double momentAt(int x) const;
    // The row of rows() nearest to `moment`, −1 when there are none.
    int rowNearest(double moment) const;
    // How often what a paint draws was prepared: once per change, never per paint.
    int preparations() const { return m_preparations; }

    // Paints the whole chart into `painter` at `size`, as on screen; the PNG
    // export and the print use it at other sizes.
    void render(QPainter &painter, const QSize &size) const;

signals:
    // A zoom box was drawn from one moment to a later one.
    void zoomRequested(double from, double to);
    // The cursor stands at row `row` of rows(), −1 when there is none.
    void cursorMoved(int row);
    // A click placed marker 0 (A) or 1 (B).
    void markerPlaced(int which, double moment);
    // Left or right arrow: pan by a quarter of the span, towards −1 older or +1 newer.
    void panRequested(int direction);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    // Everything a paint at one size draws, in pixels of that size.
    struct Prepared {
        QSize size;
        History::ValueRange range; // in chart steps of 10^-finest
        int finest = 0;
        QVector<History::TimeTick> ticks;
        QVector<double> tickXs;
        QVector<double> gapXs; // where a run starts after a gap or a step back
        QVector<History::Trace> traces;
        std::vector<std::pair<double, double>> notLive;
        std::vector<std::pair<double, double>> notRecorded;
        std::vector<History::ColumnMark> marks;
    };

    Prepared prepare(const QSize &size) const;
    void draw(QPainter &painter, const Prepared &prepared) const;
    void changed();
    double momentAt(int x, const QSize &size) const;
    double xOf(double moment, const QRect &plot) const;

    QVector<RingRow> m_rows;
    QVector<RingRow> m_drawn; // m_rows in chart steps (History::chartRows)
    History::ShownScaling m_scaling;
    QVector<double> m_places;
    QVector<int> m_timeOrder; // indices of m_rows by place
    TimeAxis m_axis;
    RecordTable m_ring = RecordTable::PvData;
    double m_from = 0;
    double m_to = 0;
    std::array<bool, History::kCurveCount> m_shown{true, true, true, true, true};
    std::optional<History::ValueRange> m_range;
    History::ChartEvents m_events;
    std::array<std::optional<double>, 2> m_markers{};
    std::optional<int> m_cursorX;
    std::optional<double> m_pointed;
    std::optional<int> m_pressX;
    QRubberBand *m_band = nullptr;
    // What the widget's paints draw, prepared on the first paint after a change.
    mutable std::optional<Prepared> m_prepared;
    mutable int m_preparations = 0;
};
