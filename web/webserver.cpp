// The web view's HTTP and WebSocket server: the listener that admits
// connections, the steps that take each request to its answer, the answers
// read on the reader pool sent in the order of their requests, and WebView,
// which runs the server on a thread of its own.

#include "webserver.h"

#include "webconnection.h"

#include <QDateTime>
#include <QFile>
#include <QHttpServerRequest>
#include <QMetaObject>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslServer>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWebSocket>

#include <algorithm>
#include <deque>
#include <functional>
#include <sys/socket.h>
#include <type_traits>
#include <unistd.h>

// One answer, written whole to the connection; without its body for HEAD.
struct Web::Answer {
    int status = 200;
    QByteArray type = "application/json";
    QByteArray body;
    QList<std::pair<QByteArray, QByteArray>> headers;
    bool close = false; // the connection ends after it
};
using Web::Answer;

namespace
{

// A page that cannot take its pushes this fast (a browser asleep, a slow
// line) is dropped rather than queued without end: it reconnects and reloads.
constexpr qint64 kMostUnsentBytes = 1 << 20;
// How often each connection's deadlines are looked at (Web::connectionVerdict).
constexpr std::chrono::milliseconds kSweep{500};
// Answers written and not yet taken in by their clients: beyond this no new
// read of a recording starts, so that memory held for slow readers stays
// bounded (one history answer of the whole 1-second ring is about 7 MiB).
constexpr qint64 kUnsentBudget = 32 << 20;
// Answers one connection may have waiting for a reader (requests sent
// without waiting for their answers); one more closes it.
constexpr int kMostWaitingAnswers = 4;

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
    case 421:
        return "Misdirected Request";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

QByteArray answerBytes(const Answer &answer, bool withBody)
{
    QByteArray out = "HTTP/1.1 " + QByteArray::number(answer.status) + ' ' +
                     reasonPhrase(answer.status) + "\r\n";
    out += "Content-Type: " + answer.type + "\r\n";
    out += "Content-Length: " + QByteArray::number(answer.body.size()) + "\r\n";
    for (const auto &header : kCommonHeaders + answer.headers)
        out += header.first + ": " + header.second + "\r\n";
    if (answer.close)
        out += "Connection: close\r\n";
    out += "\r\n";
    if (withBody)
        out += answer.body;
    return out;
}

Answer refusal(int status, const QString &reason, bool close = false)
{
    return {status, "application/json", Web::errorJson(reason), {}, close};
}

// The answer beyond the cap, written before anything of the request is read.
const QByteArray &busyBytes()
{
    static const QByteArray bytes =
        answerBytes({503,
                     "application/json",
                     Web::errorJson(QStringLiteral("too many clients")),
                     {{"Retry-After", QByteArray::number(Web::kRetryAfterSeconds)}},
                     true},
                    true);
    return bytes;
}

QByteArray resource(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QHostAddress peerOf(qintptr descriptor)
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(int(descriptor), reinterpret_cast<sockaddr *>(&address), &length) != 0)
        return {};
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}

bool isUpgrade(const QHttpServerRequest &request)
{
    return request.value("upgrade").compare("websocket", Qt::CaseInsensitive) == 0;
}

// The listening socket. A connection beyond Web::kMostClients, or beyond
// Web::kMostPerAddress from one address, is answered 503 (plain HTTP) or
// closed (TLS) at once, before any of it is read; a burst of such refusals
// pauses accepting for a moment (Web::RefusalPace).
template <class Base> class GatedListener : public Base
{
public:
    using Admit = std::function<bool(const QHostAddress &)>;
    using Watch = std::function<void(QTcpSocket *)>;
    GatedListener(Admit admit, Watch watch) : m_admit(std::move(admit)), m_watch(std::move(watch))
    {
    }

protected:
    void incomingConnection(qintptr descriptor) override
    {
        if (m_admit(peerOf(descriptor))) {
            // A plain connection is watched before Qt HttpServer takes it
            // (which it does as soon as it is pending), so that the watch sees
            // each chunk before the server reads it; a TLS one is watched as
            // its handshake starts (startedEncryptionHandshake).
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
        if constexpr (std::is_same_v<Base, QTcpServer>) {
            [[maybe_unused]] const ssize_t written =
                ::write(int(descriptor), busyBytes().constData(), size_t(busyBytes().size()));
        }
        ::close(int(descriptor));
        if (m_pace.refused(QDateTime::currentMSecsSinceEpoch())) {
            Base::pauseAccepting();
            QTimer::singleShot(Web::kAcceptPauseMs, this, [this] { Base::resumeAccepting(); });
        }
    }

private:
    Admit m_admit;
    Watch m_watch;
    Web::RefusalPace m_pace;
};

} // namespace

