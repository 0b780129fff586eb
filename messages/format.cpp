#include "format.h"

#include <unicode/datefmt.h>
#include <unicode/smpdtfmt.h>
#include <unicode/timezone.h>

#include <mutex>

namespace trovane {

namespace {

icu::UnicodeString toIcu(const QString& text)
{
    return icu::UnicodeString(reinterpret_cast<const char16_t*>(text.utf16()),
                              static_cast<int32_t>(text.size()));
}

icu::Locale localeFor(const QString& name)
{
    return name.isEmpty() ? icu::Locale::getDefault() : icu::Locale(name.toUtf8().constData());
}

} // namespace

struct DateFormatter::Impl
{
    std::unique_ptr<icu::DateFormat> format;
    // ICU formatters are not documented as safe for concurrent use; formatting is cheap, so one
    // formatter serves all threads one call at a time.
    mutable std::mutex mutex;
};

DateFormatter::DateFormatter(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
DateFormatter::DateFormatter(DateFormatter&&) noexcept = default;
DateFormatter& DateFormatter::operator=(DateFormatter&&) noexcept = default;
DateFormatter::~DateFormatter() = default;

static void adoptZone(icu::DateFormat& format, const QString& timeZoneId)
{
    if (timeZoneId.isEmpty())
        format.adoptTimeZone(icu::TimeZone::createDefault());
    else
        format.adoptTimeZone(icu::TimeZone::createTimeZone(toIcu(timeZoneId)));
}

DateFormatter
DateFormatter::withPattern(const QString& pattern, const QString& localeName, const QString& timeZoneId)
{
    UErrorCode status = U_ZERO_ERROR;
    auto impl = std::make_unique<Impl>();
    impl->format = std::make_unique<icu::SimpleDateFormat>(toIcu(pattern), localeFor(localeName), status);
    if (U_FAILURE(status))
        impl->format.reset(icu::DateFormat::createInstance()); // the patterns are ours; this is a guard
    adoptZone(*impl->format, timeZoneId);
    return DateFormatter(std::move(impl));
}

DateFormatter DateFormatter::mediumDate(const QString& localeName, const QString& timeZoneId)
{
    auto impl = std::make_unique<Impl>();
    impl->format.reset(icu::DateFormat::createDateInstance(icu::DateFormat::kMedium, localeFor(localeName)));
    if (!impl->format)
        impl->format.reset(icu::DateFormat::createInstance());
    adoptZone(*impl->format, timeZoneId);
    return DateFormatter(std::move(impl));
}

QString DateFormatter::format(Instant instant) const
{
    icu::UnicodeString out;
    {
        std::lock_guard lock(m_impl->mutex);
        m_impl->format->format(static_cast<UDate>(instant.unixSeconds * 1000.0), out);
    }
    return QString(reinterpret_cast<const QChar*>(out.getBuffer()), out.length());
}

const DateFormatter& Format::dayHeader()
{
    static const DateFormatter formatter = DateFormatter::withPattern(QStringLiteral("EEEE, MMMM d, yyyy"));
    return formatter;
}

const DateFormatter& Format::timestamp()
{
    static const DateFormatter formatter = DateFormatter::withPattern(QStringLiteral("MMM d, yyyy  h:mm a"));
    return formatter;
}

const DateFormatter& Format::timeOnly()
{
    static const DateFormatter formatter = DateFormatter::withPattern(QStringLiteral("h:mm a"));
    return formatter;
}

const DateFormatter& Format::shortDate()
{
    static const DateFormatter formatter = DateFormatter::mediumDate();
    return formatter;
}

} // namespace trovane
