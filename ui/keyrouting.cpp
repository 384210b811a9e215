#include "keyrouting.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QKeyEvent>
#include <QShortcut>

#include <xcb/xcb.h>

#include <array>
#include <memory>

namespace
{

// Key events the platform may still hold queued when the newest is noted: a
// burst of held-down keys stays well inside this.
constexpr int kNotedKeys = 32;

struct NotedKey {
    WId window = 0;
    quint32 scanCode = 0;
    quint64 timestamp = 0;
};

std::array<NotedKey, kNotedKeys> g_noted{};
int g_next = 0;

// The tool's window a widget belongs to: an open list or calendar belongs to
// the window that opened it.
QWidget *owningWindow(QWidget *widget)
{
    QWidget *window = widget ? widget->window() : nullptr;
    while (window && window->windowType() == Qt::Popup && window->parentWidget())
        window = window->parentWidget()->window();
    return window;
}

// The X11 key events, read before Qt hands them to the focus window.
class NativeKeyNotes : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        const uint8_t type = event->response_type & ~0x80; // the bit of a sent event
        if (type == XCB_KEY_PRESS || type == XCB_KEY_RELEASE) {
            const auto *key = static_cast<const xcb_key_press_event_t *>(message);
            KeyRouting::noteAddressed(WId(key->event), key->detail, key->time);
        }
        return false;
    }
};

// Emits the shortcut of `window` that a key typed there would trigger; false
// when none takes the key.
bool runShortcut(QWidget *window, const QKeySequence &keys)
{
    for (QShortcut *shortcut : window->findChildren<QShortcut *>()) {
        auto *parent = qobject_cast<QWidget *>(shortcut->parent());
        if (!shortcut->isEnabled() || !parent || !parent->isVisible() || shortcut->key() != keys)
            continue;
        const Qt::ShortcutContext context = shortcut->context();
        const QWidget *focus = window->focusWidget();
        const bool applies =
            context == Qt::WindowShortcut || context == Qt::ApplicationShortcut ||
            (context == Qt::WidgetShortcut && focus == parent) ||
            (context == Qt::WidgetWithChildrenShortcut && focus && parent->isAncestorOf(focus));
        if (applies)
            return QMetaObject::invokeMethod(shortcut, "activated");
    }
    return false;
}

std::unique_ptr<QKeyEvent> copyAs(QEvent::Type type, const QKeyEvent &key)
{
    auto copy = std::make_unique<QKeyEvent>(type, key.key(), key.modifiers(), key.nativeScanCode(),
                                            key.nativeVirtualKey(), key.nativeModifiers(),
                                            key.text(), key.isAutoRepeat(), key.count());
    copy->setTimestamp(key.timestamp());
    return copy;
}

class Router : public QObject
{
public:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        const QEvent::Type type = event->type();
        if (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
            type != QEvent::ShortcutOverride)
            return false;
        const auto &key = *static_cast<QKeyEvent *>(event);
        QWidget *target = KeyRouting::addressedWindow(key);
        auto *widget = qobject_cast<QWidget *>(watched);
        if (!target || !widget || owningWindow(widget) == target)
            return false;
        // The window that has the focus keeps its shortcuts to itself.
        if (type == QEvent::ShortcutOverride) {
            event->accept();
            return true;
        }
        QWidget *receiver = target->focusWidget() ? target->focusWidget() : target;
        if (type == QEvent::KeyPress) {
            const std::unique_ptr<QKeyEvent> override = copyAs(QEvent::ShortcutOverride, key);
            override->ignore();
            QCoreApplication::sendEvent(receiver, override.get());
            if (!override->isAccepted() && runShortcut(target, QKeySequence(key.keyCombination())))
                return true;
        }
        const std::unique_ptr<QKeyEvent> copy = copyAs(type, key);
        QCoreApplication::sendEvent(receiver, copy.get());
        return true;
    }
};

} // namespace

namespace KeyRouting
{

void install()
{
    static NativeKeyNotes notes;
    static Router router;
    static bool nativeInstalled = false;
    if (!nativeInstalled) {
        qApp->installNativeEventFilter(&notes);
        nativeInstalled = true;
    }
    qApp->removeEventFilter(&router);
    qApp->installEventFilter(&router);
}

void noteAddressed(WId window, quint32 scanCode, quint64 timestamp)
{
    g_noted[g_next] = NotedKey{window, scanCode, timestamp};
    g_next = (g_next + 1) % kNotedKeys;
}

QWidget *addressedWindow(const QKeyEvent &event)
{
    // Newest first: a key sent twice carries the same scan code and time stamp.
    for (int i = 1; i <= kNotedKeys; ++i) {
        const NotedKey &noted = g_noted[(g_next - i + kNotedKeys) % kNotedKeys];
        if (noted.window == 0 || noted.scanCode != event.nativeScanCode() ||
            noted.timestamp != event.timestamp())
            continue;
        QWidget *window = owningWindow(QWidget::find(noted.window));
        return window && window->isVisible() ? window : nullptr;
    }
    return nullptr;
}

} // namespace KeyRouting
