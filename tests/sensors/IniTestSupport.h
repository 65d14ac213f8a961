#pragma once

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>

#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

// Ways to make a save fail while running as root (root ignores permission bits).

// Marks a directory immutable for its lifetime: nothing can be created, renamed or removed in
// it, whoever asks. ok() is false where the file system or the capabilities refuse it.
class ImmutableDir
{
public:
    explicit ImmutableDir(const QString &path)
    {
        m_fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (m_fd < 0)
            return;
        int flags = 0;
        if (::ioctl(m_fd, FS_IOC_GETFLAGS, &flags) != 0)
            return;
        m_oldFlags = flags;
        flags |= FS_IMMUTABLE_FL;
        m_ok = ::ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ~ImmutableDir()
    {
        if (m_ok)
            ::ioctl(m_fd, FS_IOC_SETFLAGS, &m_oldFlags);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    ImmutableDir(const ImmutableDir &) = delete;
    ImmutableDir &operator=(const ImmutableDir &) = delete;
    bool ok() const { return m_ok; }

private:
    int m_fd = -1;
    int m_oldFlags = 0;
    bool m_ok = false;
};

// Limits the size of any file this process writes, as a full disk would; writes past the limit
// fail with EFBIG instead of raising SIGXFSZ.
class FileSizeLimit
{
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lim = m_old;
        lim.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &lim);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

private:
    rlimit m_old {};
    void (*m_oldHandler)(int) = nullptr;
};

inline QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

// Files in dir other than `keep` (a temporary left behind would show up here).
inline QStringList otherFiles(const QString &dir, const QString &keep)
{
    QStringList names = QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::Dirs
                                            | QDir::NoDotAndDotDot);
    names.removeAll(keep);
    return names;
}
