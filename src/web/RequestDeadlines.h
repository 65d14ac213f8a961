#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_map>

// Cuts off connections whose request (line and headers) has not arrived whole within a fixed
// time of their being accepted. The library's own time-out counts silence only, so a client
// sending one byte now and then would hold its connection for ever.
//
// The library's threads report each connection's start, its complete request and its end; a
// thread of this object shuts down the socket of any connection past its deadline, and the
// library then closes it as a connection the client ended.
class RequestDeadlines
{
public:
    explicit RequestDeadlines(std::chrono::milliseconds limit);
    ~RequestDeadlines();
    RequestDeadlines(const RequestDeadlines &) = delete;
    RequestDeadlines &operator=(const RequestDeadlines &) = delete;

    // `connection` (any key unique while it lives) was accepted on socket fd.
    void started(const void *connection, int fd);
    // Its request is whole (or it is gone): no deadline any more. The socket is never
    // touched after this returns, so the library may close it.
    void finished(const void *connection);

private:
    void run();

    struct Entry
    {
        int fd;
        std::chrono::steady_clock::time_point deadline;
    };

    const std::chrono::milliseconds m_limit;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::unordered_map<const void *, Entry> m_open;
    bool m_stopping = false;
    std::thread m_thread;
};
