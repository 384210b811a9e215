#pragma once

#include "chartgeometry.h"
#include "chartmarks.h"

#include <QColor>
#include <QDateTime>
#include <QPointF>
#include <QSqlDatabase>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <vector>

class ChartSurface;
class RecordingStore;

// The ruler cursor Line1 on top of the chart, in chart units.
struct RulerLine {
    QColor colour;
    int width = 2;
    QPointF from;
    QPointF to;

    bool operator==(const RulerLine &o) const
    {
        return colour == o.colour && width == o.width && from == o.from && to == o.to;
    }
};

// The date and time read-out Label2(9) and Label2(10).
struct Readout {
    QString date;
    QString time;
    // true: the background becomes RGB(255,255,0), the ruler's look; false leaves
    // the background to the 200 ms tick, which restores it while the ruler is off.
    bool highlighted = false;
    // The events marked within the sample under the ruler; empty otherwise.
    QString events;
};

// Which control takes the focus.
enum class ChartFocus { Slider, RulerButton };

// What the overview must do to its controls after a chart action. An unset field
// leaves its control as it is. Apply the fields in the order they are declared:
// setting the slider's value runs its change handler, as any change does.
struct ChartUpdate {
    std::optional<int> sliderValue;     // hc value
    std::optional<RulerLine> rulerLine; // Line1
    std::optional<bool> sliderEnabled;  // hc
    std::optional<ChartFocus> focus;
    std::optional<bool> zoomInEnabled;           // Command3 "F2 放大"
    std::optional<bool> zoomOutEnabled;          // Command4 "F1 缩小"
    std::optional<bool> towardsLiveEnabled;      // Command7 "F6 左移"
    std::optional<bool> stepBackEnabled;         // Command8 "F7 右移"
    std::optional<int> sliderStep;               // hc single and page step
    std::optional<bool> liveTimerRunning;        // Timer1: start (true) or stop (false)
    std::optional<QString> rulerCaption;         // Command5
    std::optional<Chart::AxisLabels> axisLabels; // Label4(0..8), Label7(0..8)
    std::optional<Readout> readout;              // Label2(9), Label2(10)
    std::optional<std::array<QString, Chart::kDrawnValues>>
        values; // D_3W(0..4) texts, RGB(255,255,0)

    // Takes every field that `later` sets, as if both updates ran one after the other.
    void merge(const ChartUpdate &later);
    // True when no field is set.
    bool isEmpty() const;
};

/*
 * The trend chart of the overview: the trend buffer, the view state and the
 * actions that change them. It draws onto an attached ChartSurface and tells the
 * window, through a ChartUpdate, what to do to the controls it owns.
 *
 * States of the window shown:
 *
 *     Live --F7--> Shifted --F6 down to 0--> Live
 *       |  <----- ruler off (ShiftCount kept) ---- Ruler
 *       +--F4--> Ruler <--F4-- Shifted
 *     Live with ShiftCount kept --F6 above 0--> Shifted
 *
 * Live: 241 records ending at NewestPvId, Timer1 samples (takeLiveSample); only
 * a live window turns its page. Shifted: 321 records ending ShiftCount × 60 ids
 * before NewestPvId (stepBack, stepTowardsLive), Timer1 stopped. Ruler: Timer1
 * stopped, the slider reads values (rulerOn, sliderChanged); rulerOff returns
 * to a live window.
 */
class TrendChart
{
public:
    static constexpr int kMaxZoomLevel = 4;
    static constexpr int kShiftStep = 60;       // records per F6/F7 step
    static constexpr int kPageTurnPerZoom = 20; // the page turns at ZoomLevel × 20 + 241
    static constexpr int kSliderLeftEnd = -1;
    static constexpr int kSliderRightEnd = 12001;
    static constexpr int kRulerBottom = 7500;

    TrendChart() = default;

    // The surface RedrawChart draws on; nullptr draws nothing (labels are still computed).
    void attachSurface(ChartSurface *surface) { m_surface = surface; }
    // Strokes drawn behind the curves on every redraw, after the grid (the
    // band where the link was not live); an empty function draws none.
    using Underlay =
        std::function<QVector<Stroke>(const Chart::TrendBuffer &, const Chart::TrendView &)>;
    void setUnderlay(Underlay underlay) { m_underlay = std::move(underlay); }
    // The events between two moments (day serials) that RedrawChart marks along the top edge.
    using MarkSource = std::function<std::vector<Chart::Mark>(double from, double to)>;
    void setMarkSource(MarkSource source) { m_markSource = std::move(source); }
    // The quality of the row the recorder wrote last (as a code), for the
    // live sample taken from it; without it a live sample is always drawn.
    using SampleQuality = std::function<std::optional<qint16>()>;
    void setSampleQuality(SampleQuality source) { m_sampleQuality = std::move(source); }

