// Contact names: how handles and conversations are shown, the contact groups of the editor, giving
// and removing names, and contacts.json as written and read back.

#include "corefixture.h"

#include "cases/isojson.h"

#include <QJsonObject>
#include <QScopeGuard>
#include <QSignalSpy>

#include <sys/stat.h>

using namespace coretest;

namespace {

// Chat row ids of the contacts fixture.
enum Chat : qint64 {
    alexPlus = 1,
    alexParens = 2,
    family = 3,
    unnamedGroup = 4,
    nobody = 5,
    nullNamedGroup = 6
};

QString writeContactsSource(Library& library)
{
    return library.writeSource(QStringLiteral("contacts"), [](FixtureBuilder& b) {
        const qint64 plus = b.addHandle(handleRow(QStringLiteral("+15551234567")));
        const qint64 parens = b.addHandle(handleRow(QStringLiteral("(555) 123-4567"), QStringLiteral("SMS")));
        const qint64 bob = b.addHandle(handleRow(QStringLiteral("bob@example.com")));
        const qint64 empty = b.addHandle(handleRow(QString()));
        const auto chat = [&](int style, std::optional<QString> name, std::optional<QString> identifier,
                              QList<qint64> who) {
            ChatRow row;
            row.style = style;
            row.displayName = std::move(name);
            row.chatIdentifier = std::move(identifier);
            row.participants = std::move(who);
            return b.addChat(row);
        };
        QList<qint64> chats;
        chats << chat(45, QString(), std::nullopt, {plus});
        chats << chat(45, QString(), std::nullopt, {parens});
        chats << chat(43, QStringLiteral("Family"), QStringLiteral("chat100"), {plus, bob});
        chats << chat(43, QString(), QStringLiteral("chat200"), {bob, empty});
        chats << chat(45, QString(), QStringLiteral("+15550009999"), {});
        chats << chat(43, std::nullopt, QStringLiteral("chat300"), {bob, parens, plus});
        qint64 date = appleNanos(QDateTime(QDate(2024, 5, 1), QTime(12, 0), Qt::UTC));
        for (qint64 c : chats) {
            MessageRow m;
            m.chats = {c};
            m.fromMe = true;
            m.date = date += nanosPerSecond;
            m.text = QStringLiteral("hello %1").arg(c);
            b.addMessage(m);
        }
    });
}

ContactGroup group(const QString& canonical, const QStringList& handles)
{
    return ContactGroup{canonical, handles};
}

const ContactGroup alex = group(QStringLiteral("+15551234567"), {"(555) 123-4567", "+15551234567"});
const ContactGroup bob = group(QStringLiteral("bob@example.com"), {"bob@example.com"});

QJsonObject fileOf(const AppState& state)
{
    return iso::decodeObject(readFile(*state.caseDirectory() + "/contacts.json")).value_or(QJsonObject());
}

} // namespace

class TestContacts : public QObject
{
    Q_OBJECT

    Library* m_library = nullptr;
    CaseLocation m_case;
    std::unique_ptr<AppState> m_state;

    QString contactsPath() const { return QFileInfo(m_case.dbURL).absolutePath() + "/contacts.json"; }

private slots:
    void initTestCase()
    {
        m_library = new Library;
        m_case = m_library->importCase(writeContactsSource(*m_library));
        AppState builder(m_library->manager());
        builder.reopenMostRecent();
        QVERIFY(waitOpened(builder));
    }

    void init()
    {
        QFile::remove(contactsPath());
        m_state = std::make_unique<AppState>(m_library->manager());
        m_state->reopenMostRecent();
        QVERIFY(waitOpened(*m_state));
    }

    void cleanup() { m_state.reset(); }
    void cleanupTestCase() { delete m_library; }

    void displayName_data()
    {
        QTest::addColumn<std::optional<QString>>("handle");
        QTest::addColumn<QString>("shown");
        QTest::addRow("no handle") << std::optional<QString>() << "Unknown";
        QTest::addRow("empty handle") << std::optional<QString>(QString()) << "Unknown";
        QTest::addRow("exact spelling") << std::optional<QString>("+15551234567") << "Alex";
        QTest::addRow("other spelling, same number") << std::optional<QString>("(555) 123-4567") << "Alex";
        QTest::addRow("e-mail in other case") << std::optional<QString>("Bob@Example.COM") << "Bob";
        QTest::addRow("named with empty text")
            << std::optional<QString>("sam@example.com") << "sam@example.com";
        QTest::addRow("named with blanks") << std::optional<QString>("+15550001111") << "  ";
        QTest::addRow("no name") << std::optional<QString>("+15557654321") << "+15557654321";
    }

