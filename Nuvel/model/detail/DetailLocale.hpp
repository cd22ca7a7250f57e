#pragma once

#include "NuvelKit/support/DateFormat.hpp"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace nuvel::meetingdetail {

// What the meeting detail screen's texts take from the user's settings. Every member may be left
// empty; the screen then writes English, reads left to right and formats dates with the
// process's locale and time zone.
struct DetailLocale {
    // The localisation table.
    std::function<std::string(std::string_view)> localize;
    // The user's preferred languages, most preferred first ("ar-EG", "en-US", ...).
    std::vector<std::string> preferredLanguages;
    // A moment (seconds since 1970) in the user's locale.
    std::function<std::string(double unixSeconds, DateStyle date, DateStyle time)> formatDate;

    std::string text(std::string_view english) const;
    std::string date(double unixSeconds, DateStyle dateStyle, DateStyle timeStyle) const;
};

} // namespace nuvel::meetingdetail
