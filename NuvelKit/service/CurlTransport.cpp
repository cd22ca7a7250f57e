#include "NuvelKit/service/CurlTransport.hpp"

#include "NuvelKit/service/TransportError.hpp"
#include "NuvelKit/support/Error.hpp"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <curl/curl.h>
#include <exception>
#include <functional>
#include <mutex>
#include <optional>
#include <utility>

namespace nuvel {
namespace {

struct Exchange {
    const HttpRequest* request;
    HttpResponse response;
    std::exception_ptr sinkError;
    std::size_t received = 0;
    bool aborted = false;
    bool headDelivered = false;
};

// The status of a status line "HTTP/<version> <code> ...", or 0.
int statusOf(std::string_view line) {
    const std::size_t space = line.find(' ');
    if (space == std::string_view::npos || line.size() < space + 4)
        return 0;
    int status = 0;
    for (char c : line.substr(space + 1, 3)) {
        if (c < '0' || c > '9')
            return 0;
        status = status * 10 + (c - '0');
    }
    return status;
}

// The blank line after a response's headers: hands the head of a final (not 1xx) response on.
std::size_t endOfHead(Exchange* x, std::size_t n) {
    const HttpRequest& rq = *x->request;
    if (x->response.status < 200 || x->headDelivered || !rq.headSink)
        return n;
    x->headDelivered = true;
    try {
        rq.headSink(x->response);
    } catch (...) {
        x->sinkError = std::current_exception();
        x->aborted = true;
        return 0; // aborts the transfer
    }
    return n;
}

std::size_t onBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* x = static_cast<Exchange*>(user);
    std::size_t n = size * count;
    const HttpRequest& rq = *x->request;
    if (rq.maxBodyBytes > 0 && x->received + n > rq.maxBodyBytes) {
        x->response.bodyTooLarge = true;
        x->aborted = true;
        return 0; // aborts the transfer
    }
    x->received += n;
    ByteView bytes(reinterpret_cast<const std::uint8_t*>(data), n);
    if (rq.bodySink) {
        try {
            rq.bodySink(bytes);
        } catch (...) {
            x->sinkError = std::current_exception();
            x->aborted = true;
            return 0;
        }
    } else {
        x->response.body.insert(x->response.body.end(), bytes.begin(), bytes.end());
    }
    return n;
}

std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* user) {
    auto* x = static_cast<Exchange*>(user);
    std::size_t n = size * count;
    std::string_view line(data, n);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    if (line.rfind("HTTP/", 0) == 0) {
        x->response.headers.clear(); // a new response (after an interim one) starts
        x->response.status = statusOf(line);
        return n;
    }
    if (line.empty())
        return endOfHead(x, n);
    auto colon = line.find(':');
    if (colon == std::string_view::npos)
        return n;
    std::string_view name = line.substr(0, colon), value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t'))
        value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.remove_suffix(1);
    x->response.headers.emplace_back(std::string(name), std::string(value));
    return n;
}

TransportError::Code categoryOf(CURLcode code) {
    switch (code) {
    case CURLE_OPERATION_TIMEDOUT:
        return TransportError::Code::timedOut;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return TransportError::Code::hostNotFound;
    case CURLE_COULDNT_CONNECT:
        return TransportError::Code::cannotConnect;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_PARTIAL_FILE:
    case CURLE_SEND_FAIL_REWIND:
        return TransportError::Code::connectionLost;
    default:
        return TransportError::Code::other;
    }
}

struct UploadBody {
    ByteView bytes;
    std::size_t offset = 0;
};

std::size_t readBody(char* into, std::size_t size, std::size_t count, void* user) {
    auto* body = static_cast<UploadBody*>(user);
    const std::size_t n = std::min(size * count, body->bytes.size() - body->offset);
    std::memcpy(into, body->bytes.data() + body->offset, n);
    body->offset += n;
    return n;
}

