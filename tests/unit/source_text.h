// Source text for tests: loaded into a block by the real lexer, as the
// console loads what is typed (words stay unbound until evaluation finds
// them).
#pragma once
#include <string_view>

#include "evaluator/lexer.h"
#include "runtime/cell.h"
#include "runtime/collector.h"

namespace vyx::test {

// The block of the text's values. The caller roots it before anything else
// allocates.
inline Cell load(std::string_view text) {
    collector::Rooted<1> block;
    lexer::load_block(&block[0], text);
    return block[0];
}

}  // namespace vyx::test
