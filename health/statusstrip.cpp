#include "statusstrip.h"

#include "clock.h"
#include "controlname.h"
#include "detailsview.h"
#include "forwarder.h"
#include "healthmonitor.h"
#include "healthtexts.h"
#include "poller.h"
#include "stalemarker.h"
#include "twips.h"

#include <QLabel>
#include <QShortcut>
#include <QTimer>

namespace
{

constexpr int kValueBoxes = 5;   // D_3W(0..4)
constexpr int kStatusBoxes = 16; // D_2R(0..15)
constexpr int kRelayBoxes = 4;   // D_1R(0..3)

// Left edge and width of each field in twips, top and height shared.
struct Field {
    const char *name;
    int left;
    int width;
};
constexpr Field kStateField{"StripLink", 60, 1200};
constexpr Field kSettingsField{"StripSettings", 1320, 3900};
constexpr Field kDetailField{"StripDetail", 5280, 4560};
// With a historian configured, the right half of the detail field shows its state.
constexpr Field kHistorianField{"StripHistorian", 7620, 2220};
constexpr int kDetailBesideHistorianWidth = 2280;
constexpr Field kRecordingField{"StripRecording", 9900, 2565};
// The alarms' field (their count and the bell's toggle), after the recording's.
constexpr Field kAlarmField{"StripAlarm", 12525, 1500};
constexpr Field kNewestField{"StripNewest", 14085, 2790};
constexpr int kFieldTop = 30;
constexpr int kFieldHeight = 315;
// The web view's field: the strip's second row, as wide as the first.
constexpr Field kWebField{"StripWeb", kStateField.left,
                          kNewestField.left + kNewestField.width - kStateField.left};
constexpr int kWebRowTop = kFieldTop + kFieldHeight + kFieldTop;

QLabel *addField(QWidget *strip, const Field &field)
{
    auto *label = new QLabel(strip);
    label->setObjectName(QLatin1String(field.name));
    label->setGeometry(twipsRect(field.left, kFieldTop, field.width, kFieldHeight));
    label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    return label;
}

void setColours(QLabel *label, const QColor &background, const QColor &text)
{
    if (label->autoFillBackground() && label->palette().color(QPalette::Window) == background &&
        label->palette().color(QPalette::WindowText) == text)
        return;
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    label->setPalette(palette);
    label->setAutoFillBackground(true);
}

// Text that may not fit its field: all of it in the tool tip.
void setFieldText(QLabel *label, const QString &text)
{
    label->setText(text);
    label->setToolTip(text);
}

// The settings and the reason end with a device path, which may be long: cut
// short at the right, all of it in the tool tip.
void setElidedFieldText(QLabel *label, const QString &text)
{
    const int room = label->contentsRect().width() - 2 * label->margin();
    // The same text in a field as wide as before: nothing to measure again.
    static const char kRoom[] = "elidedRoom";
    if (label->toolTip() == text && label->property(kRoom).toInt() == room)
        return;
    label->setProperty(kRoom, room);
    label->setText(label->fontMetrics().elidedText(text, Qt::ElideRight, room));
    label->setToolTip(text);
}

} // namespace

StatusStrip::StatusStrip(HealthMonitor *monitor, QWidget *parent)
    : QFrame(parent), m_monitor(monitor), m_timer(new QTimer(this)),
      m_state(addField(this, kStateField)), m_detail(addField(this, kDetailField)),
      m_settings(addField(this, kSettingsField)), m_recording(addField(this, kRecordingField)),
      m_newest(addField(this, kNewestField)), m_historian(addField(this, kHistorianField))
{
    setObjectName(QStringLiteral("StatusStrip"));
    setCursor(Qt::PointingHandCursor);
    m_state->setAlignment(Qt::AlignCenter);
    QFont bold = m_state->font();
    bold.setBold(true);
    m_state->setFont(bold);
    m_timer->setObjectName(QStringLiteral("StripRefresh"));
    m_timer->setInterval(kRefreshInterval);
    connect(m_timer, &QTimer::timeout, this, &StatusStrip::refresh);
    connect(monitor, &HealthMonitor::changed, this, &StatusStrip::refresh);
    // A port opened anew shows what it has read since.
    connect(monitor->link(), &LinkHealth::stateChanged, this,
            [this](LinkState, LinkState to, const QString &) {
                if (to == LinkState::Opening)
                    m_freshness.fill(TableFreshness{});
            });
    m_timer->start();
    refresh();
}

void StatusStrip::setStaleMarker(Table table, StaleMarker *marker)
{
    m_staleMarkers[static_cast<int>(table)] = marker;
    refresh();
}

void StatusStrip::pollDelivered(const PollDelivery &delivery)
{
    m_freshness[static_cast<int>(Table::Values)].read(delivery.registers);
    m_freshness[static_cast<int>(Table::InputsLow)].read(delivery.inputsLow);
    m_freshness[static_cast<int>(Table::InputsHigh)].read(delivery.inputsHigh);
    m_freshness[static_cast<int>(Table::Relays)].read(delivery.coils);
    markStale();
}

