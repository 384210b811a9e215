#include "confighealth.h"

#include "clock.h"
#include "healthmonitor.h"
#include "healthtexts.h"
#include "stalemarker.h"
#include "twips.h"

#include <QLabel>
#include <QRegularExpression>

namespace
{
// Below the pictures, left of " Esc 返回".
constexpr int kStateLeft = 150, kTop = 8910, kHeight = 375;
constexpr int kStateWidth = 1200;
constexpr int kDetailLeft = 1410, kDetailWidth = 11340;
} // namespace

ConfigHealth::ConfigHealth(HealthMonitor *monitor, QWidget *configWindow)
    : QObject(configWindow), m_monitor(monitor), m_state(new QLabel(configWindow)),
      m_detail(new QLabel(configWindow))
{
    setObjectName(QStringLiteral("ConfigHealth"));
    m_state->setObjectName(QStringLiteral("ConfigLinkState"));
    m_state->setGeometry(twipsRect(kStateLeft, kTop, kStateWidth, kHeight));
    m_state->setAlignment(Qt::AlignCenter);
    m_state->setAutoFillBackground(true);
    m_detail->setObjectName(QStringLiteral("ConfigLinkDetail"));
    m_detail->setGeometry(twipsRect(kDetailLeft, kTop, kDetailWidth, kHeight));
    const QList<QWidget *> labels = configWindow->findChildren<QWidget *>(
        QRegularExpression(QStringLiteral("^D_4W\\(\\d+\\)$")));
    m_marker = new StaleMarker(labels, this);
    connect(monitor, &HealthMonitor::changed, this, &ConfigHealth::refresh);
    // A port opened anew shows what it has read since.
    connect(monitor->link(), &LinkHealth::stateChanged, this,
            [this](LinkState, LinkState to, const QString &) {
                if (to == LinkState::Opening)
                    m_readBack.reset();
            });
    refresh();
}

void ConfigHealth::readCycleDone(bool ok)
{
    m_readBack.read(ok);
    refresh();
}

void ConfigHealth::refresh()
{
    using namespace HealthTexts;
    const LinkHealth *link = m_monitor->link();
    const LinkState state = link->state();
    m_state->setText(linkStateText(state));
    QPalette palette = m_state->palette();
    palette.setColor(QPalette::Window, linkStateColour(state));
    palette.setColor(QPalette::WindowText, Qt::white);
    m_state->setPalette(palette);
    const QString detail =
        linkDetailText(state, link->lastFailure(), link->lastGoodExchange(), SystemClock::now());
    m_detail->setText(state == LinkState::NotOpened
                          ? QString()
                          : linkSettingsText(link->settings()) + QStringLiteral("  ") + detail);
    m_marker->setStale(staleReading(state, m_readBack));
}

ConfigHealth *attachConfigHealth(HealthMonitor *monitor, QWidget *configWindow)
{
    return new ConfigHealth(monitor, configWindow);
}

void noteReadCycle(QWidget *configWindow, bool ok)
{
    if (auto *health = configWindow->findChild<ConfigHealth *>(QStringLiteral("ConfigHealth"),
                                                               Qt::FindDirectChildrenOnly))
        health->readCycleDone(ok);
}
