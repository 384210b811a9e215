#pragma once

#include "events.h"
#include "ringquery.h"
#include "scalinglog.h"
#include "store.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <array>
#include <vector>

// The bodies the web view answers with, built from what the database gave.
namespace Web
{

// The curves the page draws: channels 1..4 and the retransmission value.
constexpr int kDrawnCurves = 5;
// The overview's chart colours, which the page draws its trend in ("#rrggbb";
// the band translucent, "rgba(…)").
struct ChartLook {
    std::array<QString, kDrawnCurves> curves;
    QString background;
    QString grid;
    QString band;
};

// /api/history as JSON: {"ring":"1s","look":{…},"units":[u1,u2,u3,u4,"%"],
// "rows":[[time, ch1, ch2, ch3, ch4, da, ir6, ir7, ir8, quality], …],
// "decimals":[[dp1, dp2, dp3, dp4], …]}: the values are the integers as
// recorded, and decimals[i] those of the scaling in force at rows[i] (value /
// 10^dp is the engineering value; null: none known, the value is raw); a
// value the row does not hold, an unknown quality and a unit not known at the
// last row are null; each time ISO 8601 with its offset, resolved in ring order.
QByteArray historyJson(const QVector<RingRow> &rows, RecordTable ring, const ChartLook &look,
                       const ScalingTimeline &scaling = ScalingTimeline());
// The same rows as the CSV export writes them (its header and columns),
// engineering values by `scaling` where it scales them.
QByteArray historyCsv(const QVector<RingRow> &rows,
                      const ScalingTimeline &scaling = ScalingTimeline());
// /api/events: {"newest":ID,"events":[{"id","time","kind","kindText","source","detail"}, …]}.
QByteArray eventsJson(const std::vector<NumberedEvent> &events, qint32 newest);
// The body of a refusal: {"error": reason}.
QByteArray errorJson(const QString &reason);

// One instrument on the list of /: its address, its link state's code ("live",
// "no-answer", ...; empty before its first poll) and its words.
struct ListedInstrument {
    int address = 0;
    QString linkState;
    QString linkText;
};
// The class of the page's style sheet that colours a link state: "state-live",
// "state-no-answer", ...; "state-unknown" for an empty code or one that is no
// word of lower-case letters and hyphens.
QString linkStateClass(const QString &linkState);
// The list page when several instruments are on the line. Colours by class only:
// the page's Content-Security-Policy blocks inline style attributes.
QByteArray indexPage(const std::vector<ListedInstrument> &instruments);

} // namespace Web
