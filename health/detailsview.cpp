#include "detailsview.h"

#include "clock.h"
#include "healthmonitor.h"
#include "healthtexts.h"
#include "unitdialog.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace
{
constexpr int kWidth = 760;
constexpr int kHeight = 520;
} // namespace

DetailsView::DetailsView(HealthMonitor *monitor, QWidget *parent)
    : QWidget(parent, Qt::Window), m_monitor(monitor), m_timer(new QTimer(this)),
      m_link(new QLabel(this)), m_counters(new QLabel(this)), m_recording(new QLabel(this)),
      m_events(new QListWidget(this)), m_reset(new QPushButton(QStringLiteral("计数清零"), this)),
      m_version(new QLabel(this))
{
    setObjectName(QStringLiteral("LinkDetails"));
    setWindowTitle(QStringLiteral("通讯状态"));
    resize(kWidth, kHeight);
    m_link->setObjectName(QStringLiteral("DetailLink"));
    m_counters->setObjectName(QStringLiteral("DetailCounters"));
    m_recording->setObjectName(QStringLiteral("DetailRecording"));
    m_events->setObjectName(QStringLiteral("DetailEvents"));
    m_reset->setObjectName(QStringLiteral("DetailReset"));
    m_version->setObjectName(QStringLiteral("DetailVersion"));
    // The version, so that a report of what the operator saw names the build.
    m_version->setText(
        QStringLiteral("程序版本 %1 %2")
            .arg(QCoreApplication::applicationName(), QCoreApplication::applicationVersion()));
    m_version->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel *label : {m_link, m_counters, m_recording})
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_link);
    layout->addWidget(m_counters);
    layout->addWidget(m_recording);
    layout->addWidget(m_events, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(m_version, 1);
    // The linear channels' units are named here, beside the link they are read over.
    auto *units = new QPushButton(QStringLiteral("单位名称…"), this);
    units->setObjectName(QStringLiteral("DetailUnits"));
    bottom->addWidget(units);
    connect(units, &QPushButton::clicked, this, [this] { openUnitDialog(this); });
    bottom->addWidget(m_reset);
    layout->addLayout(bottom);

    connect(m_reset, &QPushButton::clicked, this, [this] {
        m_monitor->link()->resetCounters();
        refresh();
    });
    m_timer->setInterval(kRefreshInterval);
    connect(m_timer, &QTimer::timeout, this, &DetailsView::refresh);
    connect(m_monitor, &HealthMonitor::changed, this, [this] {
        if (isVisible())
            refresh();
    });
}

void DetailsView::refresh()
{
    using namespace HealthTexts;
    const QDateTime now = SystemClock::now();
    const LinkHealth *link = m_monitor->link();
    QString linkText =
        linkStateText(link->state()) + QStringLiteral("  ") + linkSettingsText(link->settings());
    const QString detail =
        linkDetailText(link->state(), link->lastFailureChinese(), link->lastGoodExchange(), now);
    if (!detail.isEmpty())
        linkText += QStringLiteral("\n") + detail;
    const QString device = deviceText(link->settings().path);
    if (!device.isEmpty())
        linkText += QStringLiteral("\n") + device;
    m_link->setText(linkText);
    m_link->setToolTip(detail.isEmpty() ? QString() : link->lastFailure());
    m_counters->setText(countersText(link->counters()));

    const RecordingWatch *recording = m_monitor->recording();
    m_recording->setText(recording ? recordingText(recording->status(), recording->known(), now) +
                                         QStringLiteral("  ") + recording->status().path
                                   : recordingText({}, false, now));

    m_events->clear();
    for (const Event &event : m_monitor->recentEvents())
        m_events->addItem(eventLine(event));
}

void DetailsView::keyPressEvent(QKeyEvent *event)
{
    // Esc closes the view as it would a dialog; the tool runs on.
    if (event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QWidget::keyPressEvent(event);
}

void DetailsView::showEvent(QShowEvent *event)
{
    refresh();
    m_timer->start();
    QWidget::showEvent(event);
}

void DetailsView::hideEvent(QHideEvent *event)
{
    m_timer->stop();
    QWidget::hideEvent(event);
}
