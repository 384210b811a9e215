#pragma once

#include "ringquery.h"
#include "store.h"

#include <QVector>

#include <array>

// Ranges of any length drawn at the cost of the chart's width: the rows are
// reduced to one column per pixel holding the first, last, lowest and highest
// value of each curve, so that no peak between two pixels is lost.

namespace History
{

// Channels 1 .. 4 and the retransmission value: recorded values 0 .. 4.
constexpr int kCurveCount = 5;
// Their names, as the window's checkboxes, read-outs and legends show them.
constexpr std::array<const char *, kCurveCount> kCurveNames = {"CH1", "CH2", "CH3", "CH4",
                                                               "变送值 DA"};

// The rows that fall into one pixel column.
struct PixelColumn {
    int x = 0;                                // 0 .. width − 1
    int firstRow = 0;                         // index of its first row
    int rowCount = 0;                         // rows in it
    std::array<float, kCurveCount> first{};   // value of its first row
    std::array<float, kCurveCount> last{};    // value of its last row
    std::array<float, kCurveCount> lowest{};  // lowest value in it
    std::array<float, kCurveCount> highest{}; // highest value in it
};

// Columns that follow each other without a gap in the recording; a line joins
// them, and never the last column of one run to the first of the next.
using Run = QVector<PixelColumn>;

// The rows (in recording order, each at its place on the chart's time axis in
// `places`) from `from` to `to` spread over `width` pixel columns, one run per
// stretch without a gap of `ring`'s gap rule. Rows of quality 24 or 8 (no
// values: port lost or not open) are left out and end a run; so does a step
// back in time (a clock set back), after which the rows are drawn where their
// clock put them, never joined backwards.
QVector<Run> decimate(const QVector<RingRow> &rows, const QVector<double> &places, double from,
                      double to, int width, RecordTable ring);

// The pixel column of a moment in a range drawn `width` pixels wide.
int columnOf(double moment, double from, double to, int width);

// The indices of `places` in time order, rows of the same place in recording order.
QVector<int> timeOrder(const QVector<double> &places);

// Index of the row whose place is nearest to `moment`, `order` being
// timeOrder(places); −1 when there are none.
int nearestRow(const QVector<double> &places, const QVector<int> &order, double moment);

} // namespace History
