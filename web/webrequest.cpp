#include "webrequest.h"

#include "daytime.h"
#include "events.h"

#include <QRegularExpression>
#include <QStringList>
#include <QUrlQuery>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace Web
{

namespace
{

bool sameSecret(const QByteArray &a, const QByteArray &b)
{
    // Every byte compared, so the time taken tells nothing of where they differ.
    if (a.size() != b.size())
        return false;
    unsigned char difference = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        difference |= static_cast<unsigned char>(a[i] ^ b[i]);
    return difference == 0;
}

QByteArray cookieValue(const QByteArray &cookies, const QByteArray &name)
{
    for (const QByteArray &part : cookies.split(';')) {
        const QByteArray pair = part.trimmed();
        const qsizetype equals = pair.indexOf('=');
        if (equals > 0 && pair.left(equals) == name)
            return pair.mid(equals + 1);
    }
    return {};
}

// A word of the query naming one of a few choices ("ring=1s"): `value` set to
// the choice named, left as it is when the item is absent; false, with
// "NAME is A or B, not WORD" in `error`, for a word that names none.
template <typename Value>
bool readChoice(const QUrlQuery &query, const char *name,
                std::initializer_list<std::pair<const char *, Value>> choices, Value &value,
                QString &error)
{
    const QString key = QLatin1String(name);
    if (!query.hasQueryItem(key))
        return true;
    const QString word = query.queryItemValue(key);
    QStringList words;
    for (const auto &[choiceWord, choice] : choices) {
        if (word == QLatin1String(choiceWord)) {
            value = choice;
            return true;
        }
        words.append(QLatin1String(choiceWord));
    }
    error = QStringLiteral("%1 is %2, not %3").arg(key, words.join(QStringLiteral(" or ")), word);
    return false;
}

} // namespace

QString ListenAddress::text() const
{
    const QString name = host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QStringLiteral("[%1]").arg(host.toString())
                             : host.toString();
    return QStringLiteral("%1:%2").arg(name).arg(port);
}

ListenAddress parseListenAddress(const QString &text)
{
    ListenAddress result;
    const QString trimmed = text.trimmed();
    const qsizetype colon = trimmed.lastIndexOf(u':');
    if (colon <= 0) {
        result.error =
            QStringLiteral("--web needs ADDRESS:PORT (e.g. 127.0.0.1:8080), not \"%1\"").arg(text);
        return result;
    }
    QString name = trimmed.left(colon);
    if (name.startsWith(u'[') && name.endsWith(u']'))
        name = name.mid(1, name.size() - 2);
    bool ok = false;
    const uint port = trimmed.mid(colon + 1).toUInt(&ok);
    if (!ok || port < 1 || port > 65535) {
        result.error =
            QStringLiteral("--web: the port must be a number from 1 to 65535, not \"%1\"")
                .arg(trimmed.mid(colon + 1));
        return result;
    }
    result.port = quint16(port);
    if (name.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0)
        result.host = QHostAddress(QHostAddress::LocalHost);
    else if (!result.host.setAddress(name))
        result.error =
            QStringLiteral("--web: \"%1\" is no IP address (write 127.0.0.1 or 0.0.0.0)").arg(name);
    return result;
}

bool reachableFromOutside(const QHostAddress &host)
{
    return !host.isLoopback();
}

bool hostAllowed(const ListenAddress &listen, bool tls, const QByteArray &host)
{
    if (reachableFromOutside(listen.host))
        return true;
    const QByteArray text = host.trimmed().toLower();
    // "[::1]:8080" and "127.0.0.1:8080": the port follows the last colon
    // outside the brackets.
    const qsizetype bracket = text.lastIndexOf(']');
    const qsizetype colon = text.lastIndexOf(':');
    const bool hasPort = colon > bracket;
    const QByteArray name = hasPort ? text.left(colon) : text;
    if (hasPort) {
        const QByteArray port = text.mid(colon + 1);
        const bool digits =
            !port.isEmpty() && port.size() <= 5 &&
            std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!digits || port.toUInt() != listen.port)
            return false;
    } else if (listen.port != (tls ? 443 : 80)) {
        return false;
    }
    const QString own = listen.text();
    const QByteArray ownName = own.left(own.lastIndexOf(u':')).toLatin1();
    return name == "localhost" || name == "127.0.0.1" || name == "[::1]" || name == ownName;
}

Route routeOf(const QString &path, const QList<int> &addresses)
{
    const auto named = [](const QString &rest, int address) -> Route {
        if (rest.isEmpty() || rest == QLatin1String("/"))
            return {Resource::Page, address, {}};
        if (rest == QLatin1String("/api/live"))
            return {Resource::Live, address, {}};
        if (rest == QLatin1String("/api/history"))
            return {Resource::History, address, {}};
        if (rest == QLatin1String("/api/events"))
            return {Resource::Events, address, {}};
        return {};
    };
    if (path == QLatin1String("/page.js"))
        return {Resource::Script, 0, {}};
    if (path == QLatin1String("/page.css"))
        return {Resource::Style, 0, {}};
    static const QRegularExpression instrument(QStringLiteral("^/a/([1-9][0-9]{0,2})(/.*)?$"));
    const QRegularExpressionMatch match = instrument.match(path);
    if (match.hasMatch()) {
        const int address = match.captured(1).toInt();
        if (!addresses.contains(address))
            return {};
        if (match.captured(2).isEmpty())
            return {Resource::Redirect, address, path + u'/'};
        return named(match.captured(2), address);
    }
    if (addresses.size() == 1)
        return named(path, addresses.constFirst());
    if (path == QLatin1String("/"))
        return {Resource::Index, 0, {}};
    return {};
}

