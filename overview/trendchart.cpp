#include "trendchart.h"

#include "chartsurface.h"
#include "clock.h"
#include "daytime.h"
#include "history.h"
#include "numbers.h"
#include "rowquality.h"
#include "shared.h"
#include "store.h"

#include <cmath>
#include <limits>

namespace
{

// A row of a lost or unopened port: recorded, but nothing was read (the rule
// the history window breaks its lines by). Unknown quality is drawn, as ever.
bool holdsNoValues(std::optional<qint16> quality)
{
    return quality && !rowQualityHoldsValues(static_cast<RowQuality>(*quality));
}

const QString kRulerOnCaption = QStringLiteral("F4 复原");
const QString kRulerOffCaption = QStringLiteral("F4 标尺");

// Line1: a short yellow mark when the ruler comes on, a short green one when it
// goes off, and the full-height purple cursor where the slider stands.
constexpr int kRulerMarkLength = 330;
const RulerLine kRulerOnMark{QColor(255, 255, 0), 2, QPointF(1, 0), QPointF(1, kRulerMarkLength)};
const RulerLine kRulerOffMark{QColor(0, 255, 0), 2, QPointF(0, 0), QPointF(0, kRulerMarkLength)};
const QColor kCursorColour(192, 0, 192);

// Live samples take the recorded values 0..5 (channels, retransmission, one more).
constexpr int kLiveSampleValues = 6;

template <typename T> void takeIfSet(std::optional<T> &into, const std::optional<T> &from)
{
    if (from)
        into = from;
}

} // namespace

void ChartUpdate::merge(const ChartUpdate &later)
{
    takeIfSet(sliderValue, later.sliderValue);
    takeIfSet(rulerLine, later.rulerLine);
    takeIfSet(sliderEnabled, later.sliderEnabled);
    takeIfSet(focus, later.focus);
    takeIfSet(zoomInEnabled, later.zoomInEnabled);
    takeIfSet(zoomOutEnabled, later.zoomOutEnabled);
    takeIfSet(towardsLiveEnabled, later.towardsLiveEnabled);
    takeIfSet(stepBackEnabled, later.stepBackEnabled);
    takeIfSet(sliderStep, later.sliderStep);
    takeIfSet(liveTimerRunning, later.liveTimerRunning);
    takeIfSet(rulerCaption, later.rulerCaption);
    takeIfSet(axisLabels, later.axisLabels);
    takeIfSet(readout, later.readout);
    takeIfSet(values, later.values);
}

bool ChartUpdate::isEmpty() const
{
    return !sliderValue && !rulerLine && !sliderEnabled && !focus && !zoomInEnabled &&
           !zoomOutEnabled && !towardsLiveEnabled && !stepBackEnabled && !sliderStep &&
           !liveTimerRunning && !rulerCaption && !axisLabels && !readout && !values;
}

Chart::TrendView TrendChart::view() const
{
    Chart::TrendView v;
    v.zoomLevel = m_zoomLevel;
    v.sampleStep = m_sampleStep;
    v.windowOffset = m_windowOffset;
    v.writePosition = m_writePosition;
    v.windowLength = m_windowLength;
    return v;
}

ChartUpdate TrendChart::load(const RecordingStore &store)
{
    m_atOldest = false;
    m_shiftCount = 0;
    m_zoomLevel = 1;
    m_rulerOn = false;
    m_buffer.gapMarks.fill(0);

    ChartUpdate update;
    update.sliderValue = 0;
    update.sliderEnabled = false;
    update.zoomInEnabled = false;
    update.zoomOutEnabled = true;
    update.towardsLiveEnabled = false;
    update.stepBackEnabled = true;
    update.readout = reloadLive(store);
    update.axisLabels = redraw();
    // So that each arrow or page key moves the ruler by one sample from the start.
    update.sliderStep = Chart::sliderStep(m_sampleStep);
    return update;
}

void TrendChart::clearTrendBuffer()
{
    for (auto &row : m_buffer.values)
        row.fill(0);
    m_buffer.times.fill(0);
    m_buffer.dates.fill(0);
    m_buffer.empty.fill(true);
    m_buffer.noValues.fill(false);
}

Readout TrendChart::readoutAt(int position) const
{
    Readout readout;
    if (Chart::isPosition(position) && !m_buffer.empty[position]) {
        readout.date = chartDateText(m_buffer.dates[position]);
        readout.time = chartTimeText(m_buffer.times[position]);
    }
    return readout;
}

