#pragma once

#include "store.h"
#include "trendchart.h"

#include <QWidget>

#include <array>
#include <chrono>

class ChartSurface;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QTimer;

// The operator's main window ssqx: the link settings and the buttons that open
// and close the link, the live values and the alarm and relay panel, the trend
// chart with its scale labels, slider and function buttons, the Y-axis range
// editor, "CONFIG" and "退出".
//
// Lifetime: constructing the window is its load (lists filled, database
// connection opened, close guard set, timers running). The close box is refused
// and changes nothing; "退出" or Esc, from whichever control has the focus, is
// the only way out, and it ends the process.
class OverviewWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDisplayInterval{200}; // Timer1
    static constexpr std::chrono::milliseconds kChartInterval{1000};  // Timer2
    static constexpr std::chrono::milliseconds kClockInterval{1000};  // Timer3
    static constexpr std::chrono::milliseconds kPanelInterval{200};   // the boxes' refresh

    explicit OverviewWindow(QWidget *parent = nullptr);
    ~OverviewWindow() override;

    // The chart's actions, run by their buttons and by the key map.
    void zoomIn();          // Command3, F2
    void zoomOut();         // Command4, F1
    void stepTowardsLive(); // Command7, F6
    void stepBack();        // Command8, F7
    void toggleRuler();     // Command5, F4
    // "修改Y" (Command26): the range in YKD and YKD1 into ChartLow, ChartHigh and
    // ChartSpan when accepted; the scale labels and curves follow at their next tick.
    void applyRangeEntry();

    // "打开" (Command9): the settings from the lists into CommSettings, the port
    // opened, "CONFIG" enabled and the poller started, whether or not it opened.
    void openLink();
    // "关闭" (Command10): the port of the last opening closed, the poller
    // stopped, "CONFIG" disabled.
    void closeLink();
    // "事件记录" and F9: the journal view shown and raised; the overview stays.
    void showJournal();
    // "CONFIG" (Command21): the overview hidden, the configuration window shown;
    // its return shows the overview again. The overview's timers keep running.
    void showConfiguration();
    // "退出" (Command1) and Esc: the database connection closed, the close guard
    // cleared, the window unloaded, the link's port released, the process ended.
    void exitTool();

    // The value, status and relay boxes from the shared tables; in ruler mode the
    // value boxes are left to the ruler's read-outs.
    void refreshChannelDisplay();

    // True from load until the exit path; the close box is refused while it holds.
    bool closeGuard() const { return m_closeGuard; }
    // The window's own connection to the recording database.
    const RecordingStore &store() const { return m_store; }
    // The trend buffer, its view and navigation state.
    const TrendChart &chart() const { return m_chart; }
    // Where the live chart learns the quality of the row just recorded.
    void setSampleQuality(TrendChart::SampleQuality source)
    {
        m_chart.setSampleQuality(std::move(source));
    }

    // Timer1: the 200 ms scale labels and chart sampling, stopped while the
    // window is not live.
    QTimer *displayTimer() const { return m_timer1; }
    // The 200 ms refresh of the value, status and relay boxes, from load to end.
    QTimer *panelTimer() const { return m_panelTimer; }
    // Timer2: the chart redrawn every second.
    QTimer *chartTimer() const { return m_timer2; }
    // Timer3: the date and time read-out every second.
    QTimer *clockTimer() const { return m_timer3; }
    // pt: the surface the trend chart is drawn on.
    ChartSurface *chartSurface() const { return m_pt; }
    // Line1: the ruler cursor on top of the chart.
    QFrame *rulerLine() const { return m_line1; }

signals:
    // "历史曲线" (Command29) or F8: the operator asks for the history window.
    void historyRequested();
    // "F3 打印" (Command2) or F3: the operator asks for a print of the chart.
    void printRequested();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void buildLinkControls();
    void buildValueStrip();
    void buildStatusPanel();
    void buildFunctionButtons();
    void buildChart();
    void buildScalePanel();
    void buildAxisLabels();
    void buildRangeEditor();
    void buildExitButtons();

    void load();
    void onDisplayTick();
    void onPanelTick();
    // Timer1 runs, or stops and the panel's own tick takes its place.
    void setLiveTicks(bool running);
    void restoreReadoutColours();
    void showScaleLabels();
    void showRangeEditor();
    bool runKey(int key, bool inList);
    bool isInsideWindow(const QObject *object) const;

    // Does to the controls what a chart action asks, field by field in order.
    void apply(const ChartUpdate &update);
    void placeRulerLine(const RulerLine &line);
    void onSliderChanged(int x);
    // The connection for a chart action, closed and reopened first as the
    // recorder's is when it no longer serves the file at the database path.
    const RecordingStore &currentStore();

    RecordingStore m_store{QStringLiteral("overview")};
    bool m_closeGuard = false;
    TrendChart m_chart;

    QTimer *m_timer1 = nullptr;
    QTimer *m_timer2 = nullptr;
    QTimer *m_timer3 = nullptr;
    QTimer *m_panelTimer = nullptr;

    QComboBox *m_combo1 = nullptr;
    QComboBox *m_combo2 = nullptr;
    std::array<QRadioButton *, 3> m_option1{};
    std::array<QRadioButton *, 3> m_option2{};
    QPushButton *m_command9 = nullptr;
    QPushButton *m_command10 = nullptr;
    std::array<QLabel *, 2> m_readouts{}; // Label2(9), Label2(10)

    std::array<QLabel *, 5> m_valueBoxes{};   // D_3W(0..4)
    std::array<QLabel *, 16> m_statusBoxes{}; // D_2R(0..15)
    std::array<QLabel *, 4> m_relayBoxes{};   // D_1R(0..3)

    QPushButton *m_command4 = nullptr;  // F1 缩小
    QPushButton *m_command3 = nullptr;  // F2 放大
    QPushButton *m_command2 = nullptr;  // F3 打印
    QPushButton *m_command5 = nullptr;  // F4 标尺
    QPushButton *m_command6 = nullptr;  // F5 选择
    QPushButton *m_command7 = nullptr;  // F6 左移
    QPushButton *m_command8 = nullptr;  // F7 右移
    QPushButton *m_command29 = nullptr; // 历史曲线

    QPushButton *m_journalButton = nullptr; // 事件记录

    QFrame *m_pt0 = nullptr;
    ChartSurface *m_pt = nullptr;
    QFrame *m_line1 = nullptr;
    QLabel *m_rulerEvents = nullptr; // the events under the ruler
    QSlider *m_hc = nullptr;

    std::array<QLabel *, 7> m_scaleLabels{}; // Label5(0..6), 0 at the bottom
    std::array<QLabel *, 9> m_timeLabels{};  // Label4(0..8)
    std::array<QLabel *, 9> m_dateLabels{};  // Label7(0..8)

    QLabel *m_label9 = nullptr;  // Y轴最大值
    QLabel *m_label10 = nullptr; // Y轴最小值
    QLineEdit *m_ykd = nullptr;
    QLineEdit *m_ykd1 = nullptr;
    QPushButton *m_command26 = nullptr;

    QPushButton *m_command21 = nullptr; // CONFIG
    QPushButton *m_command1 = nullptr;  // 退出
};

// The overview's single instance, created and loaded on first use.
OverviewWindow *ssqx();
