#pragma once

#include "NuvelKit/support/Json.hpp"

#include <string_view>

namespace nuvel::json {

// json::parse's reading done by nlohmann's lexer alone: slower, and the judge of every document
// the fast reader behind parse() refuses. parse() must agree with it on every input, which the
// fuzz targets check.
Value referenceParse(std::string_view text);

} // namespace nuvel::json
