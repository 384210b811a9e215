#include "webtool.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

quint16 freePort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    return server.serverPort();
}

QByteArray HttpReply::header(const QByteArray &name) const
{
    for (const QByteArray &line : head.split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == name.toLower())
            return line.mid(colon + 1).trimmed();
    }
    return {};
}

std::unique_ptr<QTcpSocket> connectFrom(const QHostAddress &from, quint16 port)
{
    auto socket = std::make_unique<QTcpSocket>();
    if (!from.isNull())
        socket->bind(from);
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->waitForConnected(5000);
    return socket;
}

qint64 residentKiB(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    return 0;
}

HttpReply exchange(quint16 port, const QByteArray &request, int timeoutMs, const QHostAddress &from)
{
    HttpReply reply;
    QTcpSocket socket;
    if (!from.isNull())
        socket.bind(from);
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(timeoutMs))
        return reply;
    socket.write(request);
    QByteArray all;
    QElapsedTimer clock;
    clock.start();
    // Read until the whole answer (its Content-Length) is in, or the server closes.
    while (clock.elapsed() < timeoutMs) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(100)) {
            if (socket.state() != QAbstractSocket::ConnectedState)
                break;
        }
        all += socket.readAll();
        const qsizetype end = all.indexOf("\r\n\r\n");
        if (end >= 0) {
            reply.head = all.left(end);
            const QByteArray length = reply.header("content-length");
            if (!length.isEmpty() && all.size() - end - 4 >= length.toLongLong())
                break;
        }
    }
    all += socket.readAll();
    const qsizetype end = all.indexOf("\r\n\r\n");
    if (end < 0)
        return reply;
    reply.head = all.left(end);
    reply.body = all.mid(end + 4);
    const QList<QByteArray> status = reply.head.left(reply.head.indexOf('\r')).split(' ');
    reply.status = status.size() > 1 ? status.at(1).toInt() : 0;
    return reply;
}

HttpReply httpRequest(quint16 port, const QByteArray &method, const QByteArray &path,
                      const QList<QByteArray> &headers, const QByteArray &body)
{
    QByteArray request = method + ' ' + path +
                         " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                         "\r\nConnection: close\r\n";
    for (const QByteArray &header : headers)
        request += header + "\r\n";
    if (!body.isEmpty())
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    request += "\r\n" + body;
    return exchange(port, request);
}

QString chromiumProgram()
{
    return QStandardPaths::findExecutable(QStringLiteral("chromium"));
}

namespace
{
constexpr int kViewHeight = 1000; // of a view narrowed to a phone's width
} // namespace

HeadlessPage::HeadlessPage() = default;

HeadlessPage::~HeadlessPage()
{
    m_socket.close();
    if (m_chromium.state() != QProcess::NotRunning) {
        m_chromium.terminate();
        if (!m_chromium.waitForFinished(5000)) {
            m_chromium.kill();
            m_chromium.waitForFinished();
        }
    }
}

bool HeadlessPage::open(const QString &url, int width)
{
    QStringList arguments{QStringLiteral("--headless"),
                          QStringLiteral("--no-sandbox"),
                          QStringLiteral("--disable-gpu"),
                          QStringLiteral("--no-first-run"),
                          QStringLiteral("--remote-debugging-port=0"),
                          QStringLiteral("--user-data-dir=") + m_profile.path()};
    m_chromium.start(chromiumProgram(), arguments << QStringLiteral("about:blank"));
    if (!m_chromium.waitForStarted()) {
        m_error = QStringLiteral("chromium does not start");
        return false;
    }
    // "DevTools listening on ws://127.0.0.1:PORT/devtools/browser/…"
    static const QRegularExpression listening(QStringLiteral("ws://127.0.0.1:(\\d+)/"));
    QByteArray said;
    QElapsedTimer clock;
    clock.start();
    QRegularExpressionMatch match;
    while (clock.elapsed() < 20000 &&
           !(match = listening.match(QString::fromUtf8(said))).hasMatch()) {
        m_chromium.waitForReadyRead(200);
        said += m_chromium.readAllStandardError();
    }
    if (!match.hasMatch()) {
        m_error = QStringLiteral("chromium gave no DevTools address: ") + QString::fromUtf8(said);
        return false;
    }
    const quint16 port = quint16(match.captured(1).toUInt());
    const HttpReply list = httpRequest(port, "GET", "/json/list");
    QString target;
    for (const QJsonValue &page : QJsonDocument::fromJson(list.body).array())
        if (page[QStringLiteral("type")].toString() == QLatin1String("page"))
            target = page[QStringLiteral("webSocketDebuggerUrl")].toString();
    if (target.isEmpty()) {
        m_error = QStringLiteral("no page in chromium: ") + QString::fromUtf8(list.body);
        return false;
    }
    m_socket.open(QUrl(target));
    for (int waited = 0; waited < 10000 && m_socket.state() != QAbstractSocket::ConnectedState;
         waited += 50)
        QTest::qWait(50);
    if (m_socket.state() != QAbstractSocket::ConnectedState) {
        m_error = QStringLiteral("the DevTools socket did not open");
        return false;
    }
    // A window narrower than 500 pixels is not made: the view is narrowed as
    // the DevTools' device mode narrows it.
    if (width > 0 && call(QStringLiteral("Emulation.setDeviceMetricsOverride"),
                          {{QStringLiteral("width"), width},
                           {QStringLiteral("height"), kViewHeight},
                           {QStringLiteral("deviceScaleFactor"), 1},
                           {QStringLiteral("mobile"), true}},
                          10000)
                         .isEmpty())
        return false;
    return navigate(url);
}

bool HeadlessPage::navigate(const QString &url)
{
    return !call(QStringLiteral("Page.navigate"), {{QStringLiteral("url"), url}}, 10000).isEmpty();
}

QJsonObject HeadlessPage::call(const QString &method, const QJsonObject &params, int timeoutMs)
{
    const int id = m_nextId++;
    QJsonObject answer;
    QEventLoop loop;
    const auto connection = QObject::connect(
        &m_socket, &QWebSocket::textMessageReceived, &loop, [&](const QString &text) {
            const QJsonObject message = QJsonDocument::fromJson(text.toUtf8()).object();
            if (message[QStringLiteral("id")].toInt() == id) {
                answer = message;
                loop.quit();
            }
        });
    m_socket.sendTextMessage(
        QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("id"), id},
                                                    {QStringLiteral("method"), method},
                                                    {QStringLiteral("params"), params}})
                              .toJson(QJsonDocument::Compact)));
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    if (answer.isEmpty())
        m_error = method + QStringLiteral(": no answer");
    return answer;
}

QVariant HeadlessPage::evaluate(const QString &expression, int timeoutMs)
{
    const QJsonObject answer =
        call(QStringLiteral("Runtime.evaluate"),
             {{QStringLiteral("expression"), expression}, {QStringLiteral("returnByValue"), true}},
             timeoutMs);
    const QJsonObject result =
        answer[QStringLiteral("result")].toObject()[QStringLiteral("result")].toObject();
    if (!result.contains(QStringLiteral("value")))
        return {};
    return result[QStringLiteral("value")].toVariant();
}
