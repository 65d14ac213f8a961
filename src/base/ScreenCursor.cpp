#include "base/ScreenCursor.h"

#include <QCursor>
#include <QGuiApplication>

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// The holds in the order they were taken, each with its shape.
std::vector<std::pair<std::uint64_t, Qt::CursorShape>> &holds()
{
    static std::vector<std::pair<std::uint64_t, Qt::CursorShape>> list;
    return list;
}

bool haveScreen()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

ScreenCursor::ScreenCursor(Qt::CursorShape shape)
{
    static std::uint64_t lastId = 0;
    m_id = ++lastId;
    auto &list = holds();
    if (haveScreen()) {
        // One override of Qt's for all holds: its shape follows the latest.
        if (list.empty())
            QGuiApplication::setOverrideCursor(shape);
        else
            QGuiApplication::changeOverrideCursor(shape);
    }
    list.emplace_back(m_id, shape);
}

ScreenCursor::~ScreenCursor()
{
    auto &list = holds();
    const auto own = std::find_if(list.begin(), list.end(), [this](const auto &hold) { return hold.first == m_id; });
    if (own == list.end())
        return;
    list.erase(own);
    if (!haveScreen())
        return;
    if (list.empty())
        QGuiApplication::restoreOverrideCursor();
    else
        QGuiApplication::changeOverrideCursor(list.back().second);
}