    void displayName()
    {
        QFETCH(std::optional<QString>, handle);
        QFETCH(QString, shown);
        m_state->setContactNames({{"+15551234567", "Alex"},
                                  {"bob@example.com", "Bob"},
                                  {"sam@example.com", ""},
                                  {"+15550001111", "  "}});
        QCOMPARE(m_state->canonicalNames().value("+15551234567"), "Alex");
        QVERIFY(!m_state->canonicalNames().contains("sam@example.com"));
        QCOMPARE(m_state->displayName(handle), shown);
    }

    void title_data()
    {
        QTest::addColumn<qint64>("chat");
        QTest::addColumn<QString>("title");
        QTest::addRow("named group") << qint64(family) << "Family";
        QTest::addRow("group named with empty text, empty participant")
            << qint64(unnamedGroup) << "Bob, Unknown";
        QTest::addRow("group without a name, repeated name dropped") << qint64(nullNamedGroup) << "Bob, Alex";
        QTest::addRow("no participants") << qint64(nobody) << "+15550009999";
        QTest::addRow("two spellings, one person") << qint64(alexParens) << "Alex";
    }

    void title()
    {
        QFETCH(qint64, chat);
        QFETCH(QString, title);
        m_state->setContactNames({{"+15551234567", "Alex"}, {"bob@example.com", "Bob"}});
        const auto conversation = m_state->conversationForChatID(chat);
        QVERIFY(conversation);
        QCOMPARE(m_state->title(*conversation), title);
    }

    void titleWithoutNames()
    {
        const Conversation merged = *m_state->conversationForChatID(alexPlus);
        QCOMPARE(merged.chatIDs, (QList<std::int64_t>{alexPlus, alexParens}));
        QCOMPARE(m_state->title(merged), merged.participants.join(", "));
        QCOMPARE(m_state->title(*m_state->conversationForChatID(nullNamedGroup)),
                 "bob@example.com, (555) 123-4567, +15551234567");
    }

    void contactGroups()
    {
        const QList<ContactGroup> expected{group(QString(), {QString()}), alex, bob};
        QCOMPARE(m_state->contactGroups(), expected);
    }

    void nameOfAGroup_data()
    {
        QTest::addColumn<QStringList>("names"); // handle, name…
        QTest::addColumn<QString>("name");
        QTest::addRow("none") << QStringList{} << "";
        QTest::addRow("on the second handle") << QStringList{"+15551234567", "Alex"} << "Alex";
        QTest::addRow("first handle's empty name skipped")
            << QStringList{"(555) 123-4567", "", "+15551234567", "Al"} << "Al";
        QTest::addRow("first handle wins") << QStringList{"(555) 123-4567", "A", "+15551234567", "B"} << "A";
    }

    void nameOfAGroup()
    {
        QFETCH(QStringList, names);
        QFETCH(QString, name);
        QMap<QString, QString> map;
        for (qsizetype i = 0; i + 1 < names.size(); i += 2)
            map.insert(names[i], names[i + 1]);
        m_state->setContactNames(map);
        QCOMPARE(m_state->name(alex), name);
    }

    void settingNames_data()
    {
        QTest::addColumn<QStringList>("before"); // handle, name…
        QTest::addColumn<QString>("given");
        QTest::addColumn<QStringList>("after"); // contactNames afterwards
        QTest::addColumn<QStringList>("file");  // contacts.json afterwards
        QTest::addRow("name with blanks around it")
            << QStringList{} << "  Sam  " << QStringList{"(555) 123-4567", "  Sam  "}
            << QStringList{"(555) 123-4567", "Sam"};
        QTest::addRow("moves to the first handle")
            << QStringList{"+15551234567", "Alex", "bob@example.com", "Bob"} << "Alex"
            << QStringList{"(555) 123-4567", "Alex", "bob@example.com", "Bob"}
            << QStringList{"(555) 123-4567", "Alex", "bob@example.com", "Bob"};
        QTest::addRow("empty removes every handle's name")
            << QStringList{"+15551234567", "Alex", "(555) 123-4567", "Al", "bob@example.com", "Bob"} << ""
            << QStringList{"bob@example.com", "Bob"} << QStringList{"bob@example.com", "Bob"};
        QTest::addRow("blanks and line breaks remove")
            << QStringList{"+15551234567", "Alex"} << " \n\t " << QStringList{} << QStringList{};
    }

