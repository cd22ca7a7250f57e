#pragma once

#include "NuvelKit/support/Bytes.hpp"

#include <cstddef>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace nuvel {

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpResponse;

struct HttpRequest {
    std::string method = "GET";
    std::string url;     // absolute
    HttpHeaders headers; // sent in this order, exactly as given
    std::optional<Bytes> body;
    // Sent as the body when `body` is unset: bytes the caller keeps alive until `send` returns,
    // which spares a large body its copy.
    std::optional<ByteView> borrowedBody;
    // The transfer fails as timed out when no byte moves for this long (also bounds connecting).
    double idleTimeoutSeconds = 60;
    // The whole exchange may take at most this long; 0 means no limit.
    double totalTimeoutSeconds = 0;
    // A response body longer than this aborts the transfer and sets `bodyTooLarge`; 0: no cap.
    std::size_t maxBodyBytes = 0;
    // When set, body bytes go here as they arrive instead of into `HttpResponse::body`. The sink
    // may throw to abort; the exception then leaves `send`.
    std::function<void(ByteView)> bodySink;
    // When set, called once with the final response's status and headers (no body yet), before
    // any body byte goes to `bodySink`. It may throw to abort, like the sink.
    std::function<void(const HttpResponse& head)> headSink;

    // The body to send, however it is held; none for a request without one.
    std::optional<ByteView> payload() const {
        if (body)
            return ByteView(*body);
        return borrowedBody;
    }
};

struct HttpResponse {
    int status = 0;
    HttpHeaders headers; // of the final response, names as the server sent them
    Bytes body;
    bool bodyTooLarge = false; // the body passed `maxBodyBytes`; `body` holds what came before

    // The first header of that name, compared without regard to ASCII case.
    std::optional<std::string> header(std::string_view name) const;
};

// One HTTP exchange. Never follows redirects (a 3xx is returned as an answer), keeps no
// cookies and no cache, and sends no header the request does not name beyond the protocol's
// own (Host, Content-Length) and libcurl's default "Accept: */*" when the request sets none. Throws
// TransportError when no answer arrives, and Cancelled when `stop` is requested while the exchange runs.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;
    virtual HttpResponse send(const HttpRequest& request, std::stop_token stop) = 0;
};

// Header names compare without regard to ASCII case.
bool headerNameEquals(std::string_view a, std::string_view b);

// True when a header name or value holds CR, LF or NUL (request splitting).
bool isUnsafeHeaderText(std::string_view text);

} // namespace nuvel
