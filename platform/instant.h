#pragma once
// A point in time: seconds since the Unix epoch (1970-01-01 00:00:00 UTC) as a double, the one
// representation every record uses. Fractions of a second are kept (the Messages database stores
// nanoseconds); printing goes through the shared formatters, which take the user's time zone.

#include <QDateTime>

#include <compare>
#include <limits>

namespace trovane {

struct Instant
{
    double unixSeconds = 0;

    auto operator<=>(const Instant&) const = default;

    // Earlier than any real date; messages without a date sort and group here.
    static constexpr Instant distantPast() { return Instant{-62135596800.0}; } // 0001-01-01 00:00:00 UTC
    static Instant now() { return fromDateTime(QDateTime::currentDateTimeUtc()); }

    static Instant fromDateTime(const QDateTime& dateTime)
    {
        return Instant{static_cast<double>(dateTime.toMSecsSinceEpoch()) / 1000.0};
    }
    // Millisecond precision, in UTC.
    QDateTime toDateTime() const
    {
        return QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(unixSeconds * 1000.0), Qt::UTC);
    }
};

inline size_t qHash(const Instant& instant, size_t seed = 0) noexcept
{
    return ::qHash(instant.unixSeconds, seed);
}

} // namespace trovane
