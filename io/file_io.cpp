#include "io/file_io.h"

#include <ctime>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "evaluator/helpers.h"
#include "runtime/stack.h"
#include "runtime/console_output.h"
#include "runtime/platform/files.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::simple_io {

namespace {

// The most bytes a read may bring into one series.
constexpr uint64_t MAX_READ_BYTES = 0x7FFF0000;

[[noreturn]] void cannot_open(const Cell* file) {
    Cell f = *file;
    raise_error(err::access_cannot_open, &f);
}

// A /part or /seek argument: an integer!, or invalid-refine-arg.
int64_t refinement_integer(const Cell* value, const char* name) {
    if (!value) return -1;
    if (type_of(value) != TYPE_INTEGER) {
        Cell word = series::named_word(name);
        Cell v = *value;
        raise_error(err::script_invalid_refine_arg, &word, &v);
    }
    return int32_t(value->data2);
}

// The bytes one value writes: a string!'s UTF-8 text (at most `part`
// characters when part >= 0), a binary!'s bytes (at most `part`), any other
// value molded.
void emit_value(const Cell* value, int64_t part, std::vector<uint8_t>& out) {
    int32_t limit = part < 0 ? -1 : int32_t(std::min<int64_t>(part, INT32_MAX));
    switch (type_of(value)) {
    case TYPE_STRING:
        binary::text_utf8(value, limit, out);
        return;
    case TYPE_BINARY: {
        Cell b = *value;
        uint32_t n = binary::rs_length(&b);
        if (limit >= 0 && uint32_t(limit) < n) n = uint32_t(limit);
        const uint8_t* p = binary::rs_head(&b);
        out.insert(out.end(), p, p + n);
        return;
    }
    default: {
        Cell v = *value;
        Cell* scratch = string::push(16);
        block::mold_cell(&v, scratch, false, false, false, NO_LIMIT, 0);
        binary::text_utf8(scratch, limit, out);
        stack::top--;
        return;
    }
    }
}

// A regular file of known size read as a binary! straight into the new
// series; null for a file whose size is not known (the caller reads it in
// pieces), none! when the read fails.
const Cell* read_binary_known(int fd, int64_t part, int64_t seek) {
    int64_t size = platform::file_size(fd);
    if (size <= 0) return nullptr;
    int64_t from = std::max<int64_t>(seek, 0);
    int64_t n = std::max<int64_t>(size - from, 0);
    if (part >= 0) n = std::min(n, part);
    if (uint64_t(n) > MAX_READ_BYTES) raise_error(err::script_too_long);
    if (from > 0 && n > 0 && !platform::seek_to(fd, from)) return &NONE_CELL;
    Cell* bin = binary::push(uint32_t(n));
    // Nothing allocates while the system fills the series.
    int64_t got = n > 0 ? platform::read_up_to(fd, binary::rs_head(bin), size_t(n)) : 0;
    if (got < 0) return &NONE_CELL;
    SeriesBuffer* b = node_buffer(bin->data2);
    b->tail = b->offset + uint32_t(got);
    if (got == n && n > 0 && (part < 0 || part > n)) {
        // The file grew while it was read: the rest comes in pieces.
        platform::Bytes more;
        platform::ReadStatus st = platform::read_from(fd, 0, part < 0 ? -1 : part - n, MAX_READ_BYTES - uint64_t(n), more);
        if (st == platform::ReadStatus::failed) return &NONE_CELL;
        if (st == platform::ReadStatus::too_long) raise_error(err::script_too_long);
        if (more.size()) binary::rs_append(bin, more.data(), uint32_t(more.size()));
    }
    return bin;
}

}  // namespace

Cell* push_text(uint8_t* bytes, size_t n) {
    size_t w = 0;
    for (size_t r = 0; r < n; r++) {
        if (bytes[r] == '\r' && r + 1 < n && bytes[r + 1] == '\n') continue;
        bytes[w++] = bytes[r];
    }
    Cell* slot = stack::push_slot();
    *slot = Cell{TYPE_UNSET, 0, 0, 0};
    if (w == 0) return string::rs_make_at(slot, 1);
    Node node = unicode::load_utf8_string(bytes, uint32_t(w), 0, nullptr, false);
    *slot = Cell{TYPE_STRING, 0, node, 0};
    return slot;
}

Cell* lines_to_block(const uint8_t* bytes, size_t n) {
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, 16);
    size_t start = 0;
    for (size_t i = 0; i <= n; i++) {
        if (i < n && bytes[i] != '\n') continue;
        if (i == n && start == n) break;
        size_t end = i;
        if (i < n && end > start && bytes[end - 1] == '\r') end--;
        string::load_in(bytes + start, uint32_t(end - start), 0, block);
        start = i + 1;
    }
    return block;
}

std::string text_of(const Cell* value) {
    if (is_any_string(type_of(value))) return string::to_utf8(value);
    Cell v = *value;
    Cell* scratch = string::push(16);
    block::form_cell(&v, scratch, NO_LIMIT);
    std::string out = string::to_utf8(scratch);
    stack::top--;
    return out;
}

bool os_path(const Cell* file, std::string& out) {
    out = string::to_utf8(file);
    return out.find('\0') == std::string::npos;
}

bool is_dir_path(const Cell* file) {
    std::string p = string::to_utf8(file);
    if (p.empty()) return false;
    if (p.back() == '/') return true;
    if (p == "." || p == "..") return true;
    size_t n = p.size();
    if (n >= 2 && p.compare(n - 2, 2, "/.") == 0) return true;
    return n >= 3 && p.compare(n - 3, 3, "/..") == 0;
}

