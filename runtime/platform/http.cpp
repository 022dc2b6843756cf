#include "runtime/platform/http.h"

#include <algorithm>
#include <cstring>
// The plain function declarations (no type-checking macros over them).
#define CURL_DISABLE_TYPECHECK
#include <curl/curl.h>

#include "runtime/platform/libraries.h"

namespace vyx::platform {

namespace {

// libcurl is loaded by the first request, not at start-up: it brings some
// thirty libraries of its own that a program without HTTP never needs.
#define VYX_CURL_FUNCTIONS(X) X(curl_global_init) X(curl_easy_init) X(curl_easy_setopt) X(curl_easy_getinfo) \
    X(curl_easy_perform) X(curl_easy_cleanup) X(curl_slist_append) X(curl_slist_free_all)
VYX_LIBRARY(CurlApi, "libcurl.so.4", VYX_CURL_FUNCTIONS)
const CurlApi* lib = nullptr;

// libcurl loaded and initialised once; null when it cannot be (every request
// then fails, as one that cannot connect does).
const CurlApi* load_curl() {
    static const CurlApi* api = load_CurlApi();
    static const bool ready = api && api->curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready ? api : nullptr;
}

constexpr long CONNECT_TIMEOUT_S = 60;
// A transfer that moves less than one byte a second for this long fails.
constexpr long STALL_TIMEOUT_S = 30;

struct Transfer {
    HttpReply* reply;
    CURL* easy;
    uint64_t max_body;
    bool too_long = false;
    bool sized = false;
    size_t received = 0;
};

// The length the reply announced, or -1.
int64_t announced_length(CURL* easy) {
    curl_off_t length = -1;
    if (lib->curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) != CURLE_OK) return -1;
    return length;
}

size_t on_body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    HttpReply& reply = *t->reply;
    Bytes& body = reply.body;
    size_t have = t->received;
    if (have + n > t->max_body) {
        t->too_long = true;
        return 0;  // ends the transfer
    }
    int64_t announced = t->sized ? -1 : announced_length(t->easy);
    t->sized = true;
    t->received += n;
    if (reply.sink) return reply.sink(reinterpret_cast<const uint8_t*>(data), n, announced) ? n : 0;
    // Room for the whole body at once when the reply tells its length.
    if (announced > 0 && uint64_t(announced) <= t->max_body)
        body.reserve(size_t(std::min<int64_t>(announced, int64_t(1) << 28)));
    if (body.capacity() - have < n && !body.reserve(std::max(have * 2, have + n))) return 0;
    std::memcpy(body.data() + have, data, n);
    body.set_size(have + n);
    return n;
}

// Header lines of every reply on the way arrive here (redirects, interim
// replies); a status line starts a new reply, so only the last one stays.
size_t on_header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    size_t n = size * count;
    std::string& text = t->reply->headers;
    if (n >= 5 && std::memcmp(data, "HTTP/", 5) == 0) {
        text.clear();
        return n;
    }
    if (n == 2 && data[0] == '\r' && data[1] == '\n') return n;  // end of the header block
    text.append(data, n);
    return n;
}

bool global_ready() {
    lib = load_curl();
    return lib != nullptr;
}

struct Handle {
    CURL* easy = lib->curl_easy_init();
    curl_slist* headers = nullptr;
    ~Handle() {
        lib->curl_slist_free_all(headers);
        if (easy) lib->curl_easy_cleanup(easy);
    }
};

}  // namespace

HttpStatus http_request(const HttpRequest& r, HttpReply& reply) {
    if (!global_ready()) return HttpStatus::failed;
    Handle h;
    if (!h.easy) return HttpStatus::failed;
    Transfer t{&reply, h.easy, r.max_body};
    CURL* c = h.easy;
    bool ok = true;
    auto set = [&](CURLcode code) { ok = ok && code == CURLE_OK; };
    set(lib->curl_easy_setopt(c, CURLOPT_URL, r.url.c_str()));
    set(lib->curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https"));
    set(lib->curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https"));
    set(lib->curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L));
    set(lib->curl_easy_setopt(c, CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)));
    set(lib->curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L));
    set(lib->curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, CONNECT_TIMEOUT_S));
    set(lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L));
    set(lib->curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, STALL_TIMEOUT_S));
    set(lib->curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L));
    set(lib->curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L));
    set(lib->curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, on_body));
    set(lib->curl_easy_setopt(c, CURLOPT_WRITEDATA, &t));
    set(lib->curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, on_header));
    set(lib->curl_easy_setopt(c, CURLOPT_HEADERDATA, &t));

    // The caller's lines; then the headers libcurl would add of its own are
    // taken away, unless the caller gave them.
    auto given = [&](const char* name) {
        size_t n = std::strlen(name);
        for (auto& line : r.headers)
            if (line.size() > n && strncasecmp(line.c_str(), name, n) == 0 && (line[n] == ':' || line[n] == ';'))
                return true;
        return false;
    };
    for (auto& line : r.headers) h.headers = lib->curl_slist_append(h.headers, line.c_str());
    for (const char* name : {"Accept", "Expect", "Content-Type"})
        if (!given(name)) h.headers = lib->curl_slist_append(h.headers, (std::string(name) + ":").c_str());
    if (!h.headers) return HttpStatus::failed;
    set(lib->curl_easy_setopt(c, CURLOPT_HTTPHEADER, h.headers));

    if (r.method == "GET") {
        set(lib->curl_easy_setopt(c, CURLOPT_HTTPGET, 1L));
    } else if (r.method == "HEAD") {
        set(lib->curl_easy_setopt(c, CURLOPT_NOBODY, 1L));
    } else {
        if (r.has_body || r.method == "POST") {
            static const uint8_t nothing = 0;
            set(lib->curl_easy_setopt(c, CURLOPT_POST, 1L));
            set(lib->curl_easy_setopt(c, CURLOPT_POSTFIELDS, r.has_body && r.body ? r.body : &nothing));
            set(lib->curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(r.has_body ? r.body_size : 0)));
        }
        if (r.method != "POST") set(lib->curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, r.method.c_str()));
    }
    if (!ok) return HttpStatus::failed;

    CURLcode rc = lib->curl_easy_perform(c);
    if (t.too_long) return HttpStatus::too_long;
    if (rc != CURLE_OK) return HttpStatus::failed;
    lib->curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &reply.status);
    return HttpStatus::ok;
}

}  // namespace vyx::platform
