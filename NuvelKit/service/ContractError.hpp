#pragma once

#include "NuvelKit/support/Error.hpp"

namespace nuvel {

// The transfer contract's failures that the service documents raise: an answer or argument
// that breaks the contract, an accepted commit of another file, and a recording or contract
// of another account. The case names are the recording store's, whose error carries them too.
class ContractError : public Error {
public:
    enum class Code {
        accountMismatch,
        invalidTransport,
        ambiguousRequest,
    };

    explicit ContractError(Code code);
    Code code() const noexcept { return code_; }

private:
    Code code_;
};

} // namespace nuvel
