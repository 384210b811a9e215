#pragma once

#include <QSqlDatabase>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

// One recorded pv_data row as the chart loads it.
struct PvRecord
{
    double date = 0; // day serial
    double time = 0; // fraction of a day
    std::array<float, 8> values{};
};

// The `length` ids of the pv_data ring that end at `endId` (counted round the
// ring of 65500 ids), in date and time order. nullopt when the query fails.
std::optional<QVector<PvRecord>> readPvWindow(const QSqlDatabase &db, qint32 endId, qint32 length);
