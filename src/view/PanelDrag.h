#pragma once

#include <QPoint>
#include <QSize>
#include <Qt>

// The rules of dragging a sensor picture on the panel.
namespace paneldrag {

// A drag starts only with the left button alone held and no Shift, Ctrl or Alt.
bool startsDrag(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);

// Where a picture at `pictureTopLeft`, grabbed at `grab` and released at `release` (both
// relative to the picture), lands on a panel of `panelSize` (outer size): not above or left
// of 1, not beyond the panel's size less 50 (the picture's height, on both axes). The upper
// limit is applied last, so it wins on a panel smaller than 51 pixels.
QPoint dropPosition(QPoint pictureTopLeft, QPoint release, QPoint grab, QSize panelSize);

} // namespace paneldrag
