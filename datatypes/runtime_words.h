// The words the runtime refers to by identity, interned once at start-up:
// action words of ownership notifications, error categories, reflection
// fields, parse keywords, frame names. Each lives in a global so later code
// compares symbols or copies word cells without looking names up.
//
//   vyx::sym::NAME          symbol id
//   vyx::gword::NAME        position of the word in the global context
//   vyx::words::NAME        word! cell bound to the global context
//   vyx::refinements::NAME  refinement! cell
// Names follow the word: hyphens become underscores, a trailing ? becomes an
// is_ prefix, ! becomes _type, C++ keywords take a trailing underscore,
// <frame> names are frame_..., callback frame names ..._callback.
#pragma once
#include <cstdint>

#include "runtime/cell.h"

// X(c++ name, "word")
#define VYX_RUNTIME_SYMBOLS(X)                                                                     \
    X(spec, "spec") X(body, "body") X(words, "words") X(class_, "class") X(logic_type, "logic!")    \
    X(integer_type, "integer!") X(char_type, "char!") X(float_type, "float!")                     \
    X(percent_type, "percent!") X(any_type_type, "any-type!") X(exit, "exit") X(return_, "return") \
    X(windows, "Windows") X(syllable, "Syllable") X(mac_os, "macOS") X(linux_, "Linux")            \
    X(net_bsd, "NetBSD") X(repeat, "repeat") X(foreach, "foreach") X(map_each, "map-each")         \
    X(remove_each, "remove-each") X(any, "any") X(break_, "break") X(copy, "copy") X(end, "end")   \
    X(fail, "fail") X(into, "into") X(opt, "opt") X(not_, "not") X(quote, "quote")                 \
    X(case_, "case") X(reject, "reject") X(set, "set") X(skip, "skip") X(some, "some")             \
    X(thru, "thru") X(to, "to") X(none, "none") X(bar, "|") X(minus, "-") X(if_, "if")             \
    X(remove, "remove") X(while_, "while") X(insert, "insert") X(only, "only")                     \
    X(collect, "collect") X(keep, "keep") X(pick, "pick") X(ahead, "ahead") X(after, "after")      \
    X(x, "x") X(y, "y") X(z, "z") X(self, "self") X(values, "values") X(owner, "owner")            \
    X(owned, "owned") X(is_events, "events?") X(true_, "true") X(false_, "false") X(yes, "yes")    \
    X(no, "no") X(on, "on") X(off, "off") X(type, "type") X(face, "face") X(window, "window")      \
    X(offset, "offset") X(key, "key") X(flag, "flag") X(code, "code") X(picked, "picked")          \
    X(flags, "flags") X(is_away, "away?") X(is_ctrl, "ctrl?") X(is_shift, "shift?")                \
    X(is_down, "down?") X(is_mid_down, "mid-down?") X(is_alt_down, "alt-down?")                    \
    X(is_aux_down, "aux-down?") X(orientation, "orientation") X(get, "get") X(put, "put")          \
    X(post, "post") X(head, "head") X(size, "size") X(rgb, "rgb") X(alpha, "alpha")                \
    X(argb, "argb") X(date, "date") X(year, "year") X(month, "month") X(day, "day")                \
    X(zone, "zone") X(isoweek, "isoweek") X(week, "week") X(weekday, "weekday")                    \
    X(yearday, "yearday") X(julian, "julian") X(time, "time") X(hour, "hour")                      \
    X(minute, "minute") X(second, "second") X(timezone, "timezone") X(amount, "amount")            \
    X(user, "user") X(host, "host") X(system, "system") X(system_global, "system-global")          \
    X(stack, "stack") X(trace, "trace") X(no_trace, "no-trace")

#define VYX_RUNTIME_GLOBAL_ENTRIES(X)                                                              \
    X(windows, "Windows") X(syllable, "Syllable") X(mac_os, "macOS") X(linux_, "Linux")            \
    X(net_bsd, "NetBSD") X(to, "to") X(thru, "thru") X(not_, "not") X(remove, "remove")            \
    X(while_, "while") X(collect, "collect") X(keep, "keep") X(ahead, "ahead") X(bar, "|")         \
    X(any, "any") X(some, "some") X(copy, "copy") X(opt, "opt") X(into, "into")                    \
    X(insert, "insert") X(if_, "if") X(quote, "quote") X(set, "set") X(case_, "case") X(end, "end")

