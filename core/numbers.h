#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>

// The value of the number at the start of operator text: blanks, tabs and line
// feeds are skipped wherever they stand; then an optional sign, digits, at most
// one full stop (whatever the locale) and an optional exponent; reading stops at
// the first other character. Text with no leading number gives 0.
double leadingNumber(const QString &text);

// The same reading, but nullopt when the text has no leading number at all
// ("", "abc", "-"), for callers that must tell "0" from no entry.
std::optional<double> leadingNumberIfAny(const QString &text);

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -2.5 -> -2).
double roundHalfEven(double value);

// Rounded (halves to even) and checked against the width of the target; nullopt
// when the value does not fit, so the storing statement is skipped.
std::optional<qint32> toInt32(double value);

// The text form of a single-precision value: the shortest decimal that reads back
// as the same float, at most seven significant digits, no trailing zeros, a
// decimal point only with a fraction ("123.5", "100", "-0.5").
QString singleText(float value);
// singleText(value) at the end of `out` (its characters are all Latin-1).
void appendSingleText(QByteArray &out, float value);
// The characters of singleText(value) written at `out`, which has room for
// kSingleTextRoom of them; past what it wrote.
constexpr int kSingleTextRoom = 32;
char *writeSingleText(char *out, float value);

// The shortest decimal text of a double that reads back as the same number
// (25 / 10.0 -> "2.5", 30 / 10.0 -> "3").
QString doubleText(double value);
