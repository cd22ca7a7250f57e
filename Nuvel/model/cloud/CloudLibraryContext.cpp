#include "Nuvel/model/cloud/CloudLibraryContext.hpp"

#include "Nuvel/model/cloud/ContinuousSleep.hpp"

#include <stdexcept>
#include <utility>

namespace nuvel {

CloudLibraryContext::CloudLibraryContext(CloudLibraryDependencies dependencies)
    : deps(std::move(dependencies)) {
    if (!deps.mainQueue)
        throw std::invalid_argument("the cloud library needs a main queue");
    if (!deps.actorExecutor)
        throw std::invalid_argument("the cloud library needs an actor executor");
    if (!deps.client)
        throw std::invalid_argument("the cloud library needs the meeting client");
    deps.mainQueue->requireCurrent("CloudLibrary");
    if (!deps.localize)
        deps.localize = [](std::string_view text) { return std::string(text); };
    if (!deps.now)
        deps.now = [] { return Date::now(); };
    if (!deps.continuousNow)
        deps.continuousNow = [] { return continuousTimeSeconds(); };
}

bool CloudLibraryContext::documentLeaseIsValid() const {
    if (!state.document)
        return false;
    if (state.documentValidatedAt && state.documentExpiresAt) {
        const Date at = now();
        return *state.documentValidatedAt <= at && at < *state.documentExpiresAt;
    }
    return state.online && !state.offline;
}

} // namespace nuvel
