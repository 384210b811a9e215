// The web view under load, against `zelmar --record --web`, the simulator and
// a recording whose 1-second ring is full (18.2 h):
//   /api/live latency (p50, p99) with 1 and with 32 clients, each on its own
//   kept-alive connection, one request after the other, then with 30 clients
//   reading 18 h of history at the same time;
//   requests/s of 32 admitted clients alone and while 256 more knock (a
//   second process connecting again as soon as it is refused);
//   from a poll landing to a page's WebSocket receiving it (p50, p99);
//   the tool's resident memory before and after 100 WebSocket frames of 16 MiB;
//   the tool's CPU with 10 pages following it against none;
//   the recorder's stop (SIGTERM to exit) under history load, median of 10.
// Run by hand: ./bench_web [requests per client]

#include "recordingfixture.h"
#include "simulator.h"
#include "webtool.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{

// Clients at once, as many as the view serves together.
constexpr int kClients = 32;
constexpr int kKnockers = 256;
constexpr int kHistoryReaders = 30;
constexpr int kStops = 10;

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// Client number `i` speaks from its own loopback address, so that the view's
// limit of connections per address does not count them together.
QHostAddress clientAddress(int block, int i)
{
    return QHostAddress(QStringLiteral("127.0.%1.%2").arg(block).arg(1 + i % 250));
}

// One client asking `path` again as soon as each answer is in.
class Client : public QObject
{
public:
    Client(quint16 port, const QHostAddress &from, const QByteArray &path, int requests,
           std::vector<double> &latencies)
        : m_port(port), m_path(path), m_left(requests), m_latencies(latencies)
    {
        connect(&m_socket, &QTcpSocket::connected, this, &Client::ask);
        connect(&m_socket, &QTcpSocket::readyRead, this, &Client::read);
        m_socket.bind(from);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool done() const { return m_left == 0 || m_failed; }

private:
    void ask()
    {
        m_buffer.clear();
        m_clock.start();
        m_socket.write("GET " + m_path +
                       " HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n\r\n");
    }
    void read()
    {
        m_buffer += m_socket.readAll();
        const qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0)
            return;
        const qsizetype at = m_buffer.indexOf("Content-Length: ");
        if (at < 0 || !m_buffer.startsWith("HTTP/1.1 200")) {
            m_failed = true;
            return;
        }
        const qint64 length =
            m_buffer.mid(at + 16, m_buffer.indexOf('\r', at) - at - 16).toLongLong();
        if (m_buffer.size() - end - 4 < length)
            return;
        m_latencies.push_back(double(m_clock.nsecsElapsed()) / 1e6);
        if (--m_left > 0)
            ask();
    }

    QTcpSocket m_socket;
    quint16 m_port;
    QByteArray m_path;
    int m_left;
    bool m_failed = false;
    std::vector<double> &m_latencies;
    QByteArray m_buffer;
    QElapsedTimer m_clock;
};

// Runs `clients` clients of `path` to the end; the latencies, and the
// seconds it took in `seconds`.
std::vector<double> run(quint16 port, int clients, int block, const QByteArray &path, int requests,
                        double *seconds = nullptr)
{
    std::vector<double> latencies;
    std::vector<std::unique_ptr<Client>> all;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < clients; ++i)
        all.push_back(
            std::make_unique<Client>(port, clientAddress(block, i), path, requests, latencies));
    while (clock.elapsed() < 300000 &&
           !std::all_of(all.begin(), all.end(), [](const auto &c) { return c->done(); }))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (seconds)
        *seconds = double(clock.nsecsElapsed()) / 1e9;
    return latencies;
}

// User and system CPU seconds process `pid` has used so far.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the line, 12 and 13 after the name.
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) /
           double(sysconf(_SC_CLK_TCK));
}

double cpuPercent(qint64 pid, int seconds)
{
    const double before = processCpuSeconds(pid);
    QTest::qWait(seconds * 1000);
    return 100.0 * (processCpuSeconds(pid) - before) / seconds;
}

