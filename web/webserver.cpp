#include "webserver.h"

#include "daytime.h"
#include "historyrange.h"
#include "ringquery.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QMetaObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <functional>
#include <type_traits>
#include <unistd.h>

namespace
{

// A page that cannot take its pushes this fast (a browser asleep, a slow
// line) is dropped rather than queued without end: it reconnects and reloads.
constexpr qint64 kMostUnsentBytes = 1 << 20;

// A connection that sends no complete request for this long (a client that
// went away without closing, or one that trickles its headers) is closed.
constexpr qint64 kIdleMs = 60000;
constexpr std::chrono::seconds kIdleSweep{10};
// Properties of a connection: when it was last answered, and that it carries
// a page's WebSocket (never idle: the server speaks on it).
constexpr char kLastAnswered[] = "zelmarLastAnswered";
constexpr char kFollowing[] = "zelmarFollowing";
// A request (its headers and body) beyond this, sent without waiting for an
// answer, is refused and its connection closed: a flood of headers included.
constexpr qint64 kLargestRequest = 64 * 1024;
constexpr char kUnansweredBytes[] = "zelmarUnansweredBytes";

// What every answer carries: nothing from elsewhere on the page, nothing kept.
const QList<std::pair<QByteArray, QByteArray>> kCommonHeaders = {
    {"Content-Security-Policy", "default-src 'self'"},
    {"X-Content-Type-Options", "nosniff"},
    {"Referrer-Policy", "no-referrer"},
    {"Cache-Control", "no-store"},
};

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 413:
        return "Payload Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

// One answer, written whole to the connection; without its body for HEAD.
struct Answer {
    int status = 200;
    QByteArray type = "application/json";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
};

QByteArray answerBytes(const Answer &answer, bool withBody)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' +
                     reasonPhrase(answer.status) + "\r\n";
    out += "Content-Type: " + answer.type + "\r\n";
    out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    for (const auto &header : kCommonHeaders + answer.headers)
        out += header.first + ": " + header.second + "\r\n";
    out += "\r\n";
    if (withBody)
        out += answer.body;
    return out;
}

Answer refusal(int status, const QString &reason)
{
    return {status, "application/json", Web::errorJson(reason), {}};
}

QByteArray resource(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The listening socket, which answers a connection beyond Web::kMostClients
// with 503 at once (plain HTTP) or closes it (TLS) instead of letting it wait.
template <class Base> class CappedListener : public Base
{
public:
    CappedListener(std::function<int()> openConnections, std::function<void(QTcpSocket *)> watch,
                   bool plain)
        : m_openConnections(std::move(openConnections)), m_watch(std::move(watch)), m_plain(plain)
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_openConnections() < Web::kMostClients) {
            // A plain connection is watched before Qt HttpServer takes it
            // (which it does as soon as it is pending), so that the watch sees
            // each chunk before the server reads it; a TLS one is taken whole.
            if constexpr (std::is_same_v<Base, QTcpServer>) {
                auto *socket = new QTcpSocket(this);
                if (!socket->setSocketDescriptor(descriptor)) {
                    delete socket;
                    return;
                }
                m_watch(socket);
                Base::addPendingConnection(socket);
            } else {
                Base::incomingConnection(descriptor);
            }
            return;
        }
        if (m_plain) {
            const QByteArray busy = answerBytes({503,
                                                 "application/json",
                                                 Web::errorJson(QStringLiteral("too many clients")),
                                                 {{"Connection", "close"}, {"Retry-After", "1"}}},
                                                true);
            [[maybe_unused]] const ssize_t written =
                ::write(int(descriptor), busy.constData(), size_t(busy.size()));
        }
        ::close(int(descriptor));
    }

private:
    std::function<int()> m_openConnections;
    std::function<void(QTcpSocket *)> m_watch;
    bool m_plain = true;
};

} // namespace

void SnapshotBoard::put(std::shared_ptr<const LiveSnapshot> snapshot)
{
    const QMutexLocker lock(&m_mutex);
    m_snapshots.insert(snapshot->address, std::move(snapshot));
}

std::shared_ptr<const LiveSnapshot> SnapshotBoard::get(int address) const
{
    const QMutexLocker lock(&m_mutex);
    return m_snapshots.value(address);
}

WebServer::WebServer(const WebSettings &settings, std::shared_ptr<SnapshotBoard> board)
    : m_settings(settings), m_board(std::move(board))
{
    connect(this, &QAbstractHttpServer::newWebSocketConnection, this, &WebServer::takeWebSockets);
}

WebServer::~WebServer()
{
    for (const Follower &follower : m_followers)
        delete follower.socket;
    m_readers.clear();
}

