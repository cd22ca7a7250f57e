#include "Nuvel/model/detail/DetailLocale.hpp"

namespace nuvel::meetingdetail {

std::string DetailLocale::text(std::string_view english) const {
    return localize ? localize(english) : std::string(english);
}

std::string DetailLocale::date(double unixSeconds, DateStyle dateStyle, DateStyle timeStyle) const {
    return formatDate ? formatDate(unixSeconds, dateStyle, timeStyle)
                      : formatDateTime(unixSeconds, dateStyle, timeStyle);
}

} // namespace nuvel::meetingdetail
