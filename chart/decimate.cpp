#include "decimate.h"

#include "gaprule.h"
#include "rowquality.h"

#include <algorithm>
#include <cmath>

namespace History
{

int columnOf(double moment, double from, double to, int width)
{
    if (width <= 0 || to <= from)
        return 0;
    const double x = std::floor((moment - from) / (to - from) * width);
    return int(std::clamp(x, 0.0, double(width - 1)));
}

QVector<Run> decimate(const QVector<RingRow> &rows, double from, double to, int width,
                      RecordTable ring)
{
    QVector<Run> runs;
    const RingRow *previous = nullptr;
    for (int i = 0; i < rows.size(); ++i) {
        const RingRow &row = rows.at(i);
        if (row.moment() < from || row.moment() > to)
            continue;
        // A row of a lost or unopened port holds no values: the line breaks
        // there as at a gap. Held values and rows of unknown quality are drawn.
        if (row.quality && !rowQualityHoldsValues(static_cast<RowQuality>(*row.quality))) {
            previous = nullptr;
            continue;
        }
        const int x = columnOf(row.moment(), from, to, width);
        if (!previous || isGap(previous->moment(), row.moment(), ring))
            runs.append(Run());
        previous = &row;
        Run &run = runs.last();
        if (run.isEmpty() || run.last().x != x) {
            PixelColumn column;
            column.x = x;
            column.firstRow = i;
            for (int k = 0; k < kCurveCount; ++k)
                column.first[k] = column.lowest[k] = column.highest[k] = row.values[k];
            run.append(column);
        }
        PixelColumn &column = run.last();
        ++column.rowCount;
        for (int k = 0; k < kCurveCount; ++k) {
            const float v = row.values[k];
            column.last[k] = v;
            column.lowest[k] = std::min(column.lowest[k], v);
            column.highest[k] = std::max(column.highest[k], v);
        }
    }
    return runs;
}

int nearestRow(const QVector<RingRow> &rows, double moment)
{
    if (rows.isEmpty())
        return -1;
    const auto after =
        std::lower_bound(rows.begin(), rows.end(), moment,
                         [](const RingRow &row, double m) { return row.moment() < m; });
    if (after == rows.begin())
        return 0;
    if (after == rows.end())
        return rows.size() - 1;
    const auto before = after - 1;
    return int((moment - before->moment() <= after->moment() - moment ? before : after) -
               rows.begin());
}

} // namespace History
