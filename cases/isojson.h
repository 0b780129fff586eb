#pragma once
// `iso`: the one JSON encoding of every file the program writes (import.json, contacts.json).
// Objects are written pretty-printed, one member per line, keys in sorted order; dates are ISO 8601
// internet date-times in UTC with whole seconds and the suffix Z, such as 2025-03-04T15:22:10Z.
// Readers accept a forward slash written plain or escaped as \/.

#include "platform/instant.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace trovane::iso {

QByteArray encode(const QJsonObject& object);
// The object a file holds; absent when the bytes are not JSON or not an object.
std::optional<QJsonObject> decodeObject(const QByteArray& bytes);

// The date text of `instant`, fractions of a second dropped.
QString dateText(Instant instant);
// Reads an internet date-time (YYYY-MM-DDTHH:MM:SS with Z or a ±HH:MM offset, no fraction);
// absent for anything else.
std::optional<Instant> parseDate(const QString& text);

} // namespace trovane::iso
