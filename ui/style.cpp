#include "style.h"

#include <QColor>
#include <QPalette>
#include <QPushButton>

namespace
{

constexpr QRgb kBorder = qRgb(112, 112, 112);
constexpr QRgb kDisabledText = qRgb(120, 120, 120);
constexpr int kPressedDarker = 115; // percent, as QColor::darker takes it

} // namespace

void colourButton(QPushButton *button, QRgb colour)
{
    const QColor face(colour);
    QPalette palette = button->palette();
    palette.setColor(QPalette::Button, face);
    button->setPalette(palette);
    button->setStyleSheet(
        QStringLiteral("QPushButton { background-color: %1; border: 1px solid %2;"
                       " border-radius: 3px; padding: 2px 4px; }"
                       "QPushButton:focus { border-color: %3; }"
                       "QPushButton:pressed { background-color: %4; }"
                       "QPushButton:disabled { color: %5; }")
            .arg(face.name(), QColor(kBorder).name(), palette.color(QPalette::Highlight).name(),
                 face.darker(kPressedDarker).name(), QColor(kDisabledText).name()));
}
