#pragma once

#include <QObject>

#include <chrono>
#include <functional>

class EventJournal;
class QTimer;

// Makes unacknowledged alarms demand attention until the operator
// acknowledges them: a flash phase at 1 Hz for the strip's alarm field and the
// panel's frames, and the desktop's bell every few seconds unless silenced.
// Only shows and sounds: the instrument and its alarm outputs are never touched.
class AlarmAnnunciator : public QObject
{
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kFlashInterval{500}; // on and off: 1 Hz
    static constexpr std::chrono::seconds kBellInterval{3};

    // Follows `journal`'s alarms; acknowledgements and muting are journaled there.
    explicit AlarmAnnunciator(EventJournal *journal, QObject *parent = nullptr);

    // How many alarms are unacknowledged (on, or gone off since).
    int unacknowledgedCount() const;
    // Whether alarm `index` (0..15) is unacknowledged.
    bool isUnacknowledged(int index) const;
    // The flash phase: true in the bright half of each second while any alarm
    // is unacknowledged, false otherwise.
    bool flashOn() const { return m_flashOn; }
    bool isMuted() const { return m_muted; }
    // Whether the bell is due to sound (unacknowledged alarms, not muted).
    bool isSounding() const;

    // Acknowledges every unacknowledged alarm (F11, or a click on the alarm
    // field); nothing happens when none is.
    void acknowledge();
    // Silences the bell or lets it sound again; each change is journaled.
    void setMuted(bool muted);
    // What sounds the bell (the desktop's beep by default; tests count).
    void setBell(std::function<void()> bell) { m_bell = std::move(bell); }

signals:
    // The alarms, the flash phase or the muting changed.
    void changed();

private:
    void follow();
    void ring();

    EventJournal *m_journal = nullptr;
    QTimer *m_flashTimer = nullptr;
    QTimer *m_bellTimer = nullptr;
    bool m_flashOn = false;
    bool m_muted = false;
    int m_lastCount = 0;
    std::function<void()> m_bell;
};

// The tool's annunciator over eventJournal(), created on first use.
AlarmAnnunciator *alarmAnnunciator();
