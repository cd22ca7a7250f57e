#include "Nuvel/model/cloud/CloudFailure.hpp"

#include "NuvelKit/meetings/MeetingClientError.hpp"

namespace nuvel {

std::optional<int> serviceStatus(const std::exception_ptr& failure) {
    if (!failure)
        return std::nullopt;
    try {
        std::rethrow_exception(failure);
    } catch (const MeetingClientError& error) {
        return error.status();
    } catch (...) {
        return std::nullopt;
    }
}

} // namespace nuvel
