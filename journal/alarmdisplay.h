#pragma once

#include <QFrame>
#include <QList>
#include <QPointer>

#include <optional>

class AlarmAnnunciator;
class QLabel;
class QToolButton;

// The status strip's alarm field: "未确认报警 N" flashing while alarms wait
// for acknowledgement (a click acknowledges them all), and the bell's toggle.
class AlarmField : public QFrame
{
    Q_OBJECT
public:
    explicit AlarmField(AlarmAnnunciator *annunciator, QWidget *parent = nullptr);

    // Puts the annunciator's count, flash phase and muting on screen.
    void refresh();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    AlarmAnnunciator *m_annunciator = nullptr;
    QLabel *m_count = nullptr;
    QToolButton *m_mute = nullptr;
    std::optional<bool> m_shownMuted; // what the bell's button shows
};

// A flashing frame over each unacknowledged alarm's box in the "ALM" panel,
// drawn as an overlay: the box's own text and colours stay as its owner set them.
class AlarmFrames : public QObject
{
    Q_OBJECT
public:
    // Frames over `boxes`, box i standing for alarm i (0..15).
    AlarmFrames(const QList<QWidget *> &boxes, AlarmAnnunciator *annunciator,
                QObject *parent = nullptr);

    // Shows each frame whose alarm is unacknowledged, in the bright flash phase.
    void refresh();
    // Whether `box` shows its alarm frame now (tests ask).
    static bool isFramed(const QWidget *box);

private:
    AlarmAnnunciator *m_annunciator = nullptr;
    QList<QPointer<QWidget>> m_frames;
};

// Puts flashing frames over the overview's status boxes D_2R(0..15) and
// returns the alarm field, not yet placed (the status strip places it).
AlarmField *attachAlarmDisplay(QWidget *overview, AlarmAnnunciator *annunciator);
