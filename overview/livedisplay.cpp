#include "livedisplay.h"

#include "inputnames.h"
#include "numbers.h"

#include <array>

namespace LiveDisplay
{

namespace
{
constexpr int kScaleIntervals = kScaleLabels - 1;

static_assert(kStatusBoxes == kDiscreteInputCount);
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
        return {QString::fromUtf8(kDiscreteInputNames[index]), QColor(kSetBackground)};
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
