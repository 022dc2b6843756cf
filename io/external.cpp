#include "io/external.h"

#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/string.h"
#include "runtime/console_output.h"
#include "runtime/platform/process.h"
#include "runtime/unicode.h"

namespace vyx::external {

namespace {

// The bytes a redirection value stands for, or its path for a file!.
void prepare_input(const Cell* value, platform::Stream& s, std::vector<uint8_t>& keep) {
    switch (type_of(value)) {
    case TYPE_FILE:
        s.kind = platform::Stream::FILE_PATH;
        s.path = string::to_utf8(value);
        return;
    case TYPE_BINARY: {
        Cell b = *value;
        const uint8_t* p = binary::rs_head(&b);
        keep.assign(p, p + binary::rs_length(&b));
        break;
    }
    default:
        binary::text_utf8(value, -1, keep);
        break;
    }
    s.kind = platform::Stream::DATA;
    s.data = keep.data();
    s.size = keep.size();
}

void prepare_output(const Cell* value, bool console, platform::Stream& s) {
    if (!value) {
        s.kind = console ? platform::Stream::PARENT : platform::Stream::NUL;
    } else if (type_of(value) == TYPE_FILE) {
        s.kind = platform::Stream::FILE_PATH;
        s.path = string::to_utf8(value);
    } else {
        s.kind = platform::Stream::CAPTURE;
    }
}

void append_output(const Cell* target, platform::Bytes& bytes) {
    if (!target || bytes.size() == 0 || type_of(target) == TYPE_FILE) return;
    Cell t = *target;
    if (type_of(&t) == TYPE_BINARY) {
        binary::rs_insert(&t, 0, bytes.data(), uint32_t(bytes.size()));
        return;
    }
    std::string text = unicode::repair_utf8(bytes.data(), bytes.size());
    unicode::load_utf8_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), t.data2, nullptr,
                              true);
}

}  // namespace

int64_t call_run(const Cell* command, bool wait, bool console, bool shell, const Cell* in, const Cell* out,
                 const Cell* err) {
    std::string cmd = string::to_utf8(command);
    if (cmd.empty()) return 0;
    if (cmd.find('\0') != std::string::npos) return -1;
    platform::SpawnRequest r;
    std::vector<uint8_t> input;
    if (in) prepare_input(in, r.in, input);
    else r.in.kind = platform::Stream::PARENT;
    prepare_output(out, console, r.out);
    prepare_output(err, console, r.err);
    r.wait = wait || console || in || out || err;
    r.argv = shell ? std::vector<std::string>{"/bin/sh", "-c", cmd} : platform::split_command(cmd);
    // Whatever we have written so far comes before the child's output.
    flush_output();
    bool not_found = r.argv.empty();
    int64_t result = not_found ? -1 : platform::spawn(r, not_found);
    if (not_found && !shell) {
        // Not a program: the shell may know it (a built-in, a function, a path with blanks).
        r.argv = {"/bin/sh", "-c", cmd};
        result = platform::spawn(r, not_found);
    }
    append_output(out, r.out.captured);
    append_output(err, r.err.captured);
    return result;
}

void browse(const Cell* target) {
    std::string text = string::to_utf8(target);
    if (text.find('\0') != std::string::npos) return;
    flush_output();
    platform::spawn_detached({"xdg-open", text});
}

}  // namespace vyx::external
