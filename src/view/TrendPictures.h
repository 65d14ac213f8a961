#pragma once

#include <QImage>

// The trend pictures of the current-readings grid, 11 x 14 on a transparent ground.
namespace trendpictures {

inline constexpr int Width = 11;
inline constexpr int Height = 14;

QImage up();   // green upward arrow: the reading rose
QImage down(); // red downward arrow: the reading fell
QImage same(); // black equals sign: unchanged

} // namespace trendpictures
