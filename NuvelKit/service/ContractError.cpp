#include "NuvelKit/service/ContractError.hpp"

namespace nuvel {
namespace {

const char* describe(ContractError::Code code) {
    switch (code) {
    case ContractError::Code::accountMismatch:
        return "account mismatch";
    case ContractError::Code::invalidTransport:
        return "answer breaks the transfer contract";
    case ContractError::Code::ambiguousRequest:
        return "the service accepted another upload";
    }
    return "contract error";
}

} // namespace

ContractError::ContractError(Code code) : Error(describe(code)), code_(code) {}

} // namespace nuvel
