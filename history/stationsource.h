#pragma once

#include "csvexport.h"
#include "events.h"
#include "ringquery.h"
#include "scalinglog.h"

#include <QString>
#include <QVector>

#include <optional>
#include <vector>

// A station's history read from the central historian instead of the local
// recording database, for the exports and the history window.

namespace History
{

// The table a range of the historian is read from: `ring` when given, else
// samples_1s (PvData) for a range the local 1-second ring could hold (about
// 18 hours) and samples_10s (LpvWdjl) for a longer one, which the server keeps
// for as long as its owner keeps rows.
RecordTable stationRing(double from, double to, std::optional<RecordTable> ring);

// A station's rows of a range and its events (marks, not-live spans).
struct StationRange {
    QVector<RingRow> rows;
    std::vector<Event> events;     // as readStationHistory gives them
    QVector<ScalingEntry> scaling; // the station's scaling entries (ScalingTimeline)
};

// The rows of the station that `source` names from the instant `from` to the
// instant `to`, and with `withEvents` its events (each time with its offset),
// as readStationRows; nullopt with `error` as there.
std::optional<StationRange> readStationRange(const QString &source, RecordTable ring,
                                             const QDateTime &from, const QDateTime &to,
                                             bool withEvents, QString *error = nullptr);

// The rows of the station that `source` (postgresql://…?station=NAME) names,
// from `from` to `to` (day serials, inclusive), in the order they were recorded
// and in the form the local rings give, each with its quality and offset. nullopt, with a one-line
// reason in `error`, when the address is unusable or the server cannot be reached or read. Waits
// for the network.
std::optional<QVector<RingRow>> readStationRows(const QString &source, RecordTable ring,
                                                double from, double to, QString *error = nullptr);

// exportRange() for a station of the historian: the same CSV, the same faults
// (a server that cannot be reached or read is ReadFailed); engineering values
// by the station's scaling entries on the server unless `values` is Raw.
RangeExport exportStation(const QString &source, double from, double to,
                          std::optional<RecordTable> ring, const QString &path,
                          const ExportProgress &progress = {},
                          CsvValues values = CsvValues::Engineering);

} // namespace History
