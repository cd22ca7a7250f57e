#pragma once

#include "NuvelKit/support/Error.hpp"

#include <string>

namespace nuvel {

// A request that got no HTTP answer. The categories are the ones that decide whether trying
// again can help; everything else is `other`. A request stopped by its caller is not a
// transport error: it ends with `Cancelled`.
class TransportError : public Error {
public:
    enum class Code {
        timedOut,       // no progress within the time allowed
        hostNotFound,   // the name did not resolve
        cannotConnect,  // no connection could be opened (refused, unreachable, no network)
        connectionLost, // the connection broke while the request or its answer was under way
        other,          // anything else (TLS failure, malformed answer, too many redirects, ...)
    };

    explicit TransportError(Code code, std::string detail = {});
    Code code() const noexcept { return code_; }

private:
    Code code_;
};

} // namespace nuvel