// Only a rewind that changes nothing is allowed: no byte is ever sent twice.
int rewindBody(void* user, curl_off_t offset, int origin) {
    auto* body = static_cast<UploadBody*>(user);
    if (origin == SEEK_SET && offset == 0 && body->offset == 0)
        return CURL_SEEKFUNC_OK;
    return CURL_SEEKFUNC_FAIL;
}

// One exchange's easy handle, in a multi handle taken from the transport. Unless the exchange
// hands the multi handle back, it goes with the connection it holds.
struct Handles {
    CURL* easy = curl_easy_init();
    CURLM* multi = nullptr;
    curl_slist* headers = nullptr;
    bool added = false;
    ~Handles() {
        if (added)
            curl_multi_remove_handle(multi, easy);
        curl_slist_free_all(headers);
        curl_easy_cleanup(easy);
        if (multi)
            curl_multi_cleanup(multi);
    }
};

long millisecondsOf(double seconds) {
    if (!std::isfinite(seconds) || seconds <= 0)
        return 0;
    return long(std::min(seconds * 1000.0, 2.0e9));
}

} // namespace

CurlTransport::CurlTransport() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

CurlTransport::~CurlTransport() {
    for (Pool pool : idle_)
        curl_multi_cleanup(static_cast<CURLM*>(pool));
}

CurlTransport::Pool CurlTransport::takePool() {
    {
        std::lock_guard lock(mutex_);
        if (!idle_.empty()) {
            Pool pool = idle_.back();
            idle_.pop_back();
            return pool;
        }
    }
    CURLM* multi = curl_multi_init();
    // Room for the one connection an exchange leaves open, whatever the handle count.
    if (multi)
        curl_multi_setopt(multi, CURLMOPT_MAXCONNECTS, 1L);
    return multi;
}

void CurlTransport::givePool(Pool pool) {
    {
        std::lock_guard lock(mutex_);
        if (idle_.size() < idlePools) {
            idle_.push_back(pool);
            return;
        }
    }
    curl_multi_cleanup(static_cast<CURLM*>(pool));
}

