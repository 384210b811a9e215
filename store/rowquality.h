#pragma once

#include <QString>
#include <QVariant>
#include <QtGlobal>

#include <optional>

class QSqlQuery;

// What one recorded row is worth, in the codes process-data tools use for a
// value's quality: whether the row holds a reading, a held value or none.
enum class RowQuality : qint16 {
    Good = 192,       // a live reading: the instrument answered
    Held = 68,        // the instrument did not answer; the last values are held
    CommFailure = 24, // the port was lost or could not be opened
    NotConnected = 8, // the port is not open, or nothing polls it
};

// The quality of a stored code; nullopt for anything but the four codes.
std::optional<RowQuality> rowQualityFromCode(qint64 code);
// The quality a stored column holds: nullopt when it is empty, holds no whole
// number, or a number that is none of the four codes.
std::optional<RowQuality> rowQualityFrom(const QVariant &stored);
// The state in the operator's words: 在线, 无应答, 端口丢失, 未打开.
QString rowQualityWord(RowQuality quality);
// Whether a row of this quality holds values worth drawing (a reading or a
// held one); rows of a lost or unopened port hold none.
bool rowQualityHoldsValues(RowQuality quality);

// A stored offset from UTC in seconds east; nullopt when it is empty, holds
// no whole number, or lies beyond any zone's offset.
std::optional<qint32> utcOffsetFrom(const QVariant &stored);

// The table beside the rings that holds each recorded row's quality and the
// offset from UTC at the moment it was recorded. Ring 1 is pv_data, ring 2
// Lpv_wdjl; an entry counts only while its date and time equal those of the
// ring row with its id (a row rewritten by a program that knows nothing of
// this table keeps a stale entry, which then no longer counts).
constexpr char kRowQualityTable[] = "row_quality";
constexpr int kRowQualityPvRing = 1;
constexpr int kRowQualityLpvRing = 2;
constexpr char kRowQualityCreateSql[] =
    "CREATE TABLE IF NOT EXISTS row_quality (ring INTEGER NOT NULL, id INTEGER NOT NULL, "
    "r_date, r_time, quality INTEGER, utc_offset INTEGER, PRIMARY KEY (ring, id))";

// The quality and offset of one ring row as stored beside it; each empty when unknown.
struct StoredRowQuality {
    std::optional<qint16> quality;
    std::optional<qint32> utcOffset;
};

// A query of ring rows with their row_quality entries: every column of
// `ring` (aliased p) followed by the entry's date, time, quality and offset
// (empty without an entry), for the rows `where` picks (a condition on p),
// ordered by `order`.
QString ringRowsWithQualitySql(const QString &ring, const QString &idColumn, int ringNumber,
                               const QString &where, const QString &order);
// The entry of the current row of such a query, which holds `columnCount`
// columns: counted only when its date and time equal the row's.
StoredRowQuality storedRowQuality(const QSqlQuery &query, int columnCount, double date,
                                  double time);
