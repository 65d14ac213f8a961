#include "app/ui/WindowPlacement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace windowplacement {

QRect fit(const QRect &frame, const QRect &available)
{
    if (available.isEmpty() || available.contains(frame))
        return frame;
    QRect placed = frame;
    // Into the area first, the top-left corner winning where the window is the larger.
    placed.moveLeft(std::max(available.left(), std::min(frame.left(), available.right() - frame.width() + 1)));
    placed.moveTop(std::max(available.top(), std::min(frame.top(), available.bottom() - frame.height() + 1)));
    placed.setWidth(std::min(frame.width(), available.width()));
    placed.setHeight(std::min(frame.height(), available.height()));
    return placed;
}

void placeOnScreen(QWidget &window)
{
    const QString platform = QGuiApplication::platformName();
    if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal"))
        return;
    const QRect inner = window.geometry();
    QScreen *screen = QGuiApplication::screenAt(inner.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    // Zero until the window has been shown once: then the title bar is reckoned in later.
    const QRect outer = window.frameGeometry();
    const QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(), outer.right() - inner.right(),
                         outer.bottom() - inner.bottom());
    const QRect placed = fit(outer, screen->availableGeometry()) - frame;
    if (placed != inner)
        window.setGeometry(placed);
}

} // namespace windowplacement
