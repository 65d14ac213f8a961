#pragma once

#include <QIcon>
#include <QPixmap>

// The pictures the main window draws itself: the observation glyphs of BScan, the tool bar
// glyphs and the application icon. Drawn once at start, so no picture file has to travel with
// the program.
namespace glyphs {

enum class Tool { Http, History, Settings, AddSensor, Search, About, Exit };

// 32 x 32: green round play button, shown while observation is off.
QPixmap start();
// 32 x 32: red round stop button, shown while observation is on.
QPixmap stop();
// 32 x 32 glyph of one tool bar button.
QPixmap tool(Tool kind);
// A red thermometer in 128, 96, 64, 48 and 32 pixels square.
QIcon applicationIcon();
// The 2 x 30 separator line of the tool bar.
QPixmap separator();

} // namespace glyphs
