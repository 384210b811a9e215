// The web view under load, against `zelmar --record --web` and the simulator:
//   /api/live latency (p50, p99) with 1 and with 32 clients, each on its own
//   kept-alive connection, one request after the other;
//   from a poll landing to a page's WebSocket receiving it (p50, p99);
//   the tool's CPU with 10 pages following it against none.
// Run by hand: ./bench_web [requests per client]

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
#include <QWebSocket>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <unistd.h>
#include <vector>

namespace
{

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

// One client asking /api/live again as soon as each answer is in.
class LiveClient : public QObject
{
public:
    LiveClient(quint16 port, int requests, std::vector<double> &latencies)
        : m_port(port), m_left(requests), m_latencies(latencies)
    {
        connect(&m_socket, &QTcpSocket::connected, this, &LiveClient::ask);
        connect(&m_socket, &QTcpSocket::readyRead, this, &LiveClient::read);
        m_socket.connectToHost(QHostAddress::LocalHost, port);
    }
    bool done() const { return m_left == 0 || m_failed; }

private:
    void ask()
    {
        m_buffer.clear();
        m_clock.start();
        m_socket.write("GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) +
                       "\r\n\r\n");
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
    int m_left;
    bool m_failed = false;
    std::vector<double> &m_latencies;
    QByteArray m_buffer;
    QElapsedTimer m_clock;
};

std::vector<double> liveLatencies(quint16 port, int clients, int requests)
{
    std::vector<double> latencies;
    std::vector<std::unique_ptr<LiveClient>> all;
    for (int i = 0; i < clients; ++i)
        all.push_back(std::make_unique<LiveClient>(port, requests, latencies));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < 120000 &&
           !std::all_of(all.begin(), all.end(), [](const auto &c) { return c->done(); }))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const int requests = argc > 1 ? std::max(10, atoi(argv[1])) : 500;
    Simulator simulator;
    if (!simulator.start(1)) {
        std::fprintf(stderr, "the simulator did not start\n");
        return 1;
    }
    QTemporaryDir dir;
    const quint16 port = freePort();
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral(ZELMAR_PROGRAM),
               {QStringLiteral("--record"), QStringLiteral("--db"),
                dir.filePath(QStringLiteral("r.db")), QStringLiteral("--web"),
                QStringLiteral("127.0.0.1:%1").arg(port)});
    QElapsedTimer waited;
    waited.start();
    while (httpRequest(port, "GET", "/api/live").status != 200 && waited.elapsed() < 15000)
        QTest::qWait(200);

    std::printf("/api/live, %d requests per client, ms:\n", requests);
    for (int clients : {1, 32}) {
        const std::vector<double> latencies = liveLatencies(port, clients, requests);
        std::printf("  %2d client(s): p50 %.3f  p99 %.3f  (%zu answers)\n", clients,
                    percentile(latencies, 0.5), percentile(latencies, 0.99), latencies.size());
    }

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
    waited.restart();
    while (pushes.size() < 121 && waited.elapsed() < 90000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    if (!pushes.empty())
        pushes.erase(pushes.begin()); // the snapshot sent on connecting is no fresh poll
    std::printf("poll landed -> page's WebSocket has it, %zu polls, ms: p50 %.1f  p99 %.1f\n",
                pushes.size(), percentile(pushes, 0.5), percentile(pushes, 0.99));
    page.close();

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
    tool.terminate();
    tool.waitForFinished(10000);
    return 0;
}