void StatusStrip::markStale()
{
    const LinkState state = m_monitor->link()->state();
    for (int i = 0; i < kTables; ++i)
        if (m_staleMarkers[i])
            m_staleMarkers[i]->setStale(state != LinkState::Live || !m_freshness[i].fresh());
}

void StatusStrip::refresh()
{
    using namespace HealthTexts;
    const QDateTime now = SystemClock::now();
    const LinkHealth *link = m_monitor->link();
    const LinkState state = link->state();
    setFieldText(m_state, linkStateText(state));
    setColours(m_state, linkStateColour(state), Qt::white);
    setElidedFieldText(
        m_settings, state == LinkState::NotOpened ? QString() : linkSettingsText(link->settings()));
    setElidedFieldText(m_detail, state == LinkState::Live
                                     ? liveCountsText(link->counters())
                                     : linkDetailText(state, link->lastFailureChinese(),
                                                      link->lastGoodExchange(), now));
    // The reason in the system's own words as well, for a technician's search.
    if (state != LinkState::Live && !link->lastFailure().isEmpty())
        m_detail->setToolTip(m_detail->toolTip() + QLatin1Char('\n') + link->lastFailure());

    const RecordingWatch *recording = m_monitor->recording();
    const RecordingStatus status = recording ? recording->status() : RecordingStatus{};
    const bool known = recording && recording->known();
    setFieldText(m_recording, recordingText(status, known, now));
    m_recording->setToolTip(status.path);
    setColours(m_recording, palette().color(QPalette::Window), recordingColour(status, known));
    setFieldText(m_newest, newestRowText(status.newestRow));

    const Historian *historian = m_monitor->historian();
    const HistorianStatus forwarding = historian ? historian->status() : HistorianStatus{};
    const bool shown = forwarding.state != HistorianStatus::State::Off;
    m_historian->setVisible(shown);
    m_detail->setGeometry(twipsRect(kDetailField.left, kFieldTop,
                                    shown ? kDetailBesideHistorianWidth : kDetailField.width,
                                    kFieldHeight));
    setFieldText(m_historian, historianText(forwarding));
    setColours(m_historian, palette().color(QPalette::Window), historianColour(forwarding));
    markStale();
}

void StatusStrip::addAlarmField(QWidget *field)
{
    field->setParent(this);
    field->setGeometry(twipsRect(kAlarmField.left, kFieldTop, kAlarmField.width, kFieldHeight));
    field->show();
}

void StatusStrip::addWebField(QWidget *field)
{
    const int grown = twipsToPixels(kWebRowTop + kFieldHeight + kFieldTop) - height();
    field->setParent(this);
    field->setGeometry(twipsRect(kWebField.left, kWebRowTop, kWebField.width, kFieldHeight));
    field->show();
    if (grown <= 0)
        return;
    resize(width(), height() + grown);
    // The overview keeps a fixed size: it grows by the row, as it grew by the strip.
    if (QWidget *overview = parentWidget())
        overview->setFixedSize(overview->width(), overview->height() + grown);
}

void StatusStrip::showDetails()
{
    if (!m_details)
        m_details = new DetailsView(m_monitor, window());
    m_details->show();
    m_details->raise();
    m_details->activateWindow();
}

DetailsView *StatusStrip::details() const
{
    return m_details;
}

void StatusStrip::mousePressEvent(QMouseEvent *event)
{
    showDetails();
    QFrame::mousePressEvent(event);
}

StatusStrip *attachStatusStrip(HealthMonitor *monitor, QWidget *overview)
{
    const QSize designed = overview->size();
    const int height = twipsToPixels(StatusStrip::kHeightTwips);
    auto *strip = new StatusStrip(monitor, overview);
    strip->setGeometry(0, designed.height(), designed.width(), height);
    overview->setFixedSize(designed.width(), designed.height() + height);

    // D_2R(i) shows discrete input i + 1: the first eight come with one slot of
    // the read, the other eight with the other.
    auto markBoxes = [&](StatusStrip::Table table, const char *name, int first, int count) {
        QList<QWidget *> boxes;
        for (int i = first; i < first + count; ++i)
            boxes << overview->findChild<QWidget *>(controlName(name, i));
        strip->setStaleMarker(table, new StaleMarker(boxes, strip));
    };
    markBoxes(StatusStrip::Table::Values, "D_3W", 0, kValueBoxes);
    markBoxes(StatusStrip::Table::InputsLow, "D_2R", 0, kStatusBoxes / 2);
    markBoxes(StatusStrip::Table::InputsHigh, "D_2R", kStatusBoxes / 2, kStatusBoxes / 2);
    markBoxes(StatusStrip::Table::Relays, "D_1R", 0, kRelayBoxes);

    auto *key = new QShortcut(QKeySequence(StatusStrip::kDetailsKey), overview);
    QObject::connect(key, &QShortcut::activated, strip, &StatusStrip::showDetails);
    strip->refresh();
    return strip;
}
