#pragma once

#include <QImage>

// The demonstration's background: a floor plan of a small house with a garden, drawn by the
// program so that its first picture is a house and not a black panel. Its rooms hold the
// demo's sensors where they stand: the living room around (120, 90), the boiler room around
// (200, 230), the garden right of the house at (300, 60).
namespace demoplan {

QImage draw();

} // namespace demoplan