// What the server keeps of one connection, a child of its socket (so it ends
// with it): its times, the versions of its requests, and its answers in the
// order of their requests while some wait for a reader.
class ConnectionWatch : public QObject
{
    Q_OBJECT
public:
    explicit ConnectionWatch(QTcpSocket *socket) : QObject(socket) {}

    struct Slot {
        quint64 id = 0;
        bool ready = false;
        QByteArray bytes;
        bool close = false;
    };

    Web::ConnectionTimes times;
    Web::RequestLines lines;
    qint64 unanswered = 0; // bytes received since the last complete request
    bool silenced = false; // refused and closing: nothing more is answered
    std::deque<Slot> queue;
    quint64 nextSlot = 1;

    int waiting() const
    {
        return int(
            std::count_if(queue.begin(), queue.end(), [](const Slot &s) { return !s.ready; }));
    }
};

namespace
{

ConnectionWatch *watchOf(QTcpSocket *socket)
{
    return socket ? socket->findChild<ConnectionWatch *>(QString(), Qt::FindDirectChildrenOnly)
                  : nullptr;
}

} // namespace

// One request as the steps of WebServer::handleRequest see it.
struct WebServer::Exchange {
    const QHttpServerRequest &request;
    QTcpSocket *socket;
    ConnectionWatch *watch;
    bool head = false;
    bool closing = false; // asked to close after the answer
    Web::Access access = Web::Access::Allowed;
};

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
    // Before anything else: a read still running is interrupted, and its
    // answer never comes back to this server.
    m_readers.reset();
    for (const Follower &follower : m_followers)
        delete follower.socket;
}

QList<QTcpSocket *> WebServer::connections() const
{
    if (!m_listener)
        return {};
    return m_listener->findChildren<QTcpSocket *>(Qt::FindDirectChildrenOnly);
}

int WebServer::openConnections() const
{
    // A page's WebSocket keeps its connection among the listener's, so
    // counting those counts the pages too.
    int open = 0;
    for (const QTcpSocket *socket : connections())
        open += socket->state() == QAbstractSocket::ConnectedState ? 1 : 0;
    return open;
}

bool WebServer::admit(const QHostAddress &peer)
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    int open = 0;
    int fromPeer = 0;
    QTcpSocket *longestIdle = nullptr;
    qint64 idleSince = 0;
    for (QTcpSocket *socket : connections()) {
        if (socket->state() != QAbstractSocket::ConnectedState)
            continue;
        ++open;
        if (socket->peerAddress().isEqual(peer))
            ++fromPeer;
        const ConnectionWatch *watch = watchOf(socket);
        if (!watch || !Web::reclaimable(watch->times, now) || socket->bytesToWrite() > 0)
            continue;
        const qint64 since = watch->times.lastAnswered.value_or(watch->times.connected);
        if (!longestIdle || since < idleSince) {
            longestIdle = socket;
            idleSince = since;
        }
    }
    if (fromPeer >= Web::kMostPerAddress)
        return false;
    if (open < Web::kMostClients)
        return true;
    if (!longestIdle)
        return false;
    longestIdle->abort();
    return true;
}

