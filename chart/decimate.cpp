#include "decimate.h"

#include "gaprule.h"
#include "rowquality.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>

namespace History
{

int columnOf(double moment, double from, double to, int width)
{
    if (width <= 0 || to <= from)
        return 0;
    const double x = std::floor((moment - from) / (to - from) * width);
    return int(std::clamp(x, 0.0, double(width - 1)));
}

QVector<Run> decimate(const QVector<RingRow> &rows, const QVector<double> &places, double from,
                      double to, int width, RecordTable ring)
{
    QVector<Run> runs;
    std::optional<double> previous; // the place of the row drawn last, while its run goes on
    const int count = int(std::min(rows.size(), places.size()));
    for (int i = 0; i < count; ++i) {
        const RingRow &row = rows.at(i);
        const double at = places.at(i);
        // A row of a lost or unopened port holds no values: the line breaks
        // there as at a gap. Held values and rows of unknown quality are drawn.
        if (at < from || at > to ||
            (row.quality && !rowQualityHoldsValues(static_cast<RowQuality>(*row.quality)))) {
            previous.reset();
            continue;
        }
        const int x = columnOf(at, from, to, width);
        if (!previous || at < *previous || isGap(*previous, at, ring))
            runs.append(Run());
        previous = at;
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

QVector<int> timeOrder(const QVector<double> &places)
{
    QVector<int> order(places.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&places](int a, int b) { return places.at(a) < places.at(b); });
    return order;
}

int nearestRow(const QVector<double> &places, const QVector<int> &order, double moment)
{
    if (order.isEmpty())
        return -1;
    const auto after =
        std::lower_bound(order.begin(), order.end(), moment,
                         [&places](int row, double m) { return places.at(row) < m; });
    if (after == order.begin())
        return order.first();
    if (after == order.end())
        return order.last();
    const int before = *(after - 1);
    return moment - places.at(before) <= places.at(*after) - moment ? before : *after;
}

} // namespace History
