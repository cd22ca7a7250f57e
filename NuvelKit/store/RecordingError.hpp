#pragma once

#include "NuvelKit/support/Error.hpp"

#include <cstddef>
#include <functional>

namespace nuvel {

// The failures of the recording model, its store and the capture pipeline. The cases carry no
// text of their own: whoever shows a failure to the user picks the sentence.
class RecordingError : public Error {
public:
    enum class Code {
        invalidDuration,  // a duration or length that is not finite or not positive
        missingAccount,   // no account id
        accountMismatch,  // the recording belongs to another account
        unsafePath,       // a name or extension outside the allowed lists, or a path outside the folder
        invalidManifest,  // a sealed document or container that does not open, decode or validate
        missingMedia,     // audio that an operation needs is not there
        invalidTransport, // audio or data in a form the operation does not accept
        ambiguousRequest, // the outcome of a request to the service is uncertain
    };

    explicit RecordingError(Code code);

    Code code() const noexcept { return code_; }
    bool operator==(const RecordingError& other) const noexcept { return code_ == other.code_; }

    // The case's name, e.g. "unsafePath".
    static const char* name(Code code) noexcept;

private:
    Code code_;
};

} // namespace nuvel

template <> struct std::hash<nuvel::RecordingError> {
    std::size_t operator()(const nuvel::RecordingError& e) const noexcept {
        return std::hash<nuvel::RecordingError::Code>()(e.code());
    }
};
