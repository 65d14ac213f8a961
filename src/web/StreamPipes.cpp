#include "web/StreamPipes.h"

#include <microhttpd.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <thread>

struct StreamPipes::Pipe
{
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<QByteArray> parts;
    qsizetype offset = 0; // already sent of the first part
    bool done = false;
    bool failed = false;
    bool closed = false;    // the library released the response, or the server stops
    bool suspended = false; // the connection waits for the next part
    bool resuming = false;  // a resume is being called outside the lock
    MHD_Connection *connection = nullptr;
    bool suspend = false;
    std::mutex streamMutex; // held to cancel the stream, so that it is never cancelled as it goes
    std::unique_ptr<ReplyStream> stream;
    std::thread thread;
    std::atomic<bool> ended{false};

    // Called with the lock held; gives it up around the library's call, which takes locks
    // of its own (never hold ours across one of theirs). The connection cannot go away
    // meanwhile: a suspended one is closed only by a server stop, and closeAll waits for
    // `resuming` to clear first.
    void wake(std::unique_lock<std::mutex> &lock)
    {
        if (suspended) {
            suspended = false;
            resuming = true;
            lock.unlock();
            MHD_resume_connection(connection);
            lock.lock();
            resuming = false;
        }
        changed.notify_all();
    }

    // From any thread; a stream already let go of needs no stopping.
    void cancelStream()
    {
        std::lock_guard guard(streamMutex);
        if (stream)
            stream->cancel();
    }
};

StreamPipes::StreamPipes(bool suspend)
    : m_suspend(suspend)
{
}

StreamPipes::~StreamPipes()
{
    closeAll();
    joinAll();
}

void StreamPipes::produce(const std::shared_ptr<Pipe> &pipe)
{
    Pipe &p = *pipe;
    for (;;) {
        QByteArray part;
        part.reserve(PartBytes + 4096);
        bool more = false;
        bool ok = true;
        try {
            more = p.stream->next(part, PartBytes);
        } catch (...) {
            ok = false;
        }
        std::unique_lock lock(p.mutex);
        p.changed.wait(lock, [&p] { return p.closed || p.parts.size() < QueuedParts; });
        if (p.closed)
            break;
        if (!part.isEmpty())
            p.parts.push_back(std::move(part));
        if (!ok)
            p.failed = true;
        else if (!more)
            p.done = true;
        p.wake(lock);
        if (!ok || !more)
            break;
    }
    // The stream's store connection and statement go now, not when the next export starts
    // or the server stops.
    std::unique_ptr<ReplyStream> gone;
    {
        std::lock_guard guard(p.streamMutex);
        gone = std::move(p.stream);
    }
    gone.reset();
    p.ended = true;
}

ssize_t StreamPipes::read(void *cls, std::uint64_t /*pos*/, char *buf, std::size_t max)
{
    Pipe &p = **static_cast<std::shared_ptr<Pipe> *>(cls);
    std::unique_lock lock(p.mutex);
    for (;;) {
        if (!p.parts.empty()) {
            const QByteArray &first = p.parts.front();
            const std::size_t n = std::min(max, static_cast<std::size_t>(first.size() - p.offset));
            std::memcpy(buf, first.constData() + p.offset, n);
            p.offset += static_cast<qsizetype>(n);
            if (p.offset >= first.size()) {
                p.parts.pop_front();
                p.offset = 0;
                p.changed.notify_all();
            }
            return static_cast<ssize_t>(n);
        }
        if (p.failed || p.closed)
            return MHD_CONTENT_READER_END_WITH_ERROR;
        if (p.done)
            return MHD_CONTENT_READER_END_OF_STREAM;
        if (p.suspend) {
            // The worker goes on with its other connections; the stream resumes this one.
            p.suspended = true;
            MHD_suspend_connection(p.connection);
            return 0;
        }
        p.changed.wait(lock);
    }
}

void StreamPipes::release(void *cls)
{
    auto *owned = static_cast<std::shared_ptr<Pipe> *>(cls);
    Pipe &p = **owned;
    // The client is gone (or was answered): a statement under way stops now, before the
    // stream's thread is told and lets the stream go.
    p.cancelStream();
    {
        std::lock_guard lock(p.mutex);
        p.closed = true;
        p.parts.clear();
        p.changed.notify_all();
    }
    delete owned;
}

void StreamPipes::reap()
{
    std::vector<std::shared_ptr<Pipe>> ended;
    {
        std::lock_guard lock(m_mutex);
        for (auto it = m_pipes.begin(); it != m_pipes.end();) {
            if ((*it)->ended) {
                ended.push_back(std::move(*it));
                it = m_pipes.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (const auto &pipe : ended)
        pipe->thread.join();
}

MHD_Response *StreamPipes::response(MHD_Connection *connection, std::unique_ptr<ReplyStream> stream)
{
    reap();
    auto pipe = std::make_shared<Pipe>();
    pipe->connection = connection;
    pipe->suspend = m_suspend;
    pipe->stream = std::move(stream);
    auto *owned = new std::shared_ptr<Pipe>(pipe);
    MHD_Response *response
        = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, static_cast<std::size_t>(PartBytes), &StreamPipes::read,
                                            owned, &StreamPipes::release);
    if (!response) {
        delete owned;
        return nullptr;
    }
    pipe->thread = std::thread(&StreamPipes::produce, pipe);
    std::lock_guard lock(m_mutex);
    m_pipes.push_back(std::move(pipe));
    return response;
}

void StreamPipes::closeAll()
{
    std::vector<std::shared_ptr<Pipe>> pipes;
    {
        std::lock_guard lock(m_mutex);
        pipes = m_pipes;
    }
    for (const auto &pipe : pipes) {
        pipe->cancelStream();
        std::unique_lock lock(pipe->mutex);
        pipe->closed = true;
        pipe->wake(lock);
        pipe->changed.wait(lock, [&pipe] { return !pipe->resuming; });
    }
}

void StreamPipes::joinAll()
{
    std::vector<std::shared_ptr<Pipe>> pipes;
    {
        std::lock_guard lock(m_mutex);
        pipes.swap(m_pipes);
    }
    for (const auto &pipe : pipes) {
        if (pipe->thread.joinable())
            pipe->thread.join();
    }
}
