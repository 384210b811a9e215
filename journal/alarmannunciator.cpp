#include "alarmannunciator.h"

#include "alarmack.h"
#include "clock.h"
#include "journal.h"

#include <QApplication>
#include <QTimer>

AlarmAnnunciator::AlarmAnnunciator(EventJournal *journal, QObject *parent)
    : QObject(parent), m_journal(journal), m_flashTimer(new QTimer(this)),
      m_bellTimer(new QTimer(this)), m_bell([] { QApplication::beep(); })
{
    m_flashTimer->setObjectName(QStringLiteral("AlarmFlashTimer"));
    m_flashTimer->setInterval(kFlashInterval);
    connect(m_flashTimer, &QTimer::timeout, this, [this] {
        m_flashOn = !m_flashOn;
        emit changed();
    });
    m_bellTimer->setObjectName(QStringLiteral("AlarmBellTimer"));
    m_bellTimer->setInterval(kBellInterval);
    connect(m_bellTimer, &QTimer::timeout, this, &AlarmAnnunciator::ring);
    connect(journal, &EventJournal::alarmsChanged, this, &AlarmAnnunciator::follow);
    follow();
}

int AlarmAnnunciator::unacknowledgedCount() const
{
    return m_journal->alarms().unacknowledgedCount();
}

bool AlarmAnnunciator::isUnacknowledged(int index) const
{
    return m_journal->alarms().isUnacknowledged(index);
}

bool AlarmAnnunciator::isSounding() const
{
    return !m_muted && unacknowledgedCount() > 0;
}

void AlarmAnnunciator::acknowledge()
{
    m_journal->acknowledgeAlarms();
}

void AlarmAnnunciator::setMuted(bool muted)
{
    if (muted == m_muted)
        return;
    m_muted = muted;
    m_journal->record(Journal::muteEvent(muted, SystemClock::now()));
    follow();
}

void AlarmAnnunciator::follow()
{
    const int count = unacknowledgedCount();
    if (count == 0) {
        m_flashTimer->stop();
        m_flashOn = false;
    } else if (!m_flashTimer->isActive()) {
        m_flashOn = true;
        m_flashTimer->start();
    }
    // A new alarm rings at once; then every kBellInterval while any waits.
    if (!isSounding()) {
        m_bellTimer->stop();
    } else if (count > m_lastCount || !m_bellTimer->isActive()) {
        ring();
        m_bellTimer->start();
    }
    m_lastCount = count;
    emit changed();
}

void AlarmAnnunciator::ring()
{
    // Without a sound device the beep is simply not heard: nothing to report.
    if (m_bell)
        m_bell();
}

AlarmAnnunciator *alarmAnnunciator()
{
    static AlarmAnnunciator *instance = new AlarmAnnunciator(eventJournal());
    return instance;
}
