// HTTP requests at the level of values: what read and write of an http or
// https url! do. One synchronous request each; the reply's body comes back as
// text, bytes or lines, and with /info as [status headers body].
#pragma once
#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace vyx::simple_io {

// Performs one request. `method` is a word (GET, HEAD and POST known by
// their canonical symbol, any other sent as its name upper-cased); `headers`
// a block of name/value pairs or null (then the three default headers go);
// `data` a string! or binary! or null (never sent with GET or HEAD). Pushes
// the result: a binary! (binary), a block of lines (lines) or a string!, and
// with `info` the block [status headers body]; returns &NONE_CELL, pushing
// nothing, when the request failed. Raises invalid-arg for a header name or
// value that could not go out as one header line.
const Cell* request_http(const Cell* method, const Cell* url, const Cell* headers, const Cell* data, bool binary,
                         bool lines, bool info);

// Pushes a map! of header lines ("Name: value" each ending with CR LF; the
// last may end without): each name a word key, each value a string!, and a
// name met more than once (ignoring case) a block of its values in order.
// The value starts after the colon and any spaces or tabs.
const Cell* parse_headers(const char* text, size_t n);

}  // namespace vyx::simple_io
