#pragma once
// The one normalisation of handles (phone numbers and e-mail addresses), used for merging
// conversations, contact names and the export's name map.

#include <QString>

namespace trovane {

struct PhoneNumber
{
    // Trimmed; an e-mail address (contains "@") or any text with a letter is lower-cased; otherwise
    // its number characters after a prefix: "+" when it began with "+", "+1" for exactly ten
    // digits, "+" for every other count. Text without any digit is returned trimmed, unchanged.
    //   " (555) 123-4567 " -> "+15551234567"     "+44 20 7946 0958" -> "+442079460958"
    //   "07700 900 123"    -> "+07700900123"     "Bob" -> "bob"     "***" -> "***"
    static QString canonical(const QString& handle);
};

} // namespace trovane
