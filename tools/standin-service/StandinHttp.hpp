#pragma once

#include "NuvelKit/support/Error.hpp"
#include "NuvelKit/support/Json.hpp"
#include "tools/standin-service/StandinTypes.hpp"

#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The HTTP-facing pieces of the stand-in that do not depend on the server library: the request as
// the API sees it, the reply, and the failures that turn into the service's error envelope.
namespace nuvel::standin {

struct Request {
    std::string method;                                     // "HEAD" is answered as "GET"
    std::vector<std::string> segments;                      // the path split at "/", each percent-decoded
    std::vector<std::pair<std::string, std::string>> query; // decoded, in order
    StandinHeaders headers;
    std::string body;

    std::optional<std::string> header(std::string_view name) const;
    // The first query value of that name.
    std::optional<std::string> param(std::string_view name) const;
};

struct Reply {
    int status = 200;
    std::string body;
    std::string contentType;
    StandinHeaders headers;
};

// A refusal of the service; becomes {"error":{"code":..,"message":..}} plus any extra members of
// the "error" object (the notepad conflict's "detail", for example).
class ApiFailure : public Error {
public:
    ApiFailure(int status, std::string code, std::string message,
               json::Ordered extra = json::Ordered::object());
    int status() const { return status_; }
    const std::string& code() const { return code_; }
    const json::Ordered& extra() const { return extra_; }

private:
    int status_;
    std::string code_;
    json::Ordered extra_;
};

[[noreturn]] void fail(int status, std::string code, std::string message);

Reply jsonReply(int status, const json::Ordered& body);
Reply errorReply(int status, const std::string& code, const std::string& message,
                 const json::Ordered& extra = json::Ordered::object());
Reply emptyReply(int status = 204);

// The error code for a status the server library produced on its own (malformed request, too
// long a target, ...).
std::string codeForStatus(int status);

// Splits a request target into its path segments and query. Throws ApiFailure 400 for a malformed
// percent escape, for a query name or value that is not UTF-8, and for a "?" with no query after
// it (a client with no query items sends no "?").
struct Target {
    std::vector<std::string> segments;
    std::vector<std::pair<std::string, std::string>> query;
};
Target parseTarget(std::string_view target);

// Parses a JSON body. Throws ApiFailure 415 unless the request says "application/json", 400
// for a body that is not a JSON object, and 400 "unknown_field" for a member outside `members`.
json::Value jsonBody(const Request& request, std::initializer_list<std::string_view> members);

// Throws ApiFailure 400 "unknown_field" when `object` has a member outside `members`; `what`
// names the object in the message.
void requireMembers(const json::Value& object, std::initializer_list<std::string_view> members,
                    std::string_view what);

// Throws ApiFailure 400 "invalid_query" for a query item outside `names`, or one named twice.
void requireQueryNames(const Request& request, std::span<const std::string_view> names);

// Whether the request's "Accept" admits a JSON answer ("application/json", "application/*" or
// "*/*" among its media ranges); false without the header.
bool acceptsJson(const Request& request);

// The bearer token of the request, or nullopt when there is no well-formed "Authorization" header.
std::optional<std::string> bearerToken(const Request& request);

} // namespace nuvel::standin
