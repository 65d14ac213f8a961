#pragma once

#include "web/WebPage.h"
#include "web/WebSnapshot.h"

#include <QByteArray>

#include <functional>
#include <memory>
#include <utility>
#include <vector>

// A reply body made piece by piece (a long export): the server reads it from a thread of the
// stream's own, so that a worker serving many connections never waits on it.
class ReplyStream
{
public:
    virtual ~ReplyStream() = default;
    // Appends the next part of the body to `out` (about `wanted` bytes); false once the body
    // is whole. Called on the stream's thread, one call at a time. An exception cuts the reply
    // short, so that the client sees it incomplete.
    virtual bool next(QByteArray &out, qsizetype wanted) = 0;
    // From any thread: the client went away or the server stops; next() may throw from now on.
    virtual void cancel() = 0;
};

// The status and content type of a streamed path's reply; without a stream, `head.body` is the
// whole reply (a refusal).
struct StreamedReply
{
    WebReply head;
    std::unique_ptr<ReplyStream> stream;
};

// The decoded name and value pairs of a query string, in their order.
using QueryPairs = std::vector<std::pair<QByteArray, QByteArray>>;
// Answers one exact path on a worker thread. It must come back quickly (open a store, not read
// it): the stream does the long work.
using StreamHandler = std::function<StreamedReply(const QueryPairs &query, const WebSnapshot &state)>;
