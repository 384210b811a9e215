#pragma once

#include "scalinglog.h"
#include "store.h"

#include <QString>
#include <QVector>
#include <QtGlobal>

#include <array>
#include <optional>

// One row of a recording ring as the forwarder sends it.
struct RecordedRow {
    qint32 id = 0;
    double date = 0; // day serial
    double time = 0; // fraction of a day
    std::array<float, kRecordedValueCount> values{};
    // The row's quality code (RowQuality) and its offset from UTC in seconds
    // east, as stored beside the ring; empty when unknown (a row recorded
    // without them, or rewritten since by a program that does not keep them).
    std::optional<qint16> quality;
    std::optional<qint32> utcOffset;
};

// One event of the local events ring (events.h) as the forwarder sends it.
struct RecordedEvent {
    qint32 id = 0;
    double date = 0; // day serial
    double time = 0; // fraction of a day
    QString kind;    // as stored (eventKindName)
    QString source;
    QString detail;
    QString state{}; // a link event's state code; empty for other events and earlier versions' rows
};

// The name of the events ring in forward_position, beside pv_data and Lpv_wdjl.
constexpr char kEventsRingName[] = "events";
// ... and of the scaling entries (channel_scaling, no ring: entries only grow).
constexpr char kScalingPositionName[] = "channel_scaling";

// How far the forwarder got in one ring: the id, date and time of the last row
// that the server has. id 0: nothing forwarded yet.
struct ForwardPosition {
    qint32 id = 0;
    double date = 0;
    double time = 0;
};

// The recording database as the forwarder sees it, from the forwarder's own
// thread: the rings and sl_void through a connection that cannot write, and
// the forwarder's position through a second connection that writes only the
// table forward_position. The recording tables are never changed here.
class ForwardSource
{
public:
    // Both connections carry names starting with `connectionName`, unique in the process.
    explicit ForwardSource(const QString &connectionName);
    ~ForwardSource();
    ForwardSource(const ForwardSource &) = delete;
    ForwardSource &operator=(const ForwardSource &) = delete;

    // Opens both connections on an existing recording database and creates
    // forward_position when it is missing. False (nothing opened, nothing
    // written, the reason in lastError()) when the file is missing, is not a
    // recording database, its shared-memory file cannot be written, or
    // forward_position cannot be created or has other columns.
    bool open(const QString &path);
    void close();
    // Open, and the shared-memory file still intact: every read and write
    // fails without a statement otherwise, and open() starts afresh.
    bool isOpen() const;

    // The counter row; nullopt when it cannot be read.
    std::optional<SlVoid> readCounters() const;
    // Row `id` of `table`; a row that does not exist gives an empty optional
    // with lastError() empty, a failed read one with the reason.
    std::optional<RecordedRow> readRow(RecordTable table, qint32 id) const;
    // The rows of `table` with ids after `afterId` up to `lastId`, in id
    // order; nullopt when the read fails. A value that holds no number reads as 0.
    std::optional<QVector<RecordedRow>> readRows(RecordTable table, qint32 afterId,
                                                 qint32 lastId) const;

    // The position stored for `target` (the server and station being fed) in
    // `table`'s ring; id 0 when none is stored, nullopt when the read fails.
    std::optional<ForwardPosition> readPosition(const QString &target, RecordTable table) const;
    // Stores the position; false when the write fails (it is written again after the next batch).
    bool writePosition(const QString &target, RecordTable table, const ForwardPosition &position);

    // The same for a ring by its stored name (kEventsRingName).
    std::optional<ForwardPosition> readPosition(const QString &target, const QString &ring) const;
    bool writePosition(const QString &target, const QString &ring, const ForwardPosition &position);

    // The newest id of the events ring; 0 when the file has no events yet
    // (recorded by a version without them), nullopt when the read fails.
    std::optional<qint32> readNewestEventId() const;
    // The events with ids after `afterId` up to `lastId`, in id order;
    // nullopt when the read fails.
    std::optional<QVector<RecordedEvent>> readEvents(qint32 afterId, qint32 lastId) const;
    // Event `id`; empty with lastError() empty when there is none.
    std::optional<RecordedEvent> readEvent(qint32 id) const;

    // The newest id of the scaling entries; 0 when the file has none (or no
    // table of them: recorded by a version that did not read the scaling),
    // nullopt when the read fails.
    std::optional<qint32> readNewestScalingId() const;
    // The first `count` scaling entries with ids after `afterId`, in id
    // order (readScalingEntriesAfter); nullopt when the read fails.
    std::optional<QVector<StoredScalingEntry>> readScalingEntries(qint32 afterId, int count) const;
    // Scaling entry `id`; empty with lastError() empty when there is none.
    std::optional<StoredScalingEntry> readScalingEntry(qint32 id) const;

    QString lastError() const { return m_lastError; }

private:
    // Whether a statement may run; false with the reason in lastError().
    bool mayRun() const;

    QString m_readName;
    QString m_writeName;
    QString m_path;
    bool m_open = false;
    mutable QString m_lastError;
    RecordingFileGuard m_files;
};
