#pragma once

#include "events.h"
#include "forwarder.h"
#include "linkhealth.h"
#include "linkspans.h"
#include "recordingstate.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>
#include <vector>

class Recorder;

// Brings the link's and the recorder's health together for the windows:
// writes every change of either to the events table (queued while the
// database cannot take it), keeps the spans in which the link was not live,
// and answers the strip and the details view.
class HealthMonitor : public QObject
{
    Q_OBJECT
public:
    // Events the details view lists.
    static constexpr int kRecentEvents = 200;
    // Spans kept for the chart; the oldest go first.
    static constexpr int kSpanLimit = 2000;
    // How far back the spans of earlier runs are read from the events table,
    // and how long a span is kept after it ended: the pv_data ring the chart
    // shows holds about 18 hours.
    static constexpr qint64 kStoredSpanHours = 24;

    // Follows `link` from now on; its events wait in memory until the
    // recorder's database is known, then go to that database's shared log
    // (sharedEventLog). With an `address`, the link's state is that
    // instrument's (LinkHealth::addressState): one of several instruments on
    // the line keeps its own answering state, events and spans.
    explicit HealthMonitor(LinkHealth *link, QObject *parent = nullptr,
                           std::optional<qint32> address = std::nullopt);
    ~HealthMonitor() override;

    // Follows the recorder's ticks too; its database receives the events.
    void watchRecorder(Recorder *recorder);
    // Follows the forwarder's state (the strip shows it) and writes the events
    // it wrote to the server (lost spans, duplicates) to the events table too.
    void watchHistorian(Historian *historian);

    // The link's health the monitor follows.
    LinkHealth *link() const { return m_link; }
    // The state followed: the link's, or the instrument's at the address given.
    LinkState linkState() const;
    // The recording state; nullptr before watchRecorder().
    const RecordingWatch *recording() const { return m_recording.get(); }
    // The historian followed; nullptr before watchHistorian().
    const Historian *historian() const { return m_historian.data(); }
    // The events table (the journal of later changes appends to the same log).
    EventLog &events() { return *m_events; }
    // Journals what became of a scaling read of the instrument (a read refused,
    // timed out or out of range, the last known scaling kept); the details view lists it.
    void noteScaling(const QString &detail);
    // The newest link, recording, historian and scaling events, newest first: stored ones after
    // those still waiting for the database.
    std::vector<Event> recentEvents(int count = kRecentEvents) const;
    // The spans in which the link was not live, oldest first: those of earlier
    // runs as the events table tells them (once it is open), then those since
    // the monitor started.
    const std::vector<NotLiveSpan> &notLiveSpans() const { return m_spans; }

signals:
    // The link, the recording or the historian changed state.
    void changed();

private:
    void onLinkChanged(LinkState from, LinkState to, const QString &reason);
    void onRecordingChanged(const RecordingStatus &status);
    void append(const Event &event);
    void loadStoredSpans();

    LinkHealth *m_link = nullptr;
    std::optional<qint32> m_address;
    std::unique_ptr<RecordingWatch> m_recording;
    QPointer<Historian> m_historian;
    std::shared_ptr<EventLog> m_events = sharedEventLog();
    std::vector<NotLiveSpan> m_spans;
    QDateTime m_started;
    bool m_storedSpansLoaded = false;
    bool m_wasRecording = false;
    bool m_recordingKnown = false;
};

// The health monitor of the tool: created for `link` (the link's health the
// tool's windows share) on the first call, the same monitor on every later one.
HealthMonitor *toolHealthMonitor(LinkHealth *link);
