#pragma once

#include <QString>

// The application's title, "Kalvex v1.0", and the main window's caption, "Kalvex v1.2 DS18x20":
// they carry different version numbers on purpose. The title heads the program's message boxes;
// it is not set as the display name, which window systems would append to the caption.
// The caption's version is the project's (CMake's project version, KALVEX_VERSION), which the
// about box, --version, the package and the metainfo show as well.
namespace apptitle {

inline QString title() { return QStringLiteral("Kalvex v1.0"); }
inline QString versionText() { return QStringLiteral(KALVEX_VERSION); }
inline QString mainCaption() { return QStringLiteral("Kalvex v") + versionText() + QStringLiteral(" DS18x20"); }

} // namespace apptitle