QString WebServer::start()
{
    const auto admit = [this](const QHostAddress &peer) { return this->admit(peer); };
    const auto watch = [this](QTcpSocket *socket) { watchConnection(socket); };
    if (m_settings.usesTls()) {
        QSslConfiguration configuration;
        const QString fault = tlsConfiguration(m_settings, configuration);
        if (!fault.isEmpty())
            return fault;
        auto *server = new GatedListener<QSslServer>(admit, watch);
        server->setSslConfiguration(configuration);
        server->setHandshakeTimeout(int(Web::kRequestDeadlineMs));
        connect(server, &QSslServer::startedEncryptionHandshake, this,
                [this](QSslSocket *socket) { watchConnection(socket); });
        m_listener = server;
    } else {
        m_listener = new GatedListener<QTcpServer>(admit, watch);
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
    m_readers = std::make_unique<Web::ReaderPool>(m_settings.databases, m_settings.look, this);
    m_sweep.setInterval(kSweep);
    connect(&m_sweep, &QTimer::timeout, this, &WebServer::sweep);
    m_sweep.start();
    return {};
}

void WebServer::watchConnection(QTcpSocket *socket)
{
    // Whatever a client sends, no more than this is held for it in memory.
    socket->setReadBufferSize(Web::kReadBuffer);
    auto *watch = new ConnectionWatch(socket);
    watch->times.connected = QDateTime::currentMSecsSinceEpoch();
    // Connected before Qt HttpServer's own reading, so each call sees the
    // bytes that came since the server last read. A WebSocket's connection
    // loses this when it is handed over (its frame limits apply then).
    connect(socket, &QTcpSocket::readyRead, watch, [socket, watch] {
        const qint64 fresh = socket->bytesAvailable();
        if (fresh <= 0)
            return;
        if (!watch->times.requestStarted)
            watch->times.requestStarted = QDateTime::currentMSecsSinceEpoch();
        watch->lines.feed(socket->peek(fresh));
        watch->unanswered += fresh;
        if (watch->unanswered > Web::kLargestRequest && !watch->silenced) {
            watch->silenced = true;
            socket->write(
                answerBytes(refusal(413, QStringLiteral("request too large"), true), true));
            socket->flush();
            socket->abort();
        }
    });
}

void WebServer::sweep()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    for (QTcpSocket *socket : connections()) {
        ConnectionWatch *watch = watchOf(socket);
        if (!watch || socket->state() == QAbstractSocket::UnconnectedState)
            continue;
        if (socket->bytesToWrite() == 0)
            watch->times.unsentSince.reset();
        else if (!watch->times.unsentSince)
            watch->times.unsentSince = now;
        watch->times.answerPending = watch->waiting() > 0;
        if (Web::connectionVerdict(watch->times, now) != Web::Verdict::Keep)
            socket->abort();
    }
    startReads();
}

