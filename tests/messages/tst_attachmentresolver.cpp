// Which file an attachment resolves to: under the case's attachments root first, then where the
// database recorded it.

#include "messages/attachmentresolver.h"
#include "testhelpers.h"

#include <QTemporaryDir>
#include <QTest>

using namespace trovane;

class TestAttachmentResolver : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_root; // the case's attachments folder
    QString m_home; // what "~" stands for

private slots:
    void initTestCase()
    {
        m_root = m_dir.filePath(QStringLiteral("cases/X/Attachments"));
        m_home = m_dir.filePath(QStringLiteral("home"));
        testsupport::writeFile(m_root + QStringLiteral("/ab/12/T1/IMG_1.HEIC"), "heic");
        testsupport::writeFile(m_home + QStringLiteral("/Library/Messages/Attachments/cd/34/T2/IMG_2.JPG"),
                               "jpg");
        testsupport::writeFile(m_root + QStringLiteral("/Attachments/x.png"), "nested");
        testsupport::writeFile(m_home + QStringLiteral("/Downloads/report.pdf"), "pdf");
        testsupport::writeFile(m_root + QStringLiteral("/Downloads/report.pdf"), "decoy");
    }

    void resolves_data()
    {
        QTest::addColumn<QString>("filename"); // "-" for none
        QTest::addColumn<bool>("withRoot");
        QTest::addColumn<QString>("expected"); // relative to the temporary folder; empty: absent
        QTest::addRow("under the case root") << "~/Library/Messages/Attachments/ab/12/T1/IMG_1.HEIC" << true
                                             << "cases/X/Attachments/ab/12/T1/IMG_1.HEIC";
        QTest::addRow("missing under root, present at home")
            << "~/Library/Messages/Attachments/cd/34/T2/IMG_2.JPG" << true
            << "home/Library/Messages/Attachments/cd/34/T2/IMG_2.JPG";
        QTest::addRow("split at the first marker")
            << "/old/Attachments/Attachments/x.png" << true << "cases/X/Attachments/Attachments/x.png";
        QTest::addRow("no marker skips the root")
            << "~/Downloads/report.pdf" << true << "home/Downloads/report.pdf";
        QTest::addRow("lower-case marker does not match")
            << "~/Library/Messages/attachments/ab/12/T1/IMG_1.HEIC" << true << "";
        QTest::addRow("no root, recorded path")
            << "~/Library/Messages/Attachments/ab/12/T1/IMG_1.HEIC" << false << "";
        QTest::addRow("no root, recorded path exists")
            << "~/Library/Messages/Attachments/cd/34/T2/IMG_2.JPG" << false
            << "home/Library/Messages/Attachments/cd/34/T2/IMG_2.JPG";
        QTest::addRow("found nowhere") << "~/Library/Messages/Attachments/zz/T9/gone.jpg" << true << "";
        QTest::addRow("no filename") << "-" << true << "";
        QTest::addRow("a folder counts")
            << "~/Library/Messages/Attachments/ab/12" << true << "cases/X/Attachments/ab/12";
    }

    void resolves()
    {
        QFETCH(QString, filename);
        QFETCH(bool, withRoot);
        QFETCH(QString, expected);
        Attachment attachment;
        if (filename != u"-")
            attachment.filename = filename;
        const auto root = withRoot ? std::optional<QString>(m_root) : std::nullopt;
        const auto url = AttachmentResolver::url(attachment, root, m_home);
        if (expected.isEmpty())
            QCOMPARE(url, std::nullopt);
        else
            QCOMPARE(url, m_dir.filePath(expected));
    }
};

QTEST_APPLESS_MAIN(TestAttachmentResolver)
#include "tst_attachmentresolver.moc"
