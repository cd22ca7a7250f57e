#pragma once

#include <optional>

namespace nuvel {

class Failure;

// The HTTP status of a failure that is the service's answer (a MeetingClientError); none for
// every other failure: no connection, a time-out, a decoding or cache error.
std::optional<int> serviceStatus(const Failure& failure);

} // namespace nuvel
