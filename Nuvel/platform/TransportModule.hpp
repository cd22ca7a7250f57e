#pragma once

#include "NuvelKit/service/HttpTransport.hpp"

#include <memory>

namespace nuvel {

// The program's HTTP transport: CurlTransport from the transport module beside the executable
// (nuvel-transport.so, libcurl and the libraries it brings), loaded when the first request is
// sent, so that the window opens before any of them is mapped. Each transport made here has a
// CurlTransport of its own, with its own connections. A module that is missing or does not fit
// fails every request with TransportError::other, which names it.
std::shared_ptr<HttpTransport> makeProgramHttpTransport();

// Raised whenever HttpTransport or the types it passes change, so a module of another build is
// refused.
inline constexpr int transportModuleInterface = 1;

} // namespace nuvel
