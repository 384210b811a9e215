#include "healthmonitor.h"

#include "clock.h"
#include "forwarder.h"
#include "healthtexts.h"
#include "recorder.h"

HealthMonitor::HealthMonitor(LinkHealth *link, QObject *parent, std::optional<qint32> address)
    : QObject(parent), m_link(link), m_address(address), m_started(SystemClock::now())
{
    if (!linkLive(linkState()))
        m_spans.push_back({m_started, std::nullopt});
    if (!address) {
        connect(link, &LinkHealth::stateChanged, this, &HealthMonitor::onLinkChanged);
        return;
    }
    connect(link, &LinkHealth::addressStateChanged, this,
            [this](qint32 address, LinkState from, LinkState to, const QString &reason) {
                if (address == *m_address)
                    onLinkChanged(from, to, reason);
            });
}

LinkState HealthMonitor::linkState() const
{
    return m_address ? m_link->addressState(*m_address) : m_link->state();
}

HealthMonitor::~HealthMonitor() = default;

void HealthMonitor::watchRecorder(Recorder *recorder)
{
    m_recording = std::make_unique<RecordingWatch>(recorder);
    connect(m_recording.get(), &RecordingWatch::stateChanged, this,
            &HealthMonitor::onRecordingChanged);
}

void HealthMonitor::watchHistorian(Historian *historian)
{
    m_historian = historian;
    connect(historian, &Historian::statusChanged, this, &HealthMonitor::changed);
    connect(historian, &Historian::eventWritten, this,
            [this](const QString &station, const ServerEvent &event) {
                append(localHistorianEvent(station, event));
            });
}

void HealthMonitor::onLinkChanged(LinkState, LinkState to, const QString &reason)
{
    // The events table holds the reason as the operator reads it in the journal.
    const QString chinese = reason.isEmpty() ? QString() : m_link->lastFailureChinese();
    const QDateTime now = SystemClock::now();
    const bool spanOpen = !m_spans.empty() && !m_spans.back().to;
    if (linkLive(to) && spanOpen)
        m_spans.back().to = now;
    else if (!linkLive(to) && !spanOpen)
        m_spans.push_back({now, std::nullopt});
    // Spans the chart can no longer show go as they age, so that a long run
    // keeps a day of them, not all it has seen.
    dropSpansEndedBefore(m_spans, now.addSecs(-kStoredSpanHours * 3600));
    if (static_cast<int>(m_spans.size()) > kSpanLimit)
        m_spans.erase(m_spans.begin());
    append(Event{now, EventKind::Link, HealthTexts::linkEventSource(m_link->settings()),
                 HealthTexts::linkEventDetail(to, chinese),
                 QLatin1String(linkStateWords(to).code)});
    emit changed();
}

void HealthMonitor::onRecordingChanged(const RecordingStatus &status)
{
    const bool resumed = status.recording && m_recordingKnown && !m_wasRecording;
    m_wasRecording = status.recording;
    m_recordingKnown = true;
    // The events go into the database the recorder writes, once it works.
    if (status.recording && (!m_events->isOpen() || m_events->path() != status.path)) {
        moveEventLog(m_events, status.path);
        if (!m_events->isOpen())
            m_events->open(status.path);
    }
    if (m_events->isOpen() && !m_storedSpansLoaded)
        loadStoredSpans();
    append(Event{SystemClock::now(), EventKind::Recording, status.path,
                 HealthTexts::recordingEventDetail(status, resumed)});
    emit changed();
}

void HealthMonitor::append(const Event &event)
{
    m_events->appendEvent(event);
}

// The link events of earlier runs give their spans. A run that ended while
// not live leaves its span open until the next event, of whatever run.
void HealthMonitor::loadStoredSpans()
{
    m_storedSpansLoaded = true;
    const QDateTime since = m_started.addSecs(-kStoredSpanHours * 3600);
    const std::vector<NotLiveSpan> stored =
        notLiveSpansOf(m_events->eventsBetween(since, m_started), since, m_started);
    m_spans.insert(m_spans.begin(), stored.begin(), stored.end());
    if (static_cast<int>(m_spans.size()) > kSpanLimit)
        m_spans.erase(m_spans.begin(), m_spans.end() - kSpanLimit);
}

void HealthMonitor::noteScaling(const QString &detail)
{
    append(Event{SystemClock::now(), EventKind::Scaling,
                 HealthTexts::linkEventSource(m_link->settings()), detail});
    emit changed();
}

std::vector<Event> HealthMonitor::recentEvents(int count) const
{
    std::vector<Event> events;
    const std::deque<Event> &waiting = m_events->pending();
    for (auto it = waiting.rbegin(); it != waiting.rend() && int(events.size()) < count; ++it)
        events.push_back(*it);
    // Only the kinds this view lists, so that a chattering alarm in the same
    // table never pushes the link's and the recording's events out.
    const int stored = count - int(events.size());
    if (stored > 0) {
        const std::vector<Event> newest = m_events->newestEventsOf(
            {EventKind::Link, EventKind::Recording, EventKind::Historian, EventKind::Scaling},
            stored);
        events.insert(events.end(), newest.begin(), newest.end());
    }
    return events;
}

HealthMonitor *toolHealthMonitor(LinkHealth *link)
{
    static HealthMonitor *const instance = new HealthMonitor(link);
    Q_ASSERT(instance->link() == link);
    return instance;
}
