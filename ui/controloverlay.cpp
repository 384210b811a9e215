#include "controloverlay.h"

#include <QEvent>

ControlOverlay::ControlOverlay(QWidget *target, const QString &name) : QWidget(target)
{
    setObjectName(name);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setGeometry(target->rect());
    target->installEventFilter(this);
    hide();
}

bool ControlOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parent() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    return false;
}