#define VYX_RUNTIME_WORDS(X)                                                                       \
    X(at, "at") X(back, "back") X(find, "find") X(head, "head") X(is_head, "head?")                \
    X(is_index, "index?") X(is_length, "length?") X(next, "next") X(pick, "pick") X(skip, "skip")  \
    X(select, "select") X(tail, "tail") X(is_tail, "tail?") X(change, "change")                    \
    X(changed, "changed") X(clear, "clear") X(cleared, "cleared") X(set_path, "set-path")          \
    X(append, "append") X(appended, "appended") X(move, "move") X(moved, "moved") X(poke, "poke")  \
    X(poked, "poked") X(put, "put") X(put_ed, "put-ed") X(removed, "removed") X(random, "random")  \
    X(randomized, "randomized") X(reverse, "reverse") X(reversed, "reversed") X(sort, "sort")      \
    X(sorted, "sorted") X(swap, "swap") X(swaped, "swaped") X(take, "take") X(taken, "taken")      \
    X(trim, "trim") X(trimmed, "trimmed") X(inserted, "inserted") X(uppercase, "uppercase")        \
    X(lowercase, "lowercase") X(checksum, "checksum")                                              \
    X(push, "push") X(pop, "pop") X(fetch, "fetch") X(match, "match") X(iterate, "iterate")        \
    X(paren, "paren")                                                                              \
    X(frame_anon, "<anon>") X(frame_body, "<body>") X(frame_not_found, "<not-found>")              \
    X(add, "add") X(subtract, "subtract") X(divide, "divide") X(on_parse_event, "on-parse-event")  \
    X(on_change, "on-change*") X(on_deep_change, "on-deep-change*") X(type, "type") X(id, "id")    \
    X(try_, "try") X(catch_, "catch") X(name, "name") X(multiply, "multiply") X(browse, "browse")  \
    X(open, "open") X(create, "create") X(close, "close") X(delete_, "delete")                     \
    X(modify, "modify") X(query, "query") X(read, "read") X(rename, "rename")                      \
    X(update, "update") X(write, "write")                                                          \
    X(prescan, "prescan") X(scan, "scan") X(load, "load") X(error, "error") X(comment, "comment")  \
    X(init, "init") X(exec, "exec") X(call, "call") X(return_, "return") X(enter, "enter")         \
    X(exit, "exit") X(prolog, "prolog") X(epilog, "epilog") X(throw_, "throw") X(expr, "expr")     \
    X(interp_callback, "<interp-callback>") X(lexer_callback, "<lexer-callback>")                  \
    X(parse_callback, "<parse-callback>") X(compare_callback, "<compare-callback>")                \
    X(note, "note") X(syntax, "syntax") X(script, "script") X(math, "math")                        \
    X(access, "access") X(user, "user") X(internal, "internal") X(invalid_error, "invalid-error")   \
    X(local, "local") X(frame_applied, "<applied>")

#define VYX_RUNTIME_REFINEMENTS(X) \
    X(local, "local") X(extern_, "extern") X(compare, "compare") X(part, "part") X(skip, "skip") X(with, "with")

namespace vyx {

#define VYX_DECLARE_INT(name, text) extern int32_t name;
#define VYX_DECLARE_CELL(name, text) extern Cell name;
namespace sym {
VYX_RUNTIME_SYMBOLS(VYX_DECLARE_INT)
// The symbol of the word `changed`.
extern int32_t changed;
}  // namespace sym
namespace gword { VYX_RUNTIME_GLOBAL_ENTRIES(VYX_DECLARE_INT) }
namespace words { VYX_RUNTIME_WORDS(VYX_DECLARE_CELL) }
namespace refinements { VYX_RUNTIME_REFINEMENTS(VYX_DECLARE_CELL) }
#undef VYX_DECLARE_INT
#undef VYX_DECLARE_CELL

// Interns every type name (with "!") as a word and records its symbol in the
// type name table. Runs once the symbol table and the global context exist.
void set_type_words();
// The runtime's own words, then the refinements; in this order, after set_type_words.
void init_runtime_words();
void init_refinement_words();

}  // namespace vyx