Readout TrendChart::loadTrendWindow(const QSqlDatabase &db)
{
    clearTrendBuffer();
    m_buffer.gapMarks.fill(0);
    m_windowStartId = pvWindowRange(m_windowEndId, m_windowLength).startId;

    const int last = std::min<qint32>(m_windowLength, Chart::kShiftedLength);
    // Fewer records than the window asks for (a young database) fill its newest
    // positions, so that the live curve goes on from them.
    int first = last + 1;
    if (const auto records = readPvWindow(db, m_windowEndId, m_windowLength)) {
        const int filled = std::min<int>(records->size(), last);
        first = last - filled + 1;
        for (int i = 0; i < filled; ++i) {
            const PvRecord &record = records->at(i);
            const int j = first + i;
            m_buffer.dates[j] = record.date;
            m_buffer.times[j] = record.time;
            for (int k = 0; k < int(record.values.size()); ++k)
                m_buffer.values[k][j] = record.values[k];
            m_buffer.empty[j] = false;
            m_buffer.noValues[j] = holdsNoValues(record.quality);
        }
    }
    // Position 0 is never loaded; before a full window the curves start from it
    // at 0, as they always have.
    if (first == 1)
        m_buffer.empty[0] = false;
    // Full date and time, so that midnight between two records is no gap. The
    // first record has no loaded neighbour before it.
    for (int j = 2; j <= last; ++j) {
        if (m_buffer.empty[j] || m_buffer.empty[j - 1])
            continue;
        const double now = m_buffer.dates[j] + m_buffer.times[j];
        const double before = m_buffer.dates[j - 1] + m_buffer.times[j - 1];
        if (std::fabs(now - before) > Chart::kGapDays)
            m_buffer.gapMarks[j] = qint16(j);
    }
    return readoutAt(m_windowOffset + 1);
}

Readout TrendChart::reloadLive(const RecordingStore &store)
{
    if (const auto counters = store.readCounters())
        m_newestPvId = counters->newestPv;
    m_windowLength = Chart::kLiveLength;
    m_windowEndId = m_newestPvId;
    m_writePosition = Chart::kLivePosition;
    return loadTrendWindow(store.database());
}

Chart::AxisLabels TrendChart::redraw()
{
    Chart::applyZoom(m_zoomLevel, m_sampleStep, m_windowOffset);
    Chart::TrendDrawing drawing = Chart::drawTrend(m_buffer, view(), ChartSpan, ChartLow);
    ChartOffset = drawing.chartOffset;
    if (m_surface) {
        m_surface->clear();
        m_surface->setBackground(Chart::gridBackground());
        m_surface->addLines(Chart::gridStrokes());
        if (m_underlay)
            m_surface->addLines(m_underlay(m_buffer, view()));
        m_surface->addLines(drawing.strokes);
        m_surface->addLines(Chart::markStrokes(m_buffer, view(), shownMarks()));
    }
    return drawing.labels;
}

std::vector<Chart::Mark> TrendChart::shownMarks() const
{
    double first = 0;
    double last = 0;
    if (!m_markSource || !Chart::viewSpan(m_buffer, view(), first, last))
        return {};
    return m_markSource(first, last);
}

ChartUpdate TrendChart::redrawChart()
{
    ChartUpdate update;
    update.axisLabels = redraw();
    return update;
}

ChartUpdate TrendChart::takeLiveSample(const RecordingStore &store)
{
    ChartUpdate update;
    // Only a live window grows and turns its page: a shifted one stays on screen
    // until F6 returns to live or the ruler is used, and PvRecorded stays raised
    // for the first live tick after that.
    if (!PvRecorded || !isLive())
        return update;
    if (m_writePosition < std::numeric_limits<qint16>::max())
        ++m_writePosition;
    // At or past the page end: a zoom-in can lower it below the newest sample,
    // and the samples after it must not run off the buffer unstored.
    if (m_writePosition >= m_zoomLevel * kPageTurnPerZoom + Chart::kLivePosition) {
        update.readout = reloadLive(store);
    }
    if (Chart::isPosition(m_writePosition)) {
        for (int k = 0; k < kLiveSampleValues; ++k)
            m_buffer.values[k][m_writePosition] = ProcessValues[k];
        const QDateTime now = SystemClock::now();
        m_buffer.dates[m_writePosition] = daySerial(now.date());
        m_buffer.times[m_writePosition] = dayFraction(now.time());
        m_buffer.empty[m_writePosition] = false;
        m_buffer.noValues[m_writePosition] = m_sampleQuality && holdsNoValues(m_sampleQuality());
    }
    PvRecorded = false;
    update.axisLabels = redraw();
    return update;
}

ChartUpdate TrendChart::changeZoom(int delta)
{
    ChartUpdate update;
    m_zoomLevel += delta;
    update.axisLabels = redraw();
    update.zoomInEnabled = canZoomIn();
    update.zoomOutEnabled = canZoomOut();
    update.sliderStep = Chart::sliderStep(m_sampleStep);
    return update;
}

ChartUpdate TrendChart::zoomIn()
{
    return canZoomIn() ? changeZoom(-1) : ChartUpdate{};
}

ChartUpdate TrendChart::zoomOut()
{
    return canZoomOut() ? changeZoom(+1) : ChartUpdate{};
}

