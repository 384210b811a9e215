#include "historianurl.h"

#include <libpq-fe.h>

#include <algorithm>

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace
{

constexpr int kDefaultPort = 5432;
constexpr int kLargestPort = 65535;
// A stop waits for a login under way (libpq cannot be interrupted in it), so a
// login may not take longer than this.
constexpr int kLongestLoginSeconds = 10;
constexpr char kMask[] = "****";
constexpr int kShortestMaskedWord = 4;
constexpr char kStation[] = "station";

// The schemes libpq reads, which it compares as written.
const QStringList &uriSchemes()
{
    static const QStringList schemes{QStringLiteral("postgresql://"),
                                     QStringLiteral("postgres://")};
    return schemes;
}

bool isUri(const QString &text)
{
    for (const QString &scheme : uriSchemes()) {
        if (text.startsWith(scheme, Qt::CaseInsensitive))
            return true;
    }
    return false;
}

// One key=value pair of a connection string and where it stands in the text.
struct Pair {
    QString key;
    QString value;
    int begin = 0;       // the key's first character
    int valueBegin = 0;  // the value's first character (its opening quote)
    int end = 0;         // after the value (its closing quote)
    bool equals = false; // the key is followed by '='
    bool whole = false;  // a key, '=' and a value that ends (a quoted value closes)
};

// The pairs of a key=value connection string by libpq's rules (blanks around
// '=', a value in single quotes or up to the next blank, backslash escapes),
// up to the first thing that is not a pair; that last one is not whole.
QVector<Pair> keyValuePairs(const QString &text)
{
    QVector<Pair> pairs;
    const int n = text.size();
    int i = 0;
    const auto skipBlanks = [&] {
        while (i < n && text.at(i).isSpace())
            ++i;
    };
    for (;;) {
        skipBlanks();
        if (i >= n)
            break;
        Pair pair;
        pair.begin = i;
        while (i < n && !text.at(i).isSpace() && text.at(i) != QLatin1Char('='))
            pair.key += text.at(i++);
        skipBlanks();
        if (i >= n || text.at(i) != QLatin1Char('=')) {
            pair.valueBegin = pair.end = n;
            pairs.append(pair);
            break;
        }
        ++i;
        pair.equals = true;
        skipBlanks();
        pair.valueBegin = i;
        const bool quoted = i < n && text.at(i) == QLatin1Char('\'');
        if (quoted)
            ++i;
        bool closed = !quoted;
        while (i < n) {
            const QChar c = text.at(i);
            if (c == QLatin1Char('\\') && i + 1 < n) {
                pair.value += text.at(i + 1);
                i += 2;
                continue;
            }
            ++i;
            if (quoted && c == QLatin1Char('\'')) {
                closed = true;
                break;
            }
            if (!quoted && c.isSpace()) {
                --i;
                break;
            }
            pair.value += c;
        }
        pair.end = i;
        pair.whole = closed;
        pairs.append(pair);
        if (!closed)
            break;
    }
    return pairs;
}

bool isKeyValue(const QString &text)
{
    static const QRegularExpression keyword(QStringLiteral("^[A-Za-z_]+$"));
    const QVector<Pair> pairs = keyValuePairs(text);
    return !pairs.isEmpty() && pairs.first().equals && keyword.match(pairs.first().key).hasMatch();
}

// A span of the text that holds a password.
struct Span {
    int begin = 0;
    int end = 0;
};

// Where the passwords of `text` stand: in an address (of any scheme), the user info after the
// first ':' up to the last '@' (wider than libpq reads it when the password
// holds an unencoded '@' or '/': too much is masked rather than too little),
// and every password= value, of an address's query or of a key=value pair.
QVector<Span> passwordSpans(const QString &text)
{
    QVector<Span> spans;
    if (text.contains(QLatin1String("://"))) { // also an address of another scheme
        const int start = text.indexOf(QLatin1String("://")) + 3;
        const int at = text.lastIndexOf(QLatin1Char('@'));
        const int colon = text.indexOf(QLatin1Char(':'), start);
        if (at > start && colon >= 0 && colon < at)
            spans.append({colon + 1, at});
        static const QRegularExpression inQuery(QStringLiteral("[?&]password=([^&]*)"));
        auto found = inQuery.globalMatch(text);
        while (found.hasNext()) {
            const QRegularExpressionMatch match = found.next();
            spans.append({int(match.capturedStart(1)), int(match.capturedEnd(1))});
        }
        return spans;
    }
    for (const Pair &pair : keyValuePairs(text)) {
        if (pair.key == QLatin1String("password"))
            spans.append({pair.valueBegin, pair.whole ? pair.end : int(text.size())});
    }
    return spans;
}

// The password texts of `text`, as written and as decoded.
QStringList secretsOf(const QString &text)
{
    QStringList secrets;
    for (const Span &span : passwordSpans(text)) {
        const QString raw = text.mid(span.begin, span.end - span.begin);
        if (raw.isEmpty())
            continue;
        secrets << raw << QUrl::fromPercentEncoding(raw.toUtf8());
        QString unquoted = raw;
        if (unquoted.startsWith(QLatin1Char('\'')))
            unquoted.remove(0, 1);
        if (unquoted.endsWith(QLatin1Char('\'')))
            unquoted.chop(1);
        secrets << unquoted;
    }
    secrets.removeAll(QString());
    secrets.removeDuplicates();
    return secrets;
}

// A reason that may quote pieces of `text` (libpq's, or ours naming a port),
// with every piece of a password in it masked.
QString withoutSecrets(QString reason, const QString &text)
{
    const QStringList secrets = secretsOf(text);
    if (secrets.isEmpty())
        return reason;
    // A password as long as a word, wherever it stands (a shorter one would
    // mask letters of the words themselves).
    for (const QString &secret : secrets) {
        if (secret.size() >= kShortestMaskedWord)
            reason.replace(secret, QLatin1String(kMask));
    }
    // A quoted piece that is part of a password ("pa" of "pa/ss", read as a port).
    static const QRegularExpression quoted(QStringLiteral("\"([^\"]*)\""));
    QString masked;
    int from = 0;
    auto found = quoted.globalMatch(reason);
    while (found.hasNext()) {
        const QRegularExpressionMatch match = found.next();
        const QString piece = match.captured(1);
        const bool secret =
            !piece.isEmpty() && std::any_of(secrets.begin(), secrets.end(),
                                            [&](const QString &s) { return s.contains(piece); });
        masked += reason.mid(from, match.capturedStart(1) - from);
        masked += secret ? QLatin1String(kMask) : piece;
        from = int(match.capturedEnd(1));
    }
    return masked + reason.mid(from);
}

HistorianTarget refused(const QString &reason, const QString &text)
{
    HistorianTarget target;
    const QString address = maskedHistorianAddress(text);
    target.error = withoutSecrets(reason, text).simplified();
    if (!address.isEmpty())
        target.error += QStringLiteral(" (%1)").arg(address);
    return target;
}

// `text` without its station parameter, which libpq does not know; the
// station's name in `station`.
QString withoutStation(const QString &text, QString *station)
{
    if (isUri(text)) {
        const int query = text.indexOf(QLatin1Char('?'));
        if (query < 0)
            return text;
        QStringList kept;
        for (const QString &item : text.mid(query + 1).split(QLatin1Char('&'))) {
            if (item.section(QLatin1Char('='), 0, 0) == QLatin1String(kStation))
                *station = QUrl::fromPercentEncoding(item.section(QLatin1Char('='), 1).toUtf8());
            else
                kept << item;
        }
        return kept.isEmpty() ? text.left(query)
                              : text.left(query + 1) + kept.join(QLatin1Char('&'));
    }
    QString rest = text;
    const QVector<Pair> pairs = keyValuePairs(text);
    for (auto pair = pairs.rbegin(); pair != pairs.rend(); ++pair) {
        if (pair->whole && pair->key == QLatin1String(kStation)) {
            *station = pair->value;
            rest.remove(pair->begin, pair->end - pair->begin);
        }
    }
    return rest;
}

// The address with its scheme as libpq compares it.
QString lowerScheme(const QString &text)
{
    if (!isUri(text))
        return text;
    const int end = text.indexOf(QLatin1String("://"));
    return text.left(end).toLower() + text.mid(end);
}

QString quotedValue(QString value)
{
    value.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    value.replace(QLatin1Char('\''), QLatin1String("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

} // namespace

QString HistorianTarget::address() const
{
    return QStringLiteral("%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

QString HistorianTarget::connectOptions() const
{
    QStringList options;
    for (const auto &parameter : parameters)
        options << parameter.first + QLatin1Char('=') + quotedValue(parameter.second);
    return options.join(QLatin1Char(' '));
}

HistorianTarget parseHistorianUrl(const QString &text)
{
    const QString trimmed = text.trimmed();
    if (!isUri(trimmed) && !isKeyValue(trimmed))
        return refused(QStringLiteral("historian address must start with postgresql:// or be "
                                      "key=value pairs"),
                       trimmed);
    QString station;
    const QByteArray conninfo = lowerScheme(withoutStation(trimmed, &station)).toUtf8();
    char *parseError = nullptr;
    PQconninfoOption *const options = PQconninfoParse(conninfo.constData(), &parseError);
    if (!options) {
        const QString reason =
            parseError ? QString::fromUtf8(parseError) : QStringLiteral("libpq could not read it");
        PQfreemem(parseError);
        return refused(QStringLiteral("historian address is not valid: ") + reason, trimmed);
    }

    HistorianTarget target;
    target.station = station.trimmed();
    QString port;
    QString hostAddress;
    for (const PQconninfoOption *option = options; option->keyword; ++option) {
        if (!option->val)
            continue;
        const QString key = QString::fromLatin1(option->keyword);
        const QString value = QString::fromUtf8(option->val);
        if (key == QLatin1String("user"))
            target.user = value;
        else if (key == QLatin1String("password"))
            target.password = value;
        else if (key == QLatin1String("host"))
            target.host = value;
        else if (key == QLatin1String("port"))
            port = value;
        else if (key == QLatin1String("dbname"))
            target.database = value;
        else
            target.parameters.append({key, value});
        if (key == QLatin1String("hostaddr"))
            hostAddress = value;
    }
    PQconninfoFree(options);

    for (const auto &parameter : std::as_const(target.parameters)) {
        // Qt's driver turns every ';' of its options into a blank.
        if (parameter.second.contains(QLatin1Char(';')))
            return refused(
                QStringLiteral("historian parameter %1 may not hold ';'").arg(parameter.first),
                trimmed);
        if (parameter.first == QLatin1String("connect_timeout")) {
            bool ok = false;
            const int seconds = parameter.second.trimmed().toInt(&ok);
            if (!ok || seconds < 1 || seconds > kLongestLoginSeconds)
                return refused(QStringLiteral("historian connect_timeout must be 1 to %1 "
                                              "seconds, not \"%2\"")
                                   .arg(kLongestLoginSeconds)
                                   .arg(parameter.second),
                               trimmed);
        }
    }
    if (port.isEmpty()) {
        target.port = kDefaultPort;
    } else {
        bool ok = false;
        target.port = port.toInt(&ok);
        if (!ok || target.port < 1 || target.port > kLargestPort)
            return refused(
                QStringLiteral("historian port must be a number from 1 to 65535, not \"%1\"")
                    .arg(port),
                trimmed);
    }
    if (target.host.isEmpty())
        target.host = hostAddress;
    if (target.host.isEmpty())
        return refused(QStringLiteral("historian address names no server host"), trimmed);
    if (target.database.isEmpty() || target.database.contains(QLatin1Char('/')))
        return refused(QStringLiteral("historian address must name one database: /dbname"),
                       trimmed);
    return target;
}

bool isHistorianAddress(const QString &text)
{
    const QString trimmed = text.trimmed();
    return isUri(trimmed) || (isKeyValue(trimmed) && !QFileInfo::exists(trimmed));
}

QString maskedHistorianAddress(const QString &text)
{
    QString masked = text;
    QVector<Span> spans = passwordSpans(text);
    std::sort(spans.begin(), spans.end(),
              [](const Span &a, const Span &b) { return a.begin > b.begin; });
    int before = int(text.size()) + 1;
    for (const Span &span : spans) {
        // Spans never overlap in practice; one that would is left to the wider one.
        if (span.end > before || span.end <= span.begin)
            continue;
        masked.replace(span.begin, span.end - span.begin, QLatin1String(kMask));
        before = span.begin;
    }
    return masked;
}

QString addressWithStation(const QString &address, const QString &station)
{
    const QString trimmed = address.trimmed();
    if (!isUri(trimmed))
        return trimmed + QStringLiteral(" station=") + quotedValue(station);
    return trimmed + (trimmed.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) +
           QStringLiteral("station=") + QString::fromLatin1(QUrl::toPercentEncoding(station));
}

QString stationName(const QString &configured, const QString &hostName, int serialPort)
{
    const QString name = configured.trimmed();
    if (!name.isEmpty())
        return name;
    return QStringLiteral("%1-port%2").arg(hostName).arg(serialPort);
}

QString addressStation(const QString &station, int address)
{
    return QStringLiteral("%1-a%2").arg(station).arg(address);
}