    void settingNames()
    {
        QFETCH(QStringList, before);
        QFETCH(QString, given);
        QFETCH(QStringList, after);
        QFETCH(QStringList, file);
        const auto map = [](const QStringList& pairs) {
            QMap<QString, QString> m;
            for (qsizetype i = 0; i + 1 < pairs.size(); i += 2)
                m.insert(pairs[i], pairs[i + 1]);
            return m;
        };
        m_state->setContactNames(map(before));
        m_state->persistContacts();
        m_state->setContactName(given, alex);
        QCOMPARE(m_state->contactNames(), map(after));
        QHash<QString, QString> canonical;
        for (auto [handle, name] : map(after).asKeyValueRange())
            canonical.insert(PhoneNumber::canonical(handle), name);
        QCOMPARE(m_state->canonicalNames(), canonical);
        QJsonObject expected;
        for (auto [handle, name] : map(file).asKeyValueRange())
            expected.insert(handle, name);
        QCOMPARE(readFile(contactsPath()), iso::encode(expected));

        // Read back as the next opening reads it.
        m_state.reset();
        AppState reopened(m_library->manager());
        reopened.reopenMostRecent();
        QCOMPARE(reopened.contactNames(), map(file));
        QVERIFY(waitOpened(reopened));
    }

    void ownerInTheFile_data()
    {
        QTest::addColumn<QString>("owner");
        QTest::addColumn<QString>("written"); // "-": no "$owner"
        QTest::addRow("name") << "Dana"
                              << "Dana";
        QTest::addRow("trimmed") << " Dana\n"
                                 << "Dana";
        QTest::addRow("blanks") << "   "
                                << "-";
        QTest::addRow("empty") << ""
                               << "-";
    }

    void ownerInTheFile()
    {
        QFETCH(QString, owner);
        QFETCH(QString, written);
        m_state->setContactNames({{"+15551234567", " Alex "}});
        m_state->setOwnerName(owner);
        m_state->persistContacts();
        QJsonObject expected{{"+15551234567", "Alex"}};
        if (written != "-")
            expected.insert("$owner", written);
        const QByteArray bytes = readFile(contactsPath());
        QCOMPARE(bytes, iso::encode(expected));
        QVERIFY(bytes.contains("\n    \"+15551234567\": \"Alex\"")); // pretty-printed
        if (written != "-")
            QVERIFY(bytes.indexOf("$owner") < bytes.indexOf("+15551234567")); // keys sorted
        QCOMPARE(m_state->ownerName(), owner);                                // memory keeps what was typed
    }

    void fileReplacedWhole()
    {
        m_state->setContactName(QStringLiteral("Alex"), alex);
        const QString folder = QFileInfo(contactsPath()).absolutePath();
        const QStringList files = QDir(folder).entryList(QDir::Files | QDir::Hidden);
        struct stat first
        {
        };
        QCOMPARE(::stat(QFile::encodeName(contactsPath()).constData(), &first), 0);
        m_state->setContactName(QStringLiteral("Bob"), bob);
        struct stat second
        {
        };
        QCOMPARE(::stat(QFile::encodeName(contactsPath()).constData(), &second), 0);
        QVERIFY(first.st_ino != second.st_ino); // a new file renamed over the old one
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), files); // nothing left beside it
        QCOMPARE(fileOf(*m_state), (QJsonObject{{"(555) 123-4567", "Alex"}, {"bob@example.com", "Bob"}}));
    }

    void failedWriteIsSilent()
    {
        QVERIFY(QDir().mkpath(contactsPath() + "/blocked"));
        const auto restore = qScopeGuard([&] { QDir(contactsPath()).removeRecursively(); });
        m_state->setContactName(QStringLiteral("Alex"), alex);
        QCOMPARE(m_state->contactNames().value("(555) 123-4567"), "Alex");
        QVERIFY(!m_state->errorMessage());
        QVERIFY(QFileInfo(contactsPath()).isDir());
    }

    void noCaseNoFile()
    {
        AppState closed(m_library->manager());
        closed.setContactName(QStringLiteral("Alex"), alex);
        QCOMPARE(closed.contactNames().value("(555) 123-4567"), "Alex");
        closed.persistContacts();
        QVERIFY(!QFileInfo::exists(contactsPath()));
    }
};

int main(int argc, char** argv)
{
    setZone(testZone);
    QCoreApplication app(argc, argv);
    TestContacts test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_contacts.moc"
