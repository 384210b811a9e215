#pragma once

#include <QRect>
#include <QtMath>

// The windows are designed in twips (1440 to the inch); at 96 dots per inch one
// logical pixel is 15 twips, and Qt's high-DPI scaling does the rest.
constexpr int kTwipsPerPixel = 15;

// A length in twips as whole logical pixels.
inline int twipsToPixels(int twips)
{
    return qRound(double(twips) / kTwipsPerPixel);
}

// A rectangle given as left, top, width, height in twips. Edges are converted,
// not sizes, so that controls that touch in twips still touch in pixels.
inline QRect twipsRect(int left, int top, int width, int height)
{
    const int x1 = twipsToPixels(left);
    const int y1 = twipsToPixels(top);
    return QRect(x1, y1, twipsToPixels(left + width) - x1, twipsToPixels(top + height) - y1);
}
