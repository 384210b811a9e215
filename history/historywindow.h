#pragma once

#include "chartdocument.h"
#include "csvexport.h"
#include "historyaxis.h"
#include "instants.h"
#include "rangereading.h"
#include "ringquery.h"
#include "stationsource.h"

#include <QDateTime>
#include <QSize>
#include <QVector>
#include <QWidget>

#include <array>
#include <functional>
#include <optional>
#include <utility>

class HistoryChart;
class QCheckBox;
class FittedLabel;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;

// What the history window reads: the recording database, and the historian
// that the operator may choose instead, with the station read first.
struct HistorySettings {
    QString databasePath;
    QString historianUrl; // empty: no historian to choose
    QString station;
};

// The history window "历史曲线": any recorded range of either ring as a chart,
// beside the overview, which keeps running, recording and polling underneath.
// The operator picks from and to (or a quick choice), the window picks the
// ring; a drag zooms in, "后退" backs out one step, the arrow keys pan; the
// cursor reads the five values, two markers give differences. It exports the
// range as CSV and the charts as PNG, and prints. It only reads the database,
// or, chosen in the window, a station's rows on the central historian.
class HistoryWindow : public QWidget
{
    Q_OBJECT
public:
    // The cursor read-out names this many of the events near the cursor, then "+N".
    static constexpr int kReadoutMarks = 3;
    // Quick choices: the last 10 min, 1 h, 8 h, 24 h, 7 days.
    static constexpr std::array<int, 5> kQuickSeconds = {600, 3600, 8 * 3600, 86400, 7 * 86400};

    // A window over `settings`' recording database, picturing `overview`'s
    // chart too when one is given; a local print's title names the port and
    // address as `linkLists` (Combo1, Combo2) show them before any "打开".
    explicit HistoryWindow(const HistorySettings &settings, Print::PrintableChart overview = {},
                           const QWidget *linkLists = nullptr, QWidget *parent = nullptr);
    ~HistoryWindow() override;

    // Shows the range from .. to (local date-times) and remembers the one shown
    // before for "后退"; false (the chart as it was) when from is after to.
    bool showRange(const QDateTime &from, const QDateTime &to);
    // The last `seconds` up to now.
    void showLast(int seconds);
    // Back to the range shown before the last zoom or pan.
    void backOut();
    // Moves the range by a quarter of its span, older (−1) or newer (+1).
    void pan(int direction);
    // Whether a range asked for is still being read; the chart shows the
    // range before it meanwhile.
    bool isReading() const;

    // Where the rows come from: the local recording database, or a station of
    // the historian of the settings, read off the window's thread.
    enum class Source { Local, Historian };
    // Switches the source (the historian only when one is configured) and the
    // station read from it, and shows the range again from there.
    void setSource(Source source, const QString &station = {});
    Source source() const { return m_source; }
    // The historian's address with ?station=, as the reader takes it.
    QString stationSource() const;

    // The ring of the range shown.
    RecordTable ring() const { return m_ring; }
    // The chart.
    HistoryChart *chart() const { return m_chart; }

    // Writes the marker range when both markers are set, else the range shown,
    // as CSV to `path`, with a progress dialog that can cancel.
    History::RangeExport exportCsvTo(const QString &path);
    // The history chart's document (as printed) at `scale` times the chart's
    // on-screen size as PNG.
    bool saveHistoryPicture(const QString &path, int scale);
    // The overview chart's document at `scale` times the chart's on-screen size as PNG.
    bool saveOverviewPicture(const QString &path, int scale);
    // Prints the history chart on `printer`: a landscape page filled by its
    // title (station or port and address, the range), the legend of the curves
    // shown, the chart and its axes.
    bool printTo(QPrinter &printer);
    // What a print or picture of the history chart says beside the curves.
    Print::ChartDocument document() const;

signals:
    // The chart shows a range read from the source: the newest asked for.
    void rangeShown(double from, double to);

private:
    void buildControls();
    void load(const QDateTime &from, const QDateTime &to);
    bool openReader();
    void loadFromHistorian(const TimeAxis &axis, double from, double to);
    void showStationRange(int request, const std::optional<History::StationRange> &range,
                          const QString &error, RecordTable ring, const TimeAxis &axis, double from,
                          double to);
    void showLocalRange(const History::LocalRange &range);
    void applyRange(const QDateTime &from, const QDateTime &to);
    void zoomTo(double from, double to);
    void showCursor(int row);
    void placeMarker(int which, double moment);
    void showMarkers();
    void askCsv();
    void askPng(bool overview, int scale);
    std::array<bool, History::kCurveCount> shownCurves() const;
    Print::ChartPainter chartPainter() const;
    // Each curve's name with its units over the rows shown ("CH1 (°C)").
    std::array<QString, History::kCurveCount> curveTitles() const;
    // The check boxes and the axis title after the rows or the curves shown changed.
    void showUnits();

    Print::PrintableChart m_overview; // another window's chart pictured too ("总览曲线")
    const QWidget *m_linkLists = nullptr;
    QString m_databasePath;
    RingReader m_reader{QStringLiteral("history-window")}; // the exports' reads
    History::RangeReading *m_reading = nullptr;            // the chart's reads, off this thread
    RecordTable m_ring = RecordTable::PvData;
    // The range asked for last, as instants, even while it is still being
    // read (a second pan goes on from the first, and "后退" returns to it),
    // and the ranges to back out to.
    QDateTime m_shownFrom;
    QDateTime m_shownTo;
    QVector<std::pair<QDateTime, QDateTime>> m_steps;
    Source m_source = Source::Local;
    QString m_historianUrl;   // empty: no historian to choose
    int m_stationRequest = 0; // the newest reading of the historian; older answers are dropped
    int m_stationAnswered = 0;

    QDateTimeEdit *m_fromEdit = nullptr;
    QDateTimeEdit *m_toEdit = nullptr;
    FittedLabel *m_ringLabel = nullptr;
    std::array<QCheckBox *, History::kCurveCount> m_curveBoxes{};
    QComboBox *m_rangeChoice = nullptr;
    QComboBox *m_sourceChoice = nullptr;
    QLineEdit *m_stationEdit = nullptr;
    QPushButton *m_backButton = nullptr;
    QPushButton *m_unitsButton = nullptr;
    FittedLabel *m_axisTitle = nullptr;
    HistoryChart *m_chart = nullptr;
    FittedLabel *m_cursorReadout = nullptr;
    FittedLabel *m_markerReadout = nullptr;
};
