#include "statementwatch.h"

#include <sys/socket.h>

StatementWatch::~StatementWatch()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

void StatementWatch::watchSocket(int socket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_socket = socket;
    // A login that was under way when the stop came ends with the first statement.
    if (m_aborted)
        shutDownSocket();
}

void StatementWatch::arm(std::chrono::milliseconds limit)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_limit = limit;
        m_deadline = std::chrono::steady_clock::now() + limit;
        if (!m_aborted)
            m_cutOff.clear();
        // Started with the first exchange: a server that is never used costs no thread.
        if (!m_thread.joinable())
            m_thread = std::thread(&StatementWatch::run, this);
    }
    m_wake.notify_all();
}

void StatementWatch::disarm()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deadline.reset();
}

bool StatementWatch::suspend()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const bool armed = m_deadline.has_value();
    m_deadline.reset();
    return armed;
}

void StatementWatch::resume(bool armed)
{
    std::chrono::milliseconds limit{0};
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        limit = m_limit;
    }
    if (armed)
        arm(limit);
}

void StatementWatch::abort()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = true;
    m_cutOff = QStringLiteral("stopped");
    shutDownSocket();
}

QString StatementWatch::cutOffReason() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cutOff;
}

void StatementWatch::shutDownSocket()
{
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
}

void StatementWatch::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_quit) {
        if (!m_deadline) {
            m_wake.wait(lock);
            continue;
        }
        const auto deadline = *m_deadline;
        if (m_wake.wait_until(lock, deadline) == std::cv_status::no_timeout)
            continue; // disarmed, armed again or quitting: look again
        if (m_deadline && *m_deadline == deadline) {
            m_deadline.reset();
            m_cutOff = QStringLiteral("no answer from the server in %1 s; the exchange was "
                                      "abandoned")
                           .arg(std::chrono::duration_cast<std::chrono::seconds>(m_limit).count());
            shutDownSocket();
        }
    }
}
