#pragma once

#include "livesnapshot.h"
#include "webdata.h"
#include "webrequest.h"

#include <QAbstractHttpServer>
#include <QHash>
#include <QList>
#include <QMap>
#include <QMutex>
#include <QThread>
#include <QTimer>

#include <memory>
#include <vector>

class QWebSocket;
class RingReader;

// What the web view serves, handed down as a value when it starts.
struct WebSettings {
    Web::ListenAddress listen;
    QString token;           // ZELMAR_WEB_TOKEN; empty: no token asked for
    QString certificatePath; // ZELMAR_WEB_CERT and ZELMAR_WEB_KEY: TLS when both are set
    QString keyPath;
    QList<int> addresses;         // the instruments, in the order of the list page
    QMap<int, QString> databases; // each instrument's recording database
    Web::ChartLook look;
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

// The HTTP and WebSocket server of the web view. It lives on its own thread
// (WebView moves it there): every request, database read and push runs on
// that thread, with its own read-only connections to the recordings.
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
    void takeWebSockets();
    void closeIdle();
    void watchRequestSize(QTcpSocket *socket);
    RingReader *reader(int address, QString &error);

    WebSettings m_settings;
    std::shared_ptr<SnapshotBoard> m_board;
    QTcpServer *m_listener = nullptr;
    QTimer m_idleSweep;
    std::vector<Follower> m_followers;
    std::map<int, std::unique_ptr<RingReader>> m_readers;
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
