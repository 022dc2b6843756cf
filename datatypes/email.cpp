// email!: a mail address, the user part and the host part joined by "@". A
// string in storage and in its series actions (no arithmetic, sort, trim or
// port action); it molds as its bare text, and the paths `user` and `host`
// get or replace the two halves.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/types.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::email {

namespace {

int mold(Cell* value, Cell* buffer, bool, bool, bool, int part, int) { return string::form(value, buffer, part); }

// A value's text, as the replacement of a half: strings as they are, any
// other value formed into a new string on the stack.
Cell text_of(Cell* value) {
    if (is_any_string(type_of(value))) return *value;
    Cell* text = string::push(16);
    Cell v = *value;
    block::form_cell(&v, text, NO_LIMIT);
    return *text;
}

const Cell* eval_path(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_) {
    int t = type_of(element);
    if (t == TYPE_INTEGER) {
        auto by_index = reinterpret_cast<act::EvalPath>(get_handler(TYPE_STRING, A_EVAL_PATH));
        return by_index(parent, element, value, path, case_);
    }
    int32_t s = t == TYPE_WORD ? symbol::resolve(word::symbol_of(element)) : 0;
    bool user = s == symbol::resolve(sym::user), host = s == symbol::resolve(sym::host);
    if (!user && !host) {
        Cell p = path ? *path : NONE_CELL, e = *element;
        raise_error(err::script_invalid_path, &p, &e);
    }
    Cell address = *parent;
    uint32_t head = address.data1 = std::min(address.data1, series::length_from_head(&address));
    uint32_t length = series::rs_length(&address);
    int32_t at = string::position_at(&address, '@');
    uint32_t p = at < 0 ? length : uint32_t(at);
    if (!value) {
        // user: the characters before the "@"; host: those after it.
        uint32_t from = user ? head : head + std::min(p + 1, length);
        uint32_t count = user ? p : length - std::min(p + 1, length);
        Cell* result = stack::push_slot();
        result->header = TYPE_UNSET;
        series::copy_range(&address, from, count, result);
        set_cell_type(result, TYPE_STRING);
        clear_new_line_flag(result);
        return result;
    }
    Cell* kept = stack::push(value);
    Cell text = text_of(kept);
    if (user) {
        string::remove_part(&address, head, p);
        string::concatenate(&address, &text, -1, head, true, true);
    } else {
        if (at < 0) {
            string::append_char(series::buffer_of(&address), '@');
        } else {
            string::remove_part(&address, head + p + 1, length - p - 1);
        }
        string::concatenate(&address, &text, -1, 0, true, false);
    }
    return kept;
}

}  // namespace

void register_type() {
    Registration(TYPE_EMAIL, TYPE_STRING, "email!")
        .on<A_MOLD>(mold)
        .on<A_EVAL_PATH>(eval_path)
        .inherit({A_MAKE, A_REFLECT, A_TO, A_FORM, A_COMPARE, A_APPEND, A_PUT, A_AT, A_BACK, A_CHANGE, A_CLEAR,
                  A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT, A_PICK, A_POKE,
                  A_REMOVE, A_REVERSE, A_SELECT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q, A_TAKE, A_MODIFY})
        .commit();
}

}  // namespace vyx::email