int WebServer::openConnections() const
{
    // A page's WebSocket keeps its connection among the listener's, so
    // counting those counts the pages too.
    int open = 0;
    if (m_listener) {
        for (const QTcpSocket *socket :
             m_listener->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly))
            open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    }
    return open;
}

QString WebServer::start()
{
    const auto open = [this] { return openConnections(); };
    const auto watch = [this](QTcpSocket *socket) { watchRequestSize(socket); };
    const bool tls = !m_settings.certificatePath.isEmpty() && !m_settings.keyPath.isEmpty();
    if (tls) {
        QFile certificateFile(m_settings.certificatePath);
        QFile keyFile(m_settings.keyPath);
        if (!certificateFile.open(QIODevice::ReadOnly))
            return QStringLiteral("ZELMAR_WEB_CERT: cannot read %1")
                .arg(m_settings.certificatePath);
        if (!keyFile.open(QIODevice::ReadOnly))
            return QStringLiteral("ZELMAR_WEB_KEY: cannot read %1").arg(m_settings.keyPath);
        const QSslCertificate certificate(&certificateFile, QSsl::Pem);
        const QByteArray keyText = keyFile.readAll();
        QSslKey key(keyText, QSsl::Rsa, QSsl::Pem);
        if (key.isNull())
            key = QSslKey(keyText, QSsl::Ec, QSsl::Pem);
        if (certificate.isNull())
            return QStringLiteral("ZELMAR_WEB_CERT: no PEM certificate in %1")
                .arg(m_settings.certificatePath);
        if (key.isNull())
            return QStringLiteral("ZELMAR_WEB_KEY: no PEM private key (RSA or EC) in %1")
                .arg(m_settings.keyPath);
        auto *server = new CappedListener<QSslServer>(open, watch, false);
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificate(certificate);
        configuration.setPrivateKey(key);
        server->setSslConfiguration(configuration);
        m_listener = server;
    } else {
        m_listener = new CappedListener<QTcpServer>(open, watch, true);
    }
    m_listener->setParent(this);
    if (!m_listener->listen(m_settings.listen.host, m_settings.listen.port)) {
        const QString why = m_listener->errorString();
        delete m_listener;
        m_listener = nullptr;
        return QStringLiteral("the web view cannot listen on %1: %2")
            .arg(m_settings.listen.text(), why);
    }
    bind(m_listener);
    m_idleSweep.setInterval(kIdleSweep);
    connect(&m_idleSweep, &QTimer::timeout, this, &WebServer::closeIdle);
    m_idleSweep.start();
    return {};
}

void WebServer::watchRequestSize(QTcpSocket *socket)
{
    // Connected before Qt HttpServer's own reading, so each call sees the
    // bytes that came since the server last read.
    connect(socket, &QTcpSocket::readyRead, this, [socket] {
        if (socket->property(kFollowing).toBool())
            return;
        const qint64 unanswered =
            socket->property(kUnansweredBytes).toLongLong() + socket->bytesAvailable();
        socket->setProperty(kUnansweredBytes, unanswered);
        if (unanswered > kLargestRequest) {
            socket->write(answerBytes(refusal(413, QStringLiteral("request too large")), true));
            socket->flush();
            socket->abort();
        }
    });
}

void WebServer::closeIdle()
{
    if (!m_listener)
        return;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (QTcpSocket *socket : m_listener->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly)) {
        if (socket->property(kFollowing).toBool())
            continue;
        const QVariant answered = socket->property(kLastAnswered);
        // First seen now: its time starts here.
        if (!answered.isValid())
            socket->setProperty(kLastAnswered, now);
        else if (now - answered.toLongLong() > kIdleMs)
            socket->abort();
    }
}

void WebServer::takeWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket *socket = nextPendingWebSocketConnection().release();
        socket->setParent(this);
        const QNetworkRequest request = socket->request();
        const QUrlQuery query(request.url());
        const Web::Route route = Web::routeOf(request.url().path(), m_settings.addresses);
        const bool allowed =
            Web::checkAccess(m_settings.token, request.rawHeader("Authorization"),
                             request.rawHeader("Cookie"),
                             query.queryItemValue(QStringLiteral("token"))) != Web::Access::Refused;
        // A page of another site may not follow the instrument with this browser's cookie.
        const QByteArray origin = request.rawHeader("Origin");
        const bool sameSite = origin.isEmpty() || QUrl(QString::fromUtf8(origin)).authority() ==
                                                      QString::fromUtf8(request.rawHeader("Host"));
        if (!allowed || !sameSite || route.resource != Web::Resource::Live ||
            openConnections() >= Web::kMostClients) {
            socket->close(allowed ? QWebSocketProtocol::CloseCodeNormal
                                  : QWebSocketProtocol::CloseCodePolicyViolated);
            socket->deleteLater();
            continue;
        }
        m_followers.push_back({socket, route.address});
        connect(socket, &QWebSocket::disconnected, this, [this, socket] {
            m_followers.erase(
                std::remove_if(m_followers.begin(), m_followers.end(),
                               [socket](const Follower &f) { return f.socket == socket; }),
                m_followers.end());
            socket->deleteLater();
        });
        if (const auto snapshot = m_board->get(route.address))
            socket->sendTextMessage(QString::fromUtf8(liveJson(*snapshot)));
    }
}

