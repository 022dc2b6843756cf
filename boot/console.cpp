// The console loop of the executable: reads lines, keeps input pending while a
// bracket or string is open, evaluates complete input and prints the result
// ("== " and the value molded) or the error report.
#include "boot/console.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "boot/print_line.h"
#include "boot/top_level.h"
#include "datatypes/block.h"
#include "datatypes/error.h"
#include "datatypes/pair.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/console_output.h"
#include "runtime/platform/platform.h"
#include "runtime/raise.h"
#include "runtime/unicode.h"

namespace vyx::console {

namespace {

constexpr int COLUMNS = 80;
const char* const PROMPT = ">> ";

// --------------------------------------------------------------- delimiters

char delimiter_of(const Cell& type) {
    if (type_of(&type) != TYPE_DATATYPE) return 0;
    switch (type.data1) {
    case TYPE_BLOCK: return '[';
    case TYPE_PAREN: case TYPE_MAP: case TYPE_POINT2D: return '(';
    case TYPE_STRING: return '{';
    case TYPE_PATH: case TYPE_LIT_PATH: case TYPE_GET_PATH: case TYPE_SET_PATH: return '/';
    default: return 0;
    }
}

enum class Outcome { Done, Unfinished, Stop };

struct DelimiterScan {
    std::vector<char> delimiters;
    Outcome outcome = Outcome::Done;
    const std::u32string* text;
};

size_t count_run(const std::u32string& s, size_t from, char32_t c, bool reverse) {
    size_t n = 0;
    if (reverse) {
        for (size_t i = from; i-- > 0 && s[i] == c;) n++;
    } else {
        for (size_t i = from; i < s.size() && s[i] == c; i++) n++;
    }
    return n;
}

// The lexer's trace callback: tracks what is open, and decides on an error
// whether the input is merely unfinished.
bool delimiter_lex(void* context, lexer::TraceCall& call) {
    auto& d = *static_cast<DelimiterScan*>(context);
    char c = delimiter_of(call.type);
    int type = type_of(&call.type) == TYPE_DATATYPE ? int(call.type.data1) : 0;
    char last = d.delimiters.empty() ? 0 : d.delimiters.back();
    switch (call.event) {
    case lexer::EV_OPEN:
        d.delimiters.push_back(c);
        return true;
    case lexer::EV_CLOSE:
        if (c != last) {
            d.outcome = Outcome::Stop;
            return false;
        }
        d.delimiters.pop_back();
        return true;
    case lexer::EV_ERROR: {
        const std::u32string& text = *d.text;
        size_t at = call.input ? call.input->data1 : text.size();
        if (at > text.size()) at = text.size();
        if (type == TYPE_ERROR) {
            d.outcome = Outcome::Stop;
        } else if ((type == TYPE_BLOCK || type == TYPE_PAREN || type == TYPE_MAP || type == TYPE_POINT2D) &&
                   c == last && at >= text.size()) {
            // Open at the end of the input; a closer of the wrong kind stops.
            d.outcome = Outcome::Unfinished;
        } else if (type == TYPE_PAREN && d.delimiters.size() >= 2 &&
                   d.delimiters[d.delimiters.size() - 2] == '/') {
            d.delimiters.erase(d.delimiters.end() - 2);
            d.outcome = Outcome::Unfinished;
        } else if (type == TYPE_TAG) {
            d.delimiters.push_back('<');
            d.outcome = Outcome::Unfinished;
        } else if (type == TYPE_BINARY) {
            size_t end = text.size();
            if (end && text[end - 1] == '\n') end--;
            if (end == 0 || text[end - 1] != '}') {
                d.delimiters.push_back('{');
                d.outcome = Outcome::Unfinished;
            } else {
                d.outcome = Outcome::Stop;
            }
        } else if (type == TYPE_STRING) {
            int32_t start = pair::x(&call.token) - 1;
            if (start >= 0 && size_t(start) < text.size() && text[size_t(start)] == '%') {
                size_t end = text.size();
                if (end && text[end - 1] == '\n') end--;
                if (count_run(text, 0, '%', false) > count_run(text, end, '%', true)) {
                    d.delimiters.push_back('{');
                    d.outcome = Outcome::Unfinished;
                } else {
                    d.outcome = Outcome::Stop;
                }
            } else {
                d.outcome = c == last ? Outcome::Unfinished : Outcome::Stop;
            }
        } else {
            d.outcome = Outcome::Stop;
        }
        return false;
    }
    default:
        return true;
    }
}

std::u32string decode(const std::string& utf8) {
    std::u32string out;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(utf8.data());
    const uint8_t* end = p + utf8.size();
    while (p < end) {
        int32_t cp = 0;
        const uint8_t* next = unicode::fast_decode_utf8_char(p, end, cp);
        if (!next || next <= p) {
            cp = *p;
            next = p + 1;
        }
        out.push_back(char32_t(cp));
        p = next;
    }
    return out;
}

// Runs the lexer over the pending text; answers whether the scan went through
// (complete or merely unfinished), and leaves what is still open.
bool check_delimiters(const std::string& buffer, std::vector<char>& delimiters) {
    std::u32string text = decode(buffer);
    DelimiterScan d;
    d.text = &text;
    lexer::Tracer tracer{delimiter_lex, &d, lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_ERROR};
    Cell* input = stack::push_slot();
    input->header = TYPE_UNSET;
    protect::Guard guard;
    if (!guard.run([&] {
            // Text that is not UTF-8 stops the scan here; loading it reports the error.
            string::load(reinterpret_cast<const uint8_t*>(buffer.data()), uint32_t(buffer.size()), 0, input);
            lexer::scan_string_value(nullptr, input, -1, false, true, false, false, nullptr, &tracer, nullptr);
        }))
        d.outcome = Outcome::Stop;
    stack::top = input;
    delimiters = d.delimiters;
    return d.outcome != Outcome::Stop;
}

// Scans the pending input after `line` (already at the end of `buffer`) was
// added. While only blocks are open, the text before the line is whole values
// and open brackets, so the line scanned after as many bare openers leaves
// what the whole text would; anything else (the line closes the last block,
// a string or another kind stays open, an error) takes the full scan. A long
// block typed or piped line by line is so scanned in linear time.
bool check_pending(const std::string& buffer, const std::string& line, std::vector<char>& delimiters) {
    auto blocks_only = [](const std::vector<char>& open) {
        return !open.empty() && std::all_of(open.begin(), open.end(), [](char c) { return c == '['; });
    };
    if (buffer.size() > line.size() + 1 && blocks_only(delimiters)) {
        std::vector<char> open;
        std::string text = std::string(delimiters.size(), '[') + line + '\n';
        if (check_delimiters(text, open) && blocks_only(open)) {
            delimiters = open;
            return true;
        }
    }
    return check_delimiters(buffer, delimiters);
}

// --------------------------------------------------------------- evaluation

// An error's report, then an empty line.
void print_report(const std::string& report) {
    print_line(report);
    print_line("");
}

// A halt (a throw of halt-request named console) that nothing caught ends
// the evaluation quietly: the console says "(halted)" and goes on.
bool is_halt(const VyxError& e) {
    if (e.id.category != err::throw_throw.category || e.id.entry != err::throw_throw.entry) return false;
    if (type_of(&e.args[0]) != TYPE_WORD) return false;
    return symbol::resolve(int32_t(e.args[0].data2)) == symbol::resolve(symbol::make("halt-request"));
}

// The molded result, cut to fit the console: "== " and the text.
void print_result(Cell* value) {
    int limit = COLUMNS - 3;
    Cell* text = string::push(64);
    if (type_of(value) == TYPE_FLOAT)
        block::form_cell(value, text, limit + 5);
    else
        block::mold_cell(value, text, false, false, false, limit + 5, 0);
    std::string molded = string::to_utf8(text);
    std::u32string chars = decode(molded);
    if (chars.size() > size_t(limit)) {
        size_t keep = size_t(limit) - std::char_traits<char>::length(PROMPT) - 1;
        // Cut on a character boundary of the UTF-8 text.
        const uint8_t* p = reinterpret_cast<const uint8_t*>(molded.data());
        const uint8_t* end = p + molded.size();
        const uint8_t* cut = unicode::skip_utf8_chars(p, end, uint32_t(keep));
        molded = molded.substr(0, size_t(cut - p)) + "...";
    }
    stack::top = text;
    print_line("== " + molded);
}

// Loads and evaluates one complete input; prints its outcome.
void do_command(const std::string& buffer) {
    Cell* code = begin_top_level();
    protect::Guard guard;
    bool done = guard.run([&] {
        lexer::load_block(code, buffer);
        if (blk::length(code) == 0) return;
        interp::eval_whole_block(code, false);
        Cell value = *stack::bottom;
        if (type_of(&value) == TYPE_UNSET) return;
        if (type_of(&value) == TYPE_ERROR) {
            print_report(error::report(stack::push(&value)));
            return;
        }
        print_result(stack::push(&value));
    });
    if (!done) {
        if (is_halt(guard.error()))
            print_line("(halted)");
        else
            print_report(error::report(guard.error()));
    }
}

// Reads one line of standard input without its line end; false at the end.
bool read_line(std::string& line) {
    line.clear();
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
        any = true;
        if (c == '\n') return true;
        line.push_back(char(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

}  // namespace

int run(Banner banner) {
    if (banner == Banner::SHOW) {
        print_line("--== Vyx 0.1.0 ==--");
        print_line("Type HELP for starting information.");
        print_line("");
    }
    bool interactive = isatty(0);
    std::string buffer, line;
    std::vector<char> delimiters;
    std::string cue;
    for (;;) {
        if (interactive) {
            std::fputs(cue.empty() ? PROMPT : cue.c_str(), stdout);
            if (std::fflush(stdout) != 0 && errno == EPIPE && !console_flag()) platform::end_on_broken_pipe();
        }
        if (!read_line(line)) break;
        if (buffer.empty() && line.empty()) continue;
        if (!line.empty() && line.back() == 27) {
            buffer.clear();
            cue.clear();
            print_line("(escape)");
            continue;
        }
        buffer += line;
        buffer += '\n';
        cue.clear();
        bool scanned = check_pending(buffer, line, delimiters);
        if (scanned && !delimiters.empty()) {
            cue = std::string(1, delimiters.back()) + "    ";
            continue;
        }
        do_command(buffer);
        buffer.clear();
    }
    // Input that ended while still open is evaluated as it stands, so its
    // error is reported rather than dropped.
    if (!buffer.empty()) {
        buffer.pop_back();  // the line end that no further line followed
        do_command(buffer);
    }
    std::fflush(stdout);
    return 0;
}

}  // namespace vyx::console
