#pragma once

#include <QColor>

class QWidget;

// What a widget shows on screen, read from its grabbed pixels (QWidget::grab()),
// beneath the stale marking when the control carries one.

// The colour that covers most of the widget: its background for a filled control.
QColor mostFrequentColour(QWidget *widget);

// Whether any pixel of the widget shows exactly `colour` (a text colour, for
// instance: the stems of the glyphs are drawn in it).
bool showsColour(QWidget *widget, const QColor &colour);