    // The overview's load: start values, the live window from the database, the first redraw.
    ChartUpdate load(const RecordingStore &store);

    // ClearTrendBuffer: every date, time and value of the buffer back to 0, and
    // every position empty.
    void clearTrendBuffer();
    // LoadTrendWindow: WindowLength records ending at WindowEndId into positions 1..n, with gap
    // marks; fewer records fill the newest positions and leave the others empty.
    Readout loadTrendWindow(const QSqlDatabase &db);
    // ReloadLive: rereads NewestPvId and loads the live window of 241 records ending there.
    Readout reloadLive(const RecordingStore &store);
    // RedrawChart: clear, DrawGrid, ApplyZoom, DrawTrend; returns the axis label texts.
    Chart::AxisLabels redraw();
    // RedrawChart as Timer2 runs it every second.
    ChartUpdate redrawChart();

    // Timer1's chart step: when PvRecorded, a live sample at the next position (turning the page
    // first).
    ChartUpdate takeLiveSample(const RecordingStore &store);

    // Command3 / F2: one zoom level in (towards 1).
    ChartUpdate zoomIn();
    // Command4 / F1: one zoom level out (towards 4).
    ChartUpdate zoomOut();
    // Command8 / F7: the window one step of 60 records back, or, at the oldest, F7 disabled.
    ChartUpdate stepBack(const RecordingStore &store);
    // Command7 / F6: the window one step towards live; at ShiftCount 0 the live window again.
    ChartUpdate stepTowardsLive(const RecordingStore &store);
    // Command5 / F4: ruler on when off, off when on.
    ChartUpdate toggleRuler(const RecordingStore &store);
    // The ruler on: slider enabled, live sampling stopped.
    ChartUpdate rulerOn();
    // The ruler off: slider disabled, back to a live window with sampling running.
    ChartUpdate rulerOff(const RecordingStore &store);
    // hc's change handler: pages at its ends, moves Line1 and reads the sample under it.
    ChartUpdate sliderChanged(const RecordingStore &store, int x);
    // Timer3: the clock read-out while the ruler is off.
    ChartUpdate clockTick(const QDateTime &now) const;

    // The key map's conditions: F2, F1, F6 and F7 act only while these hold.
    bool canZoomIn() const { return m_zoomLevel > 1; }
    bool canZoomOut() const { return m_zoomLevel < kMaxZoomLevel; }
    bool canStepTowardsLive() const { return m_shiftCount > 0; }
    bool canStepBack() const { return !m_atOldest; }
    // True while the window is a live one (241 records ending at NewestPvId).
    bool isLive() const { return m_windowLength == Chart::kLiveLength; }

    // The trend buffer and the view and navigation state, read-only, under their own names.
    const Chart::TrendBuffer &buffer() const { return m_buffer; }
    Chart::TrendView view() const;
    int zoomLevel() const { return m_zoomLevel; }
    float sampleStep() const { return m_sampleStep; }
    int windowOffset() const { return m_windowOffset; }
    int writePosition() const { return m_writePosition; }
    qint32 windowLength() const { return m_windowLength; }
    qint32 windowEndId() const { return m_windowEndId; }
    qint32 windowStartId() const { return m_windowStartId; }
    int shiftCount() const { return m_shiftCount; }
    bool atOldest() const { return m_atOldest; }
    bool rulerIsOn() const { return m_rulerOn; }
    qint32 newestPvId() const { return m_newestPvId; }

private:
    Readout readoutAt(int position) const;
    std::vector<Chart::Mark> shownMarks() const;
    ChartUpdate changeZoom(int delta);
    // The window ShiftCount steps of 60 records before NewestPvId, loaded and drawn.
    ChartUpdate loadShiftedWindow(const RecordingStore &store);
    ChartUpdate returnToLive(const RecordingStore &store);

    ChartSurface *m_surface = nullptr;
    Underlay m_underlay;
    MarkSource m_markSource;
    SampleQuality m_sampleQuality;
    Chart::TrendBuffer m_buffer;

    int m_zoomLevel = 1;
    float m_sampleStep = 0;
    int m_windowOffset = 0;
    int m_writePosition = Chart::kLivePosition;
    qint32 m_windowLength = Chart::kLiveLength;
    qint32 m_windowEndId = 0;
    qint32 m_windowStartId = 0;
    int m_shiftCount = 0;
    bool m_atOldest = false;
    bool m_rulerOn = false;
    qint32 m_newestPvId = 0;
};
