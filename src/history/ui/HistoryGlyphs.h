#pragma once

#include <QPixmap>

// The pictures of the history window and of the chart help, drawn once in code so that no
// picture file has to travel with the program.
namespace historyglyphs {

enum class Button { Refresh, Help, Delete, Ok };
enum class MouseButton { Left, Right };
enum class Gesture { Pan, ZoomIn, Reset };

// 32 x 32 glyph of a flat picture button.
QPixmap button(Button kind);
// 16 x 16 black tick on a transparent ground (the white ground of the list shows through).
QPixmap tick();
// 25 x 33 mouse with one button marked.
QPixmap mouse(MouseButton marked);
// 21 x 25 gesture: a two-headed horizontal arrow, or a dashed rectangle whose bottom edge is
// an arrow to the right (zoom in) or whose top edge is an arrow to the left (reset).
QPixmap gesture(Gesture kind);

} // namespace historyglyphs
