#include "numbers.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <string>

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

// Renders mantissa digits and a decimal exponent as plain decimal text when the
// exponent is moderate, otherwise as d.dddE+xx.
QString renderDecimal(bool negative, const std::string &mantissa, int exponent, int fixedUpTo)
{
    std::string out;
    if (negative)
        out += '-';
    const int n = static_cast<int>(mantissa.size());
    if (exponent >= -5 && exponent < fixedUpTo) {
        if (exponent < 0) {
            out += "0.";
            out.append(static_cast<size_t>(-exponent - 1), '0');
            out += mantissa;
        } else if (exponent + 1 >= n) {
            out += mantissa;
            out.append(static_cast<size_t>(exponent + 1 - n), '0');
        } else {
            out += mantissa.substr(0, static_cast<size_t>(exponent + 1));
            out += '.';
            out += mantissa.substr(static_cast<size_t>(exponent + 1));
        }
    } else {
        out += mantissa[0];
        if (n > 1) {
            out += '.';
            out += mantissa.substr(1);
        }
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        out += exp;
    }
    return QString::fromStdString(out);
}

// Shortest round-tripping digits of value with at most maxDigits significant digits.
template <typename Float> QString shortestText(Float value, int maxDigits, int fixedUpTo)
{
    if (value == 0 || !std::isfinite(value))
        return value == 0 ? QStringLiteral("0") : QString::number(double(value));
    // to_chars and from_chars write and read the full stop whatever the locale.
    char buf[64];
    char *end = buf;
    for (int p = 1; p <= maxDigits; ++p) {
        end = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, p - 1).ptr;
        double back = 0;
        std::from_chars(buf, end, back);
        if (static_cast<Float>(back) == value || p == maxDigits)
            break;
    }
    // buf is [-]d[.ddd]e[+-]xx
    std::string s(buf, end);
    const bool negative = s[0] == '-';
    if (negative)
        s.erase(0, 1);
    const size_t e = s.find('e');
    const int exponent = std::atoi(s.c_str() + e + 1);
    std::string mantissa;
    for (size_t i = 0; i < e; ++i)
        if (s[i] != '.')
            mantissa += s[i];
    while (mantissa.size() > 1 && mantissa.back() == '0')
        mantissa.pop_back();
    return renderDecimal(negative, mantissa, exponent, fixedUpTo);
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
    if (isPlainWhole(value)) {
        char digits[16];
        out.append(digits,
                   std::to_chars(digits, digits + sizeof digits, qint32(value)).ptr - digits);
        return;
    }
    for (const QChar c : singleText(value))
        out += char(c.unicode());
}

QString doubleText(double value)
{
    return shortestText<double>(value, 17, 15);
}
