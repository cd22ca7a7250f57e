#pragma once

#include <string>

namespace nuvel {

// The styles of a date or a time as the user's locale writes them: `medium` is the abbreviated
// date ("Jan 5, 2025") and `short_` the shortened time ("3:04 PM") in English.
enum class DateStyle { none, short_, medium, long_, full };

// A moment (seconds since 1970) written with that date style and time style. The locale (an ICU
// locale id such as "en_US") and the time zone (an Olson id such as "Europe/Berlin") are the
// process's defaults, taken from the environment, when empty. Moments beyond the years 1 to 9999
// are written as those years' ends; a NaN as 1970.
std::string formatDateTime(double unixSeconds, DateStyle date, DateStyle time, const std::string& locale = {},
                           const std::string& timeZone = {});

} // namespace nuvel
