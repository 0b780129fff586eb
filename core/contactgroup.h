#pragma once

#include <QString>
#include <QStringList>

namespace trovane {

// The handles of one person as the contacts editor offers them, identified by `canonical`.
struct ContactGroup
{
    QString canonical; // the PhoneNumber::canonical form all its handles share
    QStringList
        handles; // as spelled in the database, sorted (case-sensitive, locale-independent); never empty

    bool operator==(const ContactGroup&) const = default;
};

} // namespace trovane
