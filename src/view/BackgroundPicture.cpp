#include "view/BackgroundPicture.h"

#include <QFileInfo>
#include <QImageReader>

namespace background {

QString path(const QString &bkFileName, const QString &ProgramDir)
{
    if (bkFileName.contains(QLatin1Char('\\')) || bkFileName.contains(QLatin1Char('/')))
        return bkFileName;
    return ProgramDir + bkFileName;
}

Loaded load(const QString &filePath)
{
    Loaded result;
    const QFileInfo info(filePath);
    if (!info.exists()) {
        result.status = Loaded::Status::Missing;
        return result;
    }
    QImageReader reader(filePath);
    // The extension names the format; a .jpg holding something else is a damaged picture.
    reader.setDecideFormatFromContent(false);
    const QImage image = reader.read();
    if (image.isNull()) {
        result.status = Loaded::Status::Undecodable;
        result.error = reader.errorString();
        return result;
    }
    result.status = Loaded::Status::Loaded;
    result.image = image;
    return result;
}

} // namespace background
