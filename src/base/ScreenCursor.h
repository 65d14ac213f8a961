#pragma once

#include <Qt>

#include <cstdint>

// The application's cursor, shared by everything that shows one for a while: the cycle's busy
// arrow, a chart's or a diagnosis's hourglass. Each hold shows its shape, the latest on top;
// letting go in any order leaves the latest remaining shape, and once nobody holds, the normal
// cursor. (Qt's own override cursors are a stack: letting go out of order would take the
// other's shape away and leave one's own, e.g. an hourglass over a cycle after a diagnosis.)
// Window thread only.
class ScreenCursor
{
public:
    explicit ScreenCursor(Qt::CursorShape shape);
    ~ScreenCursor();
    ScreenCursor(const ScreenCursor &) = delete;
    ScreenCursor &operator=(const ScreenCursor &) = delete;

private:
    std::uint64_t m_id;
};
