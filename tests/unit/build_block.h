// Builds blocks for tests from compact source-like text, without the lexer:
// integers (1, -3, 10'000), floats (1.5), "strings", words, set-words (a:),
// get-words (:a), lit-words ('a), refinements (/only), paths (a/b/2, b/2:,
// :a/b, 'a/b), [blocks] and (parens). Words are bound to the global context.
#pragma once
#include <cctype>
#include <cstdlib>
#include <string>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "evaluator/stack.h"
#include "runtime/cell.h"
#include "runtime/collector.h"

namespace vyx::test {

class BlockBuilder {
public:
    explicit BlockBuilder(std::string_view text) : text_(text) {}

    Cell build() {
        // Blocks in the making are held only here.
        collector::Pause no_collection;
        Cell b;
        blk::make_at(&b, 8);
        read_into(&b, '\0');
        return b;
    }

private:
    std::string_view text_;
    size_t at_ = 0;

    static bool delimiter(char c) {
        return c == ' ' || c == '\n' || c == '\t' || c == '[' || c == ']' || c == '(' || c == ')';
    }

    void read_into(Cell* block, char close) {
        for (;;) {
            while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\t')) at_++;
            if (at_ >= text_.size()) return;
            char c = text_[at_];
            if (c == close) {
                at_++;
                return;
            }
            Cell v = read_value();
            blk::append(block, &v);
        }
    }

    Cell read_value() {
        char c = text_[at_];
        if (c == '[' || c == '(') {
            at_++;
            Cell inner;
            blk::make_at(&inner, 4, c == '[' ? TYPE_BLOCK : TYPE_PAREN);
            read_into(&inner, c == '[' ? ']' : ')');
            return inner;
        }
        if (c == '"') {
            size_t end = text_.find('"', at_ + 1);
            std::string_view s = text_.substr(at_ + 1, end - at_ - 1);
            at_ = end + 1;
            Cell str;
            string::make_at(&str, uint32_t(s.size() + 1));
            string::concatenate_literal(&str, s, int(s.size()));
            return str;
        }
        size_t start = at_;
        while (at_ < text_.size()) {
            if (text_[at_] == '(' && at_ > start && text_[at_ - 1] == '/') {
                // A paren element of a path: taken whole.
                int depth = 0;
                do {
                    if (text_[at_] == '(') depth++;
                    if (text_[at_] == ')') depth--;
                    at_++;
                } while (at_ < text_.size() && depth > 0);
                continue;
            }
            if (delimiter(text_[at_])) break;
            at_++;
        }
        return token(text_.substr(start, at_ - start));
    }

    static bool is_number(std::string_view t) {
        size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
        return i < t.size() && std::isdigit(static_cast<unsigned char>(t[i]));
    }

    static Cell number(std::string_view t) {
        std::string digits;
        for (char ch : t)
            if (ch != '\'') digits += ch;
        if (digits.find('.') != std::string::npos) {
            Cell f{TYPE_FLOAT, 0, 0, 0};
            set_cell_float(&f, std::strtod(digits.c_str(), nullptr));
            return f;
        }
        return Cell{TYPE_INTEGER, 0, uint32_t(int32_t(std::strtol(digits.c_str(), nullptr, 10))), 0};
    }

    static Cell word_of(std::string_view name, int type) {
        Cell w = word::load(name);
        w.header = uint32_t(type);
        return w;
    }

    // A path element: a number, a word, a get-word or a paren written inline.
    Cell path_of(std::string_view t, int type) {
        Cell p;
        blk::make_at(&p, 4, type);
        size_t i = 0;
        while (i <= t.size()) {
            size_t slash = t.find('/', i);
            if (slash == std::string_view::npos) slash = t.size();
            std::string_view part = t.substr(i, slash - i);
            Cell e;
            if (is_number(part))
                e = number(part);
            else if (part[0] == ':')
                e = word_of(part.substr(1), TYPE_GET_WORD);
            else if (part[0] == '(') {
                BlockBuilder inner(part.substr(1, part.size() - 2));
                e = inner.build();
                e.header = TYPE_PAREN;
            } else
                e = word_of(part, TYPE_WORD);
            blk::append(&p, &e);
            i = slash + 1;
        }
        return p;
    }

    Cell token(std::string_view t) {
        if (is_number(t)) return number(t);
        // Operator words made only of slashes (/ and //) are words.
        if (t.find_first_not_of('/') == std::string_view::npos) return word_of(t, TYPE_WORD);
        bool path = t.find('/', 1) != std::string_view::npos;
        if (path) {
            if (t[0] == ':') return path_of(t.substr(1), TYPE_GET_PATH);
            if (t[0] == '\'') return path_of(t.substr(1), TYPE_LIT_PATH);
            if (t.back() == ':') return path_of(t.substr(0, t.size() - 1), TYPE_SET_PATH);
            return path_of(t, TYPE_PATH);
        }
        if (t[0] == '/') return word_of(t.substr(1), TYPE_REFINEMENT);
        if (t[0] == ':' && t.size() > 1) return word_of(t.substr(1), TYPE_GET_WORD);
        if (t[0] == '\'') return word_of(t.substr(1), TYPE_LIT_WORD);
        if (t.size() > 1 && t.back() == ':') return word_of(t.substr(0, t.size() - 1), TYPE_SET_WORD);
        return word_of(t, TYPE_WORD);
    }
};

inline Cell build_block(std::string_view text) { return BlockBuilder(text).build(); }

}  // namespace vyx::test
