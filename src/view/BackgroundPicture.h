#pragma once

#include <QImage>
#include <QString>

// The panel's background picture file.
namespace background {

// The file named by bkFileName: as it stands when it holds a folder separator ("\" or "/"),
// otherwise in the program directory `ProgramDir` (which ends with a separator).
QString path(const QString &bkFileName, const QString &ProgramDir);

struct Loaded
{
    enum class Status { Loaded, Missing, Undecodable };
    Status status = Status::Missing;
    QImage image;  // set when Loaded
    QString error; // the decoder's reason when Undecodable
};

// Reads the picture at `filePath`; its format follows the extension (JPEG and BMP at least).
Loaded load(const QString &filePath);

} // namespace background
