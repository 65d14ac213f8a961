#pragma once

#include <QPixmap>

// The about box's pictures, drawn once in code.
namespace dialogpictures {

// 18 x 50 red thermometer on a transparent ground.
QPixmap thermometer();
// 32 x 32 green tick of the Ok button.
QPixmap ok();

} // namespace dialogpictures
