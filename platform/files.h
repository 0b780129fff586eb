#pragma once
// The file operations of an import, behind an interface so that tests can stand in for the file
// system where real permissions cannot be arranged (tests run as root, who may read anything).
//
// Failures throw FileError carrying the errno the system reported, so callers can tell "reading is
// not permitted" (EACCES, EPERM) from every other failure.

#include <QString>

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>

namespace trovane {

class FileError : public std::runtime_error
{
public:
    // `action` is what was attempted ("copy", "create the folder", …).
    FileError(int code, const QString& action, const QString& path);
    int code() const { return m_code; } // errno
    const QString& path() const { return m_path; }
    bool isPermissionDenied() const;
    QString description() const { return QString::fromUtf8(what()); }

private:
    int m_code;
    QString m_path;
};

// Reads a file front to back in chunks of the caller's size.
class FileReader
{
public:
    virtual ~FileReader() = default;
    // Up to `capacity` bytes into `buffer`; 0 at the end. Throws FileError.
    virtual std::size_t read(char* buffer, std::size_t capacity) = 0;
};

class FileSystem
{
public:
    virtual ~FileSystem() = default;

    // The real file system.
    static const FileSystem& local();

    // Whether anything (file or folder) exists at `path`.
    virtual bool exists(const QString& path) const;
    virtual bool isDirectory(const QString& path) const;
    // Whether this process may open `path` for reading.
    virtual bool isReadable(const QString& path) const;
    // Creates `path` and its missing parents. Throws FileError.
    virtual void createFolders(const QString& path) const;
    // Copies the bytes of `from` into a new file `to` (which must not exist) with the fastest means
    // the system offers: copy_file_range (a reflink where the file system shares blocks), else a
    // buffered copy. The source is only read. Throws FileError; a partial target is removed.
    virtual void copyFile(const QString& from, const QString& to) const;
    // Removes a file; false when it could not (usually: there was none).
    virtual bool removeFile(const QString& path) const;
    virtual std::optional<std::int64_t> fileSize(const QString& path) const;
    // Throws FileError when the file cannot be opened.
    virtual std::unique_ptr<FileReader> openForReading(const QString& path) const;
};

} // namespace trovane
