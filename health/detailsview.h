#pragma once

#include <QWidget>

#include <chrono>

class HealthMonitor;
class QLabel;
class QListWidget;
class QPushButton;
class QTimer;

// "通讯状态": the link's counters and reply times, the link state, the device
// the link keeps to (and the node it leads to now), the recording state with
// the database path, the last 200 link and recording
// events newest first, and "计数清零" to reset the counters.
class DetailsView : public QWidget
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kRefreshInterval{1000};

    // A window of `monitor`'s details, refreshed every second while shown.
    explicit DetailsView(HealthMonitor *monitor, QWidget *parent = nullptr);

    // Puts the current counters, states and events on screen.
    void refresh();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    HealthMonitor *m_monitor = nullptr;
    QTimer *m_timer = nullptr;
    QLabel *m_link = nullptr;
    QLabel *m_counters = nullptr;
    QLabel *m_recording = nullptr;
    QListWidget *m_events = nullptr;
    QPushButton *m_reset = nullptr;
    QLabel *m_version = nullptr;
};