void WebServer::push(int address)
{
    const auto snapshot = m_board->get(address);
    if (!snapshot)
        return;
    const QString message = QString::fromUtf8(liveJson(*snapshot));
    for (const Follower &follower : m_followers) {
        if (follower.address != address)
            continue;
        if (follower.socket->bytesToWrite() > kMostUnsentBytes)
            follower.socket->abort();
        else
            follower.socket->sendTextMessage(message);
    }
}

RingReader *WebServer::reader(int address, QString &error)
{
    std::unique_ptr<RingReader> &reader = m_readers[address];
    if (!reader)
        reader = std::make_unique<RingReader>(
            QStringLiteral("web-a%1-%2").arg(address).arg(quintptr(this)));
    if (reader->isOpen())
        return reader.get();
    if (reader->open(m_settings.databases.value(address)) != RingReader::OpenResult::Opened) {
        error = reader->lastError();
        return nullptr;
    }
    return reader.get();
}

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    socket->write(answerBytes(refusal(404, QStringLiteral("no such page")), true));
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    const bool head = request.method() == QHttpServerRequest::Method::Head;
    // Qt HttpServer keeps every connection open: one that asks to be closed
    // after its answer is closed here, so that it frees its place at once.
    const bool closing = request.value("connection").toLower().contains("close");
    const auto send = [&](Answer answer) {
        if (closing)
            answer.headers.append(std::pair<QByteArray, QByteArray>("Connection", "close"));
        socket->write(answerBytes(answer, !head));
        socket->setProperty(kLastAnswered, QDateTime::currentMSecsSinceEpoch());
        socket->setProperty(kUnansweredBytes, 0);
        if (closing)
            socket->disconnectFromHost();
    };
    bool lengthOk = true;
    const qint64 declared = request.value("content-length").toLongLong(&lengthOk);
    if (request.body().size() > Web::kLargestBody || (lengthOk && declared > Web::kLargestBody)) {
        Answer answer = refusal(413, QStringLiteral("request body too large"));
        if (!closing)
            answer.headers.append(std::pair<QByteArray, QByteArray>("Connection", "close"));
        send(answer);
        socket->disconnectFromHost();
        return true;
    }
    if (request.method() != QHttpServerRequest::Method::Get && !head) {
        Answer answer =
            refusal(405, QStringLiteral("the web view is read-only: GET and HEAD only"));
        answer.headers.append(std::pair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
        send(answer);
        return true;
    }
    const QUrlQuery query = request.query();
    const Web::Access access =
        Web::checkAccess(m_settings.token, request.value("authorization"), request.value("cookie"),
                         query.queryItemValue(QStringLiteral("token")));
    if (access == Web::Access::Refused) {
        Answer answer = refusal(401, QStringLiteral("a token is needed"));
        answer.headers.append(std::pair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer"));
        send(answer);
        return true;
    }
    const Web::Route route = Web::routeOf(request.url().path(), m_settings.addresses);
    // A page asking for its pushes: Qt HttpServer hands the connection over to
    // the WebSocket side once this says the request is handled, with nothing
    // written. An upgrade anywhere else is answered and the connection closed.
    if (request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0) {
        if (route.resource == Web::Resource::Live) {
            socket->setProperty(kFollowing, true);
            return true;
        }
        send(refusal(404, QStringLiteral("no such page")));
        socket->disconnectFromHost();
        return true;
    }
    Answer answer = [&]() -> Answer {
        switch (route.resource) {
        case Web::Resource::Page:
            return {
                200, "text/html; charset=utf-8", resource(QStringLiteral(":/web/page.html")), {}};
        case Web::Resource::Script:
            return {200,
                    "text/javascript; charset=utf-8",
                    resource(QStringLiteral(":/web/page.js")),
                    {}};
        case Web::Resource::Style:
            return {200, "text/css; charset=utf-8", resource(QStringLiteral(":/web/page.css")), {}};
        case Web::Resource::Redirect:
            return {301, "text/plain", {}, {{"Location", route.location.toUtf8()}}};
        case Web::Resource::Index: {
            std::vector<Web::ListedInstrument> list;
            for (int address : m_settings.addresses) {
                const auto snapshot = m_board->get(address);
                list.push_back({address, snapshot ? snapshot->linkState : QString(),
                                snapshot ? snapshot->linkText : QStringLiteral("未知")});
            }
            return {200, "text/html; charset=utf-8", Web::indexPage(list), {}};
        }
        case Web::Resource::Live: {
            const auto snapshot = m_board->get(route.address);
            if (!snapshot)
                return refusal(503, QStringLiteral("no poll yet"));
            return {200, "application/json", liveJson(*snapshot), {}};
        }
        case Web::Resource::History: {
            const Web::HistoryQuery range = Web::parseHistoryQuery(query);
            if (!range.isValid())
                return refusal(400, range.error);
            QString error;
            RingReader *ring = reader(route.address, error);
            if (!ring)
                return refusal(503, error);
            const History::RangeRead read =
                History::readRange(*ring, range.ring, serialOf(range.from.toLocalTime()),
                                   serialOf(range.to.toLocalTime()), History::RowOrder::Recording);
            if (!read.ok)
                return refusal(503, read.error);
            if (Web::wantsCsv(range, request.value("accept")))
                return {200,
                        "text/csv; charset=utf-8",
                        Web::historyCsv(read.rows),
                        {{"Content-Disposition",
                          "attachment; filename=\"" +
                              Web::csvFileName(route.address, range).toUtf8() + '"'}}};
            return {200,
                    "application/json",
                    Web::historyJson(read.rows, range.ring, m_settings.look),
                    {}};
        }
        case Web::Resource::Events: {
            const Web::EventsQuery events = Web::parseEventsQuery(query);
            if (!events.isValid())
                return refusal(400, events.error);
            QString error;
            RingReader *ring = reader(route.address, error);
            if (!ring)
                return refusal(503, error);
            qint32 newest = 0;
            const std::vector<NumberedEvent> rows = readEventsAfter(
                ring->connectionName(), events.since,
                events.since ? Web::kMostEventsPerAnswer : Web::kPageEvents, newest, &error);
            if (!error.isEmpty())
                return refusal(503, error);
            return {200, "application/json", Web::eventsJson(rows, newest), {}};
        }
        case Web::Resource::NotFound:
            break;
        }
        return refusal(404, QStringLiteral("no such page"));
    }();
    if (access == Web::Access::AllowedByQuery)
        answer.headers.append(
            std::pair<QByteArray, QByteArray>("Set-Cookie", Web::tokenCookie(m_settings.token)));
    send(answer);
    return true;
}

// The page's files are resources of this static library, so the program
// that links it registers them once.
static void registerPageFiles()
{
    Q_INIT_RESOURCE(web);
}

WebView::WebView(const WebSettings &settings, QObject *parent)
    : QObject(parent), m_settings(settings)
{
    registerPageFiles();
    m_thread.setObjectName(QStringLiteral("web view"));
}

WebView::~WebView()
{
    if (m_anchor) {
        // The server, its connections and database readers end on their own thread.
        QMetaObject::invokeMethod(
            m_anchor,
            [this] {
                delete m_server;
                delete m_anchor;
            },
            Qt::BlockingQueuedConnection);
        m_server = nullptr;
        m_anchor = nullptr;
    }
    m_thread.quit();
    m_thread.wait();
}

QString WebView::start()
{
    m_anchor = new QObject;
    m_anchor->moveToThread(&m_thread);
    m_thread.start();
    // Made and bound on its own thread, so that its sockets and database
    // connections belong there; the one wait of the UI thread is this start.
    QString error;
    QMetaObject::invokeMethod(
        m_anchor,
        [&] {
            m_server = new WebServer(m_settings, m_board);
            error = m_server->start();
            if (!error.isEmpty()) {
                delete m_server;
                m_server = nullptr;
            }
        },
        Qt::BlockingQueuedConnection);
    return error;
}

void WebView::publish(const LiveSnapshot &snapshot)
{
    if (!m_server)
        return;
    m_board->put(std::make_shared<const LiveSnapshot>(snapshot));
    const int address = snapshot.address;
    QMetaObject::invokeMethod(
        m_server, [server = m_server, address] { server->push(address); }, Qt::QueuedConnection);
}

QString WebView::url() const
{
    const bool tls = !m_settings.certificatePath.isEmpty() && !m_settings.keyPath.isEmpty();
    return (tls ? QStringLiteral("https://") : QStringLiteral("http://")) +
           m_settings.listen.text() + u'/';
}
