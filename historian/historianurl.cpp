#include "historianurl.h"

#include <QUrl>
#include <QUrlQuery>

namespace
{

constexpr int kDefaultPort = 5432;
constexpr int kLargestPort = 65535;

HistorianTarget refused(const QString &reason)
{
    HistorianTarget target;
    target.error = reason;
    return target;
}

} // namespace

QString HistorianTarget::address() const
{
    return QStringLiteral("%1@%2:%3/%4").arg(user, host).arg(port).arg(database);
}

HistorianTarget parseHistorianUrl(const QString &text)
{
    const QString trimmed = text.trimmed();
    const int schemeEnd = trimmed.indexOf(QLatin1String("://"));
    const QString scheme = schemeEnd < 0 ? QString() : trimmed.left(schemeEnd).toLower();
    if (scheme != QLatin1String("postgresql") && scheme != QLatin1String("postgres"))
        return refused(QStringLiteral("historian address must start with postgresql://"));

    // The port is checked by hand: QUrl only says "invalid" for "5432x" or 70000.
    const QString rest = trimmed.mid(schemeEnd + 3);
    const QString hostPort = rest.section(QLatin1Char('@'), -1)
                                 .section(QLatin1Char('/'), 0, 0)
                                 .section(QLatin1Char('?'), 0, 0);
    HistorianTarget target;
    const int colon = hostPort.lastIndexOf(QLatin1Char(':'));
    if (colon > hostPort.lastIndexOf(QLatin1Char(']'))) {
        bool ok = false;
        const int port = hostPort.mid(colon + 1).toInt(&ok);
        if (!ok || port < 1 || port > kLargestPort)
            return refused(
                QStringLiteral("historian port must be a number from 1 to 65535, not \"%1\"")
                    .arg(hostPort.mid(colon + 1)));
        target.port = port;
    } else {
        target.port = kDefaultPort;
    }

    const QUrl url(trimmed, QUrl::StrictMode);
    if (!url.isValid())
        return refused(QStringLiteral("historian address is not valid: ") + url.errorString());
    const QUrlQuery query(url);
    target.user = url.userName(QUrl::FullyDecoded);
    target.password = url.password(QUrl::FullyDecoded);
    target.host = url.host(QUrl::FullyDecoded);
    // A socket folder given as ?host= replaces the host name, as libpq does it.
    const QString socketHost = query.queryItemValue(QStringLiteral("host"), QUrl::FullyDecoded);
    if (!socketHost.isEmpty())
        target.host = socketHost;
    target.station = query.queryItemValue(QStringLiteral("station"), QUrl::FullyDecoded).trimmed();
    target.database = url.path(QUrl::FullyDecoded).mid(1);
    if (target.host.isEmpty())
        return refused(QStringLiteral("historian address names no server host"));
    if (target.database.isEmpty() || target.database.contains(QLatin1Char('/')))
        return refused(QStringLiteral("historian address must name one database: /dbname"));
    return target;
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
