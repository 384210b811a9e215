#pragma once

#include <QWidget>
#include <QtGlobal>

class QKeyEvent;

// Keys act in the window they are addressed to. The X11 platform hands every
// key to the window that has the focus, also a key the window system sent to
// another window (`xdotool key --window ID Escape`): unrouted, an Esc sent to
// the details view reached the overview, whose Esc ends the tool. The router
// notes which window each key event of the window system named, and sends a
// key that arrives in another of the tool's windows on to the one it named:
// its shortcuts first (as a typed key's), then its focused control.
namespace KeyRouting
{

// Routes keys from now on: a native event filter notes the addressed window,
// an application-wide event filter sends keys on. Installed again, it moves in
// front of the application's other event filters (the overview's key preview
// must not see a key meant for another window).
void install();

// The window system addressed the key event with native scan code `scanCode`
// and time stamp `timestamp` to the native window `window`. The native filter
// calls it; tests call it to stand for the window system.
void noteAddressed(WId window, quint32 scanCode, quint64 timestamp);

// The window a key event was addressed to, when it was noted and is one of the
// tool's visible windows; nullptr otherwise (keys from tests and input methods).
QWidget *addressedWindow(const QKeyEvent &event);

} // namespace KeyRouting
