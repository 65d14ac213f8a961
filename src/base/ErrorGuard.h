#pragma once

#include "base/DialogBoxes.h"
#include "base/KalvexError.h"

#include <exception>
#include <utility>

// Shows an error that ended a handler in the application's error display (a coroutine
// handler catches its own, since no caller's guard is on the stack once it has waited).
inline void showHandlerError(DialogBoxes &boxes, const std::exception &e)
{
    if (const auto *k = dynamic_cast<const KalvexError *>(&e))
        boxes.error(k->message());
    else
        boxes.error(QString::fromLocal8Bit(e.what()));
}

// Runs one event handler; an error it raises is shown in the application's error display
// and ends that handler only. Returns false when the handler ended with an error.
template<typename Handler>
bool guarded(DialogBoxes &boxes, Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (const std::exception &e) {
        showHandlerError(boxes, e);
    }
    return false;
}
