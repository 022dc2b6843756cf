// One HTTP or HTTPS request over libcurl's easy interface: a fresh handle per
// request, redirects followed, certificates verified. The request carries the
// caller's header lines and, besides them, only Host and Content-Length.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runtime/platform/files.h"

namespace vyx::platform {

struct HttpRequest {
    std::string method;                // upper-case: "GET", "HEAD", "POST" or any other
    std::string url;
    std::vector<std::string> headers;  // "Name: value" lines
    const uint8_t* body = nullptr;     // sent when has_body (never for GET and HEAD)
    size_t body_size = 0;
    bool has_body = false;
    uint64_t max_body = UINT64_MAX;    // a longer reply body ends the request as too_long
};

struct HttpReply {
    long status = 0;
    std::string headers;  // the final reply's header lines, each ending with CR LF, status line left out
    Bytes body;
    // When set, the body's bytes go here instead of into `body`, with the
    // length the reply announced (-1 when it did not); false ends the
    // request as failed.
    std::function<bool(const uint8_t* bytes, size_t n, int64_t announced)> sink;
};

enum class HttpStatus { ok, failed, too_long };

// Performs the request; failed covers every failure of the transfer
// (refused, unresolved, TLS, timed out), whatever the HTTP status.
HttpStatus http_request(const HttpRequest& request, HttpReply& reply);

}  // namespace vyx::platform
