#pragma once

#include <QRgb>

class QPushButton;

// Shows `colour` as the face of `button`, exactly. The widget style paints a
// button's face as a gradient lighter than the palette's button colour (an
// orange of 255,128,0 came out near 255,188,120), so the colour goes in through
// a style sheet, which fills the face with it; pressed, focused and disabled
// states stay distinguishable.
void colourButton(QPushButton *button, QRgb colour);