HttpResponse CurlTransport::send(const HttpRequest& request, std::stop_token stop) {
    for (const auto& [name, value] : request.headers)
        if (isUnsafeHeaderText(name) || isUnsafeHeaderText(value) || name.find(':') != std::string::npos)
            throw TransportError(TransportError::Code::other, "unsafe header");
    if (isUnsafeHeaderText(request.method) || request.method.find(' ') != std::string::npos)
        throw TransportError(TransportError::Code::other, "unsafe method");
    if (stop.stop_requested())
        throw Cancelled();

    Handles h;
    // libcurl sends a request again by itself when a kept connection closes before any answer,
    // which for a creation or a commit could act twice: only the methods that may be repeated
    // go over kept connections; the others have one of their own, closed after them.
    const bool keep = request.method == "GET" || request.method == "HEAD" || request.method == "PUT" ||
                      request.method == "DELETE";
    h.multi = keep ? static_cast<CURLM*>(takePool()) : curl_multi_init();
    if (h.easy == nullptr || h.multi == nullptr)
        throw TransportError(TransportError::Code::other, "curl init");
    Exchange x{&request, {}, nullptr};
    CURL* e = h.easy;

    curl_easy_setopt(e, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_PROXY, ""); // never a proxy from the environment
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, nullptr); // no Accept-Encoding of our own
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, onBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &x);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &x);

    // The idle limit is watched below: curl's own low-speed check averages over seconds, so a
    // small upload followed by a silent server would count as moving for too long.
    long idle = millisecondsOf(request.idleTimeoutSeconds);
    if (idle > 0)
        curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, idle);
    if (long total = millisecondsOf(request.totalTimeoutSeconds); total > 0)
        curl_easy_setopt(e, CURLOPT_TIMEOUT_MS, total);

    const std::optional<ByteView> payload = request.payload();
    UploadBody upload{payload.value_or(ByteView())};
    if (keep && payload && !payload->empty()) {
        // Read out as it goes, so that libcurl's own second attempt over a fresh connection
        // (after a kept one closed with no answer) must rewind first, and is refused: the
        // exchange fails as lost, as it would have over a connection of its own.
        curl_easy_setopt(e, CURLOPT_UPLOAD, 1L);
        curl_easy_setopt(e, CURLOPT_INFILESIZE_LARGE, curl_off_t(upload.bytes.size()));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, readBody);
        curl_easy_setopt(e, CURLOPT_READDATA, &upload);
        curl_easy_setopt(e, CURLOPT_SEEKFUNCTION, rewindBody);
        curl_easy_setopt(e, CURLOPT_SEEKDATA, &upload);
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (payload) {
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(payload->size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS,
                         payload->empty() ? "" : reinterpret_cast<const char*>(payload->data()));
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    } else if (request.method == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        // A method without a body sends "Content-Length: 0" (servers wait for a body otherwise)
        // and, below, no form content type.
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(0));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, "");
        curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, request.method.c_str());
    }

    bool hasContentType = false;
    for (const auto& [name, value] : request.headers) {
        std::string line = name;
        line.append(value.empty() ? ";" : ": ").append(value); // "name;": curl's form for an empty value
        h.headers = curl_slist_append(h.headers, line.c_str());
        if (headerNameEquals(name, "Content-Type"))
            hasContentType = true;
    }
    h.headers = curl_slist_append(h.headers, "Expect:");
    if (!hasContentType)
        h.headers = curl_slist_append(h.headers, "Content-Type:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, h.headers);

    curl_multi_add_handle(h.multi, e);
    h.added = true;
    // Ended before the multi handle goes back to the pool, where another exchange takes it.
    std::optional<std::stop_callback<std::function<void()>>> wake;
    wake.emplace(stop, [multi = h.multi] { curl_multi_wakeup(multi); });

    using Clock = std::chrono::steady_clock;
    auto lastActivity = Clock::now();
    curl_off_t lastMoved = -1;
    CURLcode result = CURLE_OK;
    for (;;) {
        int running = 0;
        CURLMcode mc = curl_multi_perform(h.multi, &running);
        if (mc != CURLM_OK)
            throw TransportError(TransportError::Code::other, curl_multi_strerror(mc));
        int queued = 0;
        bool done = false;
        while (CURLMsg* msg = curl_multi_info_read(h.multi, &queued)) {
            if (msg->msg == CURLMSG_DONE) {
                result = msg->data.result;
                done = true;
            }
        }
        if (done || running == 0)
            break;
        if (stop.stop_requested())
            throw Cancelled();
        curl_off_t up = 0, down = 0;
        curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &up);
        curl_easy_getinfo(e, CURLINFO_SIZE_DOWNLOAD_T, &down);
        auto now = Clock::now();
        if (up + down + curl_off_t(x.response.headers.size()) != lastMoved) {
            lastMoved = up + down + curl_off_t(x.response.headers.size());
            lastActivity = now;
        }
        int waitMs = 1000;
        if (idle > 0) {
            auto quiet = std::chrono::duration_cast<std::chrono::milliseconds>(now - lastActivity).count();
            if (quiet >= idle)
                throw TransportError(TransportError::Code::timedOut, "no data moved");
            waitMs = int(std::min<long long>(waitMs, idle - quiet));
        }
        curl_multi_poll(h.multi, nullptr, 0, waitMs, nullptr);
        if (stop.stop_requested())
            throw Cancelled();
    }

    if (x.sinkError)
        std::rethrow_exception(x.sinkError);
    if (x.response.bodyTooLarge) {
        long status = 0;
        curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
        x.response.status = int(status);
        return std::move(x.response);
    }
    if (result != CURLE_OK)
        throw TransportError(categoryOf(result), curl_easy_strerror(result));
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    x.response.status = int(status);
    if (keep) {
        // A clean exchange: its connection stays open in the pool for the next one.
        curl_multi_remove_handle(h.multi, e);
        h.added = false;
        wake.reset();
        givePool(std::exchange(h.multi, nullptr));
    }
    return std::move(x.response);
}

} // namespace nuvel
