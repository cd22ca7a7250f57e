#include "NuvelKit/support/Time.hpp"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <time.h>

namespace nuvel {
namespace {

// Days from 1970-01-01 to the civil date (proleptic Gregorian), after Howard Hinnant's algorithm.
long long daysFromCivil(long long y, unsigned m, unsigned d) {
    y -= m <= 2;
    const long long era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + (long long)doe - 719468;
}

void civilFromDays(long long z, long long& y, unsigned& m, unsigned& d) {
    z += 719468;
    const long long era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = unsigned(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    y = (long long)yoe + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp + (mp < 10 ? 3 : -9);
    y += m <= 2;
}

struct Civil {
    long long year;
    unsigned month, day, hour, minute, second;
};

Civil civil(Date date) {
    // Clamp to years 0001...9999 so the four-digit form always holds.
    const double minUnix = double(daysFromCivil(1, 1, 1)) * 86400.0;
    const double maxUnix = double(daysFromCivil(9999, 12, 31)) * 86400.0 + 86399.0;
    double unix = date.unixSeconds();
    if (std::isnan(unix))
        unix = 0;
    unix = std::floor(std::fmin(std::fmax(unix, minUnix), maxUnix));
    long long seconds = (long long)unix;
    long long days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
    long long rest = seconds - days * 86400;
    Civil c{};
    civilFromDays(days, c.year, c.month, c.day);
    c.hour = unsigned(rest / 3600);
    c.minute = unsigned(rest / 60 % 60);
    c.second = unsigned(rest % 60);
    return c;
}

double clockSeconds(clockid_t id) {
    timespec ts{};
    clock_gettime(id, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

bool digits(std::string_view s, std::size_t at, std::size_t count, int& out) {
    if (at + count > s.size())
        return false;
    out = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (s[i] < '0' || s[i] > '9')
            return false;
        out = out * 10 + (s[i] - '0');
    }
    return true;
}

} // namespace

Date Date::now() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return Date::fromUnix(double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9);
}

std::string iso8601(Date date) {
    Civil c = civil(date);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02uZ", c.year, c.month, c.day, c.hour,
                  c.minute, c.second);
    return buffer;
}

std::string isoCalendarDate(Date date) {
    Civil c = civil(date);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02u", c.year, c.month, c.day);
    return buffer;
}

std::optional<Date> parseIso8601(std::string_view s) {
    int year, month, day, hour, minute, second;
    if (!digits(s, 0, 4, year) || s.size() < 20 || s[4] != '-' || !digits(s, 5, 2, month) || s[7] != '-' ||
        !digits(s, 8, 2, day) || (s[10] != 'T' && s[10] != 't') || !digits(s, 11, 2, hour) || s[13] != ':' ||
        !digits(s, 14, 2, minute) || s[16] != ':' || !digits(s, 17, 2, second))
        return std::nullopt;
    static constexpr int monthDays[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1 || day > monthDays[month - 1] || hour > 23 || minute > 59 ||
        second > 60)
        return std::nullopt;
    bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    if (month == 2 && day == 29 && !leap)
        return std::nullopt;
    std::size_t at = 19;
    double fraction = 0;
    if (at < s.size() && s[at] == '.') {
        ++at;
        double scale = 0.1;
        std::size_t start = at;
        while (at < s.size() && s[at] >= '0' && s[at] <= '9') {
            fraction += (s[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == start)
            return std::nullopt;
    }
    int offset = 0;
    if (at < s.size() && (s[at] == 'Z' || s[at] == 'z')) {
        ++at;
    } else if (at < s.size() && (s[at] == '+' || s[at] == '-')) {
        int oh, om;
        if (!digits(s, at + 1, 2, oh) || at + 3 >= s.size() || s[at + 3] != ':' ||
            !digits(s, at + 4, 2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offset = (oh * 60 + om) * 60 * (s[at] == '+' ? 1 : -1);
        at += 6;
    } else {
        return std::nullopt;
    }
    if (at != s.size())
        return std::nullopt;
    double unix = double(daysFromCivil(year, unsigned(month), unsigned(day))) * 86400.0 + hour * 3600.0 +
                  minute * 60.0 + second + fraction - offset;
    return Date::fromUnix(unix);
}

double hostTimeSeconds() {
    return clockSeconds(CLOCK_MONOTONIC);
}
double continuousTimeSeconds() {
    return clockSeconds(CLOCK_BOOTTIME);
}

std::string systemTimeZoneName() {
    std::error_code ec;
    auto target = std::filesystem::read_symlink("/etc/localtime", ec);
    if (!ec) {
        std::string t = target.string();
        auto at = t.find("zoneinfo/");
        if (at != std::string::npos && at + 9 < t.size())
            return t.substr(at + 9);
    }
    std::ifstream file("/etc/timezone");
    std::string name;
    if (file && std::getline(file, name)) {
        while (!name.empty() && (name.back() == ' ' || name.back() == '\r'))
            name.pop_back();
        if (!name.empty())
            return name;
    }
    return "UTC";
}

} // namespace nuvel
