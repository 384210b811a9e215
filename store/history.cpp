#include "history.h"

// Placeholder until the history query lands.
std::optional<QVector<PvRecord>> readPvWindow(const QSqlDatabase &, qint32, qint32)
{
    return std::nullopt;
}
