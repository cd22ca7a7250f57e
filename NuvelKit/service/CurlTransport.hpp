#pragma once

#include "NuvelKit/service/HttpTransport.hpp"

#include <cstddef>
#include <mutex>
#include <vector>

namespace nuvel {

// HttpTransport over libcurl. Each exchange runs on the calling thread with its own handle;
// a stop request wakes the transfer at once and aborts it. Proxies from the environment are
// not used.
//
// Connections are kept open between exchanges of the methods that may be repeated (GET,
// HEAD, PUT, DELETE): one that ends cleanly hands its connection pool back to the transport,
// and the next reuses a connection to the same origin from it (one pool per exchange running
// at the same time, at most `idlePools` kept idle). An exchange that fails, times out or is
// stopped closes what it held, and every other method has a connection of its own.
class CurlTransport final : public HttpTransport {
public:
    static constexpr std::size_t idlePools = 4;

    CurlTransport();
    ~CurlTransport() override;
    CurlTransport(const CurlTransport&) = delete;
    CurlTransport& operator=(const CurlTransport&) = delete;

    HttpResponse send(const HttpRequest& request, std::stop_token stop) override;

private:
    // A libcurl multi handle, which holds the connections its transfers leave open.
    using Pool = void*;
    Pool takePool();
    void givePool(Pool pool);

    std::mutex mutex_;
    std::vector<Pool> idle_;
};

} // namespace nuvel
