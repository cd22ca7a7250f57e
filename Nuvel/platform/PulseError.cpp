#include "Nuvel/platform/PulseError.hpp"

namespace nuvel {

PulseError::PulseError(Case kind, int code, const std::string& what)
    : Error(what), kind_(kind), code_(code) {}

} // namespace nuvel
