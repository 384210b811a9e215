#include "csvexport.h"
#include "healthtexts.h"
#include "livesnapshot.h"
#include "programrun.h"
#include "recordingfixture.h"
#include "simulator.h"
#include "webconnection.h"
#include "webdata.h"
#include "webrequest.h"
#include "webtool.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeZone>
#include <QWebSocket>

#include <algorithm>
#include <cmath>
#include <memory>

Q_DECLARE_METATYPE(LinkState)

namespace
{

constexpr int kWaitMs = 15000;
const QByteArray kToken = "s3cret-token";
const QByteArray kBearer = "Authorization: Bearer " + kToken;
// The simulator's fixed values, inputs and relays, which the view must show.
const QStringList kSimulated{QStringLiteral("--values"), QStringLiteral("123,-45,678,9,50"),
                             QStringLiteral("--inputs"), QStringLiteral("1001"),
                             QStringLiteral("--coils"),  QStringLiteral("5")};

// The code of the close frame among the server's WebSocket frames (they are
// unmasked); 0 without one.
int closeCodeOf(const QByteArray &frames)
{
    for (qsizetype at = 0; at + 2 <= frames.size();) {
        const quint8 opcode = quint8(frames[at]) & 0x0f;
        qint64 length = quint8(frames[at + 1]) & 0x7f;
        qsizetype payload = at + 2;
        if (length >= 126) {
            const int bytes = length == 126 ? 2 : 8;
            length = 0;
            for (int i = 0; i < bytes && payload + i < frames.size(); ++i)
                length = (length << 8) | quint8(frames[payload + i]);
            payload += bytes;
        }
        if (opcode == 0x8 && length >= 2 && payload + 2 <= frames.size())
            return (quint8(frames[payload]) << 8) | quint8(frames[payload + 1]);
        at = payload + length;
    }
    return 0;
}

QJsonObject jsonOf(const HttpReply &reply)
{
    return QJsonDocument::fromJson(reply.body).object();
}

// `zelmar` run by a test without a display, stopped when the test ends
// however it ends.
struct Tool {
    QProcess process;
    QString said; // what it wrote on standard error, read so far

    Tool() = default;
    // Starts it at once with `arguments` and `environment` ("NAME=value").
    explicit Tool(const QStringList &arguments, const QStringList &environment = {})
    {
        start(arguments, environment);
    }
    ~Tool() { stop(); }
    Tool(const Tool &) = delete;
    Tool &operator=(const Tool &) = delete;

    void start(const QStringList &arguments, const QStringList &environment = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("ZELMAR_WEB_TOKEN"));
        for (const QString &variable : environment)
            env.insert(variable.section(u'=', 0, 0), variable.section(u'=', 1));
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(ZELMAR_PROGRAM), arguments);
        process.waitForStarted();
    }
    // SIGTERM, then SIGKILL when it has not ended within 10 s.
    void stop()
    {
        process.terminate();
        if (!process.waitForFinished(10000))
            process.kill();
        process.waitForFinished();
    }
    // Whether it has said `part` on standard error by now.
    bool hasSaid(const QString &part)
    {
        said += QString::fromLocal8Bit(process.readAllStandardError());
        return said.contains(part);
    }
};

// The arguments of a recorder on serial port `serialPort` into `database`,
// serving the web view on 127.0.0.1:`webPort`; `more` after them.
QStringList recorderServing(int serialPort, const QString &database, quint16 webPort,
                            const QStringList &more = {})
{
    return QStringList{QStringLiteral("--record"),
                       QStringLiteral("--port"),
                       QString::number(serialPort),
                       QStringLiteral("--db"),
                       database,
                       QStringLiteral("--web"),
                       QStringLiteral("127.0.0.1:%1").arg(webPort)} +
           more;
}

// A certificate (`name`.crt) and its key (`name`.key) in `folder`, made by openssl.
bool makeCertificate(const QTemporaryDir &folder, const QString &name)
{
    QProcess openssl;
    openssl.setStandardErrorFile(QProcess::nullDevice());
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-days"),
                   QStringLiteral("1"), QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-keyout"), folder.filePath(name + QStringLiteral(".key")),
                   QStringLiteral("-out"), folder.filePath(name + QStringLiteral(".crt"))});
    return openssl.waitForFinished(30000) && openssl.exitCode() == 0;
}

// The header lines that ask to turn a request into a page's WebSocket.
const QByteArray kUpgrade = "Upgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Version: "
                            "13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n";

// A whole request for /api/live on 127.0.0.1:`port` with the token: `version`,
// then the header lines `more` ("Name: value\r\n" each).
QByteArray liveRequest(quint16 port, const QByteArray &more = {},
                       const QByteArray &version = "HTTP/1.1")
{
    return "GET /api/live " + version + "\r\nHost: 127.0.0.1:" + QByteArray::number(port) + "\r\n" +
           kBearer + "\r\n" + more + "\r\n";
}

// What `socket` receives until its connection ends, or for `ms` at most.
QByteArray readWhileConnected(QTcpSocket &socket, int ms)
{
    QByteArray received;
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < ms && socket.state() == QAbstractSocket::ConnectedState) {
        socket.waitForReadyRead(20);
        received += socket.readAll();
    }
    return received + socket.readAll();
}

// Skips a test that needs a browser where none is installed.
#define SKIP_WITHOUT_CHROMIUM()                                                                    \
    if (chromiumProgram().isEmpty())                                                               \
    QSKIP("chromium is not installed (scripts/setup.sh installs it)")

// The width of a small phone, at which the page must keep every column naming what happened.
constexpr int kPhoneWidth = 360;

// Whether `labels` (in order) go up in equal steps of 1, 2 or 5 times a power
// of ten, each a whole multiple of the step.
bool roundSteps(const QList<double> &labels)
{
    if (labels.size() < 2)
        return false;
    const double step = labels.at(1) - labels.at(0);
    if (step <= 0)
        return false;
    const double power = std::pow(10.0, std::floor(std::log10(step) + 1e-9));
    const double multiple = step / power;
    if (!(qFuzzyCompare(multiple, 1.0) || qFuzzyCompare(multiple, 2.0) ||
          qFuzzyCompare(multiple, 5.0)))
        return false;
    for (int i = 0; i < labels.size(); ++i) {
        const double k = labels.at(i) / step;
        if (std::abs(k - std::round(k)) > 1e-6 ||
            std::abs(labels.at(i) - labels.at(0) - i * step) > step * 1e-6)
            return false;
    }
    return true;
}

} // namespace

class TestWeb : public QObject
{
    Q_OBJECT

    Simulator m_simulator{kSimulated};
    QTemporaryDir m_dir;
    Tool m_tool;
    quint16 m_port = 0;
    std::unique_ptr<HeadlessPage> m_axesPage; // one browser for the rows of trendAxes

    // /api/live of the running tool, with the token.
    QJsonObject live(const QByteArray &base = "/")
    {
        return jsonOf(httpRequest(m_port, "GET", base + "api/live", {kBearer}));
    }

private slots:
    // One recorder serves every end-to-end case: a token, loopback.
    void initTestCase()
    {
        QVERIFY(m_simulator.start(1));
        m_port = freePort();
        m_tool.start(recorderServing(1, m_dir.filePath(QStringLiteral("r.db")), m_port),
                     {QStringLiteral("ZELMAR_WEB_TOKEN=") + QString::fromLatin1(kToken)});
        QTRY_VERIFY_WITH_TIMEOUT(live().value(QStringLiteral("sequence")).toInt() > 2, kWaitMs);
    }
    void cleanupTestCase()
    {
        m_axesPage.reset();
        m_tool.stop();
    }

    // --- the rules as plain functions ---

