#pragma once

#include "livesnapshot.h"
#include "webdata.h"
#include "webreaders.h"
#include "webrequest.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QPointer>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>

#include <deque>
#include <memory>
#include <optional>
#include <vector>

class ConnectionWatch;
class QWebSocket;

// What the web view serves, handed down as a value when it starts.
struct WebSettings {
    Web::ListenAddress listen;
    QString token;           // ZELMAR_WEB_TOKEN; empty: no token asked for
    QString certificatePath; // ZELMAR_WEB_CERT and ZELMAR_WEB_KEY: TLS when both are set
    QString keyPath;
    QList<int> addresses;         // the instruments, in the order of the list page
    QMap<int, QString> databases; // each instrument's recording database
    Web::ChartLook look;

    // The view speaks TLS (https) when both a certificate and a key are given.
    bool usesTls() const { return !certificatePath.isEmpty() && !keyPath.isEmpty(); }
};

// The newest snapshot of each instrument, between the thread that publishes
// them and the server's thread: a snapshot is never changed once put here, so
// a reader holds it without the lock.
class SnapshotBoard
{
public:
    void put(std::shared_ptr<const LiveSnapshot> snapshot);
    // Nullptr before the instrument's first poll.
    std::shared_ptr<const LiveSnapshot> get(int address) const;

private:
    mutable QMutex m_mutex;
    QHash<int, std::shared_ptr<const LiveSnapshot>> m_snapshots;
};

namespace Web
{
struct Answer; // one answer as the server writes it
// Why a server with `configuration` (its certificate and private key) could
// not make a TLS connection: a key that does not belong to the certificate;
// empty when it can.
QString serverConfigurationFault(const QSslConfiguration &configuration);
} // namespace Web

// The HTTP and WebSocket server of the web view. It lives on its own thread
// (WebView moves it there): every request and push runs on that thread; the
// reads of the recordings run on its reader pool (Web::ReaderPool) and their
// answers come back here, to be sent in the order of their requests.
//
// A request passes these steps in turn, the first that refuses answers:
//   framing (400, closed) -> size (413, closed) -> Host (421, closed)
//   -> method (405) -> token (401) -> WebSocket upgrade -> its route
// A connection refused with "closed" answers nothing after that.
class WebServer : public QAbstractHttpServer
{
    Q_OBJECT
public:
    WebServer(const WebSettings &settings, std::shared_ptr<SnapshotBoard> board);
    ~WebServer() override;

    // Listens on the settings' address; empty, or why not (port in use,
    // certificate unreadable).
    QString start();
    // Sends the newest snapshot of `address` to the pages that follow it.
    void push(int address);
    // Connections open now (HTTP and WebSocket).
    int openConnections() const;

protected:
    bool handleRequest(const QHttpServerRequest &request, QTcpSocket *socket) override;
    void missingHandler(const QHttpServerRequest &request, QTcpSocket *socket) override;

private:
    struct Follower {
        QWebSocket *socket = nullptr;
        int address = 0;
    };
    struct Exchange;
    struct WaitingRead {
        QPointer<QTcpSocket> socket;
        quint64 slot = 0;
        bool head = false;
        Web::ReadJob job;
    };

    // The certificate and key of the settings as a server configuration; why not.
    static QString tlsConfiguration(const WebSettings &settings, QSslConfiguration &configuration);
    QList<QTcpSocket *> connections() const;
    // Whether a new connection from `peer` is taken (making room by closing
    // the connection idle longest when the view is full).
    bool admit(const QHostAddress &peer);
    void watchConnection(QTcpSocket *socket);
    void sweep();
    void takeWebSockets();

    std::optional<Web::Answer> framingRefusal(const Exchange &exchange) const;
    std::optional<Web::Answer> sizeRefusal(const Exchange &exchange) const;
    std::optional<Web::Answer> hostRefusal(const Exchange &exchange) const;
    std::optional<Web::Answer> methodRefusal(const Exchange &exchange) const;
    std::optional<Web::Answer> tokenRefusal(Exchange &exchange) const;
    bool takeUpgrade(const Exchange &exchange);
    void answerRoute(const Exchange &exchange);

    void send(const Exchange &exchange, Web::Answer answer);
    // Writes the answers at the head of the connection's queue that are ready.
    void writeReady(QTcpSocket *socket);
    void readLater(const Exchange &exchange, const Web::ReadJob &job);
    void startReads();
    void readDone(const QPointer<QTcpSocket> &socket, quint64 slot, const QByteArray &bytes);
    qint64 unsentBytes() const;

    WebSettings m_settings;
    std::shared_ptr<SnapshotBoard> m_board;
    QTcpServer *m_listener = nullptr;
    QTimer m_sweep;
    std::vector<Follower> m_followers;
    std::unique_ptr<Web::ReaderPool> m_readers;
    std::deque<WaitingRead> m_waitingReads;
};

// The web view as the tool holds it on its UI thread: the server's thread,
// started by start() and ended with the view; publish() after each poll hands
// the snapshot over without waiting for the server.
class WebView : public QObject
{
    Q_OBJECT
public:
    explicit WebView(const WebSettings &settings, QObject *parent = nullptr);
    ~WebView() override;

    // Starts the server's thread and listens; empty, or why it could not
    // (then nothing runs).
    QString start();
    // The instrument's newest poll, for every page that shows it.
    void publish(const LiveSnapshot &snapshot);
    // Where the pages are: "http://127.0.0.1:8080/".
    QString url() const;

private:
    WebSettings m_settings;
    std::shared_ptr<SnapshotBoard> m_board = std::make_shared<SnapshotBoard>();
    QThread m_thread;
    QObject *m_anchor = nullptr; // lives on m_thread: what the server is made and ended through
    WebServer *m_server = nullptr;
};
