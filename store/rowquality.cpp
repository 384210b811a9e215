#include "rowquality.h"

#include <QSqlQuery>

namespace
{

// No zone lies further than this from UTC.
constexpr qint64 kLargestUtcOffsetSeconds = 18 * 3600;

std::optional<qint64> wholeNumber(const QVariant &stored)
{
    if (stored.isNull() || !stored.isValid())
        return std::nullopt;
    bool ok = false;
    const double number = stored.toDouble(&ok);
    if (!ok || number != static_cast<double>(static_cast<qint64>(number)))
        return std::nullopt;
    return static_cast<qint64>(number);
}

} // namespace

std::optional<RowQuality> rowQualityFromCode(qint64 code)
{
    switch (code) {
    case qint64(RowQuality::Good):
    case qint64(RowQuality::Held):
    case qint64(RowQuality::CommFailure):
    case qint64(RowQuality::NotConnected):
        return static_cast<RowQuality>(code);
    default:
        return std::nullopt;
    }
}

std::optional<RowQuality> rowQualityFrom(const QVariant &stored)
{
    const std::optional<qint64> code = wholeNumber(stored);
    return code ? rowQualityFromCode(*code) : std::nullopt;
}

QString rowQualityWord(RowQuality quality)
{
    switch (quality) {
    case RowQuality::Good:
        return QStringLiteral("在线");
    case RowQuality::Held:
        return QStringLiteral("无应答");
    case RowQuality::CommFailure:
        return QStringLiteral("端口丢失");
    case RowQuality::NotConnected:
        break;
    }
    return QStringLiteral("未打开");
}

bool rowQualityHoldsValues(RowQuality quality)
{
    return quality == RowQuality::Good || quality == RowQuality::Held;
}

std::optional<qint32> utcOffsetFrom(const QVariant &stored)
{
    const std::optional<qint64> seconds = wholeNumber(stored);
    if (!seconds || *seconds < -kLargestUtcOffsetSeconds || *seconds > kLargestUtcOffsetSeconds)
        return std::nullopt;
    return static_cast<qint32>(*seconds);
}

QString ringRowsWithQualitySql(const QString &ring, const QString &idColumn, int ringNumber,
                               const QString &where, const QString &order)
{
    return QStringLiteral("SELECT p.*, q.r_date, q.r_time, q.quality, q.utc_offset FROM %1 p "
                          "LEFT JOIN row_quality q ON q.ring = %2 AND q.id = p.%3 WHERE %4 "
                          "ORDER BY %5")
        .arg(ring)
        .arg(ringNumber)
        .arg(idColumn, where, order);
}

StoredRowQuality storedRowQuality(const QSqlQuery &query, int columnCount, double date, double time)
{
    StoredRowQuality stored;
    const int first = columnCount - 4;
    if (first < 0)
        return stored;
    bool dateOk = false;
    bool timeOk = false;
    const QVariant entryDate = query.value(first);
    const QVariant entryTime = query.value(first + 1);
    // An entry written for an earlier row under the same id no longer counts.
    if (entryDate.isNull() || entryTime.isNull() || entryDate.toDouble(&dateOk) != date ||
        !dateOk || entryTime.toDouble(&timeOk) != time || !timeOk)
        return stored;
    if (const std::optional<RowQuality> quality = rowQualityFrom(query.value(first + 2)))
        stored.quality = qint16(*quality);
    stored.utcOffset = utcOffsetFrom(query.value(first + 3));
    return stored;
}
