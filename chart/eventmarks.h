#pragma once

#include "events.h"

#include <QColor>
#include <QString>

// What a chart marks of the journal along its top edge, shared by the
// overview's trend and the history chart: which events are marks, their
// moment, whether a state goes off (drawn dotted), their colour by kind and
// the text a read-out names them by.

namespace Journal
{

// How far down from the top edge a mark reaches, in pixels, and how wide it is.
constexpr int kMarkHeightPixels = 20;
constexpr int kMarkWidth = 2;

// One event to mark: its moment as a day serial with the time as the fraction.
struct Mark {
    double moment = 0;
    EventKind kind = EventKind::Alarm;
    bool off = false;
    QString text; // what a read-out names: "通道一报警 ON 300"
};

// Whether an event is a state coming on ("ON ...") or going off ("OFF ...").
bool isOnEvent(const Event &event);
bool isOffEvent(const Event &event);

// Whether an event is shown as a mark: alarms, open and short circuits, alarm
// outputs, configuration writes.
bool isMarkEvent(const Event &event);
// The mark of a journal event.
Mark markOf(const Event &event);
// The colour of a kind's marks.
QColor markColour(EventKind kind);

} // namespace Journal
