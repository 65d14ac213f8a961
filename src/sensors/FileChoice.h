#pragma once

#include <QString>

// Where a file chooser opened from a field starts: the folder part of the field's text, up to
// and including its last "\" or "/". A text without one (a bare name, or nothing) names a
// file in the program's folder, so the chooser starts in `programFolder`.
QString chooserFolder(const QString &fieldText, const QString &programFolder);
