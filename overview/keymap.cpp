#include "keymap.h"

#include <Qt>

namespace
{
// The zoom levels run from 1 (most magnified) to 4.
constexpr int kMostMagnified = 1;
constexpr int kLeastMagnified = 4;
} // namespace

KeyAction keyAction(int key, int zoomLevel, int shiftCount, bool atOldest)
{
    switch (key) {
    case Qt::Key_F2:
        return zoomLevel > kMostMagnified ? KeyAction::ZoomIn : KeyAction::Nothing;
    case Qt::Key_F1:
        return zoomLevel < kLeastMagnified ? KeyAction::ZoomOut : KeyAction::Nothing;
    case Qt::Key_F6:
        return shiftCount > 0 ? KeyAction::StepTowardsLive : KeyAction::Nothing;
    case Qt::Key_F7:
        return atOldest ? KeyAction::Nothing : KeyAction::StepBack;
    case Qt::Key_F4:
        return KeyAction::ToggleRuler;
    case Qt::Key_Escape:
        return KeyAction::Exit;
    case Qt::Key_F3: // the print button has no action
    case Qt::Key_F5: // nor has the select button
        return KeyAction::Nothing;
    default:
        return KeyAction::NotMapped;
    }
}