    void listenAddress_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<bool>("outside");
        QTest::newRow("loopback") << "127.0.0.1:8080" << true << false;
        QTest::newRow("loopback v6") << "[::1]:8080" << true << false;
        QTest::newRow("localhost") << "localhost:80" << true << false;
        QTest::newRow("any") << "0.0.0.0:8080" << true << true;
        QTest::newRow("lan") << "192.168.1.5:8080" << true << true;
        QTest::newRow("highest port") << "127.0.0.1:65535" << true << false;
        QTest::newRow("port 0") << "127.0.0.1:0" << false << false;
        QTest::newRow("port beyond") << "127.0.0.1:65536" << false << false;
        QTest::newRow("no port") << "127.0.0.1" << false << false;
        QTest::newRow("only port") << ":8080" << false << false;
        QTest::newRow("host name") << "example.org:80" << false << false;
        QTest::newRow("words") << "all" << false << false;
    }
    void listenAddress()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QFETCH(bool, outside);
        const Web::ListenAddress address = Web::parseListenAddress(text);
        QCOMPARE(address.isValid(), valid);
        if (valid)
            QCOMPARE(Web::reachableFromOutside(address.host), outside);
    }

    void routes_data()
    {
        QTest::addColumn<QList<int>>("addresses");
        QTest::addColumn<QString>("path");
        QTest::addColumn<int>("resource");
        QTest::addColumn<int>("address");
        using R = Web::Resource;
        const QList<int> one{1}, several{1, 2, 5};
        QTest::newRow("page") << one << "/" << int(R::Page) << 1;
        QTest::newRow("live") << one << "/api/live" << int(R::Live) << 1;
        QTest::newRow("history") << one << "/api/history" << int(R::History) << 1;
        QTest::newRow("events") << one << "/api/events" << int(R::Events) << 1;
        QTest::newRow("script") << one << "/page.js" << int(R::Script) << 0;
        QTest::newRow("style") << one << "/page.css" << int(R::Style) << 0;
        QTest::newRow("own address") << one << "/a/1/api/live" << int(R::Live) << 1;
        QTest::newRow("no slash") << one << "/a/1" << int(R::Redirect) << 1;
        QTest::newRow("other address") << one << "/a/2/" << int(R::NotFound) << 0;
        QTest::newRow("trailing slash") << one << "/api/live/" << int(R::NotFound) << 0;
        QTest::newRow("folder") << one << "/api/" << int(R::NotFound) << 0;
        QTest::newRow("file") << one << "/etc/passwd" << int(R::NotFound) << 0;
        QTest::newRow("upwards") << one << "/a/1/../../etc" << int(R::NotFound) << 0;
        QTest::newRow("list") << several << "/" << int(R::Index) << 0;
        QTest::newRow("no top api") << several << "/api/live" << int(R::NotFound) << 0;
        QTest::newRow("instrument 5") << several << "/a/5/api/history" << int(R::History) << 5;
        QTest::newRow("its page") << several << "/a/2/" << int(R::Page) << 2;
        QTest::newRow("not on line") << several << "/a/3/" << int(R::NotFound) << 0;
        QTest::newRow("leading zero") << several << "/a/05/" << int(R::NotFound) << 0;
        QTest::newRow("address too long") << several << "/a/1000/" << int(R::NotFound) << 0;
    }
    void routes()
    {
        QFETCH(QList<int>, addresses);
        QFETCH(QString, path);
        QFETCH(int, resource);
        QFETCH(int, address);
        const Web::Route route = Web::routeOf(path, addresses);
        QCOMPARE(int(route.resource), resource);
        QCOMPARE(route.address, address);
    }

    void historyQuery_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("errorPart");
        const auto row = [](const char *name, const char *query, const char *errorPart = "") {
            QTest::newRow(name) << QString::fromUtf8(query) << QString::fromUtf8(errorPart);
        };
        row("offsets", "from=2026-12-07T08:00:00%2B01:00&to=2026-12-07T09:00:00%2B01:00");
        row("utc", "from=2026-12-07T07:00:00Z&to=2026-12-07T08:00:00Z");
        row("local", "from=2026-12-07 08:00&to=2026-12-07 09:00");
        row("10s ring", "from=2026-12-01T00:00:00Z&to=2026-12-07T00:00:00Z&ring=10s");
        row("1s ring whole", "from=2026-12-07T00:00:00Z&to=2026-12-07T18:11:40Z");
        row("1s ring and a second", "from=2026-12-07T00:00:00Z&to=2026-12-07T18:11:41Z",
            "longer than the 1 s ring");
        row("10s ring whole", "from=2026-12-01T00:00:00Z&to=2026-12-08T13:56:40Z&ring=10s");
        row("10s ring and a second", "from=2026-12-01T00:00:00Z&to=2026-12-08T13:56:41Z&ring=10s",
            "longer than the 10 s ring");
        row("from after to", "from=2026-12-07T09:00:00Z&to=2026-12-07T08:00:00Z", "from after to");
        row("no to", "from=2026-12-07T09:00:00Z", "from and to");
        row("nothing", "", "from and to");
        row("garbage", "from=yesterday&to=2026-12-07T08:00:00Z", "unreadable");
        row("bad month", "from=2026-13-07T08:00:00Z&to=2026-12-07T08:00:00Z", "unreadable");
        row("bad ring", "from=2026-12-07T08:00:00Z&to=2026-12-07T09:00:00Z&ring=5s",
            "ring is 1s or 10s");
        row("csv", "from=2026-12-07T08:00:00Z&to=2026-12-07T09:00:00Z&format=csv");
        row("json", "from=2026-12-07T08:00:00Z&to=2026-12-07T09:00:00Z&format=json");
        row("bad format", "from=2026-12-07T08:00:00Z&to=2026-12-07T09:00:00Z&format=CSV",
            "format is csv or json");
    }
    void historyQuery()
    {
        QFETCH(QString, query);
        QFETCH(QString, errorPart);
        const Web::HistoryQuery parsed = Web::parseHistoryQuery(QUrlQuery(query));
        if (errorPart.isEmpty())
            QVERIFY2(parsed.isValid(), qPrintable(parsed.error));
        else
            QVERIFY2(parsed.error.contains(errorPart), qPrintable(parsed.error));
    }

    void eventsQuery_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("valid");
        QTest::addColumn<int>("since");
        QTest::newRow("none") << "" << true << -1;
        QTest::newRow("zero") << "since=0" << true << 0;
        QTest::newRow("ring's end") << "since=100000" << true << 100000;
        QTest::newRow("beyond the ring") << "since=100001" << false << -1;
        QTest::newRow("negative") << "since=-1" << false << -1;
        QTest::newRow("words") << "since=abc" << false << -1;
        QTest::newRow("empty") << "since=" << false << -1;
    }
    void eventsQuery()
    {
        QFETCH(QString, query);
        QFETCH(bool, valid);
        QFETCH(int, since);
        const Web::EventsQuery parsed = Web::parseEventsQuery(QUrlQuery(query));
        QCOMPARE(parsed.isValid(), valid);
        QCOMPARE(parsed.since.value_or(-1), since);
    }

    void access_data()
    {
        QTest::addColumn<QString>("token");
        QTest::addColumn<QByteArray>("authorization");
        QTest::addColumn<QByteArray>("cookies");
        QTest::addColumn<QString>("query");
        QTest::addColumn<int>("access");
        const auto row = [](const char *name, const char *token, const QByteArray &authorization,
                            const QByteArray &cookies, const char *query, Web::Access access) {
            QTest::newRow(name) << QString::fromLatin1(token) << authorization << cookies
                                << QString::fromLatin1(query) << int(access);
        };
        using A = Web::Access;
        row("no token asked", "", {}, {}, "", A::Allowed);
        row("bearer", "abc", "Bearer abc", {}, "", A::Allowed);
        row("wrong bearer", "abc", "Bearer abd", {}, "", A::Refused);
        // Same length, wrong in the first byte only: the compare must keep
        // every byte's difference, not just the last one's.
        row("wrong first byte", "abc", "Bearer xbc", {}, "", A::Refused);
        row("prefix of it", "abc", "Bearer ab", {}, "", A::Refused);
        row("basic", "abc", "Basic abc", {}, "", A::Refused);
        row("cookie", "abc", {}, "a=1; zelmar_token=abc", "", A::Allowed);
        row("other cookie", "abc", {}, "token=abc", "", A::Refused);
        row("query", "abc", {}, {}, "abc", A::AllowedByQuery);
        row("wrong query", "abc", {}, {}, "x", A::Refused);
        row("nothing", "abc", {}, {}, "", A::Refused);
    }
    void access()
    {
        QFETCH(QString, token);
        QFETCH(QByteArray, authorization);
        QFETCH(QByteArray, cookies);
        QFETCH(QString, query);
        QFETCH(int, access);
        QCOMPARE(int(Web::checkAccess(token, authorization, cookies, query)), access);
    }

    void csvWanted_data()
    {
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<bool>("csv");
        QTest::newRow("csv") << QByteArray("text/csv") << true;
        QTest::newRow("among others") << QByteArray("application/json, text/csv;q=0.5") << true;
        QTest::newRow("upper case") << QByteArray("Text/CSV") << true;
        QTest::newRow("json") << QByteArray("application/json") << false;
        QTest::newRow("anything") << QByteArray("*/*") << false;
        QTest::newRow("none") << QByteArray() << false;
    }
    void csvWanted()
    {
        QFETCH(QByteArray, accept);
        QFETCH(bool, csv);
        QCOMPARE(Web::wantsCsv(accept), csv);
    }

    // On loopback only the view's own names are answered; elsewhere the token rules.
    void hostAllowed_data()
    {
        QTest::addColumn<QString>("listen");
        QTest::addColumn<bool>("tls");
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("allowed");
        const QString loop = QStringLiteral("127.0.0.1:8080");
        QTest::newRow("address and port") << loop << false << QByteArray("127.0.0.1:8080") << true;
        QTest::newRow("localhost") << loop << false << QByteArray("localhost:8080") << true;
        QTest::newRow("upper case") << loop << false << QByteArray("LocalHost:8080") << true;
        QTest::newRow("v6 loopback") << loop << false << QByteArray("[::1]:8080") << true;
        QTest::newRow("rebinding name")
            << loop << false << QByteArray("evil.example:8080") << false;
        QTest::newRow("name ending in localhost")
            << loop << false << QByteArray("evillocalhost:8080") << false;
        QTest::newRow("other port") << loop << false << QByteArray("127.0.0.1:8081") << false;
        QTest::newRow("no port, not 80") << loop << false << QByteArray("127.0.0.1") << false;
        QTest::newRow("empty port") << loop << false << QByteArray("127.0.0.1:") << false;
        QTest::newRow("signed port") << loop << false << QByteArray("127.0.0.1:+8080") << false;
        QTest::newRow("other loopback") << loop << false << QByteArray("127.0.0.2:8080") << false;
        QTest::newRow("no host") << loop << false << QByteArray() << false;
        QTest::newRow("port 80 without port")
            << "127.0.0.1:80" << false << QByteArray("localhost") << true;
        QTest::newRow("port 443 without port, TLS")
            << "127.0.0.1:443" << true << QByteArray("localhost") << true;
        QTest::newRow("port 443 without port, plain")
            << "127.0.0.1:443" << false << QByteArray("localhost") << false;
        QTest::newRow("own loopback address")
            << "127.0.0.5:8080" << false << QByteArray("127.0.0.5:8080") << true;
        QTest::newRow("v6 listen") << "[::1]:8080" << false << QByteArray("[::1]:8080") << true;
        QTest::newRow("v6 listen, other port")
            << "[::1]:8080" << false << QByteArray("[::1]:80") << false;
        QTest::newRow("off loopback: token instead")
            << "0.0.0.0:8080" << false << QByteArray("plant-pc.example:8080") << true;
    }
    void hostAllowed()
    {
        QFETCH(QString, listen);
        QFETCH(bool, tls);
        QFETCH(QByteArray, host);
        QFETCH(bool, allowed);
        QCOMPARE(Web::hostAllowed(Web::parseListenAddress(listen), tls, host), allowed);
    }

    void framing_data()
    {
        QTest::addColumn<bool>("getOrHead");
        QTest::addColumn<QByteArray>("length");
        QTest::addColumn<QByteArray>("encoding");
        QTest::addColumn<int>("bodySize");
        QTest::addColumn<int>("framing");
        using F = Web::Framing;
        QTest::newRow("plain get") << true << QByteArray() << QByteArray() << 0 << int(F::Clear);
        QTest::newRow("get, length 0")
            << true << QByteArray("0") << QByteArray() << 0 << int(F::Clear);
        QTest::newRow("get, length 1")
            << true << QByteArray("1") << QByteArray() << 1 << int(F::BodyNotExpected);
        QTest::newRow("get, chunked")
            << true << QByteArray() << QByteArray("chunked") << 0 << int(F::BodyNotExpected);
        QTest::newRow("post, length")
            << false << QByteArray("5") << QByteArray() << 5 << int(F::Clear);
        QTest::newRow("post, chunked")
            << false << QByteArray() << QByteArray("chunked") << 5 << int(F::Clear);
        QTest::newRow("post, both")
            << false << QByteArray("5") << QByteArray("chunked") << 5 << int(F::Ambiguous);
        QTest::newRow("get, both, empty")
            << true << QByteArray("0") << QByteArray("chunked") << 0 << int(F::Ambiguous);
    }
    void framing()
    {
        QFETCH(bool, getOrHead);
        QFETCH(QByteArray, length);
        QFETCH(QByteArray, encoding);
        QFETCH(int, bodySize);
        QFETCH(int, framing);
        QCOMPARE(int(Web::framingOf(getOrHead, length, encoding, bodySize)), framing);
    }

    void closesAfterAnswer_data()
    {
        QTest::addColumn<bool>("http10");
        QTest::addColumn<QByteArray>("connection");
        QTest::addColumn<bool>("closes");
        QTest::newRow("1.1") << false << QByteArray() << false;
        QTest::newRow("1.1 close") << false << QByteArray("close") << true;
        QTest::newRow("1.1 Close, upgrade") << false << QByteArray("Upgrade, Close") << true;
        QTest::newRow("1.1 keep-alive") << false << QByteArray("keep-alive") << false;
        QTest::newRow("1.0") << true << QByteArray() << true;
        QTest::newRow("1.0 keep-alive") << true << QByteArray("Keep-Alive") << false;
        QTest::newRow("1.0 close") << true << QByteArray("close") << true;
        QTest::newRow("word inside another") << false << QByteArray("closed") << false;
    }
    void closesAfterAnswer()
    {
        QFETCH(bool, http10);
        QFETCH(QByteArray, connection);
        QFETCH(bool, closes);
        QCOMPARE(Web::closesAfterAnswer(http10, connection), closes);
    }

    // The newest request's version, whatever pieces the bytes come in.
    void requestLines_data()
    {
        QTest::addColumn<QByteArray>("stream");
        QTest::addColumn<bool>("http10");
        QTest::newRow("1.0") << QByteArray("GET / HTTP/1.0\r\nHost: a\r\n\r\n") << true;
        QTest::newRow("1.1") << QByteArray("GET / HTTP/1.1\r\nHost: a\r\n\r\n") << false;
        QTest::newRow("bare line feeds") << QByteArray("GET / HTTP/1.0\nHost: a\n\n") << true;
        QTest::newRow("1.0 then 1.1")
            << QByteArray("GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\nGET /x HTTP/1.1\r\n\r\n")
            << false;
        QTest::newRow("1.1 then 1.0, head unfinished")
            << QByteArray("GET / HTTP/1.1\r\n\r\nGET /x HTTP/1.0\r\nHost:") << true;
        QTest::newRow("header naming 1.0")
            << QByteArray("GET / HTTP/1.1\r\nX-Via: HTTP/1.0\r\n\r\n") << false;
        QTest::newRow("long path")
            << QByteArray("GET /" + QByteArray(20000, 'a') + " HTTP/1.0\r\n\r\n") << true;
    }
    void requestLines()
    {
        QFETCH(QByteArray, stream);
        QFETCH(bool, http10);
        for (const qsizetype piece : {qsizetype(1), qsizetype(7), stream.size()}) {
            Web::RequestLines lines;
            for (qsizetype at = 0; at < stream.size(); at += piece)
                lines.feed(QByteArrayView(stream.mid(at, piece)));
            QVERIFY2(lines.newestIsHttp10() == http10, qPrintable(QString::number(piece)));
        }
    }

    // Each deadline at its edge: kept at the limit, closed a millisecond after.
    void connectionVerdict_data()
    {
        QTest::addColumn<qint64>("requestStarted"); // -1: none
        QTest::addColumn<qint64>("lastAnswered");   // -1: never
        QTest::addColumn<qint64>("unsentSince");    // -1: nothing unsent
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("following");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<int>("verdict");
        using V = Web::Verdict;
        const qint64 deadline = Web::kRequestDeadlineMs;
        const qint64 idle = Web::kIdleKeepAliveMs;
        // Connected at 0 in every row.
        QTest::newRow("silent, at the deadline")
            << -1LL << -1LL << -1LL << false << false << deadline << int(V::Keep);
        QTest::newRow("silent, past it")
            << -1LL << -1LL << -1LL << false << false << deadline + 1 << int(V::TooSlow);
        QTest::newRow("first request trickling from a late first byte")
            << 4000LL << -1LL << -1LL << false << false << deadline + 1 << int(V::TooSlow);
        QTest::newRow("next request, at its deadline")
            << 10000LL << 9000LL << -1LL << false << false << 10000 + deadline << int(V::Keep);
        QTest::newRow("next request, past it")
            << 10000LL << 9000LL << -1LL << false << false << 10001 + deadline << int(V::TooSlow);
        QTest::newRow("idle, at the limit")
            << -1LL << 1000LL << -1LL << false << false << 1000 + idle << int(V::Keep);
        QTest::newRow("idle, past it")
            << -1LL << 1000LL << -1LL << false << false << 1001 + idle << int(V::Idle);
        QTest::newRow("waiting for its reader")
            << -1LL << -1LL << -1LL << true << false << 60000LL << int(V::Keep);
        QTest::newRow("answer not taken in, at the limit")
            << -1LL << 1000LL << 1000LL << false << false << 1000 + Web::kUndrainedMs
            << int(V::Keep);
        QTest::newRow("answer not taken in, past it")
            << -1LL << 1000LL << 1000LL << false << false << 1001 + Web::kUndrainedMs
            << int(V::Undrained);
        QTest::newRow("a page's WebSocket")
            << -1LL << -1LL << -1LL << false << true << 3600000LL << int(V::Keep);
    }
    void connectionVerdict()
    {
        QFETCH(qint64, requestStarted);
        QFETCH(qint64, lastAnswered);
        QFETCH(qint64, unsentSince);
        QFETCH(bool, pending);
        QFETCH(bool, following);
        QFETCH(qint64, now);
        QFETCH(int, verdict);
        const auto given = [](qint64 v) { return v < 0 ? std::nullopt : std::optional<qint64>(v); };
        Web::ConnectionTimes times;
        times.requestStarted = given(requestStarted);
        times.lastAnswered = given(lastAnswered);
        times.unsentSince = given(unsentSince);
        times.answerPending = pending;
        times.following = following;
        QCOMPARE(int(Web::connectionVerdict(times, now)), verdict);
    }

    // Only a connection that owes nothing and has been idle a moment makes room.
    void reclaimable_data()
    {
        QTest::addColumn<qint64>("requestStarted"); // -1: none
        QTest::addColumn<qint64>("lastAnswered");   // -1: never
        QTest::addColumn<bool>("pending");
        QTest::addColumn<bool>("following");
        QTest::addColumn<qint64>("now");
        QTest::addColumn<bool>("reclaimable");
        const qint64 after = Web::kReclaimableAfterMs;
        // Connected at 0 in every row.
        QTest::newRow("idle long enough") << -1LL << 500LL << false << false << 500 + after << true;
        QTest::newRow("between two requests")
            << -1LL << 500LL << false << false << 499 + after << false;
        QTest::newRow("silent since connecting") << -1LL << -1LL << false << false << after << true;
        QTest::newRow("request begun") << 600LL << 500LL << false << false << 60000LL << false;
        QTest::newRow("answer pending") << -1LL << 500LL << true << false << 60000LL << false;
        QTest::newRow("a page's WebSocket") << -1LL << -1LL << false << true << 60000LL << false;
    }
    void reclaimable()
    {
        QFETCH(qint64, requestStarted);
        QFETCH(qint64, lastAnswered);
        QFETCH(bool, pending);
        QFETCH(bool, following);
        QFETCH(qint64, now);
        QFETCH(bool, reclaimable);
        Web::ConnectionTimes times;
        if (requestStarted >= 0)
            times.requestStarted = requestStarted;
        if (lastAnswered >= 0)
            times.lastAnswered = lastAnswered;
        times.answerPending = pending;
        times.following = following;
        QCOMPARE(Web::reclaimable(times, now), reclaimable);
    }

    // Accepting pauses after a burst of refusals, not after refusals spread out.
    void refusalPace()
    {
        Web::RefusalPace pace;
        for (int i = 1; i < Web::kRefusalBurst; ++i)
            QVERIFY(!pace.refused(1000));
        QVERIFY(pace.refused(1000));
        QVERIFY(!pace.refused(1000)); // counted anew
        Web::RefusalPace spread;
        for (int i = 0; i < 4 * Web::kRefusalBurst; ++i)
            QVERIFY(!spread.refused(i * (Web::kRefusalWindowMs / (Web::kRefusalBurst / 2))));
    }

    // A format in the query decides; without one the Accept header does.
    void historyFormat_data()
    {
        QTest::addColumn<QString>("format");
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<bool>("csv");
        QTest::newRow("csv named") << "&format=csv" << QByteArray("text/html, */*") << true;
        QTest::newRow("json named, csv accepted")
            << "&format=json" << QByteArray("text/csv") << false;
        QTest::newRow("by accept") << "" << QByteArray("text/csv") << true;
        QTest::newRow("nothing") << "" << QByteArray() << false;
    }
    void historyFormat()
    {
        QFETCH(QString, format);
        QFETCH(QByteArray, accept);
        QFETCH(bool, csv);
        const Web::HistoryQuery query = Web::parseHistoryQuery(QUrlQuery(
            QStringLiteral("from=2026-12-07T08:00:00Z&to=2026-12-07T09:00:00Z") + format));
        QVERIFY(query.isValid());
        QCOMPARE(Web::wantsCsv(query, accept), csv);
    }

    // The name a browser saves the CSV under: the instrument and the range in local time.
    void csvFileName_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<QString>("query");
        QTest::addColumn<QString>("name");
        QTest::newRow("local") << 5 << "from=2026-12-07 08:00&to=2026-12-07 09:00:30"
                               << "zelmar-a5-20261207-080000-20261207-090030.csv";
        QTest::newRow("across midnight") << 1 << "from=2026-12-07T23:59:59&to=2026-12-08T00:00:00"
                                         << "zelmar-a1-20261207-235959-20261208-000000.csv";
    }
    void csvFileName()
    {
        QFETCH(int, address);
        QFETCH(QString, query);
        QFETCH(QString, name);
        QCOMPARE(Web::csvFileName(address, Web::parseHistoryQuery(QUrlQuery(query))), name);
    }

    // The list page colours a state by a class of the style sheet, and nothing
    // but a state's code reaches the markup.
    void linkStateClass_data()
    {
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("cssClass");
        QTest::newRow("live") << "live"
                              << "state-live";
        QTest::newRow("no answer") << "no-answer"
                                   << "state-no-answer";
        QTest::newRow("before the first poll") << ""
                                               << "state-unknown";
        QTest::newRow("markup") << "live\" onclick=\"x"
                                << "state-unknown";
        QTest::newRow("upper case") << "Live"
                                    << "state-unknown";
        QTest::newRow("trailing hyphen") << "live-"
                                         << "state-unknown";
    }
    void linkStateClass()
    {
        QFETCH(QString, state);
        QFETCH(QString, cssClass);
        QCOMPARE(Web::linkStateClass(state), cssClass);
        const QByteArray page = Web::indexPage({{7, state, QStringLiteral("在线")}});
        QVERIFY2(page.contains("class=\"state " + cssClass.toUtf8() + "\""), page.constData());
        QVERIFY(!page.contains("style="));
    }

    void isoWithOffset_data()
    {
        QTest::addColumn<int>("offsetSeconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("utc") << 0 << "2026-12-07T08:00:05+00:00";
        QTest::newRow("east") << 3600 << "2026-12-07T08:00:05+01:00";
        QTest::newRow("half hour") << 19800 << "2026-12-07T08:00:05+05:30";
        QTest::newRow("west") << -10800 << "2026-12-07T08:00:05-03:00";
    }
    void isoWithOffset()
    {
        QFETCH(int, offsetSeconds);
        QFETCH(QString, text);
        const QDateTime moment(QDate(2026, 12, 7), QTime(8, 0, 5), QTimeZone(offsetSeconds));
        QCOMPARE(::isoWithOffset(moment), text);
    }

    // The JSON writes each value as the windows do, not as a long double.
    void liveJsonValues()
    {
        LiveSnapshot snapshot;
        snapshot.values = {0.1f, -45.5f, 678, 9, 50};
        snapshot.time = QDateTime(QDate(2026, 12, 7), QTime(8, 0), QTimeZone::utc());
        const QByteArray json = liveJson(snapshot);
        QVERIFY2(json.contains("\"ch1\":0.1,"), json.constData());
        QVERIFY2(json.contains("\"ch2\":-45.5,"), json.constData());
        QVERIFY2(json.contains("\"quality\":null"), json.constData());
        QVERIFY2(json.contains("\"unacknowledged\":null"), json.constData());
    }

    // --- the running tool ---

    // /api/live holds the instrument's values, states and link as the simulator gives them.
    void liveEqualsSimulator()
    {
        const QJsonObject json = live();
        QCOMPARE(json[QStringLiteral("ch1")].toDouble(), 123.0);
        QCOMPARE(json[QStringLiteral("ch2")].toDouble(), -45.0);
        QCOMPARE(json[QStringLiteral("ch3")].toDouble(), 678.0);
        QCOMPARE(json[QStringLiteral("ch4")].toDouble(), 9.0);
        QCOMPARE(json[QStringLiteral("da")].toDouble(), 50.0);
        QCOMPARE(json[QStringLiteral("quality")].toInt(), 192);
        // --inputs 1001 (hex): inputs 1 and 13; --coils 5: relays 1 and 3.
        const QJsonArray inputs = json[QStringLiteral("inputs")].toArray();
        QCOMPARE(inputs.size(), 16);
        for (int i = 0; i < 16; ++i)
            QCOMPARE(inputs.at(i).toInt(), (i == 0 || i == 12) ? 1 : 0);
        const QJsonArray relays = json[QStringLiteral("relays")].toArray();
        QCOMPARE(relays, (QJsonArray{1, 0, 1, 0}));
        const QJsonObject box = json[QStringLiteral("inputBoxes")].toArray().at(0).toObject();
        QCOMPARE(box[QStringLiteral("text")].toString(), QStringLiteral("通道一报警"));
        QCOMPARE(box[QStringLiteral("colour")].toString(), QStringLiteral("#ffc0c0"));
        const QJsonObject link = json[QStringLiteral("link")].toObject();
        QCOMPARE(link[QStringLiteral("state")].toString(), QStringLiteral("live"));
        QCOMPARE(link[QStringLiteral("text")].toString(), QStringLiteral("在线"));
        QVERIFY(json[QStringLiteral("recording")].toObject()[QStringLiteral("on")].toBool());
        static const QRegularExpression iso(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d[+-]\\d\\d:\\d\\d$"));
        QVERIFY(iso.match(json[QStringLiteral("time")].toString()).hasMatch());
    }

    // Every refusal: read-only, token, unknown, malformed, too large.
    void refusals_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<bool>("withToken");
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("status");
        const auto row = [](const char *name, const QByteArray &method, const QByteArray &path,
                            bool withToken, const QByteArray &body, int status) {
            QTest::newRow(name) << method << path << withToken << body << status;
        };
        const QByteArray big(Web::kLargestBody + 1, 'x');
        const QByteArray fits(Web::kLargestBody, 'x');
        row("page", "GET", "/", true, {}, 200);
        row("post", "POST", "/api/live", true, "{}", 405);
        row("put", "PUT", "/", true, "x", 405);
        row("delete", "DELETE", "/api/events", true, {}, 405);
        row("patch", "PATCH", "/api/live", true, "x", 405);
        row("no token", "GET", "/api/live", false, {}, 401);
        row("wrong query token", "GET", "/?token=nope", false, {}, 401);
        row("unknown", "GET", "/admin", true, {}, 404);
        row("folder", "GET", "/api/", true, {}, 404);
        row("other instrument", "GET", "/a/7/api/live", true, {}, 404);
        row("no range", "GET", "/api/history", true, {}, 400);
        row("bad instant", "GET", "/api/history?from=x&to=2026-12-07T08:00:00Z", true, {}, 400);
        row("huge range", "GET", "/api/history?from=2000-01-01T00:00:00Z&to=2026-12-07T08:00:00Z",
            true, {}, 400);
        row("bad since", "GET", "/api/events?since=x", true, {}, 400);
        // A GET has no body; one on another method is read up to the limit.
        row("body on GET", "GET", "/api/live", true, fits, 400);
        row("body fits", "POST", "/api/live", true, fits, 405);
        row("body too large", "POST", "/api/live", true, big, 413);
    }
    void refusals()
    {
        QFETCH(QByteArray, method);
        QFETCH(QByteArray, path);
        QFETCH(bool, withToken);
        QFETCH(QByteArray, body);
        QFETCH(int, status);
        const HttpReply reply =
            httpRequest(m_port, method, path,
                        withToken ? QList<QByteArray>{kBearer} : QList<QByteArray>{}, body);
        QCOMPARE(reply.status, status);
        QCOMPARE(reply.header("content-security-policy"), QByteArray("default-src 'self'"));
        if (status == 405)
            QCOMPARE(reply.header("allow"), QByteArray("GET, HEAD"));
        // The tool is unaffected.
        QCOMPARE(live()[QStringLiteral("ch1")].toDouble(), 123.0);
    }

    // Headers without end: refused and the connection closed; the tool unaffected.
    void headerFlood()
    {
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write("GET /api/live HTTP/1.1\r\nHost: x\r\n");
        const QByteArray line = "X-Flood: " + QByteArray(100, 'a') + "\r\n";
        QByteArray answer;
        for (int i = 0; i < 20000 && socket.state() == QAbstractSocket::ConnectedState; ++i) {
            socket.write(line);
            if (i % 100 == 0 && socket.waitForBytesWritten(100))
                answer += socket.readAll();
        }
        QTRY_VERIFY_WITH_TIMEOUT(socket.state() != QAbstractSocket::ConnectedState, kWaitMs);
        if (socket.isOpen())
            answer += socket.readAll();
        QVERIFY2(answer.isEmpty() || answer.startsWith("HTTP/1.1 413"),
                 answer.left(100).constData());
        QCOMPARE(live()[QStringLiteral("ch1")].toDouble(), 123.0);
    }

    // HEAD answers as GET would, without the body.
    void head()
    {
        const HttpReply get = httpRequest(m_port, "GET", "/page.js", {kBearer});
        const HttpReply head = httpRequest(m_port, "HEAD", "/page.js", {kBearer});
        QCOMPARE(head.status, 200);
        QVERIFY(head.body.isEmpty());
        QCOMPARE(head.header("content-length").toLongLong(), get.body.size());
    }

    // ?token= lets the browser in once and leaves an HttpOnly cookie that does from then on.
    void tokenCookie()
    {
        const HttpReply first = httpRequest(m_port, "GET", "/?token=" + kToken);
        QCOMPARE(first.status, 200);
        const QByteArray cookie = first.header("set-cookie");
        QVERIFY2(cookie.contains("HttpOnly"), cookie.constData());
        const HttpReply next =
            httpRequest(m_port, "GET", "/api/live", {"Cookie: " + cookie.split(';').first()});
        QCOMPARE(next.status, 200);
    }

    // The history as JSON and, asked for CSV, in the export's columns.
    void history()
    {
        const QDateTime now = QDateTime::currentDateTime();
        const QByteArray range =
            "/api/history?from=" +
            QUrl::toPercentEncoding(now.addSecs(-600).toString(Qt::ISODate)) +
            "&to=" + QUrl::toPercentEncoding(now.addSecs(60).toString(Qt::ISODate));
        const HttpReply json = httpRequest(m_port, "GET", range, {kBearer});
        QCOMPARE(json.status, 200);
        const QJsonArray rows = jsonOf(json)[QStringLiteral("rows")].toArray();
        QVERIFY(rows.size() >= 2);
        const QJsonArray newest = rows.last().toArray();
        QCOMPARE(newest.size(), 10);
        QCOMPARE(newest.at(1).toDouble(), 123.0);
        QCOMPARE(newest.at(9).toInt(), 192);

        const HttpReply csv = httpRequest(m_port, "GET", range, {kBearer, "Accept: text/csv"});
        QCOMPARE(csv.status, 200);
        QVERIFY(csv.header("content-type").startsWith("text/csv"));
        QVERIFY(csv.body.startsWith(History::csvFileHead()));
        const QList<QByteArray> lines = csv.body.trimmed().split('\n');
        QVERIFY(lines.size() >= 3);
        QVERIFY2(lines.last().startsWith(newest.at(0).toString().toUtf8() + ",123,-45,678,9,50"),
                 lines.last().constData());
    }

    // The newest events, then only those after an id.
    void events()
    {
        const QJsonObject all = jsonOf(httpRequest(m_port, "GET", "/api/events", {kBearer}));
        const int newest = all[QStringLiteral("newest")].toInt();
        const QJsonArray events = all[QStringLiteral("events")].toArray();
        QVERIFY(newest >= 1);
        QVERIFY(!events.isEmpty() && events.size() <= Web::kPageEvents);
        QCOMPARE(events.last().toObject()[QStringLiteral("id")].toInt(), newest);
        const QJsonObject after = jsonOf(httpRequest(
            m_port, "GET", "/api/events?since=" + QByteArray::number(newest - 1), {kBearer}));
        QCOMPARE(after[QStringLiteral("events")].toArray().size(), 1);
        const QJsonObject none = jsonOf(httpRequest(
            m_port, "GET", "/api/events?since=" + QByteArray::number(newest), {kBearer}));
        QVERIFY(none[QStringLiteral("events")].toArray().isEmpty());
    }

    // 64 clients at once: at most 32 are served together, the rest told 503
    // at once; every one gets an answer and the tool serves on.
    void manyClients()
    {
        std::vector<std::unique_ptr<QTcpSocket>> sockets;
        for (int i = 0; i < 64; ++i) {
            auto socket = std::make_unique<QTcpSocket>();
            socket->connectToHost(QHostAddress::LocalHost, m_port);
            sockets.push_back(std::move(socket));
        }
        for (auto &socket : sockets)
            QVERIFY(socket->waitForConnected(5000));
        QTest::qWait(300);
        const QByteArray request = liveRequest(m_port, "Connection: close\r\n");
        for (auto &socket : sockets)
            socket->write(request);
        int served = 0, busy = 0;
        for (auto &socket : sockets) {
            const QByteArray answer = readWhileConnected(*socket, 5000);
            if (answer.startsWith("HTTP/1.1 200"))
                ++served;
            else if (answer.startsWith("HTTP/1.1 503"))
                ++busy;
        }
        QCOMPARE(served + busy, 64);
        QVERIFY2(served >= 1 && served <= Web::kMostClients, qPrintable(QString::number(served)));
        QCOMPARE(live()[QStringLiteral("ch1")].toDouble(), 123.0);
    }

    // A name that leads a page of another site to 127.0.0.1 (DNS rebinding)
    // is answered 421, a WebSocket upgrade included; the view's own names are served.
    void rebindingHostRefused_data()
    {
        QTest::addColumn<QByteArray>("host");
        QTest::addColumn<bool>("upgrade");
        QTest::addColumn<int>("status");
        QTest::newRow("own address") << QByteArray("127.0.0.1") << false << 200;
        QTest::newRow("localhost") << QByteArray("localhost") << false << 200;
        QTest::newRow("rebinding name") << QByteArray("attacker.example") << false << 421;
        QTest::newRow("rebinding upgrade") << QByteArray("attacker.example") << true << 421;
    }
    void rebindingHostRefused()
    {
        QFETCH(QByteArray, host);
        QFETCH(bool, upgrade);
        QFETCH(int, status);
        QByteArray request = "GET /api/live HTTP/1.1\r\nHost: " + host + ':' +
                             QByteArray::number(m_port) + "\r\n" + kBearer + "\r\n";
        if (upgrade)
            request += kUpgrade;
        else
            request += "Connection: close\r\n";
        const HttpReply reply = exchange(m_port, request + "\r\n");
        QCOMPARE(reply.status, status);
    }

    // A request that can be read two ways, or a GET with a body, is refused
    // 400 and nothing sent after it on the connection is answered.
    void smuggledRequestRefused_data()
    {
        QTest::addColumn<QByteArray>("request");
        const QByteArray hidden =
            "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n" + kBearer + "\r\n\r\n";
        QTest::newRow("length and chunked")
            << "POST /api/live HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\nContent-Length: 4\r\n"
               "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n" +
                   hidden;
        QTest::newRow("get with a body")
            << "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:PORT\r\n" + kBearer +
                   "\r\nContent-Length: " + QByteArray::number(hidden.size()) + "\r\n\r\n" +
                   hidden + hidden;
    }
    void smuggledRequestRefused()
    {
        QFETCH(QByteArray, request);
        request.replace("PORT", QByteArray::number(m_port));
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(request);
        const QByteArray answers = readWhileConnected(socket, 3000);
        QVERIFY2(answers.startsWith("HTTP/1.1 400"), answers.constData());
        QCOMPARE(answers.count("HTTP/1.1 "), 1);
        QVERIFY(socket.state() != QAbstractSocket::ConnectedState);
    }

    // HTTP/1.0 and "Connection: close" end the connection after the answer,
    // which says so; HTTP/1.1 keeps it.
    void connectionClose_data()
    {
        QTest::addColumn<QByteArray>("version");
        QTest::addColumn<QByteArray>("connection");
        QTest::addColumn<bool>("closed");
        QTest::newRow("1.1") << QByteArray("HTTP/1.1") << QByteArray() << false;
        QTest::newRow("1.1 close") << QByteArray("HTTP/1.1") << QByteArray("close") << true;
        QTest::newRow("1.0") << QByteArray("HTTP/1.0") << QByteArray() << true;
        QTest::newRow("1.0 keep-alive")
            << QByteArray("HTTP/1.0") << QByteArray("keep-alive") << false;
    }
    void connectionClose()
    {
        QFETCH(QByteArray, version);
        QFETCH(QByteArray, connection);
        QFETCH(bool, closed);
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(liveRequest(
            m_port, connection.isEmpty() ? QByteArray() : "Connection: " + connection + "\r\n",
            version));
        const QByteArray answer = readWhileConnected(socket, 1500);
        QVERIFY2(answer.startsWith("HTTP/1.1 200"), answer.constData());
        QCOMPARE(answer.contains("Connection: close"), closed);
        QCOMPARE(socket.state() != QAbstractSocket::ConnectedState, closed);
    }

    // The 64 KiB limit holds for one request, not for a connection: many small
    // requests on one kept-alive connection, more than 64 KiB together, are
    // each answered.
    void keepAliveBeyondLargestRequest()
    {
        constexpr int kRequests = 70;
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        const QByteArray request =
            liveRequest(m_port, "X-Padding: " + QByteArray(1000, 'p') + "\r\n");
        QVERIFY(qint64(request.size()) * kRequests > Web::kLargestRequest);
        QByteArray received;
        for (int i = 0; i < kRequests; ++i) {
            socket.write(request);
            // One whole answer: its head, then as many bytes as it says.
            qsizetype headEnd = -1;
            qsizetype answerEnd = -1;
            QElapsedTimer waited;
            waited.start();
            while (answerEnd < 0 && waited.elapsed() < kWaitMs &&
                   socket.state() == QAbstractSocket::ConnectedState) {
                socket.waitForReadyRead(50);
                received += socket.readAll();
                headEnd = received.indexOf("\r\n\r\n");
                if (headEnd < 0)
                    continue;
                const QByteArray head = received.left(headEnd).toLower();
                const qsizetype at = head.indexOf("content-length:");
                const qsizetype length = at < 0
                                             ? 0
                                             : head.mid(at + 15, head.indexOf("\r\n", at) - at - 15)
                                                   .trimmed()
                                                   .toLongLong();
                if (received.size() >= headEnd + 4 + length)
                    answerEnd = headEnd + 4 + length;
            }
            QVERIFY2(answerEnd > 0,
                     qPrintable(QStringLiteral("no whole answer to request %1: ").arg(i + 1) +
                                QString::fromLatin1(received.left(200))));
            QVERIFY2(received.startsWith("HTTP/1.1 200"),
                     qPrintable(QStringLiteral("request %1: ").arg(i + 1) +
                                QString::fromLatin1(received.left(200))));
            received.remove(0, answerEnd);
        }
        QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    }

    // A WebSocket frame or message beyond the limits ends the page's socket
    // with 1009 before its payload is read: the tool's memory stays where it was.
    void largeWebSocketFrame_data()
    {
        QTest::addColumn<int>("frames");
        QTest::addColumn<qint64>("frameSize");
        QTest::newRow("one 16 MiB frame") << 1 << qint64(16 << 20);
        QTest::newRow("one frame past the limit") << 1 << qint64(Web::kLargestFrame + 1);
        QTest::newRow("fragments past the message limit")
            << int(Web::kLargestMessage / Web::kLargestFrame + 1) << qint64(Web::kLargestFrame);
    }
    void largeWebSocketFrame()
    {
        QFETCH(int, frames);
        QFETCH(qint64, frameSize);
        const qint64 before = residentKiB(m_tool.process.processId());
        QTcpSocket socket;
        socket.connectToHost(QHostAddress::LocalHost, m_port);
        QVERIFY(socket.waitForConnected(5000));
        socket.write(liveRequest(m_port, kUpgrade));
        QByteArray received;
        for (int waited = 0; waited < 5000 && !received.contains("\r\n\r\n"); waited += 50) {
            socket.waitForReadyRead(50);
            received += socket.readAll();
        }
        QVERIFY2(received.startsWith("HTTP/1.1 101"), received.constData());
        received = received.mid(received.indexOf("\r\n\r\n") + 4);
        // Binary frames, masked as a client's must be; all but the last
        // unfinished (FIN clear), each after the first a continuation.
        const QByteArray chunk(64 * 1024, 'x');
        for (int f = 0; f < frames && socket.state() == QAbstractSocket::ConnectedState; ++f) {
            QByteArray head;
            head += char((f + 1 == frames ? 0x80 : 0x00) | (f == 0 ? 0x02 : 0x00));
            // The length in its shortest form, as the protocol demands.
            const int lengthBytes = frameSize < 126 ? 0 : frameSize < 65536 ? 2 : 8;
            head += char(0x80 | (lengthBytes == 0 ? int(frameSize) : lengthBytes == 2 ? 126 : 127));
            for (int shift = 8 * (lengthBytes - 1); shift >= 0; shift -= 8)
                head += char((quint64(frameSize) >> shift) & 0xff);
            head += QByteArray(4, '\0'); // mask of zeros: the payload as is
            socket.write(head);
            for (qint64 sent = 0;
                 sent < frameSize && socket.state() == QAbstractSocket::ConnectedState;
                 sent += chunk.size()) {
                socket.write(chunk.left(int(std::min<qint64>(chunk.size(), frameSize - sent))));
                socket.waitForBytesWritten(100);
                // A client that reads as it sends, as a browser does: it stops at the close.
                socket.waitForReadyRead(1);
                received += socket.readAll();
                if (closeCodeOf(received) != 0)
                    break;
            }
        }
        received += readWhileConnected(socket, 5000);
        QCOMPARE(closeCodeOf(received), int(QWebSocketProtocol::CloseCodeTooMuchData));
        const qint64 after = residentKiB(m_tool.process.processId());
        QVERIFY2(after - before < 8 * 1024,
                 qPrintable(QStringLiteral("%1 KiB -> %2 KiB").arg(before).arg(after)));
    }

    // Forty clients trickling a byte every 2 s from one address hold no more
    // than their share of places and lose them within the request deadline:
    // a client at another address is served at once.
    void slowClientsHoldNothing()
    {
        std::vector<std::unique_ptr<QTcpSocket>> slow;
        for (int i = 0; i < 40; ++i)
            slow.push_back(connectFrom(QHostAddress(QStringLiteral("127.0.0.2")), m_port));
        const QByteArray request =
            "GET /api/live HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_port) + "\r\n";
        QElapsedTimer clock;
        clock.start();
        for (int sent = 0; clock.elapsed() < 4000; ++sent) {
            for (auto &socket : slow)
                if (socket->state() == QAbstractSocket::ConnectedState)
                    socket->write(request.mid(sent, 1));
            QTest::qWait(2000);
        }
        QElapsedTimer answered;
        answered.start();
        const HttpReply normal = exchange(m_port, liveRequest(m_port, "Connection: close\r\n"),
                                          5000, QHostAddress(QStringLiteral("127.0.0.3")));
        QCOMPARE(normal.status, 200);
        QVERIFY2(answered.elapsed() < 3000, qPrintable(QString::number(answered.elapsed())));
        const auto stillOpen = [&] {
            return std::count_if(slow.begin(), slow.end(), [](const auto &socket) {
                socket->waitForReadyRead(1);
                return socket->state() == QAbstractSocket::ConnectedState;
            });
        };
        QVERIFY2(stillOpen() <= Web::kMostPerAddress, qPrintable(QString::number(stillOpen())));
        QTRY_COMPARE_WITH_TIMEOUT(stillOpen(), 0, int(Web::kRequestDeadlineMs) + 3000);
    }

    // Pages count against their address's limit: one connection more from
    // that address is refused 503 with Retry-After before it is read, while
    // another address is served.
    void perAddressLimit()
    {
        const QHostAddress crowded(QStringLiteral("127.0.0.4"));
        const QByteArray upgrade = liveRequest(m_port, kUpgrade);
        std::vector<std::unique_ptr<QTcpSocket>> pages;
        for (int i = 0; i < Web::kMostPerAddress; ++i) {
            pages.push_back(connectFrom(crowded, m_port));
            pages.back()->write(upgrade);
            QVERIFY(pages.back()->waitForReadyRead(5000));
            QVERIFY(pages.back()->readAll().startsWith("HTTP/1.1 101"));
        }
        const QByteArray request = liveRequest(m_port, "Connection: close\r\n");
        const HttpReply refused = exchange(m_port, request, 5000, crowded);
        QCOMPARE(refused.status, 503);
        QCOMPARE(refused.header("retry-after"), QByteArray::number(Web::kRetryAfterSeconds));
        QCOMPARE(exchange(m_port, request, 5000, QHostAddress(QStringLiteral("127.0.0.5"))).status,
                 200);
        // The pages were not closed as idle meanwhile.
        QTest::qWait(500);
        for (const auto &page : pages)
            QCOMPARE(page->state(), QAbstractSocket::ConnectedState);
    }

    // A full view makes room for a new client by closing the connection idle
    // longest; one busy with a request is never closed for it.
    void fullViewReclaimsIdle()
    {
        const QByteArray keepAlive = liveRequest(m_port);
        std::vector<std::unique_ptr<QTcpSocket>> idle;
        for (int i = 0; i < Web::kMostClients; ++i) {
            idle.push_back(
                connectFrom(QHostAddress(QStringLiteral("127.0.2.%1").arg(1 + i % 4)), m_port));
            idle.back()->write(keepAlive);
            QVERIFY(idle.back()->waitForReadyRead(5000));
            QVERIFY(idle.back()->readAll().startsWith("HTTP/1.1 200"));
        }
        QTest::qWait(int(Web::kReclaimableAfterMs) + 100);
        const HttpReply served =
            exchange(m_port, keepAlive, 5000, QHostAddress(QStringLiteral("127.0.2.9")));
        QCOMPARE(served.status, 200);
        QTRY_VERIFY_WITH_TIMEOUT(idle.front()->state() != QAbstractSocket::ConnectedState ||
                                     (idle.front()->waitForReadyRead(10), false),
                                 2000);
    }

    // Thirty clients reading 18 h of a full 1-second ring: /api/live is
    // answered at once meanwhile, and the recorder stops on SIGTERM within 2 s.
    void historyLoad()
    {
        RecordingFixture fixture(QStringLiteral("web-history-load"));
        QVERIFY(fixture.isReady());
        QVERIFY(fixture.fillRing(kRecordRingIds, kRecordRingIds));
        Simulator simulator(kSimulated);
        QVERIFY(simulator.start(3));
        const quint16 port = freePort();
        Tool tool(recorderServing(3, fixture.path(), port));
        QTRY_COMPARE_WITH_TIMEOUT(httpRequest(port, "GET", "/api/live").status, 200, kWaitMs);
        // 18 h ending at the fixture's newest record (noon, local time).
        const QByteArray history = "GET /api/history?from=2026-12-06%2018:00&to=2026-12-07%2012:00"
                                   " HTTP/1.1\r\nHost: 127.0.0.1:" +
                                   QByteArray::number(port) + "\r\n\r\n";
        const auto startReaders = [&] {
            std::vector<std::unique_ptr<QTcpSocket>> readers;
            for (int i = 0; i < 30; ++i) {
                // Three addresses: ten connections each, within the per-address limit.
                readers.push_back(
                    connectFrom(QHostAddress(QStringLiteral("127.0.1.%1").arg(1 + i % 3)), port));
                readers.back()->write(history);
                readers.back()->flush();
            }
            return readers;
        };
        auto readers = startReaders();
        QTest::qWait(300); // the reads under way
        QElapsedTimer clock;
        clock.start();
        const HttpReply live = httpRequest(port, "GET", "/api/live");
        const qint64 liveMs = clock.elapsed();
        QCOMPARE(live.status, 200);
        // 50 ms where nothing else runs; the bound leaves room for a busy test machine.
        QVERIFY2(liveMs < 250, qPrintable(QStringLiteral("/api/live took %1 ms").arg(liveMs)));
        // The reads are answered in full.
        QByteArray first;
        for (int waited = 0; waited < 60000 && !first.contains("\"rows\""); waited += 50) {
            readers.front()->waitForReadyRead(50);
            first += readers.front()->readAll();
        }
        QVERIFY2(first.startsWith("HTTP/1.1 200"), first.left(200).constData());

        readers = startReaders();
        QTest::qWait(300);
        clock.restart();
        tool.process.terminate();
        QVERIFY(tool.process.waitForFinished(10000));
        QVERIFY2(clock.elapsed() < 2000,
                 qPrintable(QStringLiteral("stop took %1 ms").arg(clock.elapsed())));
        // Ended, not crashed by a reader left behind.
        QCOMPARE(tool.process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(tool.process.exitCode(), 0);
    }

    // The recording file deleted under the view: the recorder goes on in a
    // new file and the view's history and events come from that one.
    void followsNewRecordingFile()
    {
        Simulator simulator(kSimulated);
        QVERIFY(simulator.start(4));
        const QString database = m_dir.filePath(QStringLiteral("followed.db"));
        const quint16 port = freePort();
        const Tool tool(recorderServing(4, database, port));
        const QDateTime started = QDateTime::currentDateTime();
        const QByteArray range =
            "/api/history?from=" +
            QUrl::toPercentEncoding(started.addSecs(-600).toString(Qt::ISODate)) +
            "&to=" + QUrl::toPercentEncoding(started.addSecs(3600).toString(Qt::ISODate));
        const auto rows = [&] {
            return jsonOf(httpRequest(port, "GET", range))[QStringLiteral("rows")].toArray();
        };
        QTRY_VERIFY_WITH_TIMEOUT(rows().size() >= 3, kWaitMs);
        QTest::qWait(1000);
        QVERIFY(QFile::remove(database));
        const QString removedAt = QDateTime::currentDateTime().toString(Qt::ISODate);
        QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(database), 3 * kWaitMs);
        // Only rows recorded after the removal, once the view has followed.
        QTRY_VERIFY_WITH_TIMEOUT(
            !rows().isEmpty() && rows().first().toArray().at(0).toString().left(19) >= removedAt,
            3 * kWaitMs);
        // The new file's events: the removal noticed, the recording resumed.
        const QJsonArray events =
            jsonOf(httpRequest(port, "GET", "/api/events"))[QStringLiteral("events")].toArray();
        QVERIFY(!events.isEmpty());
        for (const QJsonValue &event : events)
            QVERIFY2(event[QStringLiteral("time")].toString().left(19) >= removedAt,
                     qPrintable(event[QStringLiteral("time")].toString()));
    }

    // A key that does not belong to the certificate: the recorder ends with
    // exit 1 and the reason; the windowed tool runs on and says why.
    void mismatchedKeyRefused()
    {
        QVERIFY(makeCertificate(m_dir, QStringLiteral("a")));
        QVERIFY(makeCertificate(m_dir, QStringLiteral("b")));
        const QStringList mismatched{
            QStringLiteral("ZELMAR_WEB_CERT=") + m_dir.filePath(QStringLiteral("a.crt")),
            QStringLiteral("ZELMAR_WEB_KEY=") + m_dir.filePath(QStringLiteral("b.key"))};
        const ProgramRun run = runWithoutDisplay(
            QStringLiteral(ZELMAR_PROGRAM),
            recorderServing(9, m_dir.filePath(QStringLiteral("mismatch.db")), freePort()),
            mismatched);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.error.contains(QStringLiteral("do not go together")), qPrintable(run.error));

        Tool windows({QStringLiteral("--web"), QStringLiteral("127.0.0.1:%1").arg(freePort())},
                     mismatched + QStringList{QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                                              QStringLiteral("ZELMAR_DB=") +
                                                  m_dir.filePath(QStringLiteral("mismatch-w.db"))});
        QTRY_VERIFY_WITH_TIMEOUT(windows.hasSaid(QStringLiteral("do not go together")), kWaitMs);
        QCOMPARE(windows.process.state(), QProcess::Running);
    }

    // A page following over its WebSocket gets each poll as it lands, and a
    // socket without the token gets nothing.
    void webSocketPushes()
    {
        QWebSocket refused;
        refused.open(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(m_port)));
        QWebSocket socket;
        QNetworkRequest request(QUrl(QStringLiteral("ws://127.0.0.1:%1/api/live").arg(m_port)));
        request.setRawHeader("Authorization", "Bearer " + kToken);
        QList<QJsonObject> received;
        connect(&socket, &QWebSocket::textMessageReceived, this, [&](const QString &text) {
            received << QJsonDocument::fromJson(text.toUtf8()).object();
        });
        int refusedMessages = 0;
        connect(&refused, &QWebSocket::textMessageReceived, this, [&] { ++refusedMessages; });
        socket.open(request);
        QTRY_VERIFY_WITH_TIMEOUT(received.size() >= 3, kWaitMs);
        QCOMPARE(received.last()[QStringLiteral("ch3")].toDouble(), 678.0);
        QVERIFY(received.last()[QStringLiteral("sequence")].toInt() >
                received.first()[QStringLiteral("sequence")].toInt());
        QCOMPARE(refusedMessages, 0);
        QVERIFY(refused.state() != QAbstractSocket::ConnectedState);
    }

    // The page in a real browser shows the values (its DOM dumped), and the
    // same page follows the instrument going silent within a few polls.
    void browserPage()
    {
        SKIP_WITHOUT_CHROMIUM();
        const QString url = QStringLiteral("http://127.0.0.1:%1/?token=%2")
                                .arg(m_port)
                                .arg(QString::fromLatin1(kToken));
        QTemporaryDir profile;
        const ProgramRun dump = runWithoutDisplay(
            chromiumProgram(),
            {QStringLiteral("--headless"), QStringLiteral("--no-sandbox"),
             QStringLiteral("--disable-gpu"), QStringLiteral("--user-data-dir=") + profile.path(),
             QStringLiteral("--virtual-time-budget=5000"), QStringLiteral("--dump-dom"), url});
        QVERIFY2(dump.output.contains(QStringLiteral("id=\"ch1\">123<")),
                 qPrintable(dump.output.left(2000)));
        QVERIFY(dump.output.contains(QStringLiteral("id=\"ch2\">-45<")));
        QVERIFY(dump.output.contains(QStringLiteral(">在线<")));
        QVERIFY(dump.output.contains(QStringLiteral("通道一报警")));

        HeadlessPage page;
        QVERIFY2(page.open(url), qPrintable(page.error()));
        QTRY_COMPARE_WITH_TIMEOUT(
            page.evaluate(QStringLiteral("document.getElementById('link').textContent")).toString(),
            QStringLiteral("在线"), kWaitMs);
        QVERIFY(m_simulator.pause());
        QTRY_COMPARE_WITH_TIMEOUT(
            page.evaluate(QStringLiteral("document.getElementById('link').textContent")).toString(),
            QStringLiteral("无应答"), kWaitMs);
        QCOMPARE(page.evaluate(QStringLiteral("document.body.dataset.firstLink")).toString(),
                 QStringLiteral("在线"));
        QVERIFY(m_simulator.resume());
        QTRY_COMPARE_WITH_TIMEOUT(
            live()[QStringLiteral("link")].toObject()[QStringLiteral("state")].toString(),
            QStringLiteral("live"), kWaitMs);
    }

    // The style sheet colours each link state as the status strip does: the
    // colour is the strip's, the class the one the list and the page give the state.
    void stateColours_data()
    {
        QTest::addColumn<LinkState>("state");
        QTest::addColumn<QString>("code");
        QTest::newRow("live") << LinkState::Live << "live";
        QTest::newRow("no answer") << LinkState::NoAnswer << "no-answer";
        QTest::newRow("port lost") << LinkState::PortLost << "port-lost";
        QTest::newRow("open failed") << LinkState::OpenFailed << "open-failed";
        QTest::newRow("opening") << LinkState::Opening << "opening";
        QTest::newRow("not opened") << LinkState::NotOpened << "not-opened";
    }
    void stateColours()
    {
        QFETCH(LinkState, state);
        QFETCH(QString, code);
        static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                                QRegularExpression::DotMatchesEverythingOption);
        const QString css =
            QString::fromUtf8(httpRequest(m_port, "GET", "/page.css", {kBearer}).body)
                .remove(comment);
        static const QRegularExpression rule(QStringLiteral("([^{}]*)\\{([^}]*)\\}"));
        static const QRegularExpression background(
            QStringLiteral("background(?:-color)?:\\s*(#[0-9a-fA-F]{6})"));
        QString colour;
        for (const QRegularExpressionMatch &match : rule.globalMatch(css)) {
            const QStringList selectors = match.captured(1).split(u',');
            const bool names =
                std::any_of(selectors.begin(), selectors.end(), [&](const QString &s) {
                    return s.trimmed() == QStringLiteral(".") + Web::linkStateClass(code);
                });
            if (names)
                colour = background.match(match.captured(2)).captured(1);
        }
        QCOMPARE(colour.toLower(), HealthTexts::linkStateColour(state).name());
    }

    // Two addresses on one line, the simulator answering at the first only: each
    // page tells its own instrument's truth, in the style sheet's colours (the
    // page's Content-Security-Policy blocks inline styles), greyed where stale,
    // readable at phone width, with a CSV link a browser can follow and a trend
    // on round scales, DA on its own.
    void pageOfEachAddress()
    {
        SKIP_WITHOUT_CHROMIUM();
        Simulator simulator(kSimulated);
        QVERIFY(simulator.start(4));
        const quint16 port = freePort();
        const Tool tool(recorderServing(4, m_dir.filePath(QStringLiteral("two.db")), port,
                                        {QStringLiteral("--address"), QStringLiteral("1,2")}));
        const auto liveOf = [port](const QByteArray &address) {
            return jsonOf(httpRequest(port, "GET", "/a/" + address + "/api/live"));
        };
        const auto stateOf = [](const QJsonObject &live) {
            return live[QStringLiteral("link")].toObject()[QStringLiteral("state")].toString();
        };
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(liveOf("2")), QStringLiteral("no-answer"), kWaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(stateOf(liveOf("1")), QStringLiteral("live"), kWaitMs);

        // Each address's own last reply and reason, not the port's.
        const QJsonObject answers = liveOf("1");
        const QJsonObject silent = liveOf("2");
        const QJsonObject silentLink = silent[QStringLiteral("link")].toObject();
        QVERIFY(answers[QStringLiteral("link")].toObject()[QStringLiteral("lastReply")].isString());
        QVERIFY2(silentLink[QStringLiteral("lastReply")].isNull(),
                 qPrintable(silentLink[QStringLiteral("lastReply")].toString()));
        QVERIFY2(
            silentLink[QStringLiteral("detail")].toString().contains(QStringLiteral("从未应答")),
            qPrintable(silentLink[QStringLiteral("detail")].toString()));
        QVERIFY2(silentLink[QStringLiteral("reason")].toString().contains(QStringLiteral("地址 2")),
                 qPrintable(silentLink[QStringLiteral("reason")].toString()));
        // Its values and boxes are stale; the answering one's are not.
        QVERIFY(silent[QStringLiteral("valuesStale")].toBool());
        QVERIFY(!answers[QStringLiteral("valuesStale")].toBool());
        for (const char *boxes : {"inputBoxes", "relayBoxes"}) {
            for (const QJsonValue &box : silent[QLatin1String(boxes)].toArray())
                QVERIFY(box[QStringLiteral("stale")].toBool());
            for (const QJsonValue &box : answers[QLatin1String(boxes)].toArray())
                QVERIFY(!box[QStringLiteral("stale")].toBool());
        }

        const QString site = QStringLiteral("http://127.0.0.1:%1").arg(port);
        const auto number = [](const QVariant &value) { return value.toDouble(); };

        // The list's state colours, as Chromium computes them.
        {
            HeadlessPage page;
            QVERIFY2(page.open(site + QStringLiteral("/")), qPrintable(page.error()));
            const auto background = [&](const char *id) {
                return page
                    .evaluate(QStringLiteral("(function(){const e=document.getElementById('%1');"
                                             "return e?getComputedStyle(e).backgroundColor:'';})()")
                                  .arg(QLatin1String(id)))
                    .toString();
            };
            QTRY_COMPARE_WITH_TIMEOUT(background("state-1"), QStringLiteral("rgb(0, 160, 0)"),
                                      kWaitMs);
            QCOMPARE(background("state-2"), QStringLiteral("rgb(230, 160, 0)"));

            // The silent one's page greys its values like the overview; the other's does not.
            const QString mark = QStringLiteral(
                "getComputedStyle(document.getElementById('tile-ch1'),'::after').backgroundColor");
            QVERIFY(page.navigate(site + QStringLiteral("/a/2/")));
            QTRY_COMPARE_WITH_TIMEOUT(page.evaluate(mark).toString(),
                                      QStringLiteral("rgba(235, 235, 235, 0.67)"), kWaitMs);
            QCOMPARE(page.evaluate(QStringLiteral(
                                       "getComputedStyle(document.querySelector('#relays .box'),"
                                       "'::after').backgroundColor"))
                         .toString(),
                     QStringLiteral("rgba(235, 235, 235, 0.67)"));
            QVERIFY(page.evaluate(QStringLiteral("document.getElementById('linkDetail')"
                                                 ".textContent"))
                        .toString()
                        .contains(QStringLiteral("从未应答")));
            QVERIFY(page.navigate(site + QStringLiteral("/a/1/")));
            QTRY_COMPARE_WITH_TIMEOUT(
                page.evaluate(QStringLiteral("document.getElementById('ch4').textContent"))
                    .toString(),
                QStringLiteral("9"), kWaitMs);
            QCOMPARE(page.evaluate(mark).toString(), QStringLiteral("rgba(0, 0, 0, 0)"));
        }

        // At phone width every event keeps the object it names, stacked in its row.
        HeadlessPage phone;
        QVERIFY2(phone.open(site + QStringLiteral("/a/1/"), kPhoneWidth),
                 qPrintable(phone.error()));
        QTRY_COMPARE_WITH_TIMEOUT(number(phone.evaluate(QStringLiteral("innerWidth"))),
                                  double(kPhoneWidth), kWaitMs);
        QTRY_VERIFY_WITH_TIMEOUT(
            number(phone.evaluate(QStringLiteral("document.querySelectorAll('#events tbody "
                                                 "tr').length"))) >= 2,
            kWaitMs);
        const QString objectsShown = QStringLiteral(
            "Array.from(document.querySelectorAll('#events tbody tr')).every(function(row){"
            "const r=row.cells[2].getBoundingClientRect();"
            "return r.width>0&&r.height>0&&r.left>=0&&r.right<=innerWidth;})");
        QVERIFY(phone.evaluate(objectsShown).toBool());
        QVERIFY(phone
                    .evaluate(QStringLiteral("Array.from(document.querySelectorAll('#events "
                                             "tbody td:nth-child(3)')).some(function(c){"
                                             "return c.textContent.length>0;})"))
                    .toBool());

        // The CSV of the range drawn, as a link that the browser saves under a name.
        QTRY_VERIFY_WITH_TIMEOUT(
            phone.evaluate(QStringLiteral("document.getElementById('csv').href"))
                .toString()
                .contains(QStringLiteral("format=csv")),
            kWaitMs);
        const QUrl csvUrl(
            phone.evaluate(QStringLiteral("document.getElementById('csv').href")).toString());
        const HttpReply csv = httpRequest(port, "GET",
                                          csvUrl.path(QUrl::FullyEncoded).toUtf8() + '?' +
                                              csvUrl.query(QUrl::FullyEncoded).toUtf8());
        QCOMPARE(csv.status, 200);
        QVERIFY(csv.header("content-type").startsWith("text/csv"));
        QVERIFY2(csv.header("content-disposition").startsWith("attachment; filename=\"zelmar-a1-"),
                 csv.head.constData());
        QVERIFY(csv.body.startsWith(History::csvFileHead()));
        QVERIFY(csv.body.trimmed().split('\n').size() >= 2);

        // The trend's scales: round steps for the channels and for DA on its own.
        QTRY_VERIFY_WITH_TIMEOUT(
            !phone.evaluate(QStringLiteral("document.getElementById('trend').dataset.daLabels"))
                 .toString()
                 .isEmpty(),
            kWaitMs);
        const auto labels = [&](const char *name) {
            QList<double> values;
            for (const QString &text :
                 phone
                     .evaluate(QStringLiteral("document.getElementById('trend').dataset.%1")
                                   .arg(QLatin1String(name)))
                     .toString()
                     .split(u' ', Qt::SkipEmptyParts))
                values << text.toDouble();
            return values;
        };
        const QList<double> channels = labels("channelLabels");
        const QList<double> da = labels("daLabels");
        QVERIFY2(roundSteps(channels),
                 qPrintable(phone
                                .evaluate(QStringLiteral("document.getElementById('"
                                                         "trend').dataset.channelLabels"))
                                .toString()));
        QVERIFY(roundSteps(da));
        // The channels span -45..678; DA (50) has a scale of its own around it.
        QVERIFY(channels.first() <= -45 && channels.last() >= 678);
        QVERIFY2(da.first() <= 50 && da.last() >= 50 &&
                     da.last() - da.first() < (channels.last() - channels.first()) / 10,
                 qPrintable(QString::number(da.first()) + ".." + QString::number(da.last())));
    }

    // The trend's time axis carries the date where its range crosses midnight,
    // and its value steps are 1, 2 or 5 times a power of ten: the page's own
    // rules, run in Chromium.
    void trendAxes_data()
    {
        QTest::addColumn<QString>("expression");
        QTest::addColumn<QString>("result");
        QTest::newRow("within a day")
            << "zelmarAxes.timeTicks(new Date(2026,11,7,8,5).getTime(),"
               "new Date(2026,11,7,9,5).getTime()).map(t=>(t.date?t.date+' ':'')+t.label).join()"
            << "08:10,08:20,08:30,08:40,08:50,09:00";
        QTest::newRow("across midnight")
            << "zelmarAxes.timeTicks(new Date(2026,11,7,23,30).getTime(),"
               "new Date(2026,11,8,0,30).getTime()).map(t=>(t.date?t.date+' ':'')+t.label).join()"
            << "2026/12/07 23:30,23:40,23:50,2026/12/08 00:00,00:10,00:20,00:30";
        QTest::newRow("ending at midnight")
            << "zelmarAxes.timeTicks(new Date(2026,11,7,23,0).getTime(),"
               "new Date(2026,11,7,23,59,59).getTime()).length"
            << "6";
        QTest::newRow("step of 1") << "zelmarAxes.niceStep(6, 6)"
                                   << "1";
        QTest::newRow("step just over 1") << "zelmarAxes.niceStep(6.01, 6)"
                                          << "2";
        QTest::newRow("step of 2") << "zelmarAxes.niceStep(723, 6)"
                                   << "200";
        QTest::newRow("step of 5") << "zelmarAxes.niceStep(25, 6)"
                                   << "5";
        QTest::newRow("small steps")
            << "zelmarAxes.scaleOf(0.12, 0.95, 6).ticks.map(t=>t.label).join()"
            << "-0.5,0.0,0.5,1.0,1.5";
        QTest::newRow("negative") << "zelmarAxes.scaleOf(-45, 678, 6).ticks.map(t=>t.label).join()"
                                  << "-200,0,200,400,600,800";
    }
    void trendAxes()
    {
        SKIP_WITHOUT_CHROMIUM();
        QFETCH(QString, expression);
        QFETCH(QString, result);
        if (!m_axesPage) {
            m_axesPage = std::make_unique<HeadlessPage>();
            QVERIFY2(m_axesPage->open(QStringLiteral("http://127.0.0.1:%1/?token=%2")
                                          .arg(m_port)
                                          .arg(QString::fromLatin1(kToken))),
                     qPrintable(m_axesPage->error()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(
            m_axesPage->evaluate(QStringLiteral("typeof zelmarAxes")).toString() ==
                QLatin1String("object"),
            kWaitMs);
        QCOMPARE(m_axesPage->evaluate(QStringLiteral("String(") + expression + u')').toString(),
                 result);
    }

    // --- starting and refusing to start ---

    // An address others can reach, without a token: a message and exit 1
    // before anything starts, in both modes.
    void outsideWithoutTokenRefused_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::newRow("recorder") << QStringList{"--record", "--port", "9", "--web", "0.0.0.0:1"};
        QTest::newRow("windows") << QStringList{"--web", "0.0.0.0:1"};
    }
    void outsideWithoutTokenRefused()
    {
        QFETCH(QStringList, arguments);
        const ProgramRun run = runWithoutDisplay(QStringLiteral(ZELMAR_PROGRAM), arguments);
        QCOMPARE(run.code, 1);
        QVERIFY2(run.error.contains(QStringLiteral("ZELMAR_WEB_TOKEN")), qPrintable(run.error));
        QVERIFY(!run.error.contains(QStringLiteral("recording")));
    }

    // A port in use ends the recorder with exit 1 and a clear message.
    void portInUseEndsRecorder()
    {
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        const ProgramRun run = runWithoutDisplay(
            QStringLiteral(ZELMAR_PROGRAM),
            recorderServing(9, m_dir.filePath(QStringLiteral("other.db")), taken.serverPort()));
        QCOMPARE(run.code, 1);
        QVERIFY2(run.error.contains(QStringLiteral("cannot listen")), qPrintable(run.error));
    }

    // The windowed tool serves the instrument its overview polls; a port in
    // use leaves it running without the web view, and says so.
    void windowedTool()
    {
        Simulator second(kSimulated);
        QVERIFY(second.start(2));
        const quint16 port = freePort();
        QTcpServer taken;
        QVERIFY(taken.listen(QHostAddress::LocalHost, 0));
        const QStringList common{QStringLiteral("QT_QPA_PLATFORM=offscreen"),
                                 QStringLiteral("ZELMAR_DB=") +
                                     m_dir.filePath(QStringLiteral("windows.db"))};
        const Tool tool({QStringLiteral("--open"), QStringLiteral("--port"), QStringLiteral("2"),
                         QStringLiteral("--web"), QStringLiteral("127.0.0.1:%1").arg(port)},
                        common);
        Tool blocked(
            {QStringLiteral("--web"), QStringLiteral("127.0.0.1:%1").arg(taken.serverPort())},
            {QStringLiteral("QT_QPA_PLATFORM=offscreen"),
             QStringLiteral("ZELMAR_DB=") + m_dir.filePath(QStringLiteral("blocked.db"))});
        QTRY_COMPARE_WITH_TIMEOUT(
            jsonOf(httpRequest(port, "GET", "/api/live"))[QStringLiteral("ch4")].toDouble(), 9.0,
            kWaitMs);
        const QJsonObject json = jsonOf(httpRequest(port, "GET", "/api/live"));
        QCOMPARE(json[QStringLiteral("quality")].toInt(), 192);
        QCOMPARE(json[QStringLiteral("relays")].toArray(), (QJsonArray{1, 0, 1, 0}));
        // The windowed tool keeps the unacknowledged alarms: inputs 1 and 13 are on.
        QCOMPARE(json[QStringLiteral("unacknowledged")].toInt(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(blocked.hasSaid(QStringLiteral("cannot listen")), kWaitMs);
        QCOMPARE(blocked.process.state(), QProcess::Running);
    }

    // With ZELMAR_WEB_CERT and ZELMAR_WEB_KEY the view speaks TLS only.
    void tls()
    {
        QVERIFY(makeCertificate(m_dir, QStringLiteral("web")));
        const quint16 port = freePort();
        const Tool tool(
            recorderServing(9, m_dir.filePath(QStringLiteral("tls.db")), port),
            {QStringLiteral("ZELMAR_WEB_CERT=") + m_dir.filePath(QStringLiteral("web.crt")),
             QStringLiteral("ZELMAR_WEB_KEY=") + m_dir.filePath(QStringLiteral("web.key"))});
        const auto secureStatus = [&] {
            QSslSocket socket;
            socket.setPeerVerifyMode(QSslSocket::VerifyNone);
            socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
            if (!socket.waitForEncrypted(3000))
                return QByteArray();
            socket.write("GET /page.css HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(port) +
                         "\r\nConnection: close\r\n\r\n");
            QByteArray answer;
            while (socket.waitForReadyRead(3000))
                answer += socket.readAll();
            return answer.left(12);
        };
        QTRY_COMPARE_WITH_TIMEOUT(secureStatus(), QByteArray("HTTP/1.1 200"), kWaitMs);
        // Plain HTTP gets no answer.
        QCOMPARE(httpRequest(port, "GET", "/page.css").status, 0);
    }

    // With several instruments on the line, / lists them and each has its own
    // page and API under /a/<address>/.
    void severalInstruments()
    {
        // The running recorder owns the simulator's line; this one listens
        // to a line of its own with nobody on it.
        const quint16 port = freePort();
        const Tool tool(recorderServing(9, m_dir.filePath(QStringLiteral("several.db")), port,
                                        {QStringLiteral("--address"), QStringLiteral("1,2,5")}));
        QTRY_COMPARE_WITH_TIMEOUT(httpRequest(port, "GET", "/").status, 200, kWaitMs);
        const HttpReply list = httpRequest(port, "GET", "/");
        for (const char *link : {"href=\"/a/1/\"", "href=\"/a/2/\"", "href=\"/a/5/\""})
            QVERIFY2(list.body.contains(link), list.body.constData());
        QCOMPARE(httpRequest(port, "GET", "/a/5/").status, 200);
        QCOMPARE(httpRequest(port, "GET", "/a/3/").status, 404);
        QCOMPARE(httpRequest(port, "GET", "/api/live").status, 404);
        QCOMPARE(httpRequest(port, "GET", "/a/5").header("location"), QByteArray("/a/5/"));
        QTRY_COMPARE_WITH_TIMEOUT(httpRequest(port, "GET", "/a/2/api/events").status, 200, kWaitMs);
    }
};

QTEST_GUILESS_MAIN(TestWeb)
#include "tst_web.moc"
