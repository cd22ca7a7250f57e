#pragma once

#include "NuvelKit/service/HttpTransport.hpp"

namespace nuvel {

// HttpTransport over libcurl. Each exchange runs on the calling thread with its own handle;
// a stop request wakes the transfer at once and aborts it. Proxies from the environment are
// not used.
class CurlTransport final : public HttpTransport {
public:
    CurlTransport();
    HttpResponse send(const HttpRequest& request, std::stop_token stop) override;
};

} // namespace nuvel
