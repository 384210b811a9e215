#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

// Puts a window of fixed size in the middle of the primary screen, as the
// windows stand at start.
inline void centreOnScreen(QWidget *window)
{
    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        QRect frame = window->rect();
        frame.moveCenter(screen->availableGeometry().center());
        window->move(frame.topLeft());
    }
}
