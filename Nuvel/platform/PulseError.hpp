#pragma once

#include "NuvelKit/support/Error.hpp"

#include <string>

namespace nuvel {

// A failure of the sound server connection or of one of its operations. `code` is the
// PulseAudio error code (PA_ERR_*, positive), kept so callers can report it as a status.
class PulseError : public Error {
public:
    enum class Case {
        noServer,     // no server answered at the address (refused, missing socket, bad address)
        timedOut,     // the server did not answer within the connection's time limit
        disconnected, // the connection to the server has been lost
        failed,       // the server refused or failed one operation (no such entity, bad argument, ...)
    };

    PulseError(Case kind, int code, const std::string& what);

    Case kind() const { return kind_; }
    int code() const { return code_; }

private:
    Case kind_;
    int code_;
};

} // namespace nuvel
