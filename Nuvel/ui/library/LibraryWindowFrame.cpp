#include "Nuvel/ui/library/LibraryWindowFrame.hpp"

#include <charconv>
#include <cmath>
#include <vector>

namespace nuvel::LibraryWindowFrame {

namespace {

constexpr double largestCoordinate = 1e6;

std::optional<double> number(std::string_view part) {
    double value = 0;
    const char* end = part.data() + part.size();
    auto [rest, error] = std::from_chars(part.data(), end, value);
    if (error != std::errc() || rest != end || !std::isfinite(value) || std::fabs(value) > largestCoordinate)
        return std::nullopt;
    return value;
}

long long area(const QRect& rect) {
    return rect.isEmpty() ? 0 : static_cast<long long>(rect.width()) * rect.height();
}

} // namespace

std::optional<QRect> restored(std::optional<std::string_view> text) {
    if (!text)
        return std::nullopt;
    std::vector<double> numbers;
    std::string_view rest = *text;
    while (!rest.empty() && numbers.size() < 4) {
        const std::size_t space = rest.find(' ');
        const std::string_view part = rest.substr(0, space);
        if (auto value = number(part))
            numbers.push_back(*value);
        rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    }
    if (numbers.size() < 4)
        return std::nullopt;
    return QRect(int(std::lround(numbers[0])), int(std::lround(numbers[1])), int(std::lround(numbers[2])),
                 int(std::lround(numbers[3])));
}

QRect clamped(const QRect& usable, const std::optional<QRect>& saved) {
    if (saved && saved->width() >= minimumWidth && saved->height() >= minimumHeight &&
        2 * area(saved->intersected(usable)) >= area(*saved))
        return *saved;
    const int width = std::min(defaultWidth, std::max(usable.width(), 0));
    const int height = std::min(defaultHeight, std::max(usable.height(), 0));
    return QRect(usable.x() + (usable.width() - width) / 2, usable.y() + (usable.height() - height) / 2,
                 width, height);
}

std::string text(const QRect& frame) {
    return std::to_string(frame.x()) + " " + std::to_string(frame.y()) + " " + std::to_string(frame.width()) +
           " " + std::to_string(frame.height());
}

} // namespace nuvel::LibraryWindowFrame
