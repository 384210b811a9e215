#include "numbers.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <type_traits>

std::optional<double> leadingNumberIfAny(const QString &text)
{
    std::string digits;
    bool seenDigit = false;
    bool seenPoint = false;
    bool seenExponent = false;
    bool signAllowed = true;

    for (const QChar ch : text) {
        if (ch == QLatin1Char(' ') || ch == QLatin1Char('\t') || ch == QLatin1Char('\n'))
            continue;
        const char c = ch.toLatin1();
        if (c == '+' || c == '-') {
            if (!signAllowed)
                break;
            digits += c;
            signAllowed = false;
        } else if (c >= '0' && c <= '9') {
            digits += c;
            seenDigit = true;
            signAllowed = false;
        } else if (c == '.' && !seenPoint && !seenExponent) {
            digits += c;
            seenPoint = true;
            signAllowed = false;
        } else if ((c == 'e' || c == 'E') && seenDigit && !seenExponent) {
            digits += 'e';
            seenExponent = true;
            signAllowed = true;
        } else {
            break;
        }
    }
    if (!seenDigit)
        return std::nullopt;
    // from_chars reads the full stop whatever the C library's locale (which Qt sets
    // from the environment), and stops on its own at a dangling exponent ("12e").
    const char *first = digits.c_str();
    const char *last = first + digits.size();
    const bool negative = *first == '-';
    if (*first == '+')
        ++first; // from_chars takes no plus sign
    double value = 0;
    if (std::from_chars(first, last, value).ec == std::errc::result_out_of_range) {
        // Beyond a double: an exponent below zero makes it vanish, otherwise it overflows.
        const bool tiny = digits.find("e-") != std::string::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
        if (negative)
            value = -value;
    }
    return value;
}

double leadingNumber(const QString &text)
{
    return leadingNumberIfAny(text).value_or(0);
}

double roundHalfEven(double value)
{
    // nearbyint follows the current rounding mode, which is round-to-nearest-even.
    return std::nearbyint(value);
}

namespace
{

// Rounded (halves to even) and checked against the range of Int.
template <typename Int> std::optional<Int> toFitting(double value)
{
    if (!std::isfinite(value))
        return std::nullopt;
    const double r = roundHalfEven(value);
    if (r < std::numeric_limits<Int>::min() || r > std::numeric_limits<Int>::max())
        return std::nullopt;
    return static_cast<Int>(r);
}

} // namespace

std::optional<qint32> toInt32(double value)
{
    return toFitting<qint32>(value);
}

