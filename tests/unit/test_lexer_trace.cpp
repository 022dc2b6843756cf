// Trace callbacks written in the language, through the function adapter.
#include <string>

#include "evaluator/lexer.h"
#include "interp_fixture.h"

using namespace vyx;

namespace {

struct LexerTraceTest : InterpTest {
    // Scans `text` with the function value `callback` as the trace.
    Cell traced(const std::string& callback, const std::string& text) {
        Cell fn = eval(callback);
        collector::Root keep_fn(&fn);
        lexer::FunctionTracer tracer;
        lexer::make_function_tracer(&fn, tracer);
        Cell input{};
        string::make_at(&input, uint32_t(text.size()), 1);
        SeriesBuffer* b = node_buffer(input.data2);
        std::memcpy(b->data(), text.data(), text.size());
        b->tail = uint32_t(text.size());
        collector::Root keep_input(&input);
        Cell result{};
        collector::Root keep_result(&result);
        lexer::scan_string_value(&result, &input, -1, false, true, true, false, nullptr, &tracer.tracer, nullptr);
        return result;
    }
    static uint32_t length(const Cell& block) { return node_buffer(block.data2)->length() - block.data1; }
};

}  // namespace

TEST_F(LexerTraceTest, TheBodysEventBlockSetsTheMask) {
    Cell fn = eval("func [event input type line token] [[open close error] true]");
    lexer::FunctionTracer t;
    lexer::make_function_tracer(&fn, t);
    EXPECT_EQ(t.tracer.mask, uint32_t(lexer::EV_OPEN | lexer::EV_CLOSE | lexer::EV_ERROR));
    fn = eval("func [event input type line token] [[] true]");
    lexer::make_function_tracer(&fn, t);
    EXPECT_EQ(t.tracer.mask, 0u);
    fn = eval("func [event input type line token] [true]");
    lexer::make_function_tracer(&fn, t);
    EXPECT_EQ(t.tracer.mask, uint32_t(lexer::EV_ALL));
}

TEST_F(LexerTraceTest, AnswersOfTheFunctionSteerTheScan) {
    // false to every load event drops each loaded value (a block is closed, not loaded).
    EXPECT_EQ(length(traced("func [event input type line token] [[load] false]", "1 [2] a")), 1u);
    // true: everything is.
    EXPECT_EQ(length(traced("func [event input type line token] [[load] true]", "1 [2] a")), 3u);
    // false to an error event stops quietly instead of raising.
    EXPECT_EQ(length(traced("func [event input type line token] [[error] false]", "1 12a 3")), 1u);
}
