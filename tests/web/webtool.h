#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QVariant>
#include <QWebSocket>

#include <memory>

// What the web view's tests and benchmark share: a free port, raw HTTP
// exchanges on their own sockets, and a page in headless Chromium that they
// read through its DevTools protocol.

// A port nothing listens on now.
quint16 freePort();

// One answer as it came over the wire.
struct HttpReply {
    int status = 0; // 0: no answer
    QByteArray head;
    QByteArray body;
    // The value of header `name` (any case); empty without it.
    QByteArray header(const QByteArray &name) const;
};
// Sends `request` (whole, "GET / HTTP/1.1\r\n…") on a new connection to
// 127.0.0.1:`port` (from the loopback address `from`, when given) and reads
// the answer until the connection ends or the answer is whole.
HttpReply exchange(quint16 port, const QByteArray &request, int timeoutMs = 5000,
                   const QHostAddress &from = {});
// A socket connected to 127.0.0.1:`port` from the loopback address `from`
// (127.0.0.2, 127.0.0.3 … tell clients apart); not connected on failure.
std::unique_ptr<QTcpSocket> connectFrom(const QHostAddress &from, quint16 port);
// The resident memory of process `pid` in KiB; 0 when unknown.
qint64 residentKiB(qint64 pid);
// GET (or another method) of `path` with the extra header lines given.
HttpReply httpRequest(quint16 port, const QByteArray &method, const QByteArray &path,
                      const QList<QByteArray> &headers = {}, const QByteArray &body = {});

// A page opened in chromium --headless, read and driven over its DevTools socket.
class HeadlessPage
{
public:
    HeadlessPage();
    ~HeadlessPage();
    // Starts Chromium and opens `url`, in a view `width` pixels wide (Chromium's
    // own size when 0); false (and error()) when it could not.
    bool open(const QString &url, int width = 0);
    // Opens `url` in the same page.
    bool navigate(const QString &url);
    // The value of a JavaScript expression in the page; invalid when it failed.
    QVariant evaluate(const QString &expression, int timeoutMs = 5000);
    QString error() const { return m_error; }

private:
    QJsonObject call(const QString &method, const QJsonObject &params, int timeoutMs);

    QTemporaryDir m_profile;
    QProcess m_chromium;
    QWebSocket m_socket;
    int m_nextId = 1;
    QString m_error;
};

// The Chromium of the system.
QString chromiumProgram();
