// file!: a url! that names a file or directory by its POSIX path (UTF-8, "/"
// separated). Its I/O actions reach the file system through simple-io.
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/types.h"
#include "datatypes/url.h"
#include "runtime/stack.h"
#include "io/file_io.h"
#include "runtime/raise.h"

namespace vyx::file {

namespace {

// "%" and the path, between double quotes when a character before the end
// (or the part limit) is ASCII outside the URL set. Nothing is escaped.
int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) {
    Cell s = *value;
    uint32_t len = series::rs_length(&s);
    int left = string::concatenate_literal(buffer, "%", part);
    if (len == 0) return string::concatenate_literal(buffer, "\"\"", left);
    uint32_t scan = part < NO_LIMIT && uint32_t(std::max(part, 0)) < len ? uint32_t(std::max(part, 0)) : len;
    bool quoted = false;
    for (uint32_t i = 0; i < scan && !quoted; i++) {
        uint32_t c = string::char_at(&s, s.data1 + i);
        quoted = c < 127 && !url::keeps(url::CharSet::url, uint8_t(c));
    }
    if (quoted) left = string::concatenate_literal(buffer, "\"", left);
    string::concatenate(buffer, &s, left < 0 ? 0 : std::min<int>(left, int(len)), 0, true, false);
    left -= int(len);
    if (quoted) left = string::concatenate_literal(buffer, "\"", left);
    return left;
}

const Cell* read(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool, Cell* as) {
    if (as) raise_error(err::internal_not_done);
    return simple_io::read(source, part, seek, binary, lines);
}

const Cell* write(Cell* destination, Cell* data, bool binary, bool lines, bool, bool append, Cell* part, Cell* seek,
                  Cell* allow, Cell* as) {
    if (allow || as) raise_error(err::internal_not_done);
    simple_io::write(destination, data, part, seek, binary, append, lines);
    return &UNSET_CELL;
}

const Cell* remove(Cell* file) { return logic::push(simple_io::remove(file)); }

const Cell* query(Cell* file) {
    Cell* out = stack::push_slot();
    *out = NONE_CELL;
    simple_io::query(file, out);
    return out;
}

const Cell* rename(Cell* from, Cell* to) {
    if (!is_any_string(type_of(to))) raise_error(err::script_invalid_arg, to);
    return logic::push(simple_io::rename(from, to));
}

}  // namespace

void register_type() {
    Registration r(TYPE_FILE, TYPE_URL, "file!");
    for (int a = 1; a <= ACTION_COUNT; a++) r.inherit(a);
    r.on<A_MOLD>(mold)
        .on<A_READ>(read)
        .on<A_WRITE>(write)
        .on<A_DELETE>(remove)
        .on<A_QUERY>(query)
        .on<A_RENAME>(rename)
        .commit();
}

}  // namespace vyx::file
