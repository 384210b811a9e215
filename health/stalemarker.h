#pragma once

#include <QList>
#include <QObject>
#include <QPointer>
#include <QWidget>

// Marks controls as showing values that are not current: a wash of grey and
// a hatch drawn over each, which greys its text and dims its background while
// the control itself (text, colours) stays exactly as its owner set it.
class StaleMarker : public QObject
{
    Q_OBJECT
public:
    // Marks `targets` (none of them stale yet).
    explicit StaleMarker(const QList<QWidget *> &targets, QObject *parent = nullptr);

    // Shows or hides the marking on every target.
    void setStale(bool stale);

    // Whether `target` carries a visible stale marking (tests and other windows ask).
    static bool isMarked(const QWidget *target);

private:
    QList<QPointer<QWidget>> m_overlays;
    bool m_stale = false;
};
