#pragma once

#include "base/DialogBoxes.h"
#include "base/KalvexError.h"

#include <exception>
#include <utility>

// Runs one event handler; an error it raises is shown in the application's error display
// and ends that handler only. Returns false when the handler ended with an error.
template<typename Handler>
bool guarded(DialogBoxes &boxes, Handler &&handler)
{
    try {
        std::forward<Handler>(handler)();
        return true;
    } catch (const KalvexError &e) {
        boxes.error(e.message());
    } catch (const std::exception &e) {
        boxes.error(QString::fromLocal8Bit(e.what()));
    }
    return false;
}
