#pragma once

#include <QMargins>
#include <QRect>

class QWidget;

// Keeps a top-level window on the screen it opens on: the designed 1219 x 906 at 664, 115
// hangs off a 1280 x 1024 screen and off every laptop.
namespace windowplacement {

// The window's frame (title bar and borders included) moved into `available`, then shrunk to
// it where it is still larger. A frame that lies inside `available` comes back unchanged.
QRect fit(const QRect &frame, const QRect &available);

// Applies fit() to the window's present geometry (the designed one, or whatever it was given
// before) on the available area of the screen it would open on, before it is shown. The
// window's frame margins count once the window system has told them. Nothing changes on a
// platform without a real screen (offscreen, minimal): pictures keep the designed size.
void placeOnScreen(QWidget &window);

} // namespace windowplacement
