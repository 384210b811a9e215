#pragma once

#include <QRgb>

// The on-screen colours that more than one window shows.
namespace UiColour
{

// The background of a value box: the overview's D_3W and the configuration
// window's D_4W, light pink.
constexpr QRgb kValueBox = qRgb(255, 192, 255);

} // namespace UiColour