// The knockers' process: kKnockers connections to `port`, each connecting
// again as soon as its answer (503) is in or it is closed, until killed.
int knock(quint16 port)
{
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    const QByteArray request =
        "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n\r\n";
    // How many were answered 503, said once a second on standard error.
    auto refused = std::make_shared<qint64>(0);
    QTimer tally;
    QObject::connect(&tally, &QTimer::timeout, [refused] {
        std::fprintf(stderr, "  knockers refused so far: %lld\n", static_cast<long long>(*refused));
    });
    tally.start(1000);
    for (int i = 0; i < kKnockers; ++i) {
        auto *socket = new QTcpSocket;
        sockets.emplace_back(socket);
        const QHostAddress from = clientAddress(100 + i / 250, i);
        QObject::connect(socket, &QTcpSocket::connected, socket,
                         [socket, request] { socket->write(request); });
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket, refused] {
            if (socket->readAll().startsWith("HTTP/1.1 503"))
                ++*refused;
        });
        QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, from, port] {
            QTimer::singleShot(0, socket, [socket, from, port] {
                socket->abort();
                socket->bind(from);
                socket->connectToHost(QHostAddress::LocalHost, port);
            });
        });
        QObject::connect(socket, &QTcpSocket::errorOccurred, socket, [socket, from, port] {
            if (socket->state() == QAbstractSocket::UnconnectedState)
                QTimer::singleShot(10, socket, [socket, from, port] {
                    socket->abort();
                    socket->bind(from);
                    socket->connectToHost(QHostAddress::LocalHost, port);
                });
        });
        socket->bind(from);
        socket->connectToHost(QHostAddress::LocalHost, port);
    }
    return QCoreApplication::exec();
}

// A 16 MiB WebSocket frame on a connection of its own; returns when it is closed.
void sendLargeFrame(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(5000))
        return;
    socket.write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                 "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: 13\r\n"
                 "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n\r\n");
    socket.waitForReadyRead(5000);
    QByteArray head = QByteArray::fromHex("82ff");
    const quint64 size = 16 << 20;
    for (int shift = 56; shift >= 0; shift -= 8)
        head += char((size >> shift) & 0xff);
    head += QByteArray(4, '\0');
    socket.write(head);
    const QByteArray chunk(256 * 1024, 'x');
    for (quint64 sent = 0; sent < size && socket.state() == QAbstractSocket::ConnectedState;
         sent += chunk.size()) {
        socket.write(chunk);
        socket.waitForBytesWritten(200);
        if (socket.isOpen())
            socket.readAll();
    }
    for (int waited = 0; waited < 3000 && socket.state() == QAbstractSocket::ConnectedState;
         waited += 50)
        socket.waitForReadyRead(50);
}

// 30 clients asking 18 h of the full ring, each on a connection of its own.
std::vector<std::unique_ptr<QTcpSocket>> startHistoryReaders(quint16 port)
{
    std::vector<std::unique_ptr<QTcpSocket>> readers;
    const QByteArray request = "GET /api/history?from=2026-12-06%2018:00&to=2026-12-07%2012:00"
                               " HTTP/1.1\r\nHost: 127.0.0.1:" +
                               QByteArray::number(port) + "\r\n\r\n";
    for (int i = 0; i < kHistoryReaders; ++i) {
        readers.push_back(connectFrom(clientAddress(50, i), port));
        readers.back()->write(request);
        readers.back()->flush();
    }
    return readers;
}

bool startTool(QProcess &tool, const QString &database, quint16 port)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("ZELMAR_WEB_TOKEN"));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(ZELMAR_PROGRAM),
               {QStringLiteral("--record"), QStringLiteral("--db"), database,
                QStringLiteral("--web"), QStringLiteral("127.0.0.1:%1").arg(port)});
    QElapsedTimer waited;
    waited.start();
    while (httpRequest(port, "GET", "/api/live").status != 200 && waited.elapsed() < 15000)
        QTest::qWait(200);
    return waited.elapsed() < 15000;
}

