#include "view/PanelDrag.h"

#include <algorithm>

namespace paneldrag {

bool startsDrag(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers)
{
    return buttons == Qt::LeftButton
           && (modifiers & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier)) == Qt::NoModifier;
}

QPoint dropPosition(QPoint pictureTopLeft, QPoint release, QPoint grab, QSize panelSize)
{
    constexpr int margin = 50;
    int L = pictureTopLeft.x() + release.x() - grab.x();
    int T = pictureTopLeft.y() + release.y() - grab.y();
    L = std::max(L, 1);
    T = std::max(T, 1);
    L = std::min(L, panelSize.width() - margin);
    T = std::min(T, panelSize.height() - margin);
    return {L, T};
}

} // namespace paneldrag
