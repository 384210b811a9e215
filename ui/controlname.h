#pragma once

#include <QString>

// The objectName of one element of a control array: its name with the index in
// brackets, "D_3W(0)", "Label5(6)", "T_3RW(16)". Tests find controls by it.
inline QString controlName(const char *name, int index)
{
    return QStringLiteral("%1(%2)").arg(QLatin1String(name)).arg(index);
}
