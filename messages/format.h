#pragma once
// The four shared date formats through which every screen and the PDF print dates, in the user's
// locale and time zone. Each is created once, on first use, and reused for the life of the process;
// any thread may format with them.
//
//   Format::dayHeader()  "EEEE, MMMM d, yyyy"   Thursday, March 7, 2024
//   Format::timestamp()  "MMM d, yyyy  h:mm a"  Mar 7, 2024  3:05 PM   (two blanks before the hour)
//   Format::timeOnly()   "h:mm a"               3:05 PM
//   Format::shortDate()  the locale's medium date style, no time: Mar 7, 2024 (en_US), 7 Mar 2024 (en_GB)

#include "platform/instant.h"

#include <QString>

#include <memory>

namespace trovane {

class DateFormatter
{
public:
    // `localeName` is an ICU locale id ("en_US"); empty means the user's default locale.
    // `timeZoneId` is an Olson id ("Europe/London"); empty means the user's current time zone.
    static DateFormatter
    withPattern(const QString& pattern, const QString& localeName = {}, const QString& timeZoneId = {});
    static DateFormatter mediumDate(const QString& localeName = {}, const QString& timeZoneId = {});

    DateFormatter(DateFormatter&&) noexcept;
    DateFormatter& operator=(DateFormatter&&) noexcept;
    ~DateFormatter();

    QString format(Instant instant) const;

private:
    struct Impl;
    explicit DateFormatter(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

struct Format
{
    static const DateFormatter& dayHeader();
    static const DateFormatter& timestamp();
    static const DateFormatter& timeOnly();
    static const DateFormatter& shortDate();
};

} // namespace trovane
