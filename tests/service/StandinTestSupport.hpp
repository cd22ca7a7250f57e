#pragma once

// Helpers for the tests that drive the stand-in service over real HTTP with a plain client.
#include "tools/standin-service/StandinService.hpp"

#include <gtest/gtest.h>
#include <httplib.h>
#include <memory>
#include <nlohmann/json.hpp>
#include <openssl/evp.h>
#include <string>

namespace nuvel::test {

using Json = nlohmann::json;

inline Json bodyOf(const httplib::Result& result) {
    if (!result)
        return Json();
    return Json::parse(result->body, nullptr, false);
}

inline std::string errorCode(const httplib::Result& result) {
    const Json body = bodyOf(result);
    if (!body.is_object() || !body.contains("error") || !body["error"].contains("code"))
        return "<none>";
    return body["error"]["code"].get<std::string>();
}

// Percent-encodes everything outside the RFC 3986 unreserved set.
inline std::string encode(const std::string& text) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

inline std::string sha256Hex(const std::string& data) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(data.data(), data.size(), digest, &length, EVP_sha256(), nullptr);
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

// A started service and clients for it; the clients send exactly the paths they are given.
class StandinTest : public ::testing::Test {
protected:
    explicit StandinTest(StandinOptions options = {}) : service(options) {}
    void SetUp() override { service.start(); }

    httplib::Client client() const {
        httplib::Client c("127.0.0.1", service.port());
        c.set_url_encode(false);
        c.set_connection_timeout(std::chrono::seconds(5));
        c.set_read_timeout(std::chrono::seconds(5));
        return c;
    }
    static httplib::Headers bearer(const std::string& token) {
        return {{"Authorization", "Bearer " + token}};
    }

    httplib::Result get(const std::string& path, const std::string& token) const {
        return client().Get(path, bearer(token));
    }
    httplib::Result send(const std::string& method, const std::string& path, const std::string& token,
                         const Json& body) const {
        return sendRaw(method, path, token, body.dump(), "application/json");
    }
    httplib::Result sendRaw(const std::string& method, const std::string& path, const std::string& token,
                            const std::string& body, const std::string& type) const {
        httplib::Client c = client();
        if (method == "POST")
            return c.Post(path, bearer(token), body, type);
        if (method == "PUT")
            return c.Put(path, bearer(token), body, type);
        if (method == "PATCH")
            return c.Patch(path, bearer(token), body, type);
        if (method == "DELETE")
            return body.empty() ? c.Delete(path, bearer(token)) : c.Delete(path, bearer(token), body, type);
        return c.Get(path, bearer(token));
    }

    StandinService service;
};

} // namespace nuvel::test
