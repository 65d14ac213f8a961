#include "web/RequestDeadlines.h"

#include <sys/socket.h>

RequestDeadlines::RequestDeadlines(std::chrono::milliseconds limit)
    : m_limit(limit)
    , m_thread([this] { run(); })
{
}

RequestDeadlines::~RequestDeadlines()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_changed.notify_one();
    m_thread.join();
}

void RequestDeadlines::started(const void *connection, int fd)
{
    bool first = false;
    {
        std::lock_guard lock(m_mutex);
        first = m_open.empty();
        m_open[connection] = Entry{fd, std::chrono::steady_clock::now() + m_limit};
    }
    // Deadlines come in the order of the starts: only a thread with nothing to wait for needs
    // to learn of a new one.
    if (first)
        m_changed.notify_one();
}

void RequestDeadlines::finished(const void *connection)
{
    std::lock_guard lock(m_mutex);
    m_open.erase(connection);
}

void RequestDeadlines::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        if (m_open.empty()) {
            m_changed.wait(lock);
            continue;
        }
        const auto now = std::chrono::steady_clock::now();
        auto next = std::chrono::steady_clock::time_point::max();
        for (auto it = m_open.begin(); it != m_open.end();) {
            if (it->second.deadline <= now) {
                // Under the lock, before the library can have closed (and reused) the socket:
                // it reports the end first.
                ::shutdown(it->second.fd, SHUT_RDWR);
                it = m_open.erase(it);
            } else {
                next = std::min(next, it->second.deadline);
                ++it;
            }
        }
        if (next != std::chrono::steady_clock::time_point::max())
            m_changed.wait_until(lock, next);
    }
}
