#include "NuvelKit/support/DateFormat.hpp"

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>
#include <unicode/datefmt.h>
#include <unicode/timezone.h>
#include <unicode/unistr.h>

namespace nuvel {
namespace {

icu::DateFormat::EStyle icuStyle(DateStyle style) {
    switch (style) {
    case DateStyle::none:
        return icu::DateFormat::kNone;
    case DateStyle::short_:
        return icu::DateFormat::kShort;
    case DateStyle::medium:
        return icu::DateFormat::kMedium;
    case DateStyle::long_:
        return icu::DateFormat::kLong;
    case DateStyle::full:
        return icu::DateFormat::kFull;
    }
    return icu::DateFormat::kNone;
}

// 0001-01-01T00:00:00Z and 9999-12-31T23:59:59Z.
constexpr double earliestSeconds = -62135596800.0;
constexpr double latestSeconds = 253402300799.0;

} // namespace

std::string formatDateTime(double unixSeconds, DateStyle date, DateStyle time, const std::string& locale,
                           const std::string& timeZone) {
    const icu::Locale where = locale.empty() ? icu::Locale::getDefault() : icu::Locale(locale.c_str());
    std::unique_ptr<icu::DateFormat> format(
        icu::DateFormat::createDateTimeInstance(icuStyle(date), icuStyle(time), where));
    if (!format)
        throw std::runtime_error("ICU date format unavailable");
    if (!timeZone.empty())
        format->adoptTimeZone(icu::TimeZone::createTimeZone(icu::UnicodeString::fromUTF8(timeZone)));
    const double seconds =
        std::isnan(unixSeconds) ? 0 : std::clamp(unixSeconds, earliestSeconds, latestSeconds);
    icu::UnicodeString text;
    format->format(seconds * 1000.0, text);
    std::string out;
    text.toUTF8String(out);
    return out;
}

} // namespace nuvel
