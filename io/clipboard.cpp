#include "io/clipboard.h"

#include <cstdlib>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "io/file_io.h"
#include "io/image_codecs.h"
#include "runtime/platform/platform.h"
#include "runtime/platform/process.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::clipboard {

namespace {

// How long a clipboard tool may take before the answer is false.
constexpr int TOOL_TIMEOUT_MS = 3000;

// What the clipboard holds, in the forms the tools exchange: UTF-8 text, or
// absolute paths, or PNG bytes.
struct Content {
    enum Kind { EMPTY, TEXT, FILES, IMAGE } kind = EMPTY;
    std::string bytes;               // TEXT: UTF-8; IMAGE: PNG
    std::vector<std::string> files;  // FILES: absolute paths
};

// The clipboard of this process, used when there is no system clipboard.
Content& own_clipboard() {
    static Content content;
    return content;
}

enum class Backend { OWN, WAYLAND, XCLIP, XSEL };

bool set_in_env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Whether an executable of that name is on PATH.
bool on_path(const char* name) {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string_view dirs(path);
    while (true) {
        size_t colon = dirs.find(':');
        std::string dir(dirs.substr(0, colon));
        std::string full = (dir.empty() ? std::string(".") : dir) + "/" + name;
        if (::access(full.c_str(), X_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        dirs.remove_prefix(colon + 1);
    }
}

Backend backend() {
    if (set_in_env("WAYLAND_DISPLAY") && on_path("wl-copy") && on_path("wl-paste")) return Backend::WAYLAND;
    if (set_in_env("DISPLAY")) {
        if (on_path("xclip")) return Backend::XCLIP;
        if (on_path("xsel")) return Backend::XSEL;
    }
    return Backend::OWN;
}

// Runs a tool with the bytes on its input; its output captured (or sent to
// the null device, for a writer that stays behind to serve the selection).
// False when it could not run, failed or did not end in time.
bool run_tool(std::vector<std::string> argv, const std::string* input, std::string* output) {
    platform::SpawnRequest r;
    r.argv = std::move(argv);
    r.wait = true;
    r.timeout_ms = TOOL_TIMEOUT_MS;
    if (input) {
        r.in.kind = platform::Stream::DATA;
        r.in.data = reinterpret_cast<const uint8_t*>(input->data());
        r.in.size = input->size();
    } else {
        r.in.kind = platform::Stream::NUL;
    }
    r.out.kind = output ? platform::Stream::CAPTURE : platform::Stream::NUL;
    r.err.kind = platform::Stream::NUL;
    bool not_found = false;
    int64_t status = platform::spawn(r, not_found);
    if (output) output->assign(reinterpret_cast<const char*>(r.out.captured.data()), r.out.captured.size());
    return status == 0;
}

const std::vector<std::string>& text_types(Backend b) {
    static const std::vector<std::string> wayland = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain",
                                                     "STRING", "TEXT"};
    static const std::vector<std::string> x = {"UTF8_STRING", "text/plain;charset=utf-8", "text/plain", "STRING",
                                               "TEXT"};
    return b == Backend::WAYLAND ? wayland : x;
}

const char* const FILE_TYPE = "text/uri-list";
const char* const IMAGE_TYPES[] = {"image/png", "image/jpeg", "image/gif"};

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

int hex_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The absolute paths of the file: URIs of a text/uri-list (comments and
// other schemes skipped).
std::vector<std::string> paths_of_uri_list(const std::string& list) {
    std::vector<std::string> paths;
    for (auto& line : split_lines(list)) {
        if (line.rfind("file://", 0) != 0) continue;
        size_t slash = line.find('/', 7);  // after the host, when one is named
        if (slash == std::string::npos) continue;
        std::string path;
        for (size_t i = slash; i < line.size(); i++) {
            int h = i + 2 < line.size() && line[i] == '%' ? hex_value(line[i + 1]) : -1;
            int l = h >= 0 ? hex_value(line[i + 2]) : -1;
            if (l >= 0) {
                path += char(h * 16 + l);
                i += 2;
            } else {
                path += line[i];
            }
        }
        paths.push_back(path);
    }
    return paths;
}

std::string uri_list_of(const std::vector<std::string>& paths) {
    std::string list;
    for (auto& p : paths) {
        list += "file://";
        url::encode(reinterpret_cast<const uint8_t*>(p.data()), p.size(), url::CharSet::url, list);
        list += "\r\n";
    }
    return list;
}

std::string latin1_to_utf8(const std::string& s) {
    std::string out;
    for (unsigned char c : s) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// ------------------------------------------------------------ values

const Cell* push_text(const std::string& utf8) {
    std::string text = unicode::repair_utf8(reinterpret_cast<const uint8_t*>(utf8.data()), utf8.size());
    return string::load_push(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), 0);
}

const Cell* push_files(const std::vector<std::string>& paths) {
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, uint32_t(paths.size()));
    for (auto& p : paths) {
        std::string name = unicode::repair_utf8(reinterpret_cast<const uint8_t*>(p.data()), p.size());
        Cell* f = string::load_in(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), 0, block);
        set_cell_type(f, TYPE_FILE);
    }
    return block;
}

// Pushes the image the bytes hold: none when they start with no known
// image signature, access/bad-media when the image is corrupt.
const Cell* push_image(const std::string& bytes) {
    Cell* bin = binary::load(reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    Cell image = *image::decode(bin);
    *bin = image;
    stack::top = bin + 1;
    return bin;
}

// The absolute path of a file! or string! path: a relative one is taken
// from the current directory.
std::string absolute_path(const Cell* value) {
    std::string path = string::to_utf8(value);
    if (!path.empty() && path[0] == '/') return path;
    uint32_t length = 0;
    std::string dir = platform::get_current_dir(length);
    if (dir.empty() || dir.back() != '/') dir += '/';
    return dir + path;
}

// What a value puts on the clipboard; raises invalid-arg for what cannot go.
Content prepare(const Cell* value) {
    Content c;
    switch (type_of(value)) {
    case TYPE_NONE:
        return c;
    case TYPE_STRING:
        c.kind = Content::TEXT;
        c.bytes = string::to_utf8(value);
        return c;
    case TYPE_BLOCK: {
        Cell block = *value;
        uint32_t n = blk::length(&block);
        c.kind = Content::FILES;
        for (uint32_t i = 0; i < n; i++) {
            Cell item = *blk::at(block.data2, block.data1 + i);
            if (type_of(&item) != TYPE_FILE && type_of(&item) != TYPE_STRING)
                raise_error(err::script_invalid_arg, &item);
            std::string path;
            if (!simple_io::os_path(&item, path)) raise_error(err::script_invalid_arg, &item);
            c.files.push_back(absolute_path(&item));
        }
        return c;
    }
    case TYPE_IMAGE: {
        // An image without pixels empties the clipboard.
        if (!value->data2 || image::pixel_count(value) == 0) return c;
        Cell* png = const_cast<Cell*>(image::encode(value, nullptr, imaging::IMAGE_PNG));
        c.kind = Content::IMAGE;
        c.bytes.assign(reinterpret_cast<const char*>(binary::rs_head(png)), binary::rs_length(png));
        stack::top = png;
        return c;
    }
    default: {
        Cell v = *value;
        raise_error(err::script_invalid_arg, &v);
    }
    }
}

const Cell* push_content(const Content& c) {
    switch (c.kind) {
    case Content::TEXT: return push_text(c.bytes);
    case Content::FILES: return push_files(c.files);
    case Content::IMAGE: return push_image(c.bytes);
    case Content::EMPTY: break;
    }
    return &NONE_CELL;
}

// ------------------------------------------------------------ tools

std::vector<std::string> list_argv(Backend b) {
    if (b == Backend::WAYLAND) return {"wl-paste", "--list-types"};
    return {"xclip", "-selection", "clipboard", "-o", "-t", "TARGETS"};
}

std::vector<std::string> fetch_argv(Backend b, const std::string& type) {
    if (b == Backend::WAYLAND) return {"wl-paste", "--no-newline", "--type", type};
    return {"xclip", "-selection", "clipboard", "-o", "-t", type};
}

// Reads through a tool: the first offered type in the order of preference.
const Cell* read_with(Backend b) {
    std::string out;
    if (b == Backend::XSEL) {
        if (!run_tool({"xsel", "--clipboard", "--output"}, nullptr, &out)) return logic::push(false);
        return out.empty() ? &NONE_CELL : push_text(out);
    }
    // A listing that fails means an empty clipboard (no owner, nothing copied).
    if (!run_tool(list_argv(b), nullptr, &out)) return &NONE_CELL;
    std::vector<std::string> offered = split_lines(out);
    auto has = [&](const std::string& type) {
        for (auto& o : offered)
            if (o == type) return true;
        return false;
    };
    for (auto& type : text_types(b)) {
        if (!has(type)) continue;
        if (!run_tool(fetch_argv(b, type), nullptr, &out)) return logic::push(false);
        return push_text(type == "STRING" ? latin1_to_utf8(out) : out);
    }
    if (has(FILE_TYPE)) {
        if (!run_tool(fetch_argv(b, FILE_TYPE), nullptr, &out)) return logic::push(false);
        return push_files(paths_of_uri_list(out));
    }
    for (const char* type : IMAGE_TYPES) {
        if (!has(type)) continue;
        if (!run_tool(fetch_argv(b, type), nullptr, &out)) return logic::push(false);
        return push_image(out);
    }
    return &NONE_CELL;
}

bool write_with(Backend b, const Content& c) {
    std::string data;
    const char* type = nullptr;
    switch (c.kind) {
    case Content::EMPTY: break;
    case Content::TEXT: data = c.bytes; break;
    case Content::FILES: data = uri_list_of(c.files); type = FILE_TYPE; break;
    case Content::IMAGE: data = c.bytes; type = IMAGE_TYPES[0]; break;
    }
    switch (b) {
    case Backend::WAYLAND:
        if (c.kind == Content::EMPTY) return run_tool({"wl-copy", "--clear"}, nullptr, nullptr);
        return run_tool({"wl-copy", "--type", type ? type : "text/plain;charset=utf-8"}, &data, nullptr);
    case Backend::XCLIP: {
        // Emptying gives the clipboard an empty text: xclip has no way to
        // clear it.
        std::vector<std::string> argv = {"xclip", "-selection", "clipboard", "-i"};
        if (type) argv.insert(argv.end(), {"-t", type});
        return run_tool(argv, &data, nullptr);
    }
    case Backend::XSEL:
        if (c.kind == Content::EMPTY) return run_tool({"xsel", "--clipboard", "--clear"}, nullptr, nullptr);
        // xsel offers text only.
        if (type) return false;
        return run_tool({"xsel", "--clipboard", "--input"}, &data, nullptr);
    case Backend::OWN:
        break;
    }
    return false;
}

}  // namespace

const Cell* read() {
    Backend b = backend();
    if (b == Backend::OWN) return push_content(own_clipboard());
    return read_with(b);
}

bool write(const Cell* value) {
    Content c = prepare(value);
    Backend b = backend();
    if (b == Backend::OWN) {
        own_clipboard() = std::move(c);
        return true;
    }
    return write_with(b, c);
}

}  // namespace vyx::clipboard
