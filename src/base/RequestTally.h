#pragma once

#include <QtGlobal>

#include <atomic>

// What a server of the program has answered since it started, counted by its own thread and
// read by /metrics on another: counters only ever grow, so relaxed atomics are enough.
struct RequestTally
{
    // Requests answered, errors included.
    std::atomic<quint64> requests{0};
    // Requests answered with an error number (no such path, no valid reading, a write).
    std::atomic<quint64> errors{0};
    // Connections closed without an answer: a malformed or late request, over the cap or
    // over one address's share.
    std::atomic<quint64> refused{0};
    // True while the server listens.
    std::atomic<bool> listening{false};
};
