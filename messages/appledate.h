#pragma once
// Timestamps of the Messages database.
//
// A raw value counts from the reference date 2001-01-01 00:00:00 UTC (Unix time 978307200) in
// either whole seconds or nanoseconds, told apart by size: up to 100,000,000,000 (1e11) it is
// seconds, above it nanoseconds. NULL and 0 mean "no date". Two anchors, checked by the tests:
//   raw 1                        -> 2001-01-01 00:00:01 UTC
//   raw 700,000,000,000,000,000  -> 2023-03-08 20:26:40 UTC (7e8 s after the reference date)

#include "platform/instant.h"

#include <cstdint>
#include <optional>

namespace trovane {

struct AppleDate
{
    static constexpr double referenceUnixSeconds = 978307200.0;
    static constexpr std::int64_t secondsLimit = 100'000'000'000;

    // 2001-01-01 00:00:00 UTC: the lower bound of the date pickers.
    static constexpr Instant earliest{referenceUnixSeconds};

    static std::optional<Instant> date(std::optional<std::int64_t> raw);
    // A point in time as raw nanoseconds, for comparisons against stored raw values. NaN gives 0;
    // values beyond the 64-bit range clamp to its ends; the rest truncate toward zero.
    static std::int64_t rawNanos(Instant instant);
};

} // namespace trovane
