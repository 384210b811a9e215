#pragma once

#include "tablefreshness.h"

#include <QObject>

class HealthMonitor;
class QLabel;
class QWidget;
class StaleMarker;

// The configuration window's share of the link's health: the link state in
// words and colour at the foot of the window, and the read-back labels marked
// stale while the link is not live or their read cycles are not fresh
// (TableFreshness: before the first good cycle, when they show what no
// instrument said, and after two failed cycles in a row, an instrument that
// answers with exceptions included).
class ConfigHealth : public QObject
{
    Q_OBJECT
public:
    // Adds the state to `configWindow` and marks its read-back labels D_4W(..).
    ConfigHealth(HealthMonitor *monitor, QWidget *configWindow);

    // The read cycle just ended: both blocks read (`ok`) or not.
    void readCycleDone(bool ok);
    // Puts the link state and the marking on screen.
    void refresh();

private:
    HealthMonitor *m_monitor = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_detail = nullptr;
    StaleMarker *m_marker = nullptr;
    TableFreshness m_readBack;
};

// Attaches the link's health, as `monitor` follows it, to the configuration window.
ConfigHealth *attachConfigHealth(HealthMonitor *monitor, QWidget *configWindow);
// Tells the configuration window's health whether its last read cycle read
// everything; harmless for a window without one.
void noteReadCycle(QWidget *configWindow, bool ok);
