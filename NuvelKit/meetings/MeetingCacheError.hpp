#pragma once

#include "NuvelKit/support/Error.hpp"

namespace nuvel {

// The meeting cache's own failures. The discovery cache of the service layer raises
// `invalidScope`, `invalidLease` and `expired` with the same meanings, which is why this type
// stands on its own. Errors of the file system, JSON and crypto layers are never wrapped in it.
class MeetingCacheError : public Error {
public:
    enum class Code {
        expired,      // read outside the lease: before its validation, or at or after its end
        revoked,      // the key or id is in the cache's revocation set
        invalidLease, // an offline period that is not a finite number above zero
        invalidScope, // an empty account or workspace id, or an item of another scope
    };

    explicit MeetingCacheError(Code code) : Error(describe(code)), code_(code) {}

    Code code() const noexcept { return code_; }
    bool operator==(const MeetingCacheError& other) const noexcept { return code_ == other.code_; }

    static const char* describe(Code code) noexcept {
        switch (code) {
        case Code::expired:
            return "the cached copy is outside its access lease";
        case Code::revoked:
            return "access to the cached item was revoked";
        case Code::invalidLease:
            return "the offline period must be a finite number above zero";
        case Code::invalidScope:
            return "the cache scope is empty or belongs to another account or workspace";
        }
        return "meeting cache error";
    }

private:
    Code code_;
};

} // namespace nuvel
