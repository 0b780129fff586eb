#pragma once
// Shared by the application-state tests: a case library in a temporary folder, source databases
// written by the fixture builder, the process's time zone, and waiting for background work.

#include "core/appstate.h"
#include "messages/phonenumber.h"

#include "fixturebuilder.h"
#include "testhelpers.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QUuid>

#include <ctime>
#include <functional>
#include <memory>

namespace coretest {

using namespace trovane;
using namespace trovane::testsupport;

// Generous: the machines that run the suite may be slow and busy.
constexpr int waitMs = 20000;

// Every test program runs in this zone unless a test says otherwise. It must be set before anything
// asks ICU for its default zone, which ICU reads once per process.
inline const char* const testZone = "America/New_York";

inline void setZone(const char* zone)
{
    qputenv("TZ", zone);
    tzset();
}

// A library of its own: home and application data folders inside a temporary folder.
class Library
{
public:
    Library()
        : m_home(m_dir.filePath(QStringLiteral("home")))
        , m_support(m_dir.filePath(QStringLiteral("support")))
        , m_manager(ImportManager::Folders{[s = m_support] { return s; }, [h = m_home] { return h; }})
    {
    }

    const ImportManager& manager() const { return m_manager; }
    const QString& home() const { return m_home; }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }

    // <temp>/<name>/chat.db with the standard fixture and its Attachments folder beside it.
    QString writeStandardSource(const QString& name = QStringLiteral("source"), FixtureFacts* facts = nullptr)
    {
        const QString folder = path(name);
        QDir().mkpath(folder + QStringLiteral("/Attachments"));
        const QString db = folder + QStringLiteral("/chat.db");
        const FixtureFacts written =
            writeStandardFixture(db, folder + QStringLiteral("/Attachments"), archivedBodies());
        if (facts)
            *facts = written;
        return db;
    }

    // <temp>/<name>/chat.db filled by `fill`, no Attachments folder.
    QString writeSource(const QString& name, const std::function<void(FixtureBuilder&)>& fill)
    {
        const QString folder = path(name);
        QDir().mkpath(folder);
        const QString db = folder + QStringLiteral("/chat.db");
        FixtureBuilder::write(db, FixtureBuilder::Options{}, fill);
        return db;
    }

    // Imports `source` into a new case of this library.
    CaseLocation importCase(const QString& source) const
    {
        const ImportRecord record = m_manager.importDatabase(source);
        return CaseLocation{record, m_manager.caseFolder(record) + u'/' + record.storedFilename};
    }

    // The case folders now in the library.
    QStringList caseFolders() const
    {
        return QDir(m_manager.casesRoot()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_dir;
    QString m_home;
    QString m_support;
    ImportManager m_manager;
};

// No import, index build or message load is running.
inline bool idle(const AppState& state)
{
    return !state.isImporting() && !state.isIndexing() && !state.isLoadingMessages();
}

// Waits until the open case's list is in and its index is ready (or its build has ended).
inline bool waitOpened(const AppState& state)
{
    return QTest::qWaitFor([&] { return state.store() && !state.conversations().isEmpty() && idle(state); },
                           waitMs);
}

// Lets queued work that may still be on its way arrive.
inline void drain(int ms = 200)
{
    QTest::qWait(ms);
}

// The description the reader gives for `path`, as the state is to show it after its prefix.
inline QString openFailure(const QString& path)
{
    try {
        MessageStore store(path);
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
    return {};
}

} // namespace coretest
