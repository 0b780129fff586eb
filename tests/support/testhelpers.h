#pragma once
// Small helpers shared by the tests: databases from SQL text, the optional sample corpus, files.

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

namespace trovane::testsupport {

// Creates (or replaces) a database at `path` and runs `sql` on it. Throws sql::Error.
void writeDatabase(const QString& path, const QString& sql);

// The real sample data beside the checkout (../shared/corpus), or absent when it is not there.
// Tests that need it QSKIP with the reason returned by corpusMissingReason().
std::optional<QString> corpusDir();
QString corpusMissingReason();

// The folder holding the built programs (build/bin).
QString binDir();

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);

} // namespace trovane::testsupport
