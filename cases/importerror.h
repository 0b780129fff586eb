#pragma once
// The typed failures of an import. Their description is shown to the user unchanged.

#include <QString>

#include <stdexcept>

namespace trovane {

class ImportError : public std::runtime_error
{
public:
    enum class Kind {
        sourceNotFound,   // payload: the source location
        permissionDenied, // payload: the source location
        copyFailed,       // payload: the underlying failure's description
    };

    static ImportError sourceNotFound(const QString& sourcePath);
    static ImportError permissionDenied(const QString& sourcePath);
    static ImportError copyFailed(const QString& description);

    Kind kind() const { return m_kind; }
    const QString& payload() const { return m_payload; }
    QString description() const { return QString::fromUtf8(what()); }

    // What follows the path in the permission message: how to grant Full Disk Access.
    static const QString& fullDiskAccessText();

private:
    ImportError(Kind kind, const QString& payload, const QString& message);
    Kind m_kind;
    QString m_payload;
};

} // namespace trovane
