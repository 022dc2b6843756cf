// The series iteration natives: foreach, forall and remove-each.
//
// The body may do anything to the series it walks: shrink, clear or grow it,
// and a collection may move its buffer. So nothing is kept across a round but
// the position, in a cell of the native's own call on the value stack (the
// collector sees it there; stack cells never move): every step reads the
// series afresh and compares the position with the current tail.
//
// The loops make no local context: their words are set where they are bound
// and keep their last values afterwards.
#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/image.h"
#include "datatypes/map.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/simple.h"
#include "datatypes/word.h"
#include "evaluator/actions.h"
#include "evaluator/helpers.h"
#include "evaluator/interpreter.h"
#include "evaluator/native_table.h"
#include "evaluator/natives.h"
#include "runtime/stack.h"
#include "runtime/raise.h"

namespace vyx::natives {

namespace {

using stack::thrown;

const Cell UNSET{TYPE_UNSET, 0, 0, 0};

bool is_word_kind(int t) {
    return t == TYPE_WORD || t == TYPE_SET_WORD || t == TYPE_LIT_WORD || t == TYPE_GET_WORD;
}

bool is_walkable(int t) {
    return series::is_block_like(t) || series::is_string_like(t) || t == TYPE_BINARY || t == TYPE_IMAGE ||
           t == TYPE_VECTOR;
}

// Whether the position lies before the series' current tail (an image's is
// its pixel count).
bool in_range(const Cell* pos) {
    if (type_of(pos) == TYPE_IMAGE) return pos->data1 < image::pixel_count(pos);
    return pos->data1 < series::length_from_head(pos);
}

// The element at `offset` from the position, none past the tail: the cell of
// a block, a char! of a string, an integer! of a binary!, a vector's number.
Cell element(const Cell* pos, uint32_t offset) {
    Cell s = *pos;
    if (series::is_block_like(type_of(&s))) {
        uint32_t k = s.data1 + offset;
        return k < blk::size(s.data2) ? *blk::at(s.data2, k) : NONE_CELL;
    }
    auto pick = reinterpret_cast<act::Pick>(actions::get_action(type_of(&s), &s, A_PICK));
    return *pick(&s, int(offset) + 1, nullptr);
}

void set_word(const Cell* word, const Cell* value) {
    Cell w = *word;  // an unbound word must not be written back into a block
    Cell v = *value;
    context::set(&w, &v);
}

// The group size of the word argument: 1 for a word, else the length of the
// words block (none of which may be other than a word kind).
uint32_t group_size(const Cell* words, const Cell* series) {
    if (type_of(words) == TYPE_WORD) {
        if (type_of(series) == TYPE_MAP) raise_error(err::script_invalid_arg, words);
        return 1;
    }
    uint32_t n = blk::length(words);
    if (n == 0) raise_error(err::script_invalid_arg, words);
    for (uint32_t i = 0; i < n; i++) {
        Cell w = *blk::at(words->data2, words->data1 + i);
        if (!is_word_kind(type_of(&w))) raise_error(err::script_invalid_arg, &w);
    }
    if (type_of(series) == TYPE_MAP && n != 2) raise_error(err::script_invalid_arg, words);
    return n;
}

// A block of words is walked with a copy of each word in a cell of the call
// (`held`, n cells pushed before the loop's frame), so that each copy keeps
// the index of its value cell from round to round, as a single word does.
// The body may change the block: before each round every copy is checked
// against the word the block holds at its place and made again when it
// differs. Answers whether the block still holds exactly the n words.
bool hold_words(const Cell* words, Cell* held, uint32_t n) {
    SeriesBuffer* b = node_buffer(words->data2);
    uint32_t size = b->length();
    if (words->data1 > size || size - words->data1 != n) return false;
    const Cell* w = b->read_cells() + words->data1;
    for (uint32_t i = 0; i < n; i++)
        if (((w[i].header ^ held[i].header) & TYPE_MASK) || w[i].data1 != held[i].data1 ||
            w[i].data2 != held[i].data2)
            held[i] = w[i];
    return true;
}

// The n cells of held words, pushed (none for a single word: the call's
// own cell is its copy).
Cell* push_held(const Cell* words, uint32_t n) {
    Cell* held = stack::top;
    if (type_of(words) == TYPE_WORD) return held;
    for (uint32_t i = 0; i < n; i++) stack::push(&UNSET);
    return held;
}

// One step: when the position is in range, sets the word (the call's cell),
// or the n words of the block (through their held copies), from it and
// advances the position by n. Answers whether the body is to run.
bool step(Cell* words, Cell* pos, uint32_t n, Cell* held) {
    if (!in_range(pos)) return false;
    if (type_of(words) == TYPE_WORD) {
        // The word is the call's own cell: it keeps the index of the value
        // cell the first round finds.
        Cell v = element(pos, 0);
        pos->data1++;
        context::set_again(words, &v);
        return true;
    }
    bool held_good = hold_words(words, held, n);
    if (type_of(pos) == TYPE_MAP) {
        bool any = map::copy_pairs(words, pos, n, held_good ? held : nullptr);
        pos->data1 += n;
        return any;
    }
    if (series::is_block_like(type_of(pos))) {
        set_words_from_series(words, pos, false, false, false, held_good ? held : nullptr);
    } else if (type_of(pos) == TYPE_IMAGE) {
        image::assign_words(words, pos, n);
    } else {
        // The body may have shortened the words block too.
        for (uint32_t i = 0; i < n && words->data1 + i < blk::size(words->data2); i++) {
            Cell v = element(pos, i);
            Cell w = *blk::at(words->data2, words->data1 + i);
            if (!is_word_kind(type_of(&w))) raise_error(err::script_invalid_arg, &w);
            set_word(&w, &v);
        }
    }
    pos->data1 += n;
    return true;
}

// Runs the body once in the loop frame and tells what the loop does next; a
// break or continue is cleared, any other exit passed on.
enum Round { ROUND_ON, ROUND_CONTINUE, ROUND_BREAK, ROUND_PASS };
Round run_body(const Cell* body) {
    stack::top = stack::arguments;
    interp::eval_whole_block(body, false);
    if (!thrown) return ROUND_ON;
    if (thrown == stack::EXIT_CONTINUE) {
        thrown = stack::EXIT_NONE;
        return ROUND_CONTINUE;
    }
    if (thrown == stack::EXIT_BREAK) {
        thrown = stack::EXIT_NONE;
        return ROUND_BREAK;
    }
    return ROUND_PASS;
}

}  // namespace

// foreach 'word series body. The series argument cell is the position.
VYX_NATIVE(foreach_, 11, "foreach",
           R"~("evaluates a body for each value (or group of values) of a series or map" 'word [word! block!] series [series! map!] body [block!])~");
void foreach_(int check, const int* refs) {
    if (check) native_foreach_.check(refs);
    Cell* call = stack::arguments;
    uint32_t n = group_size(&call[0], &call[1]);
    int t = type_of(&call[1]);
    if (!is_walkable(t) && t != TYPE_MAP) raise_error(err::internal_not_done);
    stack::top = call + 3;
    Cell* held = push_held(&call[0], n);
    stack::push_loop_frame(&words::frame_body);
    stack::store_result_only(&UNSET);
    for (;;) {
        if (!step(&call[0], &call[1], n, held)) break;
        Round r = run_body(&call[2]);
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
    }
    stack::pop_frame_pass_result();
}

// forall 'word body. Cell 2 keeps the word's series as it was before the loop;
// the word is set through the call's own cell, which keeps its index.
VYX_NATIVE(forall_, 12, "forall",
           R"~("evaluates a body for each position of a series held by a word" 'word [word!] body [block!])~");
void forall_(int check, const int* refs) {
    if (check) native_forall_.check(refs);
    Cell* call = stack::arguments;
    Cell start = *context::get(&call[0]);
    if (!is_walkable(type_of(&start))) helpers::raise_expect_arg(0, type_of(&start));
    stack::top = call + 2;
    stack::push(&start);
    stack::push_loop_frame(&words::frame_body);
    stack::store_result_only(&UNSET);
    for (;;) {
        Cell pos = *context::get(&call[0]);
        if (!is_walkable(type_of(&pos)) || !in_range(&pos)) break;
        Round r = run_body(&call[1]);
        if (r == ROUND_PASS) return;
        // After a break the word stays where the body left it.
        if (r == ROUND_BREAK) {
            stack::pop_frame_pass_result();
            return;
        }
        pos = *context::get(&call[0]);
        if (type_of(&pos) != type_of(&call[2]) || pos.data2 != call[2].data2)
            raise_error(err::script_bad_loop_series, &pos);
        pos.data1++;
        context::set_again(&call[0], &pos);
        if (!in_range(&pos)) break;
    }
    context::set(&call[0], &call[2]);
    stack::pop_frame_pass_result();
}

// remove-each 'word data body. The data argument cell is the position; cell 3
// keeps the series at its starting index for the result. A group is removed
// right after its body answers true, so whenever the body runs, and when it
// raises or breaks, the series holds exactly the groups kept so far and those
// not yet judged.
VYX_NATIVE(remove_each, 13, "remove-each",
           R"~("removes the values (or groups) of a series for which a body yields a truthy value" 'word [word! block!] data [series!] body [block!])~");
void remove_each(int check, const int* refs) {
    if (check) native_remove_each.check(refs);
    Cell* call = stack::arguments;
    uint32_t n = group_size(&call[0], &call[1]);
    if (!is_walkable(type_of(&call[1])) || type_of(&call[1]) == TYPE_IMAGE) raise_error(err::internal_not_done);
    stack::top = call + 3;
    stack::push(&call[1]);
    Cell* held = push_held(&call[0], n);
    stack::push_loop_frame(&words::frame_body);
    for (;;) {
        if (!step(&call[0], &call[1], n, held)) break;
        Round r = run_body(&call[2]);
        if (r == ROUND_PASS) return;
        if (r == ROUND_BREAK) break;
        if (r == ROUND_CONTINUE || !logic::truth(stack::arguments)) continue;
        Cell* pos = &call[1];
        pos->data1 = pos->data1 >= n ? pos->data1 - n : 0;
        Cell part{TYPE_INTEGER, 0, n, 0};
        auto remove = reinterpret_cast<act::Remove>(actions::get_action(type_of(pos), pos, A_REMOVE));
        Cell s = *pos;
        remove(&s, n == 1 ? nullptr : &part, nullptr);
    }
    stack::store_result_only(&call[3]);
    stack::pop_frame_pass_result();
}

}  // namespace vyx::natives
