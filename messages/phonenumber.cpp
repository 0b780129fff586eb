#include "phonenumber.h"

#include "unicodetext.h"

namespace trovane {

QString PhoneNumber::canonical(const QString& handle)
{
    const QString trimmed = unicode::trimmed(handle);
    if (trimmed.contains(u'@'))
        return unicode::lowercased(trimmed);

    bool hasLetter = false;
    QString digits;
    qsizetype digitCount = 0;
    unicode::forEachCharacter(trimmed, [&](QStringView character) {
        if (unicode::isLetter(character))
            hasLetter = true;
        else if (unicode::isNumber(character)) {
            digits += character;
            ++digitCount;
        }
    });
    if (hasLetter)
        return unicode::lowercased(trimmed);
    if (digitCount == 0)
        return trimmed;

    QString prefix = QStringLiteral("+");
    if (!trimmed.startsWith(u'+') && digitCount == 10)
        prefix = QStringLiteral("+1");
    return prefix + digits;
}

} // namespace trovane