const Cell* read(Cell* file, Cell* part_cell, Cell* seek_cell, bool binary, bool lines) {
    int64_t part = refinement_integer(part_cell, "part");
    int64_t seek = refinement_integer(seek_cell, "seek");
    if (is_dir_path(file)) return read_dir(file);
    std::string path;
    if (!os_path(file, path)) cannot_open(file);
    int fd = platform::open_file(path.c_str(), platform::OPEN_READ);
    if (fd < 0) cannot_open(file);
    if (binary) {
        const Cell* bin = read_binary_known(fd, part < 0 && part_cell ? 0 : part, seek);
        if (bin) {
            platform::close_file(fd);
            if (type_of(bin) == TYPE_NONE) cannot_open(file);
            return bin;
        }
    }
    platform::Bytes bytes;
    // A negative part reads nothing, like a part of 0.
    platform::ReadStatus st = platform::read_from(fd, seek, part < 0 && part_cell ? 0 : part, MAX_READ_BYTES, bytes);
    platform::close_file(fd);
    if (st == platform::ReadStatus::failed) cannot_open(file);
    if (st == platform::ReadStatus::too_long) raise_error(err::script_too_long);
    if (binary) return binary::load(bytes.data(), uint32_t(bytes.size()));
    if (lines) return lines_to_block(bytes.data(), bytes.size());
    return push_text(bytes.data(), bytes.size());
}

void read_bytes(const Cell* file, std::vector<uint8_t>& out) {
    std::string path;
    if (!os_path(file, path)) cannot_open(file);
    int fd = platform::open_file(path.c_str(), platform::OPEN_READ);
    if (fd < 0) cannot_open(file);
    platform::Bytes bytes;
    platform::ReadStatus st = platform::read_from(fd, 0, -1, MAX_READ_BYTES, bytes);
    platform::close_file(fd);
    if (st == platform::ReadStatus::failed) cannot_open(file);
    if (st == platform::ReadStatus::too_long) raise_error(err::script_too_long);
    out.assign(bytes.data(), bytes.data() + bytes.size());
}

void write(Cell* file, Cell* value, Cell* part_cell, Cell* seek_cell, bool binary, bool append, bool lines) {
    int64_t part = refinement_integer(part_cell, "part");
    int64_t seek = refinement_integer(seek_cell, "seek");
    if (part_cell && part < 0) return;
    // Text goes out as its UTF-8 bytes, with LF line ends, binary or not.
    (void)binary;
    std::vector<uint8_t> bytes;
    if (lines && type_of(value) == TYPE_BLOCK) {
        Cell block = *value;
        uint32_t n = series::rs_length(&block);
        for (uint32_t i = 0; i < n; i++) {
            Cell item = *reinterpret_cast<Cell*>(series::element_at(series::buffer_of(&block), block.data1 + i));
            emit_value(&item, -1, bytes);
            bytes.push_back('\n');
        }
    } else {
        emit_value(value, part, bytes);
        if (lines) bytes.push_back('\n');
    }
    if (!file) {
        flush_output();
        write_all(output_fd(), bytes.data(), bytes.size());
        return;
    }
    std::string path;
    if (!os_path(file, path)) cannot_open(file);
    int mode = platform::OPEN_WRITE | (append ? platform::OPEN_APPEND : 0) | (seek >= 0 ? platform::OPEN_SEEK : 0);
    int fd = platform::open_file(path.c_str(), mode);
    if (fd < 0) cannot_open(file);
    bool ok = (seek <= 0 || append || platform::seek_to(fd, seek)) && platform::write_fully(fd, bytes.data(), bytes.size());
    platform::close_file(fd);
    if (!ok) cannot_open(file);
}

const Cell* read_dir(Cell* dir) {
    std::string path;
    std::vector<platform::DirEntry> entries;
    if (!os_path(dir, path) || !platform::list_dir(path.c_str(), entries)) cannot_open(dir);
    Cell* block = stack::push_slot();
    *block = Cell{TYPE_UNSET, 0, 0, 0};
    blk::make_at(block, uint32_t(entries.size()));
    for (auto& e : entries) {
        std::string name = unicode::repair_utf8(reinterpret_cast<const uint8_t*>(e.name.data()), e.name.size());
        if (e.directory) name += '/';
        Cell* f = string::load_in(reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()), 0, block);
        set_cell_type(f, TYPE_FILE);
    }
    return block;
}

bool remove(const Cell* file) {
    std::string path;
    if (!os_path(file, path)) return false;
    return is_dir_path(file) ? platform::remove_dir(path.c_str()) : platform::remove_file(path.c_str());
}

bool rename(const Cell* from, const Cell* to) {
    std::string a, b;
    if (!os_path(from, a) || !os_path(to, b)) return false;
    return platform::rename_no_replace(a.c_str(), b.c_str());
}

bool make_dir(const Cell* dir) {
    std::string path;
    return os_path(dir, path) && platform::make_dir(path.c_str());
}

bool exists(const Cell* file) {
    std::string path;
    return os_path(file, path) && platform::path_exists(path.c_str());
}

bool query(const Cell* file, Cell* out) {
    std::string path;
    int64_t seconds;
    int32_t millis;
    if (!os_path(file, path) || !platform::modified_time(path.c_str(), seconds, millis)) return false;
    // A file named with a trailing "/" is no directory: the system refuses it above.
    time_t t = time_t(seconds);
    tm u{};
    if (!::gmtime_r(&t, &u)) return false;
    date::make_from_clock(out, u.tm_year + 1900, u.tm_mon + 1, u.tm_mday, u.tm_hour, u.tm_min, u.tm_sec,
                          millis * 1000000);
    return true;
}

int64_t size(const Cell* file) {
    std::string path;
    if (is_dir_path(file) || !os_path(file, path)) return -1;
    return platform::path_size(path.c_str());
}

}  // namespace vyx::simple_io
