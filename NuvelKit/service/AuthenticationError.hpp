#pragma once

#include "NuvelKit/support/Error.hpp"

#include <cstddef>
#include <functional>

namespace nuvel {

// Why a browser sign-in attempt failed. The cases carry no text: the app model says what
// happened in its own status sentence.
class AuthenticationError : public Error {
public:
    enum class Code {
        randomFailure,   // the system random generator failed; no attempt was made
        replayed,        // the attempt had already taken a callback
        invalidCallback, // the callback address failed a check
    };

    explicit AuthenticationError(Code code);
    Code code() const noexcept { return code_; }

    bool operator==(const AuthenticationError& other) const noexcept { return code_ == other.code_; }

private:
    Code code_;
};

} // namespace nuvel

template <> struct std::hash<nuvel::AuthenticationError> {
    std::size_t operator()(const nuvel::AuthenticationError& e) const noexcept {
        return std::hash<int>()(static_cast<int>(e.code()));
    }
};
