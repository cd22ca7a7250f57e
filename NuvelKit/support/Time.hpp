#pragma once

#include <compare>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// Seconds between 1970-01-01 and 2001-01-01 00:00:00 UTC.
inline constexpr double referenceDateUnixSeconds = 978307200.0;

// A point in wall-clock time, held as seconds since 2001-01-01 00:00:00 UTC: the form the
// local store writes its timestamps in.
struct Date {
    double sinceReferenceDate = 0;

    static Date now();
    static Date fromUnix(double unixSeconds) { return Date{unixSeconds - referenceDateUnixSeconds}; }
    double unixSeconds() const { return sinceReferenceDate + referenceDateUnixSeconds; }
    Date adding(double seconds) const { return Date{sinceReferenceDate + seconds}; }

    auto operator<=>(const Date&) const = default;
};

// "2024-05-01T09:30:00Z": UTC, whole seconds (fractions dropped), zone written as Z.
// Dates outside years 0001...9999 are clamped to those years' ends.
std::string iso8601(Date date);
// Parses "YYYY-MM-DDTHH:MM:SS[.fff](Z|±HH:MM)"; nullopt otherwise.
std::optional<Date> parseIso8601(std::string_view text);
// "2024-05-01": the UTC calendar date.
std::string isoCalendarDate(Date date);

// Host clock: CLOCK_MONOTONIC in seconds (capture times, timers).
double hostTimeSeconds();
// Continuous clock: CLOCK_BOOTTIME in seconds, which keeps counting through suspend (leases).
double continuousTimeSeconds();

// The system's time zone name: the /etc/localtime link target after "zoneinfo/", else
// /etc/timezone, else "UTC".
std::string systemTimeZoneName();

} // namespace nuvel
