#pragma once

#include <QPixmap>

// The pictures of the sensor editor's and the settings dialog's buttons, drawn once so that
// no picture file has to travel with the program.
namespace dialogglyphs {

enum class Glyph {
    SwitchOff,    // power sign: the sensor is switched off while pressed
    Delete,       // waste bin
    Tray,         // a tray icon with digits
    Ok,           // green tick
    Cancel,       // red cross
    Control,      // bell: the alarm control is active while pressed
    Track,        // note: play the track
    Application,  // window with a start arrow: start the application
    Browse,       // open folder
    GreaterEqual, // comparison mode "at or above"
    LessEqual,    // comparison mode "at or below"
};

// The glyph in a square of `size` pixels, transparent around it.
QPixmap glyph(Glyph kind, int size);

} // namespace dialogglyphs