std::optional<QDateTime> parseInstant(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return std::nullopt;
    const QDateTime moment = QDateTime::fromString(trimmed, Qt::ISODate);
    if (moment.isValid())
        return moment;
    return parseLocalMoment(trimmed);
}

HistoryQuery parseHistoryQuery(const QUrlQuery &query)
{
    HistoryQuery result;
    const QString from = query.queryItemValue(QStringLiteral("from"), QUrl::FullyDecoded);
    const QString to = query.queryItemValue(QStringLiteral("to"), QUrl::FullyDecoded);
    if (from.isEmpty() || to.isEmpty()) {
        result.error = QStringLiteral("from and to are needed (ISO 8601, e.g. "
                                      "2026-12-07T08:00:00+01:00)");
        return result;
    }
    const std::optional<QDateTime> first = parseInstant(from);
    const std::optional<QDateTime> last = parseInstant(to);
    if (!first || !last) {
        result.error = QStringLiteral("unreadable instant (write ISO 8601, e.g. "
                                      "2026-12-07T08:00:00+01:00): ") +
                       (first ? to : from);
        return result;
    }
    if (!readChoice(query, "ring", {{"1s", RecordTable::PvData}, {"10s", RecordTable::LpvWdjl}},
                    result.ring, result.error) ||
        !readChoice(query, "format", {{"csv", HistoryFormat::Csv}, {"json", HistoryFormat::Json}},
                    result.format, result.error))
        return result;
    if (*first > *last) {
        result.error = QStringLiteral("from after to");
        return result;
    }
    const int step = result.ring == RecordTable::PvData ? 1 : 10;
    const qint64 ringSeconds = qint64(kRecordRingIds) * step;
    if (first->secsTo(*last) > ringSeconds) {
        result.error = QStringLiteral("range longer than the %1 s ring holds (%2 hours)")
                           .arg(step)
                           .arg(double(ringSeconds) / 3600, 0, 'f', 1);
        return result;
    }
    result.from = *first;
    result.to = *last;
    return result;
}

EventsQuery parseEventsQuery(const QUrlQuery &query)
{
    EventsQuery result;
    if (!query.hasQueryItem(QStringLiteral("since")))
        return result;
    bool ok = false;
    const qint64 since = query.queryItemValue(QStringLiteral("since")).toLongLong(&ok);
    if (!ok || since < 0 || since > EventLog::kEventRingIds)
        result.error = QStringLiteral("since is an event id from 0 to %1, not \"%2\"")
                           .arg(EventLog::kEventRingIds)
                           .arg(query.queryItemValue(QStringLiteral("since")));
    else
        result.since = qint32(since);
    return result;
}

bool wantsCsv(const QByteArray &accept)
{
    for (const QByteArray &type : accept.split(',')) {
        if (type.split(';').constFirst().trimmed().toLower() == "text/csv")
            return true;
    }
    return false;
}

bool wantsCsv(const HistoryQuery &query, const QByteArray &accept)
{
    if (query.format == HistoryFormat::ByAccept)
        return wantsCsv(accept);
    return query.format == HistoryFormat::Csv;
}

QString csvFileName(int address, const HistoryQuery &query)
{
    // Local times, as the rows inside are written: the name says the range the
    // operator chose; digits and hyphens only, so it needs no quoting.
    const QString format = QStringLiteral("yyyyMMdd-HHmmss");
    return QStringLiteral("zelmar-a%1-%2-%3.csv")
        .arg(address)
        .arg(query.from.toLocalTime().toString(format), query.to.toLocalTime().toString(format));
}

Access checkAccess(const QString &token, const QByteArray &authorization, const QByteArray &cookies,
                   const QString &queryToken)
{
    if (token.isEmpty())
        return Access::Allowed;
    const QByteArray secret = token.toUtf8();
    if (authorization.startsWith("Bearer ") && sameSecret(authorization.mid(7).trimmed(), secret))
        return Access::Allowed;
    if (sameSecret(QByteArray::fromPercentEncoding(cookieValue(cookies, kTokenCookie)), secret))
        return Access::Allowed;
    if (!queryToken.isEmpty() && sameSecret(queryToken.toUtf8(), secret))
        return Access::AllowedByQuery;
    return Access::Refused;
}

QByteArray tokenCookie(const QString &token)
{
    return QByteArray(kTokenCookie) + '=' + QUrl::toPercentEncoding(token) +
           "; HttpOnly; SameSite=Strict; Path=/";
}

} // namespace Web
