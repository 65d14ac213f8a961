#pragma once

#include "web/ReplyStream.h"

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

struct MHD_Connection;
struct MHD_Response;

// The streamed replies of one server: each body is made on a thread of its own and handed to
// the library through a short queue. In the pool's event loop a connection whose next part is
// not ready is suspended (its worker serves the others) and resumed when it is; with a thread
// per connection that thread waits. A client that goes away cancels its stream; a full queue
// holds the stream back, so memory stays a few parts per client whatever the body's length.
class StreamPipes
{
public:
    // `suspend`: the library's event loop may suspend connections (not with a thread per
    // connection).
    explicit StreamPipes(bool suspend);
    ~StreamPipes();
    StreamPipes(const StreamPipes &) = delete;
    StreamPipes &operator=(const StreamPipes &) = delete;

    // The library's response for `stream` on `connection`; its thread starts here.
    MHD_Response *response(MHD_Connection *connection, std::unique_ptr<ReplyStream> stream);
    // Before the library stops: cancels every stream, resumes every suspended connection (the
    // library must hold none when it stops) and wakes every waiting reader.
    void closeAll();
    // After the library stopped: joins every stream's thread.
    void joinAll();

    // Bytes of one part, and parts queued ahead of the client at most.
    static constexpr qsizetype PartBytes = 64 * 1024;
    static constexpr std::size_t QueuedParts = 4;

private:
    struct Pipe;
    static void produce(const std::shared_ptr<Pipe> &pipe);
    static ssize_t read(void *cls, std::uint64_t pos, char *buf, std::size_t max);
    static void release(void *cls);
    void reap();

    const bool m_suspend;
    std::mutex m_mutex;
    std::vector<std::shared_ptr<Pipe>> m_pipes;
};
