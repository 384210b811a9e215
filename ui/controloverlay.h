#pragma once

#include <QWidget>

// A layer drawn over a control: it covers the control and follows its size,
// lets every click through to it, and paints nothing of its own background,
// so the control's text and colours stay exactly as its owner set them.
// Subclasses paint what the layer shows; it starts hidden.
class ControlOverlay : public QWidget
{
public:
    // A layer over `target` named `name` (its objectName), hidden.
    ControlOverlay(QWidget *target, const QString &name);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
};
