#pragma once

#include "tablefreshness.h"

#include <QFrame>
#include <QPointer>

#include <array>
#include <chrono>

class DetailsView;
class HealthMonitor;
class QLabel;
class QTimer;
class StaleMarker;
struct PollDelivery;

// The overview's status strip: the link state in words and colour, the port
// and its settings, the replies and requests while live, the reason and the
// age of the last good reply when not live, the recording state, the newest
// recorded row's time, and the historian's state when one is configured.
// A click (or kDetailsKey on the overview) opens the details view "通讯状态".
class StatusStrip : public QFrame
{
    Q_OBJECT
public:
    // The counters and the ages change with every poll; the strip shows them
    // at most this often, and a change of state at once.
    static constexpr std::chrono::milliseconds kRefreshInterval{1000};
    static constexpr int kHeightTwips = 375;
    static constexpr int kDetailsKey = Qt::Key_F10; // not one of the overview's keys

    // A strip showing `monitor`'s health, its texts refreshed every second
    // and at once on every change of state.
    explicit StatusStrip(HealthMonitor *monitor, QWidget *parent = nullptr);

    // The tables a poll reads, each shown by its own boxes.
    enum class Table { Values, InputsLow, InputsHigh, Relays };
    static constexpr int kTables = 4;

    // Marks `marker`'s controls stale whenever the link is not live or
    // `table` is not fresh (TableFreshness).
    void setStaleMarker(Table table, StaleMarker *marker);
    // The poller's report of a poll: which tables it read. Marks the boxes
    // of a table not read at once; the texts wait for the next refresh.
    void pollDelivered(const PollDelivery &delivery);
    // Puts `field` (the alarms' count and the bell's toggle) at its place in
    // the strip; clicks on it are its own.
    void addAlarmField(QWidget *field);
    // Puts `field` (the web view's address, or why it did not start) on a row
    // of its own below the others, the strip and its window growing by that
    // row: the first row has no room left beside the alarms' field.
    void addWebField(QWidget *field);
    // Puts the current health on screen.
    void refresh();
    // Shows the details view (created on first use) and brings it to the front.
    void showDetails();
    // The details view, nullptr before it was first shown.
    DetailsView *details() const;

protected:
    void mousePressEvent(QMouseEvent *event) override;

private:
    void markStale();

    HealthMonitor *m_monitor = nullptr;
    std::array<StaleMarker *, kTables> m_staleMarkers{};
    std::array<TableFreshness, kTables> m_freshness;
    QTimer *m_timer = nullptr;
    QLabel *m_state = nullptr;
    QLabel *m_detail = nullptr;
    QLabel *m_settings = nullptr;
    QLabel *m_recording = nullptr;
    QLabel *m_newest = nullptr;
    QLabel *m_historian = nullptr; // shown only while a historian is configured
    QPointer<DetailsView> m_details;
};

// Puts a status strip of `monitor` below everything in `overview`, the
// window growing by its height, marks the overview's value, status and relay
// boxes stale while the link is not live or the poller's reads of their table
// failed (the reports its owner hands to pollDelivered), and binds
// kDetailsKey to the details view.
StatusStrip *attachStatusStrip(HealthMonitor *monitor, QWidget *overview);
