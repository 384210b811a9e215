#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QtGlobal>

#include <optional>

// What the web view allows one connection, and the rules that decide when it
// is refused, answered and closed: plain functions and values, so that each
// limit has its own test rows. The server applies them to its sockets.
namespace Web
{

// A page sends nothing on its WebSocket but pings and the close: a frame or a
// message beyond these is answered with close code 1009 (too large) before
// its payload is read.
constexpr quint64 kLargestFrame = 4 * 1024;
constexpr quint64 kLargestMessage = 16 * 1024;
// The bytes a connection may hold unread in memory: the largest request the
// view takes (64 KiB, beyond it 413) and a little more, so that the refusal
// can be decided; the kernel holds the rest, and a client that sends faster
// waits on its own side.
constexpr qint64 kLargestRequest = 64 * 1024;
constexpr qint64 kReadBuffer = kLargestRequest + 16 * 1024;
// Connections at once from one client address: a browser shares six
// connections among the pages of a site and adds a WebSocket for each page,
// so three pages open fit, with room; more is one client holding the places
// of others.
constexpr int kMostPerAddress = 12;
// A connection must send a complete request within this of connecting or of
// the first byte of its request. A browser sends its request whole at once;
// five seconds leave a slow mobile line its round trips, while a client that
// trickles bytes holds a place for no longer than that.
constexpr qint64 kRequestDeadlineMs = 5000;
// A kept-alive connection that asks nothing more for this long is closed (a
// browser opens a new one when it needs it); when the view is full, the one
// idle longest (and at least kReclaimableAfterMs) is closed at once for a
// new client.
constexpr qint64 kIdleKeepAliveMs = 20000;
constexpr qint64 kReclaimableAfterMs = 1000;
// An answer the client does not take in for this long (it stopped reading)
// has its connection closed, so that unsent answers do not pile up.
constexpr qint64 kUndrainedMs = 10000;
// What a refused client is told to wait before it asks again (503).
constexpr int kRetryAfterSeconds = 1;
// Beyond the cap, after this many refusals within kRefusalWindowMs the view
// stops taking connections for kAcceptPauseMs: the kernel's backlog holds the
// knockers meanwhile and the clients already in are served.
constexpr int kRefusalBurst = 32;
constexpr qint64 kRefusalWindowMs = 100;
constexpr qint64 kAcceptPauseMs = 100;

// How a request states its body. Both a length and a transfer encoding can be
// read two ways (one by a proxy in front, another here: a request smuggled in
// the body); a GET or HEAD has no body at all.
enum class Framing {
    Clear,
    Ambiguous,       // Content-Length and Transfer-Encoding both (400)
    BodyNotExpected, // a body on GET or HEAD (400)
};
Framing framingOf(bool getOrHead, const QByteArray &contentLength,
                  const QByteArray &transferEncoding, qsizetype bodySize);

// Whether the connection is closed after the answer: asked with
// "Connection: close", or HTTP/1.0 without "Connection: keep-alive".
bool closesAfterAnswer(bool http10, const QByteArray &connection);

// The request lines of a connection's bytes as they come, in pieces of any
// size: whether the newest request is HTTP/1.0 (Qt HttpServer does not say).
// A request line is the first line of the stream and the first after each
// empty line ending a head; a request with a body has its connection closed
// after its answer, so bodies are never read as heads.
class RequestLines
{
public:
    void feed(QByteArrayView bytes);
    // The newest request line seen names HTTP/1.0.
    bool newestIsHttp10() const { return m_http10; }

private:
    QByteArray m_tail;          // the end of the line being received, enough for its version
    qsizetype m_lineLength = 0; // bytes of that line so far
    bool m_atRequest = true;    // the line being received is a request line
    bool m_http10 = false;
};

// A connection's times (milliseconds on one clock) as the sweep sees them.
struct ConnectionTimes {
    qint64 connected = 0;
    std::optional<qint64> requestStarted; // first byte of a request not yet answered
    std::optional<qint64> lastAnswered;
    std::optional<qint64> unsentSince; // an answer has been waiting to be taken in
    bool answerPending = false;        // a reader is preparing its answer
    bool following = false;            // a page's WebSocket: never idle
};

// What becomes of a connection now:
//   connected --no complete request within kRequestDeadlineMs--> TooSlow (closed)
//   request started --not complete within kRequestDeadlineMs--> TooSlow (closed)
//   answered --nothing asked for kIdleKeepAliveMs--> Idle (closed)
//   answer unsent --not taken in for kUndrainedMs--> Undrained (closed)
//   WebSocket --> Keep (its own limits and the push's unsent bound apply)
enum class Verdict { Keep, TooSlow, Idle, Undrained };
Verdict connectionVerdict(const ConnectionTimes &times, qint64 now);
// Whether the connection may be closed at once to make room for a new client:
// it waits for nothing and owes nothing (no request begun, no answer pending
// or unsent, not a page's WebSocket), and has asked nothing for at least
// kReclaimableAfterMs (a client between two requests is busy, not idle).
bool reclaimable(const ConnectionTimes &times, qint64 now);

// Counts refusals beyond the cap: refused() says when accepting pauses.
class RefusalPace
{
public:
    // One refusal at `now`; true when it ends a burst of kRefusalBurst within
    // kRefusalWindowMs (the count starts again).
    bool refused(qint64 now);

private:
    qint64 m_windowStart = 0;
    int m_count = 0;
};

} // namespace Web
