#include "tools/standin-service/StandinTypes.hpp"

#include "NuvelKit/support/Json.hpp"

#include <strings.h>

namespace nuvel {

std::optional<std::string> StandinLoggedRequest::header(std::string_view name) const {
    for (const auto& [key, value] : headers) {
        if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0)
            return value;
    }
    return std::nullopt;
}

StandinFault StandinFault::error(int status, std::string code) {
    json::Ordered body = json::Ordered::object();
    body["error"] = json::Ordered{{"code", std::move(code)}};
    return respond(status, json::dump(body));
}

StandinFault StandinFault::respond(int status, std::string body, std::string contentType) {
    StandinFault fault;
    fault.action = Action::respond;
    fault.status = status;
    fault.body = std::move(body);
    fault.contentType = std::move(contentType);
    return fault;
}

StandinFault StandinFault::htmlPage(int status) {
    const std::string code = std::to_string(status);
    return respond(status,
                   "<!DOCTYPE html>\n<html><head><title>" + code + " Error</title></head><body><h1>" + code +
                       " Error</h1><p>The server could not answer this request.</p></body></html>\n",
                   "text/html; charset=utf-8");
}

StandinFault StandinFault::redirect(std::string location, int status) {
    return respond(status, "", "").header("Location", std::move(location));
}

StandinFault StandinFault::delayed(std::chrono::milliseconds wait) {
    StandinFault fault;
    fault.action = Action::proceed;
    fault.delay = wait;
    return fault;
}

StandinFault StandinFault::dropConnection() {
    StandinFault fault;
    fault.action = Action::drop;
    return fault;
}

StandinFault StandinFault::loseAnswer() {
    StandinFault fault;
    fault.action = Action::lose;
    return fault;
}

} // namespace nuvel
