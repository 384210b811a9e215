#include "keymap.h"

#include <Qt>

KeyAction keyAction(int key, const KeyConditions &can)
{
    switch (key) {
    case Qt::Key_F2:
        return can.zoomIn ? KeyAction::ZoomIn : KeyAction::Nothing;
    case Qt::Key_F1:
        return can.zoomOut ? KeyAction::ZoomOut : KeyAction::Nothing;
    case Qt::Key_F6:
        return can.stepTowardsLive ? KeyAction::StepTowardsLive : KeyAction::Nothing;
    case Qt::Key_F7:
        return can.stepBack ? KeyAction::StepBack : KeyAction::Nothing;
    case Qt::Key_F4:
        return KeyAction::ToggleRuler;
    case Qt::Key_Escape:
        return can.inList ? KeyAction::NotMapped : KeyAction::Exit;
    case Qt::Key_F3:
        return KeyAction::Print;
    case Qt::Key_F8: // free in the key map; the history window's key
        return KeyAction::History;
    case Qt::Key_F9: // free in the key map; the event journal's key
        return KeyAction::ShowJournal;
    case Qt::Key_F11: // free in the key map; acknowledges the alarms shown
        return KeyAction::AcknowledgeAlarms;
    case Qt::Key_F5: // the select button has no action
        return KeyAction::Nothing;
    default:
        return KeyAction::NotMapped;
    }
}
