#pragma once

#include "store.h"

#include <QByteArray>
#include <QDateTime>
#include <QHostAddress>
#include <QList>
#include <QString>
#include <QUrlQuery>

#include <optional>

// What the web view makes of a request before it reads anything: the listening
// address of --web, the route of a path, the history's range, the token. Plain
// functions, so that every rule has its own test rows.
namespace Web
{

// Request bodies beyond this are refused (413): nothing the view serves takes one.
constexpr qint64 kLargestBody = 8 * 1024;
// Beyond this many connections at once a new one is answered 503 and closed.
constexpr int kMostClients = 32;
// The newest events the page shows, and the most one answer of /api/events holds.
constexpr int kPageEvents = 50;
constexpr int kMostEventsPerAnswer = 500;

// The address and port of `--web ADDRESS:PORT` ("127.0.0.1:8080", "[::1]:8080",
// "0.0.0.0:8080", "localhost:8080"); error says why it cannot be used.
struct ListenAddress {
    QHostAddress host;
    quint16 port = 0;
    QString error;
    bool isValid() const { return error.isEmpty(); }
    // "127.0.0.1:8080", "[::1]:8080".
    QString text() const;
};
ListenAddress parseListenAddress(const QString &text);

// Whether others than this computer can reach `host`: then a token is needed.
bool reachableFromOutside(const QHostAddress &host);

// Whether a request whose Host header is `host` is answered by a view that
// listens at `listen` (its scheme https when `tls`). On a loopback address only
// localhost, 127.0.0.1, [::1] and the address itself are, each with the
// listening port, or without one where that port is the scheme's own: a page
// of another site that a name of its own has led to 127.0.0.1 (DNS rebinding)
// is refused (421). Off loopback every request carries the token instead.
bool hostAllowed(const ListenAddress &listen, bool tls, const QByteArray &host);

// What a path names.
enum class Resource {
    Page,     // the instrument's page
    Index,    // the list of instruments (several on the line)
    Live,     // /api/live
    History,  // /api/history
    Events,   // /api/events
    Script,   // /page.js
    Style,    // /page.css
    Redirect, // "/a/5" -> "/a/5/"
    NotFound,
};
struct Route {
    Resource resource = Resource::NotFound;
    int address = 0;  // the instrument the resource is of
    QString location; // where a Redirect points
};
// The route of `path` when the tool serves `addresses` (in their order): with
// one instrument its page and API at the top and under /a/<address>/; with
// several, the list at the top and each under /a/<address>/ only.
Route routeOf(const QString &path, const QList<int> &addresses);

// An instant of a query: ISO 8601 with an offset or "Z", or a local date and
// time as the command line takes it (parseLocalMoment: "2026-12-07T08:00:05",
// "2026-12-07 08:00"); nullopt when unreadable.
std::optional<QDateTime> parseInstant(const QString &text);

// /api/history?from=…&to=…&ring=1s|10s&format=csv|json (the 1-second ring
// unless named; without a format, the Accept header chooses).
enum class HistoryFormat { ByAccept, Json, Csv };
struct HistoryQuery {
    QDateTime from;
    QDateTime to;
    RecordTable ring = RecordTable::PvData;
    HistoryFormat format = HistoryFormat::ByAccept;
    QString error; // why the query cannot be answered (400)
    bool isValid() const { return error.isEmpty(); }
};
HistoryQuery parseHistoryQuery(const QUrlQuery &query);

// /api/events?since=ID: the id after which events are wanted (nullopt: the
// newest kPageEvents); error when the id is no number of the events ring.
struct EventsQuery {
    std::optional<qint32> since;
    QString error;
    bool isValid() const { return error.isEmpty(); }
};
EventsQuery parseEventsQuery(const QUrlQuery &query);

// Whether a request that names these Accept types wants CSV rather than JSON.
bool wantsCsv(const QByteArray &accept);
// Whether the history of `query` is answered as CSV: as its format says, else by `accept`.
bool wantsCsv(const HistoryQuery &query, const QByteArray &accept);
// The file name a browser saves the CSV of `query` under, for the instrument
// at `address`: "zelmar-a1-20261207-080000-20261207-090000.csv" (local times).
QString csvFileName(int address, const HistoryQuery &query);

// Whether a request carries the token: as "Authorization: Bearer <token>",
// as the cookie the view set, or as ?token=. An empty `token` lets every request in.
enum class Access {
    Allowed,
    AllowedByQuery, // by ?token=: the answer sets the cookie
    Refused,
};
Access checkAccess(const QString &token, const QByteArray &authorization, const QByteArray &cookies,
                   const QString &queryToken);
// The cookie that carries the token.
constexpr char kTokenCookie[] = "zelmar_token";
// The Set-Cookie value after ?token=: HttpOnly, for this site only.
QByteArray tokenCookie(const QString &token);

} // namespace Web
