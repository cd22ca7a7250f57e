#include "Nuvel/model/cloud/CloudFailure.hpp"

#include "Nuvel/model/Outcome.hpp"
#include "NuvelKit/meetings/MeetingClientError.hpp"

namespace nuvel {

std::optional<int> serviceStatus(const Failure& failure) {
    if (const MeetingClientError* error = failure.errorAs<MeetingClientError>())
        return error->status();
    return std::nullopt;
}

} // namespace nuvel
