// Feeds the workspace contract (the bootstrap document). A contract that decodes must encode to
// text that decodes to an equal contract and the same bytes, and the validation must give the
// same verdict on both, failing with RecordingError::invalidTransport only.
//
//   build/fuzz/fuzz/fuzz_WorkspaceContractFuzz -max_total_time=600 <work-corpus>
//   fuzz/corpus/WorkspaceContractFuzz
#include "NuvelKit/service/NativeBootstrap.hpp"
#include "NuvelKit/store/RecordingError.hpp"
#include "NuvelKit/support/Json.hpp"
#include "fuzz/FuzzSupport.hpp"

#include <string>

namespace {

using namespace nuvel;

// True when the contract is accepted for its own account.
bool accepted(const NativeBootstrap& contract) {
    try {
        contract.validate(contract.account.id);
        return true;
    } catch (const RecordingError& e) {
        if (e.code() != RecordingError::Code::invalidTransport)
            fuzz::finding("validation failed with another error");
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    NativeBootstrap contract;
    try {
        contract = NativeBootstrap::decode(text);
    } catch (const json::JsonError&) {
        return 0;
    }
    const std::string encoded = contract.encode();
    const NativeBootstrap again = NativeBootstrap::decode(encoded);
    if (again.encode() != encoded)
        fuzz::finding("a contract does not round-trip", text);
    if (accepted(again) != accepted(contract))
        fuzz::finding("a round trip changed the verdict", text);
    // Another account's view of the same contract is never accepted.
    try {
        contract.validate(contract.account.id + "x");
        fuzz::finding("a contract was accepted for another account", text);
    } catch (const RecordingError&) {
    }
    return 0;
}
