#pragma once
// The few Unicode services the reader and the search need, from ICU, over whole characters
// (extended grapheme clusters) where a character is meant: a character is a letter when its first
// scalar is Alphabetic, a number when its first scalar has a numeric type; white space is the
// White_Space property; lower-casing is the full, locale-independent Unicode mapping.

#include <QString>
#include <QStringView>

#include <functional>

namespace trovane::unicode {

// Calls `fn(character)` for each whole character of `text`, in order.
void forEachCharacter(QStringView text, const std::function<void(QStringView)>& fn);

bool isLetter(QStringView character);
bool isNumber(QStringView character);

// Removes white space and line breaks from both ends.
QString trimmed(QStringView text);
QString lowercased(QStringView text);

} // namespace trovane::unicode
