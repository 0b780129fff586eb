#include "appledate.h"

#include <cmath>
#include <limits>

namespace trovane {

std::optional<Instant> AppleDate::date(std::optional<std::int64_t> raw)
{
    if (!raw || *raw == 0)
        return std::nullopt;
    const double seconds = *raw <= secondsLimit ? static_cast<double>(*raw) : static_cast<double>(*raw) / 1e9;
    return Instant{seconds + referenceUnixSeconds};
}

std::int64_t AppleDate::rawNanos(Instant instant)
{
    const double nanos = (instant.unixSeconds - referenceUnixSeconds) * 1e9;
    if (std::isnan(nanos))
        return 0;
    constexpr double twoTo63 = 9223372036854775808.0;
    if (nanos >= twoTo63)
        return std::numeric_limits<std::int64_t>::max();
    if (nanos <= -twoTo63)
        return std::numeric_limits<std::int64_t>::min();
    return static_cast<std::int64_t>(nanos);
}

} // namespace trovane
