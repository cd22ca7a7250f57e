#pragma once

#include <stdexcept>
#include <string>

namespace nuvel {

// Base of every error type of our own. Each derived type holds its case enum and payload;
// `what()` is a short developer-facing description, never shown to users.
class Error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Thrown at a suspension point of a task whose stop was requested.
class Cancelled : public Error {
public:
    Cancelled() : Error("cancelled") {}
};

} // namespace nuvel
