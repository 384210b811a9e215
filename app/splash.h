#pragma once

#include <QStringList>
#include <QWidget>

#include <chrono>
#include <functional>

class QTimer;

// The splash window frmSplash: "系统正在初始化数据引擎，请稍后。。。。。。" for
// seven 200 ms ticks (Timer2), then one 100 ms tick (Timer1) that unloads it and
// hands over: the overview ssqx shown (its load opens its database connection),
// then the poller Met1 and the recorder mscom created hidden, in that order.
// Keys do nothing here, and the window manager cannot close it.
class SplashWindow : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kTickInterval{200};     // Timer2
    static constexpr std::chrono::milliseconds kHandOverInterval{100}; // Timer1
    // Timer2 hands over on the tick that takes its counter past this.
    static constexpr qint16 kTicksShown = 6;

    // The load: ChartSpan set to its start value, Timer2 started.
    explicit SplashWindow(QWidget *parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void onTimer2();
    void onTimer1();

    QTimer *m_timer2 = nullptr;
    QTimer *m_timer1 = nullptr;
    qint16 m_ticks = 0;
    bool m_unloading = false;
};

// The splash's single instance, created and loaded on first use.
SplashWindow *frmSplash();

// Starts the tool: Qt's own texts in Chinese, the splash shown, the rest
// follows from its timers. The process then ends only through the overview's
// exit path. `afterHandOver` runs once the overview is shown and the rest is created.
void startTool(std::function<void()> afterHandOver = {});

// The hand-over's steps as they ran, in order: "frmSplash", "ssqx", "Met1", "mscom".
const QStringList &handOverSteps();
