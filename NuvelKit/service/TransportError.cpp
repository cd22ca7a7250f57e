#include "NuvelKit/service/TransportError.hpp"

namespace nuvel {
namespace {

const char* name(TransportError::Code code) {
    switch (code) {
    case TransportError::Code::timedOut:
        return "timed out";
    case TransportError::Code::hostNotFound:
        return "host not found";
    case TransportError::Code::cannotConnect:
        return "cannot connect";
    case TransportError::Code::connectionLost:
        return "connection lost";
    case TransportError::Code::other:
        break;
    }
    return "transport failure";
}

} // namespace

TransportError::TransportError(Code code, std::string detail)
    : Error(detail.empty() ? std::string(name(code)) : std::string(name(code)) + ": " + detail), code_(code) {
}

} // namespace nuvel
