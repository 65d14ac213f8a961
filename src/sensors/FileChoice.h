#pragma once

#include <QString>

// Where a file chooser opened from a field starts: the folder part of the field's text, up to
// and including its last "\" or "/". A text without one (a bare name, or nothing) gives the
// root "/".
QString chooserFolder(const QString &fieldText);
