#pragma once

#include "store.h"

#include <QSqlDatabase>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

// One recorded pv_data row as the chart loads it.
struct PvRecord {
    double date = 0; // day serial
    double time = 0; // fraction of a day
    // ProcessValues 0 .. 7 when the row was recorded
    std::array<float, kRecordedValueCount> values{};
    // The row's quality code as stored beside it (row_quality); empty when unknown.
    std::optional<qint16> quality;
};

// The ids a window of `length` records ending at `endId` covers: startId + 1 ..
// endId, counted round the ring; `wraps` when the window crosses id 65500.
struct PvWindowRange {
    qint32 startId = 0; // WindowStartId: the id just before the window's first record
    bool wraps = false; // ids 1..endId and startId + 1..65500
};

// The id `steps` ids before `id`, counted back round the ring of 65500 ids:
// id − steps when id ≥ steps, else 65500 − (steps − id); held within 32 bits.
qint32 ringIdBefore(qint32 id, qint32 steps);

// WindowStartId = ringIdBefore(endId, length).
PvWindowRange pvWindowRange(qint32 endId, qint32 length);

// The `length` ids of the pv_data ring that end at `endId` (counted round the
// ring of 65500 ids), in date and time order; a value column without a value
// reads as 0. nullopt when the database is not open or the query fails.
std::optional<QVector<PvRecord>> readPvWindow(const QSqlDatabase &db, qint32 endId, qint32 length);