void printLatencies(const char *what, const std::vector<double> &latencies)
{
    std::printf("  %-34s p50 %7.3f  p99 %7.3f  (%zu answers)\n", what, percentile(latencies, 0.5),
                percentile(latencies, 0.99), latencies.size());
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc > 2 && QByteArray(argv[1]) == "--knock")
        return knock(quint16(atoi(argv[2])));
    const int requests = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
    Simulator simulator;
    if (!simulator.start(1)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    RecordingFixture fixture(QStringLiteral("bench-web"));
    if (!fixture.isReady() || !fixture.fillRing(kRecordRingIds, kRecordRingIds)) {
        std::fprintf(stderr, "the recording could not be filled\n");
        return 1;
    }
    const quint16 port = freePort();
    QProcess tool;
    if (!startTool(tool, fixture.path(), port)) {
        std::fprintf(stderr, "the recorder's web view did not answer\n");
        return 1;
    }

    std::printf("/api/live, %d requests per client, ms:\n", requests);
    printLatencies("1 client:", run(port, 1, 1, "/api/live", requests));
    printLatencies("32 clients:", run(port, kClients, 1, "/api/live", requests));
    {
        auto readers = startHistoryReaders(port);
        QTest::qWait(200);
        printLatencies("1 client, 30 reading 18 h history:", run(port, 1, 2, "/api/live", 200));
    }
    QTest::qWait(3000);

    // The 32 clients are in and asking without pause; answers are counted
    // over a window alone, then over one while the knockers knock.
    {
        std::vector<double> answers;
        std::vector<std::unique_ptr<Client>> admitted;
        for (int i = 0; i < kClients; ++i)
            admitted.push_back(
                std::make_unique<Client>(port, clientAddress(3, i), "/api/live", 1 << 30, answers));
        const auto countOver = [&](int ms) {
            QTest::qWait(500);
            const size_t before = answers.size();
            QTest::qWait(ms);
            return double(answers.size() - before) * 1000.0 / ms;
        };
        constexpr int kWindowMs = 5000;
        const double alone = countOver(kWindowMs);
        QProcess knockers;
        knockers.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        knockers.start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--knock"), QString::number(port)});
        knockers.waitForStarted();
        QTest::qWait(1000);
        const double knocked = countOver(kWindowMs);
        const bool stillIn =
            std::none_of(admitted.begin(), admitted.end(), [](const auto &c) { return c->done(); });
        knockers.kill();
        knockers.waitForFinished();
        std::printf(
            "32 admitted clients, requests/s: alone %.0f, while %d knock %.0f (%.0f %%)%s\n", alone,
            kKnockers, knocked, 100.0 * knocked / alone,
            stillIn ? "" : "; some admitted client failed");
    }
    QTest::qWait(2000);

    // A poll landing to a page's WebSocket holding it: the snapshot's own time
    // against the arrival, both on this machine's clock.
    std::vector<double> pushes;
    QWebSocket page;
    QObject::connect(&page, &QWebSocket::textMessageReceived, [&](const QString &text) {
        const qint64 landed = QJsonDocument::fromJson(text.toUtf8())
                                  .object()[QStringLiteral("timeMs")]
                                  .toVariant()
                                  .toLongLong();
        pushes.push_back(double(QDateTime::currentMSecsSinceEpoch() - landed));
    });
    page.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
    QElapsedTimer waited;
    waited.start();
    while (pushes.size() < 61 && waited.elapsed() < 60000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!pushes.empty())
        pushes.erase(pushes.begin()); // the snapshot sent on connecting is no fresh poll
    std::printf("poll landed -> page's WebSocket has it, %zu polls, ms: p50 %.1f  p99 %.1f\n",
                pushes.size(), percentile(pushes, 0.5), percentile(pushes, 0.99));
    page.close();

    const qint64 before = residentKiB(tool.processId());
    for (int i = 0; i < 100; ++i)
        sendLargeFrame(port);
    std::printf("tool's resident memory, MiB: before %.1f, after 100 frames of 16 MiB %.1f\n",
                double(before) / 1024, double(residentKiB(tool.processId())) / 1024);

    constexpr int kCpuSeconds = 20;
    const double idle = cpuPercent(tool.processId(), kCpuSeconds);
    std::vector<std::unique_ptr<QWebSocket>> pages;
    for (int i = 0; i < 10; ++i) {
        pages.push_back(std::make_unique<QWebSocket>());
        pages.back()->open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(port)));
    }
    QTest::qWait(1000);
    const double followed = cpuPercent(tool.processId(), kCpuSeconds);
    std::printf("tool CPU over %d s, %% of one core: no page %.2f, 10 pages %.2f (+%.2f)\n",
                kCpuSeconds, idle, followed, followed - idle);
    pages.clear();

    std::vector<double> stops;
    for (int i = 0; i < kStops; ++i) {
        if (i > 0 && !startTool(tool, fixture.path(), port))
            break;
        auto readers = startHistoryReaders(port);
        QTest::qWait(300);
        QElapsedTimer clock;
        clock.start();
        tool.terminate();
        tool.waitForFinished(30000);
        stops.push_back(double(clock.elapsed()));
    }
    std::printf(
        "recorder's stop under %d history reads, ms: median %.0f, longest %.0f (%zu runs)\n",
        kHistoryReaders, percentile(stops, 0.5), percentile(stops, 1.0), stops.size());
    return 0;
}
