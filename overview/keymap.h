#pragma once

#include <QtGlobal>

// The overview's function keys. The window sees every key first, whatever
// control has the focus, and runs the action of a button directly: only the
// conditions below count, never the button's enabled state.
enum class KeyAction {
    NotMapped,         // not one of the window's keys: the control gets it
    Nothing,           // a mapped key whose condition fails, or F5 (no action)
    ZoomIn,            // F2 while ZoomLevel > 1       (Command3, "F2 放大")
    ZoomOut,           // F1 while ZoomLevel < 4       (Command4, "F1 缩小")
    StepTowardsLive,   // F6 while ShiftCount > 0      (Command7, "F6 左移")
    StepBack,          // F7 while AtOldest is false   (Command8, "F7 右移")
    ToggleRuler,       // F4 always                    (Command5, "F4 标尺")
    Exit,              // Esc, unless aimed at a list  (Command1, "退出")
    Print,             // F3 always                    (Command2, "F3 打印")
    History,           // F8 always                    (Command29, "历史曲线")
    ShowJournal,       // F9 always                    (JournalButton, "事件记录")
    AcknowledgeAlarms, // F11 always                 (the strip's "未确认报警 N")
};

// The conditions of the four chart keys, as the trend chart states them.
struct KeyConditions {
    bool zoomIn = false;          // F2
    bool zoomOut = false;         // F1
    bool stepTowardsLive = false; // F6
    bool stepBack = false;        // F7
    // The key was aimed at an open drop-down list: Esc there dismisses the
    // list and is no exit; the function keys work as anywhere else.
    bool inList = false;
};

// The action of the Qt key code `key` under the conditions given; the shift
// state plays no part.
KeyAction keyAction(int key, const KeyConditions &can);