ChartUpdate TrendChart::loadShiftedWindow(const RecordingStore &store)
{
    // Steps count round the ring of 65500 ids from the newest record of the
    // moment live viewing ended; at exactly NewestPvId the end stays as it was.
    const qint32 s = kShiftStep * m_shiftCount;
    if (m_newestPvId != s)
        m_windowEndId = ringIdBefore(m_newestPvId, s);
    m_windowLength = Chart::kShiftedLength;
    m_writePosition = Chart::kShiftedPosition;

    ChartUpdate update;
    update.readout = loadTrendWindow(store.database());
    update.axisLabels = redraw();
    return update;
}

ChartUpdate TrendChart::stepBack(const RecordingStore &store)
{
    // Refused before anything changes: a window reaching back before record 1
    // only disables F7, and a live window stays live.
    const qint32 s = kShiftStep * (m_shiftCount + 1);
    if (m_newestPvId > s && m_newestPvId - s <= Chart::kShiftedLength) {
        m_atOldest = true;
        ChartUpdate refused;
        refused.stepBackEnabled = false;
        return refused;
    }
    ++m_shiftCount;
    ChartUpdate update = loadShiftedWindow(store);
    update.liveTimerRunning = false;
    update.towardsLiveEnabled = true;
    return update;
}

ChartUpdate TrendChart::returnToLive(const RecordingStore &store)
{
    ChartUpdate update;
    update.readout = reloadLive(store);
    update.axisLabels = redraw();
    update.liveTimerRunning = true;
    // The database has grown since F7 was refused: stepping back may work again.
    m_atOldest = false;
    update.stepBackEnabled = true;
    return update;
}

ChartUpdate TrendChart::stepTowardsLive(const RecordingStore &store)
{
    if (!canStepTowardsLive())
        return {};
    --m_shiftCount;
    if (m_shiftCount == 0) {
        ChartUpdate update = returnToLive(store);
        update.towardsLiveEnabled = false;
        return update;
    }
    ChartUpdate update = loadShiftedWindow(store);
    // After the ruler left a live window with ShiftCount kept, Timer1 runs: the
    // shifted window takes no samples.
    update.liveTimerRunning = false;
    m_atOldest = false;
    update.stepBackEnabled = true;
    return update;
}

ChartUpdate TrendChart::toggleRuler(const RecordingStore &store)
{
    return m_rulerOn ? rulerOff(store) : rulerOn();
}

ChartUpdate TrendChart::rulerOn()
{
    ChartUpdate update;
    update.sliderValue = 0;
    update.rulerLine = kRulerOnMark;
    update.sliderEnabled = true;
    m_rulerOn = true;
    update.focus = ChartFocus::Slider;
    update.liveTimerRunning = false;
    update.rulerCaption = kRulerOnCaption;
    return update;
}

ChartUpdate TrendChart::rulerOff(const RecordingStore &store)
{
    ChartUpdate update;
    update.sliderValue = 0;
    update.rulerLine = kRulerOffMark;
    m_rulerOn = false;
    update.sliderEnabled = false;
    update.focus = ChartFocus::RulerButton;
    update.rulerCaption = kRulerOffCaption;
    // ShiftCount and F6 stay: F6's next press loads ShiftCount − 1 steps back.
    update.merge(returnToLive(store));
    return update;
}

ChartUpdate TrendChart::sliderChanged(const RecordingStore &store, int x)
{
    ChartUpdate update;
    if (x == kSliderLeftEnd && !m_atOldest)
        update.merge(stepBack(store));
    else if (x == kSliderRightEnd && m_shiftCount > 0)
        update.merge(stepTowardsLive(store));

    update.rulerLine = RulerLine{kCursorColour, 2, QPointF(x, 0), QPointF(x, kRulerBottom)};

    if (m_sampleStep == 0)
        return update; // no zoom applied yet: there is no sample under the cursor
    // The curve vertex nearest to x: vertex i lies at x = i × SampleStep.
    const double vertex = roundHalfEven(double(x) / double(m_sampleStep));
    const int p = int(vertex) + m_windowOffset;
    if (!Chart::isPosition(p))
        return update;
    Readout readout = readoutAt(p);
    readout.highlighted = true;
    readout.events =
        Chart::marksAtSample(m_buffer, view(), shownMarks(), p).join(QStringLiteral("  "));
    update.readout = readout;
    // Over a position without a record, or a record of a port lost or not
    // open, the read-outs are blank: no zeros that were never measured.
    std::array<QString, Chart::kDrawnValues> values;
    for (int k = 0; k < Chart::kDrawnValues && !m_buffer.empty[p] && !m_buffer.noValues[p]; ++k)
        values[k] = singleText(m_buffer.values[k][p]);
    update.values = values;
    return update;
}

ChartUpdate TrendChart::clockTick(const QDateTime &now) const
{
    ChartUpdate update;
    if (m_rulerOn)
        return update;
    update.readout = Readout{clockDateText(now), clockTimeText(now), false, {}};
    return update;
}
