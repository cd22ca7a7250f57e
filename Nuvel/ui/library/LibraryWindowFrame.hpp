#pragma once

#include <QRect>
#include <optional>
#include <string>
#include <string_view>

namespace nuvel {

// The saved frame of the library window, kept in the user defaults as "x y w h".
namespace LibraryWindowFrame {

constexpr const char* defaultsKey = "NSWindow Frame NuvelLibrary";
constexpr int minimumWidth = 820;
constexpr int minimumHeight = 540;
constexpr int defaultWidth = 1080;
constexpr int defaultHeight = 720;

// The parts of `text` between spaces that are numbers make the rectangle, the first four of
// them; none when there are fewer. A part counts as a number only when it is one whole
// (finite) decimal number of at most a million in size: "nan", "inf", "1e400" and "12px"
// are not numbers.
std::optional<QRect> restored(std::optional<std::string_view> text);

// `saved` when it is at least 820 × 540 and at least half of it lies on `usable`; otherwise a
// 1080 × 720 frame, no larger than `usable`, centred on it.
QRect clamped(const QRect& usable, const std::optional<QRect>& saved);

// The text saved for a frame.
std::string text(const QRect& frame);

} // namespace LibraryWindowFrame

} // namespace nuvel
