#include "view/BackgroundPicture.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace background {

namespace {

// The reader's own texts are English and say the same for every cause; the user reads these.
QString reason(QImageReader::ImageReaderError error, const QString &suffix)
{
    switch (error) {
    case QImageReader::UnsupportedFormatError:
        return suffix.isEmpty() ? QStringLiteral("по имени без расширения формат рисунка не узнать")
                                : QStringLiteral("рисунки формата .%1 не поддерживаются").arg(suffix);
    case QImageReader::InvalidDataError:
        return QStringLiteral("содержимое файла повреждено или не соответствует расширению");
    default:
        return QStringLiteral("ошибка чтения файла");
    }
}

} // namespace

QString path(const QString &bkFileName, const QString &ProgramDir)
{
    if (bkFileName.contains(QLatin1Char('\\')) || bkFileName.contains(QLatin1Char('/')))
        return bkFileName;
    return ProgramDir + bkFileName;
}

Loaded load(const QString &filePath)
{
    Loaded result;
    // Opened without waiting and read only if it is a plain file: a FIFO would hold the
    // window thread in open() until a writer came (for ever), a device might never answer.
    const int fd = ::open(QFile::encodeName(filePath).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        result.status = errno == ENOENT || errno == ENOTDIR ? Loaded::Status::Missing : Loaded::Status::Undecodable;
        result.error = QString::fromLocal8Bit(std::strerror(errno));
        return result;
    }
    struct stat info{};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        // A folder (an empty bkFileName names the program directory itself) is no file at
        // all: missing, as a name that is not there.
        result.status = S_ISDIR(info.st_mode) ? Loaded::Status::Missing : Loaded::Status::Undecodable;
        result.error = QStringLiteral("это не обычный файл");
        return result;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        result.status = Loaded::Status::Undecodable;
        result.error = file.errorString();
        return result;
    }
    // The extension names the format; a .jpg holding something else is a damaged picture.
    QImageReader reader(&file, QFileInfo(filePath).suffix().toLower().toLatin1());
    reader.setDecideFormatFromContent(false);
    const QImage image = reader.read();
    if (image.isNull()) {
        result.status = Loaded::Status::Undecodable;
        result.error = reason(reader.error(), QFileInfo(filePath).suffix());
        return result;
    }
    result.status = Loaded::Status::Loaded;
    result.image = image;
    return result;
}

} // namespace background
