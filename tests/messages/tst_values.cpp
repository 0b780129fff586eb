// The small value rules of the reader: timestamps, date formats, canonical handles, and the
// derived values of attachments and messages.

#include "messages/appledate.h"
#include "messages/format.h"
#include "messages/phonenumber.h"
#include "messages/records.h"
#include "messages/unicodetext.h"

#include <QTest>

#include <limits>

using namespace trovane;

Q_DECLARE_METATYPE(std::optional<std::int64_t>)
Q_DECLARE_METATYPE(std::optional<QString>)

class TestValues : public QObject
{
    Q_OBJECT

private slots:
    void appleDate_data()
    {
        QTest::addColumn<std::optional<std::int64_t>>("raw");
        QTest::addColumn<QString>("expectedUtc"); // empty: no date
        QTest::addRow("NULL") << std::optional<std::int64_t>() << "";
        QTest::addRow("zero") << std::optional<std::int64_t>(0) << "";
        QTest::addRow("one second") << std::optional<std::int64_t>(1) << "2001-01-01T00:00:01.000Z";
        QTest::addRow("negative seconds")
            << std::optional<std::int64_t>(-86400) << "2000-12-31T00:00:00.000Z";
        QTest::addRow("limit is seconds")
            << std::optional<std::int64_t>(100'000'000'000) << "5169-11-16T09:46:40.000Z";
        QTest::addRow("above limit is nanoseconds")
            << std::optional<std::int64_t>(100'000'000'001) << "2001-01-01T00:01:40.000Z";
        QTest::addRow("modern nanoseconds")
            << std::optional<std::int64_t>(700'000'000'000'000'000) << "2023-03-08T20:26:40.000Z";
    }

    void appleDate()
    {
        QFETCH(std::optional<std::int64_t>, raw);
        QFETCH(QString, expectedUtc);
        const auto date = AppleDate::date(raw);
        QCOMPARE(date.has_value(), !expectedUtc.isEmpty());
        if (date)
            QCOMPARE(date->toDateTime().toString(Qt::ISODateWithMs), expectedUtc);
    }

    void rawNanos()
    {
        QCOMPARE(AppleDate::rawNanos(AppleDate::earliest), 0);
        QCOMPARE(AppleDate::rawNanos(Instant{AppleDate::earliest.unixSeconds + 1}), 1'000'000'000);
        QCOMPARE(AppleDate::rawNanos(Instant{AppleDate::earliest.unixSeconds - 1.5}), -1'500'000'000);
        QCOMPARE(AppleDate::rawNanos(Instant{std::numeric_limits<double>::quiet_NaN()}), 0);
        QCOMPARE(AppleDate::rawNanos(Instant{1e12}), std::numeric_limits<std::int64_t>::max());
        QCOMPARE(AppleDate::rawNanos(Instant{-1e12}), std::numeric_limits<std::int64_t>::min());
        // Round trip through the index's representation.
        const auto date = AppleDate::date(700'000'000'123'456'789);
        QCOMPARE(AppleDate::rawNanos(*date) / 1000, 700'000'000'123'456'789 / 1000);
    }

    void formats_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("zone");
        QTest::addColumn<QString>("dayHeader");
        QTest::addColumn<QString>("timestamp");
        QTest::addColumn<QString>("timeOnly");
        QTest::addColumn<QString>("shortDate");
        // 2024-03-07 20:05:00 UTC
        QTest::addRow("en_US New York") << "en_US"
                                        << "America/New_York"
                                        << "Thursday, March 7, 2024"
                                        << "Mar 7, 2024  3:05 PM"
                                        << "3:05 PM"
                                        << "Mar 7, 2024";
        QTest::addRow("en_GB London") << "en_GB"
                                      << "Europe/London"
                                      << "Thursday, March 7, 2024"
                                      << "Mar 7, 2024  8:05 pm"
                                      << "8:05 pm"
                                      << "7 Mar 2024";
        QTest::addRow("en_US Tokyo crosses midnight") << "en_US"
                                                      << "Asia/Tokyo"
                                                      << "Friday, March 8, 2024"
                                                      << "Mar 8, 2024  5:05 AM"
                                                      << "5:05 AM"
                                                      << "Mar 8, 2024";
    }

    void formats()
    {
        QFETCH(QString, locale);
        QFETCH(QString, zone);
        const Instant instant{1709841900.0};
        QTEST(DateFormatter::withPattern(QStringLiteral("EEEE, MMMM d, yyyy"), locale, zone).format(instant),
              "dayHeader");
        QTEST(DateFormatter::withPattern(QStringLiteral("MMM d, yyyy  h:mm a"), locale, zone).format(instant),
              "timestamp");
        QTEST(DateFormatter::withPattern(QStringLiteral("h:mm a"), locale, zone).format(instant), "timeOnly");
        QTEST(DateFormatter::mediumDate(locale, zone).format(instant), "shortDate");
    }

    void sharedFormattersExist()
    {
        // The shared ones follow the user's settings; only their shape is stable here.
        const Instant instant{1709841900.0};
        QVERIFY(Format::dayHeader().format(instant).contains(QStringLiteral("2024")));
        QVERIFY(Format::timestamp().format(instant).contains(QStringLiteral("2024  ")));
        QVERIFY(!Format::timeOnly().format(instant).contains(QStringLiteral("2024")));
        QVERIFY(Format::shortDate().format(instant).contains(QStringLiteral("2024")));
    }

    void canonicalHandles_data()
    {
        QTest::addColumn<QString>("handle");
        QTest::addColumn<QString>("canonical");
        QTest::addRow("ten digits dressed") << " (555) 123-4567 "
                                            << "+15551234567";
        QTest::addRow("ten digits bare") << "5551234567"
                                         << "+15551234567";
        QTest::addRow("plus one and blanks") << "+1 555 123 4567"
                                             << "+15551234567";
        QTest::addRow("eleven digits with 1") << "15551234567"
                                              << "+15551234567";
        QTest::addRow("country code") << "+44 20 7946 0958"
                                      << "+442079460958";
        QTest::addRow("eleven digits with 0") << "07700 900 123"
                                              << "+07700900123";
        QTest::addRow("short code") << "22000"
                                    << "+22000";
        QTest::addRow("e-mail") << " Ann.Lee@Example.COM\n"
                                << "ann.lee@example.com";
        QTest::addRow("name") << "Bob"
                              << "bob";
        QTest::addRow("letters win over digits") << "Bob 555"
                                                 << "bob 555";
        QTest::addRow("punctuation only") << "***"
                                          << "***";
        QTest::addRow("blank") << "   "
                               << "";
        QTest::addRow("empty") << ""
                               << "";
        QTest::addRow("non-Latin letters") << "ÉMILE"
                                           << "émile";
        QTest::addRow("Arabic-Indic digits") << "٠١٢٣٤٥٦٧٨٩"
                                             << "+1٠١٢٣٤٥٦٧٨٩";
        QTest::addRow("full-width digits") << "５５５"
                                           << "+５５５";
        QTest::addRow("no-break spaces trimmed") << "\u00a0+1 555 123 4567\u2003"
                                                 << "+15551234567";
        QTest::addRow("digits with a combining mark") << "5\u0301"
                                                      << "+5\u0301";
    }

    void canonicalHandles()
    {
        QFETCH(QString, handle);
        QTEST(PhoneNumber::canonical(handle), "canonical");
    }

    void characterWalksNest()
    {
        // A walk inside another walk must not cut the outer one short.
        QStringList outer;
        int inner = 0;
        unicode::forEachCharacter(u"a👍́b", [&](QStringView character) {
            outer.append(character.toString());
            unicode::forEachCharacter(u"xyz", [&](QStringView) { ++inner; });
        });
        QCOMPARE(outer, QStringList({"a", "👍́", "b"}));
        QCOMPARE(inner, 9);
    }

    void attachmentIsImage_data()
    {
        QTest::addColumn<std::optional<QString>>("mime");
        QTest::addColumn<std::optional<QString>>("uti");
        QTest::addColumn<bool>("isImage");
        using S = std::optional<QString>;
        QTest::addRow("jpeg mime") << S("image/jpeg") << S() << true;
        QTest::addRow("mime decides") << S("video/mp4") << S("public.jpeg") << false;
        QTest::addRow("mime is case-sensitive") << S("Image/PNG") << S("public.png") << false;
        QTest::addRow("heic uti") << S() << S("public.heic") << true;
        QTest::addRow("png uti") << S() << S("public.png") << true;
        QTest::addRow("pdf uti") << S() << S("com.adobe.pdf") << false;
        QTest::addRow("nothing") << S() << S() << false;
    }

    void attachmentIsImage()
    {
        QFETCH(std::optional<QString>, mime);
        QFETCH(std::optional<QString>, uti);
        Attachment attachment;
        attachment.mimeType = mime;
        attachment.uti = uti;
        QTEST(attachment.isImage(), "isImage");
    }

    void attachmentDisplayName_data()
    {
        QTest::addColumn<std::optional<QString>>("transferName");
        QTest::addColumn<std::optional<QString>>("filename");
        QTest::addColumn<QString>("name");
        using S = std::optional<QString>;
        const S path("~/Library/Messages/Attachments/ab/12/X/IMG_1.HEIC");
        QTest::addRow("transfer name") << S("Holiday.jpg") << path << "Holiday.jpg";
        QTest::addRow("empty transfer name") << S("") << path << "IMG_1.HEIC";
        QTest::addRow("no transfer name") << S() << path << "IMG_1.HEIC";
        QTest::addRow("neither") << S() << S() << "Attachment";
    }

    void attachmentDisplayName()
    {
        QFETCH(std::optional<QString>, transferName);
        QFETCH(std::optional<QString>, filename);
        Attachment attachment;
        attachment.transferName = transferName;
        attachment.filename = filename;
        QTEST(attachment.displayName(), "name");
    }

    void editedAndUnsent()
    {
        Message message;
        message.dateEdited = Instant{1};
        QVERIFY(message.wasEdited() && !message.wasUnsent());
        message.dateRetracted = Instant{2};
        QVERIFY(message.wasUnsent());
    }
};

QTEST_APPLESS_MAIN(TestValues)
#include "tst_values.moc"
