#include "alarmdisplay.h"

#include "alarmannunciator.h"
#include "controlname.h"
#include "controloverlay.h"
#include "inputchanges.h"

#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QToolButton>

namespace
{

constexpr char kFrameName[] = "AlarmFrame";
const QColor kFrameColour(200, 0, 0);
constexpr int kFrameWidth = 3; // pixels, inside the box's edge
const QColor kFlashBackground(200, 0, 0);
const QColor kFlashText(Qt::white);
const QColor kSteadyText(200, 0, 0);

// The frame over one box. It stays shown and is lit or dark: showing and
// hiding a widget twice a second has the window system asked where the
// pointer is each time.
class AlarmFrame : public ControlOverlay
{
public:
    explicit AlarmFrame(QWidget *box) : ControlOverlay(box, QLatin1String(kFrameName)) { show(); }

    bool isLit() const { return m_lit; }
    void setLit(bool lit)
    {
        if (lit == m_lit)
            return;
        m_lit = lit;
        if (lit)
            raise(); // above a stale marking
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        if (!m_lit)
            return;
        // Only the edge: what the box shows inside stays as it is.
        QPainter painter(this);
        const QRect r = rect();
        painter.fillRect(QRect(0, 0, r.width(), kFrameWidth), kFrameColour);
        painter.fillRect(QRect(0, r.height() - kFrameWidth, r.width(), kFrameWidth), kFrameColour);
        painter.fillRect(QRect(0, 0, kFrameWidth, r.height()), kFrameColour);
        painter.fillRect(QRect(r.width() - kFrameWidth, 0, kFrameWidth, r.height()), kFrameColour);
    }

private:
    bool m_lit = false;
};

void setColours(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    widget->setPalette(palette);
}

} // namespace

AlarmField::AlarmField(AlarmAnnunciator *annunciator, QWidget *parent)
    : QFrame(parent), m_annunciator(annunciator), m_count(new QLabel(this)),
      m_mute(new QToolButton(this))
{
    setObjectName(QStringLiteral("StripAlarm"));
    setFrameStyle(QFrame::Panel | QFrame::Sunken);
    m_count->setObjectName(QStringLiteral("StripAlarmCount"));
    m_count->setAlignment(Qt::AlignCenter);
    m_count->setToolTip(QStringLiteral("F11 或点击: 确认报警"));
    m_mute->setObjectName(QStringLiteral("StripMute"));
    m_mute->setCheckable(true);
    m_mute->setAutoRaise(true);
    m_mute->setFocusPolicy(Qt::NoFocus);
    connect(m_mute, &QToolButton::toggled, annunciator, &AlarmAnnunciator::setMuted);
    connect(annunciator, &AlarmAnnunciator::changed, this, &AlarmField::refresh);
    refresh();
}

void AlarmField::refresh()
{
    const int count = m_annunciator->unacknowledgedCount();
    m_count->setText(count > 0 ? QStringLiteral("未确认报警 %1").arg(count) : QString());
    const bool bright = m_annunciator->flashOn();
    // The bright half fills the field; the other half shows the strip beneath.
    setAutoFillBackground(bright);
    setColours(this, kFlashBackground, bright ? kFlashText : kSteadyText);
    const bool muted = m_annunciator->isMuted();
    if (m_mute->isChecked() != muted) {
        const QSignalBlocker quiet(m_mute);
        m_mute->setChecked(muted);
    }
    // Refreshed with every poll: the icon is set (and the button repainted)
    // only when muting changed.
    if (m_shownMuted == muted)
        return;
    m_shownMuted = muted;
    m_mute->setIcon(
        style()->standardIcon(muted ? QStyle::SP_MediaVolumeMuted : QStyle::SP_MediaVolume));
    m_mute->setToolTip(muted ? QStringLiteral("取消静音") : QStringLiteral("静音"));
}

void AlarmField::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    const QRect inside = contentsRect();
    const int button = inside.height();
    m_mute->setGeometry(inside.right() + 1 - button, inside.top(), button, button);
    m_count->setGeometry(inside.left(), inside.top(), inside.width() - button, inside.height());
}

void AlarmField::mousePressEvent(QMouseEvent *event)
{
    // The field's own click: it acknowledges, and does not open the strip's details.
    m_annunciator->acknowledge();
    event->accept();
}

AlarmFrames::AlarmFrames(const QList<QWidget *> &boxes, AlarmAnnunciator *annunciator,
                         QObject *parent)
    : QObject(parent), m_annunciator(annunciator)
{
    for (QWidget *box : boxes)
        m_frames.append(box ? new AlarmFrame(box) : nullptr);
    connect(annunciator, &AlarmAnnunciator::changed, this, &AlarmFrames::refresh);
    refresh();
}

void AlarmFrames::refresh()
{
    const bool bright = m_annunciator->flashOn();
    for (int i = 0; i < m_frames.size(); ++i) {
        if (auto *frame = static_cast<AlarmFrame *>(m_frames[i].data()))
            frame->setLit(bright && m_annunciator->isUnacknowledged(i));
    }
}

bool AlarmFrames::isFramed(const QWidget *box)
{
    const auto *frame = dynamic_cast<const AlarmFrame *>(
        box->findChild<QWidget *>(QLatin1String(kFrameName), Qt::FindDirectChildrenOnly));
    return frame && frame->isLit();
}

AlarmField *attachAlarmDisplay(QWidget *overview, AlarmAnnunciator *annunciator)
{
    QList<QWidget *> boxes;
    for (int i = 0; i < Journal::kDiscreteInputs; ++i)
        boxes << overview->findChild<QWidget *>(controlName("D_2R", i));
    new AlarmFrames(boxes, annunciator, overview);
    return new AlarmField(annunciator);
}
