#include "testhelpers.h"

#include "platform/sqlite.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <stdexcept>

namespace trovane::testsupport {

void writeDatabase(const QString& path, const QString& sql)
{
    QFile::remove(path);
    sql::Connection db(path, sql::OpenOptions{sql::Access::Create});
    db.execute(sql.toStdString());
}

std::optional<QString> corpusDir()
{
    const QString dir =
        qEnvironmentVariable("TROVANE_CORPUS_DIR", QStringLiteral(TROVANE_DEFAULT_CORPUS_DIR));
    if (dir.isEmpty() || !QFileInfo(dir).isDir())
        return std::nullopt;
    return QDir(dir).absolutePath();
}

QString corpusMissingReason()
{
    return QStringLiteral("the sample corpus (../shared/corpus beside the checkout) is not here: %1")
        .arg(qEnvironmentVariable("TROVANE_CORPUS_DIR", QStringLiteral(TROVANE_DEFAULT_CORPUS_DIR)));
}

QString binDir()
{
    return qEnvironmentVariable("TROVANE_BIN_DIR", QStringLiteral(TROVANE_DEFAULT_BIN_DIR));
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("cannot read " + path.toStdString());
    return file.readAll();
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

} // namespace trovane::testsupport
