#include "isojson.h"

#include <QDateTime>
#include <QJsonDocument>
#include <QRegularExpression>

#include <cmath>

namespace trovane::iso {

QByteArray encode(const QJsonObject& object)
{
    // QJsonObject keeps its keys sorted, and Qt writes "/" unescaped: both as promised above.
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

std::optional<QJsonObject> decodeObject(const QByteArray& bytes)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

QString dateText(Instant instant)
{
    const auto seconds = static_cast<qint64>(std::floor(instant.unixSeconds));
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss'Z'"));
}

std::optional<Instant> parseDate(const QString& text)
{
    static const QRegularExpression shape(
        QStringLiteral(R"(^\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}(Z|[+-]\d{2}:\d{2})$)"));
    if (!shape.match(text).hasMatch())
        return std::nullopt;
    const QDateTime parsed = QDateTime::fromString(text, Qt::ISODate);
    if (!parsed.isValid())
        return std::nullopt;
    return Instant{static_cast<double>(parsed.toSecsSinceEpoch())};
}

} // namespace trovane::iso
