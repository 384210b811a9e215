#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

// Cuts off an exchange with the server that takes too long, or at once when
// the tool stops: it shuts the connection's socket down, which makes libpq's
// wait for the reply return with an error at once, whatever the server does (a
// table locked for minutes, a server process frozen, a peer whose kernel still
// answers keep-alives). The server rolls the open transaction back and the
// rows stay pending in the local ring. The socket is only shut down, never
// closed: closing stays with libpq, on the connection's own thread.
//
// States and the function behind each transition:
//   Idle    --arm(limit) [an exchange begins]--> Armed
//   Armed   --disarm() [the exchange ended]--> Idle
//   Armed   --Unlimited [a step without limit begins]--> Idle, and Armed
//              again with the whole limit when it ends
//   Armed   --the limit passed [watch thread]--> Expired (socket shut down)
//   any     --abort() [any thread]--> Aborted (socket shut down, and every
//                                     socket watched later at once)
class StatementWatch
{
public:
    StatementWatch() = default;
    ~StatementWatch();
    StatementWatch(const StatementWatch &) = delete;
    StatementWatch &operator=(const StatementWatch &) = delete;

    // The socket of the open connection; -1 when there is none.
    void watchSocket(int socket);
    // An exchange begins: its socket is shut down `limit` from now unless
    // disarm() comes first.
    void arm(std::chrono::milliseconds limit);
    void disarm();
    // Shuts the socket down now, and any socket watched from now on. Any thread.
    void abort();
    // Why the last exchange was cut off ("no answer from the server in 15 s",
    // "stopped"); empty when it was not.
    QString cutOffReason() const;

    // Arms the watch for its own lifetime.
    class Armed
    {
    public:
        Armed(StatementWatch &watch, std::chrono::milliseconds limit) : m_watch(watch)
        {
            m_watch.arm(limit);
        }
        ~Armed() { m_watch.disarm(); }
        Armed(const Armed &) = delete;
        Armed &operator=(const Armed &) = delete;

    private:
        StatementWatch &m_watch;
    };

    // No limit for the guard's lifetime (a step that takes as long as a table
    // is large, with the table open to others meanwhile); an exchange armed
    // before gets its whole limit again after it. abort() cuts off as ever.
    class Unlimited
    {
    public:
        explicit Unlimited(StatementWatch &watch) : m_watch(watch), m_wasArmed(watch.suspend()) {}
        ~Unlimited() { m_watch.resume(m_wasArmed); }
        Unlimited(const Unlimited &) = delete;
        Unlimited &operator=(const Unlimited &) = delete;

    private:
        StatementWatch &m_watch;
        bool m_wasArmed;
    };

private:
    // Disarms; whether it was armed.
    bool suspend();
    // Arms again with the last limit when `armed`.
    void resume(bool armed);
    void run();
    void shutDownSocket();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::thread m_thread;
    int m_socket = -1;
    std::optional<std::chrono::steady_clock::time_point> m_deadline;
    std::chrono::milliseconds m_limit{0};
    QString m_cutOff;
    bool m_aborted = false;
    bool m_quit = false;
};
