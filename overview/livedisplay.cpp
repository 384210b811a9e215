#include "livedisplay.h"

#include "numbers.h"

#include <array>

namespace LiveDisplay
{

namespace
{
constexpr int kScaleIntervals = kScaleLabels - 1;

// Discrete inputs 1..12 are, per channel in turn, alarm, open circuit and short
// circuit; inputs 13..16 are the instrument's alarms 1..4.
const std::array<const char *, kStatusBoxes> kStatusTexts = {
    "通道一报警", "通道一开路", "通道一短路", "通道二报警", "通道二开路", "通道二短路",
    "通道三报警", "通道三开路", "通道三短路", "通道四报警", "通道四开路", "通道四短路",
    "1有报警",    "2有报警",    "3有报警",    "4有报警",
};
const char *const kStatusClearText = "   ";

const char *const kRelayClosedText = " 闭合";
// The open texts differ in their trailing blanks: three for relays 1 and 3, two
// for relays 2 and 4.
const std::array<const char *, kRelayBoxes> kRelayOpenTexts = {
    " 断开   ",
    " 断开  ",
    " 断开   ",
    " 断开  ",
};
} // namespace

QString scaleLabelText(int index, qint32 span, qint32 low)
{
    const float step = float(double(span) / kScaleIntervals);
    const float offset = float(index) * step;
    return QString::number(qint64(roundHalfEven(offset)) + low);
}

BoxLook statusLook(int index, qint32 state)
{
    if (index < 0 || index >= kStatusBoxes)
        return {};
    if (state != 0)
        return {QString::fromUtf8(kStatusTexts[index]), QColor(kSetBackground)};
    return {QString::fromUtf8(kStatusClearText), QColor(kClearBackground)};
}

BoxLook relayLook(int index, qint32 state)
{
    if (index < 0 || index >= kRelayBoxes)
        return {};
    if (state != 0)
        return {QString::fromUtf8(kRelayClosedText), QColor(kSetBackground)};
    return {QString::fromUtf8(kRelayOpenTexts[index]), QColor(kOpenBackground)};
}

} // namespace LiveDisplay
