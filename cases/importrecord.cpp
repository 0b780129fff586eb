#include "importrecord.h"

#include "isojson.h"

#include <QHashFunctions>
#include <QJsonObject>
#include <QJsonValue>

namespace trovane {

namespace {

std::optional<QString> stringMember(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// An integer written as a JSON number; 12.5, strings and numbers beyond 64 bits do not count.
std::optional<qint64> integerMember(const QJsonObject& object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    // toInteger() answers its default for anything that is not a 64-bit integer: two different
    // defaults agree exactly when the value really is one.
    const qint64 value0 = value.toInteger(0);
    if (!value.isDouble() || value0 != value.toInteger(1))
        return std::nullopt;
    return value0;
}

} // namespace

QString ImportRecord::idText() const
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

QByteArray ImportRecord::encoded() const
{
    QJsonObject object{
        {QStringLiteral("fileSize"), fileSize},
        {QStringLiteral("id"), idText()},
        {QStringLiteral("importedAt"), iso::dateText(importedAt)},
        {QStringLiteral("sha256"), sha256},
        {QStringLiteral("sourcePath"), sourcePath},
        {QStringLiteral("storedFilename"), storedFilename},
    };
    if (attachmentsRoot)
        object.insert(QStringLiteral("attachmentsRoot"), *attachmentsRoot);
    return iso::encode(object);
}

std::optional<ImportRecord> ImportRecord::decode(const QByteArray& bytes)
{
    const auto object = iso::decodeObject(bytes);
    if (!object)
        return std::nullopt;

    const auto idText = stringMember(*object, QLatin1StringView("id"));
    const auto sourcePath = stringMember(*object, QLatin1StringView("sourcePath"));
    const auto storedFilename = stringMember(*object, QLatin1StringView("storedFilename"));
    const auto importedAtText = stringMember(*object, QLatin1StringView("importedAt"));
    const auto sha256 = stringMember(*object, QLatin1StringView("sha256"));
    const auto fileSize = integerMember(*object, QLatin1StringView("fileSize"));
    if (!idText || !sourcePath || !storedFilename || !importedAtText || !sha256 || !fileSize)
        return std::nullopt;

    const QUuid id = QUuid::fromString(*idText);
    const auto importedAt = iso::parseDate(*importedAtText);
    if (id.isNull() || !importedAt)
        return std::nullopt;

    std::optional<QString> attachmentsRoot;
    if (object->contains(QLatin1StringView("attachmentsRoot"))) {
        attachmentsRoot = stringMember(*object, QLatin1StringView("attachmentsRoot"));
        // A present key must hold a path; null or a number is a damaged file, not "no folder".
        if (!attachmentsRoot)
            return std::nullopt;
    }

    return ImportRecord{id, *sourcePath, *storedFilename, *importedAt, *sha256, *fileSize, attachmentsRoot};
}

size_t qHash(const ImportRecord& record, size_t seed) noexcept
{
    return qHashMulti(seed, record.id, record.sourcePath, record.storedFilename, record.importedAt,
                      record.sha256, record.fileSize, record.attachmentsRoot.has_value(),
                      record.attachmentsRoot.value_or(QString()));
}

} // namespace trovane
