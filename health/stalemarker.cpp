#include "stalemarker.h"

#include "controloverlay.h"

#include <QPainter>

namespace
{

constexpr char kOverlayName[] = "StaleMark";
const QColor kWash(235, 235, 235, 170); // greys the text and dims the colour beneath
const QColor kHatch(120, 120, 120, 110);

// The marking over one control.
class StaleOverlay : public ControlOverlay
{
public:
    explicit StaleOverlay(QWidget *target) : ControlOverlay(target, QLatin1String(kOverlayName)) {}

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), kWash);
        painter.fillRect(rect(), QBrush(kHatch, Qt::BDiagPattern));
    }
};

} // namespace

StaleMarker::StaleMarker(const QList<QWidget *> &targets, QObject *parent) : QObject(parent)
{
    for (QWidget *target : targets)
        if (target)
            m_overlays.append(new StaleOverlay(target));
}

void StaleMarker::setStale(bool stale)
{
    // Called on every refresh of the strip: only a change touches the overlays.
    if (stale == m_stale)
        return;
    m_stale = stale;
    for (const QPointer<QWidget> &overlay : m_overlays) {
        if (!overlay)
            continue;
        overlay->setVisible(stale);
        if (stale)
            overlay->raise();
    }
}

bool StaleMarker::isMarked(const QWidget *target)
{
    const auto *overlay =
        target->findChild<QWidget *>(QLatin1String(kOverlayName), Qt::FindDirectChildrenOnly);
    return overlay && !overlay->isHidden();
}
