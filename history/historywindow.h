#pragma once

#include "chartprint.h"
#include "csvexport.h"
#include "historyaxis.h"
#include "rangereading.h"
#include "ringquery.h"
#include "stationsource.h"

#include <QDateTime>
#include <QVector>
#include <QWidget>

#include <array>
#include <optional>
#include <utility>

class HistoryChart;
class OverviewWindow;
class QCheckBox;
class FittedLabel;
class QComboBox;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QPrinter;
class QPushButton;

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

    // A window over the recording database at `databasePath`, printing and
    // picturing `overview`'s chart too when one is given.
    explicit HistoryWindow(OverviewWindow *overview, const QString &databasePath,
                           QWidget *parent = nullptr);
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
    // the historian ($ZELMAR_HISTORIAN), read off the window's thread.
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
    History::ChartDocument document() const;

signals:
    // The chart shows a range read from the source: the newest asked for.
    void rangeShown(double from, double to);

private:
    void buildControls();
    void load(double from, double to);
    bool openReader();
    void loadFromHistorian(double from, double to);
    void showStationRange(int request, const std::optional<History::StationRange> &range,
                          const QString &error, RecordTable ring, double from, double to);
    void showLocalRange(const History::LocalRange &range);
    void applyRange(double from, double to);
    void showCursor(int row);
    void placeMarker(int which, double moment);
    void showMarkers();
    void askCsv();
    void askPng(bool overview, int scale);
    std::array<bool, History::kCurveCount> shownCurves() const;
    History::ChartPainter chartPainter() const;

    OverviewWindow *m_overview = nullptr;
    QString m_databasePath;
    RingReader m_reader{QStringLiteral("history-window")}; // the exports' reads
    History::RangeReading *m_reading = nullptr;            // the chart's reads, off this thread
    RecordTable m_ring = RecordTable::PvData;
    std::pair<double, double> m_asked{0, 0};    // the newest range asked for, shown or read
    QVector<std::pair<double, double>> m_steps; // ranges to back out to
    Source m_source = Source::Local;
    QString m_historianUrl;   // $ZELMAR_HISTORIAN; empty: no historian to choose
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
    HistoryChart *m_chart = nullptr;
    FittedLabel *m_cursorReadout = nullptr;
    FittedLabel *m_markerReadout = nullptr;
};

// What a print or picture of the overview's chart says: its title (port,
// address, the range it shows), the legend of all five curves, the axes.
History::ChartDocument overviewDocument(const OverviewWindow *overview);
// Draws the overview's chart into a document.
History::ChartPainter overviewChartPainter(const OverviewWindow *overview);
// Prints the overview's chart as a document filling a landscape page.
bool printOverview(OverviewWindow *overview, QPrinter &printer);

// Serves the overview's "历史曲线" (F8) with the history window and its
// "F3 打印" (F3) with a print of its chart.
void attachHistory(OverviewWindow *overview);
