#pragma once

#include "NuvelKit/detection/MeetingApp.hpp"

#include <functional>
#include <string>
#include <string_view>

namespace nuvel {

// The name the interface shows for a meeting application: the product names as they stand,
// and the localised "Web browsers" for browsers (through `localize`; as is without one).
std::string displayName(MeetingApp app, const std::function<std::string(std::string_view)>& localize = {});

} // namespace nuvel