namespace
{

// Writes mantissa digits and a decimal exponent at `out` as plain decimal text
// when the exponent is moderate, otherwise as d.dddE+xx; past what it wrote.
// `out` has room for the mantissa and 24 more characters.
char *renderDecimal(char *out, bool negative, const char *mantissa, int n, int exponent,
                    int fixedUpTo)
{
    if (negative)
        *out++ = '-';
    const auto copy = [&out](const char *from, int count) {
        std::memcpy(out, from, std::size_t(count));
        out += count;
    };
    if (exponent >= -5 && exponent < fixedUpTo) {
        if (exponent < 0) {
            *out++ = '0';
            *out++ = '.';
            for (int i = 0; i < -exponent - 1; ++i)
                *out++ = '0';
            copy(mantissa, n);
        } else if (exponent + 1 >= n) {
            copy(mantissa, n);
            for (int i = 0; i < exponent + 1 - n; ++i)
                *out++ = '0';
        } else {
            copy(mantissa, exponent + 1);
            *out++ = '.';
            copy(mantissa + exponent + 1, n - exponent - 1);
        }
        return out;
    }
    *out++ = mantissa[0];
    if (n > 1) {
        *out++ = '.';
        copy(mantissa + 1, n - 1);
    }
    *out++ = 'E';
    *out++ = exponent < 0 ? '-' : '+';
    const int magnitude = std::abs(exponent);
    if (magnitude < 10)
        *out++ = '0';
    return std::to_chars(out, out + 8, magnitude).ptr;
}

// The fewest significant digits the search below need try for `value`: the
// shortest digits that read back as it (std::to_chars' round trip), when no
// fewer can pass the search's own test. That test reads the digits back as a
// double and narrows it to a float, which can differ from reading a float only
// for a decimal within 2^-53 of halfway between two floats; a decimal of at
// most seven digits whose exponent lies within -12 .. 12 is never that close
// (their difference is a multiple of 2^-25 / 5^12 of the value or more), hence
// the magnitudes below. 1 elsewhere: the search from one digit up.
template <typename Float> int firstDigitsToTry(Float value, const char *shortest, const char *end)
{
    if constexpr (std::is_same_v<Float, float>) {
        const float magnitude = std::abs(value);
        if (magnitude < 1e-5f || magnitude >= 1e7f)
            return 1;
    }
    int digits = 0;
    for (const char *c = shortest; c != end && *c != 'e'; ++c)
        digits += *c >= '0' && *c <= '9';
    return digits;
}

// Shortest round-tripping digits of value with at most maxDigits significant
// digits, written at `out` (room for kSingleTextRoom characters for a float,
// 64 for a double); past what it wrote.
template <typename Float> char *shortestText(char *out, Float value, int maxDigits, int fixedUpTo)
{
    // to_chars and from_chars write and read the full stop whatever the locale.
    char shortest[64];
    char *shortestEnd =
        std::to_chars(shortest, shortest + sizeof shortest, value, std::chars_format::scientific)
            .ptr;
    char buf[64];
    char *end = buf;
    const int first = std::min(firstDigitsToTry(value, shortest, shortestEnd), maxDigits);
    for (int p = first; p <= maxDigits; ++p) {
        end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, p - 1).ptr;
        // The shortest digits read back as the value: the same text needs no reading.
        if (p == first && std::equal(buf, end, shortest, shortestEnd))
            break;
        double back = 0;
        std::from_chars(buf, end, back);
        if (static_cast<Float>(back) == value || p == maxDigits)
            break;
    }
    // buf is [-]d[.ddd]e[+-]xx
    const bool negative = buf[0] == '-';
    const char *e = std::find(buf, end, 'e');
    int exponent = 0;
    std::from_chars(e + 1 + (e[1] == '+'), end, exponent);
    char mantissa[64];
    int n = 0;
    for (const char *c = buf + negative; c != e; ++c)
        if (*c != '.')
            mantissa[n++] = *c;
    while (n > 1 && mantissa[n - 1] == '0')
        --n;
    return renderDecimal(out, negative, mantissa, n, exponent, fixedUpTo);
}

template <typename Float> QString shortestText(Float value, int maxDigits, int fixedUpTo)
{
    if (value == 0 || !std::isfinite(value))
        return value == 0 ? QStringLiteral("0") : QString::number(double(value));
    char text[128];
    return QString::fromLatin1(text, shortestText(text, value, maxDigits, fixedUpTo) - text);
}

// Whether `value` is a whole number of at most seven digits (every value the
// instrument's registers give): its text is its digits, what the search for
// the shortest digits finds, without searching.
bool isPlainWhole(float value)
{
    return std::abs(value) < 1e7f && value == std::trunc(value);
}

} // namespace

QString singleText(float value)
{
    if (isPlainWhole(value))
        return QString::number(qint32(value));
    return shortestText<float>(value, 7, 7);
}

void appendSingleText(QByteArray &out, float value)
{
    char text[kSingleTextRoom];
    out.append(text, writeSingleText(text, value) - text);
}

char *writeSingleText(char *out, float value)
{
    if (isPlainWhole(value))
        return std::to_chars(out, out + kSingleTextRoom, qint32(value)).ptr;
    if (value == 0 || !std::isfinite(value)) {
        for (const QChar c : singleText(value))
            *out++ = char(c.unicode());
        return out;
    }
    return shortestText(out, value, 7, 7);
}

QString doubleText(double value)
{
    return shortestText<double>(value, 17, 15);
}
