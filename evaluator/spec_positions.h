// Refinement positions read from a spec text at compile time: natives and
// actions reach their refinements by name, so an edit of the spec moves the
// positions with it, and a name the spec lacks does not compile.
#pragma once
#include <string_view>

namespace vyx {

// The index among the spec's refinements of `/name` (given without the
// slash). Doc strings and type blocks, nested ones included, are passed over.
consteval int refinement_index(std::string_view spec, std::string_view name) {
    int index = 0;
    size_t i = 0;
    while (i < spec.size()) {
        char c = spec[i];
        if (c == '"') {  // a doc string; ^ escapes the next character
            for (i++; i < spec.size() && spec[i] != '"'; i++)
                if (spec[i] == '^') i++;
            i++;
        } else if (c == '[') {  // a type block, possibly nested
            int depth = 0;
            for (; i < spec.size(); i++) {
                if (spec[i] == '[') depth++;
                if (spec[i] == ']' && --depth == 0) break;
            }
            i++;
        } else if (c == '/') {
            size_t end = i + 1;
            while (end < spec.size() && spec[end] != ' ' && spec[end] != '[' && spec[end] != '"') end++;
            if (spec.substr(i + 1, end - i - 1) == name) return index;
            index++;
            i = end;
        } else {
            i++;
        }
    }
    throw "the spec has no such refinement";
}

}  // namespace vyx
