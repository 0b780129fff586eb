#include "files.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace trovane {

namespace {

QByteArray native(const QString& path)
{
    return QFile::encodeName(path);
}

// Closes a descriptor when it goes out of scope.
struct Descriptor
{
    int fd = -1;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

class LocalReader : public FileReader
{
public:
    LocalReader(int fd, QString path) : m_fd(fd), m_path(std::move(path)) {}
    ~LocalReader() override { ::close(m_fd); } // a failure to close a file only read is harmless

    std::size_t read(char* buffer, std::size_t capacity) override
    {
        for (;;) {
            const ssize_t n = ::read(m_fd, buffer, capacity);
            if (n >= 0)
                return static_cast<std::size_t>(n);
            if (errno != EINTR)
                throw FileError(errno, QStringLiteral("read"), m_path);
        }
    }

private:
    int m_fd;
    QString m_path;
};

// Writes all of `size` bytes; false with errno set on failure.
bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Copies with the kernel's help; false with errno set when the kernel cannot do it for these files
// (the caller then falls back) or when it failed.
bool kernelCopy(int in, int out, bool& unsupported)
{
    unsupported = false;
    for (bool first = true;; first = false) {
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return true;
        if (errno == EINTR)
            continue;
        // Not available for this pair of files: only meaningful before anything was written.
        unsupported = first && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                                errno == EBADF);
        return false;
    }
}

bool bufferedCopy(int in, int out)
{
    std::vector<char> buffer(1 << 20);
    for (;;) {
        const ssize_t n = ::read(in, buffer.data(), buffer.size());
        if (n == 0)
            return true;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (!writeAll(out, buffer.data(), static_cast<std::size_t>(n)))
            return false;
    }
}

} // namespace

FileError::FileError(int code, const QString& action, const QString& path)
    : std::runtime_error(QStringLiteral("Couldn’t %1 “%2”: %3")
                             .arg(action, path, QString::fromLocal8Bit(std::strerror(code)))
                             .toStdString())
    , m_code(code)
    , m_path(path)
{
}

bool FileError::isPermissionDenied() const
{
    return m_code == EACCES || m_code == EPERM;
}

const FileSystem& FileSystem::local()
{
    static const FileSystem instance;
    return instance;
}

bool FileSystem::exists(const QString& path) const
{
    struct stat info
    {
    };
    return ::stat(native(path).constData(), &info) == 0;
}

bool FileSystem::isDirectory(const QString& path) const
{
    struct stat info
    {
    };
    return ::stat(native(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool FileSystem::isReadable(const QString& path) const
{
    return ::access(native(path).constData(), R_OK) == 0;
}

void FileSystem::createFolders(const QString& path) const
{
    const QByteArray target = native(path);
    // Walk down from the root, creating what is missing; an existing non-folder fails with ENOTDIR.
    for (qsizetype at = 1; at <= target.size(); ++at) {
        if (at < target.size() && target[at] != '/')
            continue;
        const QByteArray prefix = target.left(at);
        if (::mkdir(prefix.constData(), 0755) == 0 || errno == EEXIST) {
            struct stat info
            {
            };
            if (::stat(prefix.constData(), &info) == 0 && S_ISDIR(info.st_mode))
                continue;
            throw FileError(ENOTDIR, QStringLiteral("create the folder"), QFile::decodeName(prefix));
        }
        throw FileError(errno, QStringLiteral("create the folder"), QFile::decodeName(prefix));
    }
}

void FileSystem::copyFile(const QString& from, const QString& to) const
{
    Descriptor in{::open(native(from).constData(), O_RDONLY | O_CLOEXEC)};
    if (in.fd < 0)
        throw FileError(errno, QStringLiteral("open"), from);
    Descriptor out{::open(native(to).constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644)};
    if (out.fd < 0)
        throw FileError(errno, QStringLiteral("create"), to);

    bool unsupported = false;
    bool copied = kernelCopy(in.fd, out.fd, unsupported);
    if (!copied && unsupported)
        copied = bufferedCopy(in.fd, out.fd);
    if (!copied) {
        const int code = errno;
        ::unlink(native(to).constData());
        throw FileError(code, QStringLiteral("copy"), from);
    }
    const int fd = out.fd;
    out.fd = -1;
    if (::close(fd) != 0) {
        const int code = errno;
        ::unlink(native(to).constData());
        throw FileError(code, QStringLiteral("copy"), from);
    }
}

bool FileSystem::removeFile(const QString& path) const
{
    return ::unlink(native(path).constData()) == 0;
}

std::optional<std::int64_t> FileSystem::fileSize(const QString& path) const
{
    struct stat info
    {
    };
    if (::stat(native(path).constData(), &info) != 0)
        return std::nullopt;
    return static_cast<std::int64_t>(info.st_size);
}

std::unique_ptr<FileReader> FileSystem::openForReading(const QString& path) const
{
    const int fd = ::open(native(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw FileError(errno, QStringLiteral("open"), path);
    return std::make_unique<LocalReader>(fd, path);
}

} // namespace trovane