void WebServer::takeWebSockets()
{
    while (hasPendingWebSocketConnections()) {
        QWebSocket *socket = nextPendingWebSocketConnection().release();
        // First: its frames are read only after this returns, the limits hold for each.
        socket->setMaxAllowedIncomingFrameSize(Web::kLargestFrame);
        socket->setMaxAllowedIncomingMessageSize(Web::kLargestMessage);
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
            openConnections() > Web::kMostClients) {
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

void WebServer::missingHandler(const QHttpServerRequest &, QTcpSocket *socket)
{
    const ConnectionWatch *watch = watchOf(socket);
    if (watch && watch->silenced)
        return;
    socket->write(answerBytes(refusal(404, QStringLiteral("no such page")), true));
}

void WebServer::send(const Exchange &exchange, Answer answer)
{
    answer.close = answer.close || exchange.closing;
    ConnectionWatch &watch = *exchange.watch;
    watch.queue.push_back(
        {watch.nextSlot++, true, answerBytes(answer, !exchange.head), answer.close});
    writeReady(exchange.socket);
}

void WebServer::writeReady(QTcpSocket *socket)
{
    ConnectionWatch *watch = watchOf(socket);
    if (!watch)
        return;
    while (!watch->queue.empty() && watch->queue.front().ready) {
        const ConnectionWatch::Slot slot = std::move(watch->queue.front());
        watch->queue.pop_front();
        if (watch->silenced)
            continue;
        socket->write(slot.bytes);
        watch->times.lastAnswered = QDateTime::currentMSecsSinceEpoch();
        if (slot.close) {
            // Whatever the client sent after this request is never answered.
            watch->silenced = true;
            watch->queue.clear();
            socket->disconnectFromHost();
        }
    }
    watch->times.answerPending = watch->waiting() > 0;
}

qint64 WebServer::unsentBytes() const
{
    qint64 unsent = 0;
    for (const QTcpSocket *socket : connections())
        unsent += socket->bytesToWrite();
    return unsent;
}

void WebServer::startReads()
{
    while (!m_waitingReads.empty() && m_readers && m_readers->hasIdleThread() &&
           unsentBytes() < kUnsentBudget) {
        WaitingRead read = std::move(m_waitingReads.front());
        m_waitingReads.pop_front();
        if (!read.socket)
            continue;
        m_readers->submit(read.job, [this, socket = read.socket, slot = read.slot,
                                     head = read.head](const Web::ReadAnswer &answer) {
            readDone(socket, slot,
                     answerBytes({answer.status, answer.type, answer.body, answer.headers}, !head));
        });
    }
}

void WebServer::readDone(const QPointer<QTcpSocket> &socket, quint64 slot, const QByteArray &bytes)
{
    if (ConnectionWatch *watch = watchOf(socket.data())) {
        for (ConnectionWatch::Slot &waiting : watch->queue) {
            if (waiting.id == slot) {
                // The close asked for rides on the answer already reserved.
                const bool close = waiting.close;
                QByteArray answer = bytes;
                if (close)
                    answer.replace(answer.indexOf("\r\n\r\n"), 4, "\r\nConnection: close\r\n\r\n");
                waiting.bytes = answer;
                waiting.ready = true;
            }
        }
        writeReady(socket.data());
    }
    startReads();
}

std::optional<Answer> WebServer::framingRefusal(const Exchange &exchange) const
{
    const QHttpServerRequest &request = exchange.request;
    const bool getOrHead = request.method() == QHttpServerRequest::Method::Get || exchange.head;
    switch (Web::framingOf(getOrHead, request.value("content-length"),
                           request.value("transfer-encoding"), request.body().size())) {
    case Web::Framing::Clear:
        return std::nullopt;
    case Web::Framing::Ambiguous:
        return refusal(400, QStringLiteral("both Content-Length and Transfer-Encoding"), true);
    case Web::Framing::BodyNotExpected:
        return refusal(400, QStringLiteral("a body on GET or HEAD"), true);
    }
    return std::nullopt;
}

std::optional<Answer> WebServer::sizeRefusal(const Exchange &exchange) const
{
    bool lengthOk = true;
    const qint64 declared = exchange.request.value("content-length").toLongLong(&lengthOk);
    if (exchange.request.body().size() > Web::kLargestBody ||
        (lengthOk && declared > Web::kLargestBody))
        return refusal(413, QStringLiteral("request body too large"), true);
    return std::nullopt;
}

std::optional<Answer> WebServer::hostRefusal(const Exchange &exchange) const
{
    if (Web::hostAllowed(m_settings.listen, m_settings.usesTls(), exchange.request.value("host")))
        return std::nullopt;
    return refusal(421, QStringLiteral("this view answers only to its own address"), true);
}

std::optional<Answer> WebServer::methodRefusal(const Exchange &exchange) const
{
    if (exchange.request.method() == QHttpServerRequest::Method::Get || exchange.head)
        return std::nullopt;
    // A body sent along is not read as the head of a next request: the connection ends.
    const bool body = !exchange.request.body().isEmpty() ||
                      !exchange.request.value("content-length").isEmpty() ||
                      !exchange.request.value("transfer-encoding").isEmpty();
    Answer answer =
        refusal(405, QStringLiteral("the web view is read-only: GET and HEAD only"), body);
    answer.headers.append(std::pair<QByteArray, QByteArray>("Allow", "GET, HEAD"));
    return answer;
}

std::optional<Answer> WebServer::tokenRefusal(Exchange &exchange) const
{
    exchange.access = Web::checkAccess(
        m_settings.token, exchange.request.value("authorization"), exchange.request.value("cookie"),
        exchange.request.query().queryItemValue(QStringLiteral("token")));
    if (exchange.access != Web::Access::Refused)
        return std::nullopt;
    Answer answer = refusal(401, QStringLiteral("a token is needed"));
    answer.headers.append(std::pair<QByteArray, QByteArray>("WWW-Authenticate", "Bearer"));
    return answer;
}

bool WebServer::takeUpgrade(const Exchange &exchange)
{
    // A page asking for its pushes: Qt HttpServer hands the connection over to
    // the WebSocket side once this says the request is handled, with nothing
    // written. An upgrade anywhere else is answered and the connection closed.
    const Web::Route route = Web::routeOf(exchange.request.url().path(), m_settings.addresses);
    if (route.resource == Web::Resource::Live) {
        exchange.watch->times.following = true;
        return true;
    }
    send(exchange, refusal(404, QStringLiteral("no such page"), true));
    return true;
}

void WebServer::answerRoute(const Exchange &exchange)
{
    const QHttpServerRequest &request = exchange.request;
    const Web::Route route = Web::routeOf(request.url().path(), m_settings.addresses);
    const auto sendWithCookie = [&](Answer answer) {
        if (exchange.access == Web::Access::AllowedByQuery)
            answer.headers.append(std::pair<QByteArray, QByteArray>(
                "Set-Cookie", Web::tokenCookie(m_settings.token)));
        send(exchange, answer);
    };
    switch (route.resource) {
    case Web::Resource::Page:
        return sendWithCookie(
            {200, "text/html; charset=utf-8", resource(QStringLiteral(":/web/page.html")), {}});
    case Web::Resource::Script:
        return sendWithCookie(
            {200, "text/javascript; charset=utf-8", resource(QStringLiteral(":/web/page.js")), {}});
    case Web::Resource::Style:
        return sendWithCookie(
            {200, "text/css; charset=utf-8", resource(QStringLiteral(":/web/page.css")), {}});
    case Web::Resource::Redirect:
        return sendWithCookie({301, "text/plain", {}, {{"Location", route.location.toUtf8()}}});
    case Web::Resource::Index: {
        std::vector<Web::ListedInstrument> list;
        for (int address : m_settings.addresses) {
            const auto snapshot = m_board->get(address);
            list.push_back({address, snapshot ? snapshot->linkState : QString(),
                            snapshot ? snapshot->linkText : QStringLiteral("未知")});
        }
        return sendWithCookie({200, "text/html; charset=utf-8", Web::indexPage(list), {}});
    }
    case Web::Resource::Live: {
        const auto snapshot = m_board->get(route.address);
        if (!snapshot)
            return sendWithCookie(refusal(503, QStringLiteral("no poll yet")));
        return sendWithCookie({200, "application/json", liveJson(*snapshot), {}});
    }
    case Web::Resource::History:
    case Web::Resource::Events: {
        Web::ReadJob job;
        job.address = route.address;
        if (route.resource == Web::Resource::History) {
            job.range = Web::parseHistoryQuery(request.query());
            if (!job.range.isValid())
                return sendWithCookie(refusal(400, job.range.error));
            job.csv = Web::wantsCsv(job.range, request.value("accept"));
        } else {
            job.kind = Web::ReadJob::Kind::Events;
            job.events = Web::parseEventsQuery(request.query());
            if (!job.events.isValid())
                return sendWithCookie(refusal(400, job.events.error));
        }
        return readLater(exchange, job);
    }
    case Web::Resource::NotFound:
        break;
    }
    sendWithCookie(refusal(404, QStringLiteral("no such page")));
}

void WebServer::readLater(const Exchange &exchange, const Web::ReadJob &job)
{
    ConnectionWatch &watch = *exchange.watch;
    if (watch.waiting() >= kMostWaitingAnswers)
        return send(exchange, refusal(503, QStringLiteral("too many requests waiting"), true));
    const quint64 slot = watch.nextSlot++;
    watch.queue.push_back({slot, false, {}, exchange.closing});
    watch.times.answerPending = true;
    m_waitingReads.push_back({exchange.socket, slot, exchange.head, job});
    startReads();
}

bool WebServer::handleRequest(const QHttpServerRequest &request, QTcpSocket *socket)
{
    ConnectionWatch *watch = watchOf(socket);
    // Refused and closing: no request after that one is answered (one hidden
    // in a body, or sent along with it). An upgrade must not be handed over.
    if (!watch || watch->silenced)
        return !isUpgrade(request);
    watch->times.requestStarted.reset();
    watch->unanswered = 0;
    Exchange exchange{
        request, socket, watch, request.method() == QHttpServerRequest::Method::Head,
        Web::closesAfterAnswer(watch->lines.newestIsHttp10(), request.value("connection"))};
    std::optional<Answer> refused = framingRefusal(exchange);
    for (const auto &step :
         {&WebServer::sizeRefusal, &WebServer::hostRefusal, &WebServer::methodRefusal}) {
        if (!refused)
            refused = (this->*step)(exchange);
    }
    if (!refused)
        refused = tokenRefusal(exchange);
    if (refused) {
        send(exchange, *refused);
        return true;
    }
    if (isUpgrade(request))
        return takeUpgrade(exchange);
    answerRoute(exchange);
    return true;
}

QString WebServer::tlsConfiguration(const WebSettings &settings, QSslConfiguration &configuration)
{
    QFile certificateFile(settings.certificatePath);
    QFile keyFile(settings.keyPath);
    if (!certificateFile.open(QIODevice::ReadOnly))
        return QStringLiteral("ZELMAR_WEB_CERT: cannot read %1").arg(settings.certificatePath);
    if (!keyFile.open(QIODevice::ReadOnly))
        return QStringLiteral("ZELMAR_WEB_KEY: cannot read %1").arg(settings.keyPath);
    const QSslCertificate certificate(&certificateFile, QSsl::Pem);
    const QByteArray keyText = keyFile.readAll();
    QSslKey key(keyText, QSsl::Rsa, QSsl::Pem);
    if (key.isNull())
        key = QSslKey(keyText, QSsl::Ec, QSsl::Pem);
    if (certificate.isNull())
        return QStringLiteral("ZELMAR_WEB_CERT: no PEM certificate in %1")
            .arg(settings.certificatePath);
    if (key.isNull())
        return QStringLiteral("ZELMAR_WEB_KEY: no PEM private key (RSA or EC) in %1")
            .arg(settings.keyPath);
    configuration = QSslConfiguration::defaultConfiguration();
    configuration.setLocalCertificate(certificate);
    configuration.setPrivateKey(key);
    const QString mismatch = Web::serverConfigurationFault(configuration);
    if (!mismatch.isEmpty())
        return QStringLiteral("ZELMAR_WEB_CERT and ZELMAR_WEB_KEY do not go together (%1): %2, %3")
            .arg(mismatch, settings.certificatePath, settings.keyPath);
    return {};
}

QString Web::serverConfigurationFault(const QSslConfiguration &configuration)
{
    // A server socket on one end of a pair starts its side of a handshake:
    // the TLS library checks the key against the certificate before it waits
    // for the other end, which never speaks.
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0)
        return {};
    QString fault;
    {
        QSslSocket server;
        QObject::connect(&server, &QAbstractSocket::errorOccurred, &server,
                         [&](QAbstractSocket::SocketError) { fault = server.errorString(); });
        if (server.setSocketDescriptor(ends[0])) {
            server.setSslConfiguration(configuration);
            server.startServerEncryption();
        } else {
            ::close(ends[0]);
        }
        server.abort();
    }
    ::close(ends[1]);
    return fault;
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
        // The server and its connections end on their own thread; its
        // readers are interrupted and waited for at most a second
        // (Web::kReaderStopWaitMs), so this wait is short whatever they read.
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
    return (m_settings.usesTls() ? QStringLiteral("https://") : QStringLiteral("http://")) +
           m_settings.listen.text() + u'/';
}

#include "webserver.moc"
