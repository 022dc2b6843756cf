// The evaluation stack and the frame stack: the stack effect of every push
// and pop, overflow, and the exits that find no target.
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/runtime_words.h"
#include "evaluator/helpers.h"
#include "interp_fixture.h"

using namespace vyx;

namespace {

Cell integer(int v) { return Cell{TYPE_INTEGER, 0, uint32_t(v), 0}; }

struct StackTest : InterpTest {
    // A caller's call with a result slot and one argument, then a callee
    // with a result slot and two values.
    Cell* caller = nullptr;
    Cell* callee = nullptr;

    void two_calls(stack::FrameKind kind = stack::FRAME_CALL) {
        stack::push_call_frame(&words::frame_anon);
        caller = stack::arguments;
        Cell r = integer(100), a = integer(101);
        stack::push(&r);
        stack::push(&a);
        stack::push_frame(&words::frame_anon, stack::kind_bits(kind));
        callee = stack::arguments;
        Cell x = integer(7), y = integer(8);
        stack::push(&x);
        stack::push(&y);
    }
};

}  // namespace

TEST_F(StackTest, PushFrameStartsACallAtTheTop) {
    Cell v = integer(1);
    stack::push(&v);
    Cell* top = stack::top;
    stack::push_call_frame(&words::frame_body);
    EXPECT_EQ(stack::arguments, top);
    EXPECT_EQ(stack::current_frame()->saved_arguments, 0u);
    EXPECT_EQ(stack::current_frame()->kind(), uint32_t(stack::FRAME_CALL));
    EXPECT_EQ(stack::current_frame()->symbol, words::frame_body.data2);
}

TEST_F(StackTest, PopEffects) {
    struct Case {
        void (*pop)();
        int top_from_callee;     // value top afterwards, from the callee base
        bool result_in_caller;   // the callee's result copied into the caller's slot
        bool top_is_caller_base; // the callee's values and the caller's dropped
    };
    const Case cases[] = {
        {stack::pop_frame_keep_result, 1, false, false},
        {stack::pop_frame_pass_result, 1, true, false},
        {stack::pop_frame_discard, 0, false, true},
    };
    for (const Case& c : cases) {
        stack::reset();
        two_calls();
        c.pop();
        EXPECT_EQ(stack::arguments, caller);
        if (c.top_is_caller_base) {
            EXPECT_EQ(stack::top, caller);
        } else {
            EXPECT_EQ(stack::top, callee + c.top_from_callee);
            EXPECT_EQ(int_of(*callee), 7);
        }
        EXPECT_EQ(int_of(*caller), c.result_in_caller ? 7 : 100);
    }
}

TEST_F(StackTest, PopFunctionFrameGivesTheOuterCallItsArgumentsBack) {
    Cell b = test::load("a");
    Node ctx = context::make_from_block(&b, true, false, context::KIND_FUNCTION);
    stack::set_context_values_ref(ctx, 42);
    stack::push_function_frame(words::frame_anon.data2, 0, ctx);
    stack::set_context_values_ref(ctx, 77);
    stack::pop_function_frame();
    EXPECT_EQ(stack::context_values_ref(ctx), 42u);
    // A frame cut away by an exit restores its context too.
    stack::Frame* mark = stack::frame_top;
    stack::push_function_frame(words::frame_anon.data2, 0, ctx);
    stack::set_context_values_ref(ctx, 5);
    stack::restore_frame_top(mark);
    EXPECT_EQ(stack::context_values_ref(ctx), 42u);
}

TEST_F(StackTest, PopFramesToKind) {
    two_calls(stack::FRAME_LOOP);
    Cell* loop_base = callee;
    stack::push_call_frame(&words::frame_anon);
    Cell v = integer(9);
    stack::push(&v);
    stack::pop_frames_to_kind_pass_result(stack::FRAME_LOOP);
    // The loop frame stays; its result slot got the value; its values are cleared.
    EXPECT_EQ(stack::current_frame()->kind(), uint32_t(stack::FRAME_LOOP));
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(stack::top, loop_base);
    EXPECT_EQ(int_of(*loop_base), 9);
}

TEST_F(StackTest, ValueOverflowLeavesRoomAndIsCatchable) {
    stack::top = stack::limit - 1;
    Cell* before = stack::top;
    try {
        stack::push_slot();
        FAIL() << "no overflow";
    } catch (const VyxError& e) {
        EXPECT_TRUE(same_id(e, err::internal_stack_overflow));
    }
    EXPECT_EQ(stack::top, before - 4);
}

TEST_F(StackTest, FrameOverflowIsCatchable) {
    uint32_t pushed = 0;
    try {
        for (;;) {
            stack::push_call_frame(&words::frame_anon);
            pushed++;
        }
    } catch (const VyxError& e) {
        EXPECT_TRUE(same_id(e, err::internal_stack_overflow));
    }
    EXPECT_EQ(pushed, stack::FRAME_STACK_RECORDS);
}

TEST_F(StackTest, BreakFindsTheLoopAndClearsItsCall) {
    stack::push_loop_frame(&words::frame_body);
    Cell* loop_base = stack::arguments;
    Cell junk = integer(1);
    stack::push(&junk);
    stack::push_call_frame(&words::frame_anon);  // the break native's own call
    Cell v = integer(5);
    stack::push(&v);
    stack::raise_break(true, false);
    EXPECT_EQ(stack::thrown, uint32_t(stack::EXIT_BREAK));
    EXPECT_EQ(stack::current_frame()->kind(), uint32_t(stack::FRAME_LOOP));
    EXPECT_EQ(stack::arguments, loop_base);
    EXPECT_EQ(int_of(*loop_base), 5);
}

TEST_F(StackTest, CollectCallsListsNamedFramesInnermostFirst) {
    Cell outer = word::load("outer"), inner = word::load("inner");
    stack::push_call_frame(&outer);
    stack::push_frame(&words::frame_body, stack::kind_bits(stack::FRAME_CALL) | stack::FRAME_EVAL);
    stack::push_call_frame(&inner);
    Cell calls;
    blk::make_at(&calls, 4);
    stack::collect_calls(&calls);
    ASSERT_EQ(blk::length(&calls), 4u);
    EXPECT_EQ(blk::at(calls.data2, 0)->data2, inner.data2);
    EXPECT_EQ(blk::at(calls.data2, 2)->data2, outer.data2);
    stack::CallName who = stack::calling_function_name();
    EXPECT_EQ(who.symbol, inner.data2);
}

TEST_F(StackTest, FrameNamesAreNotTruncated) {
    // Symbol ids are not limited to 16 bits: a frame keeps its name whole.
    uint32_t big = 0x12345;
    stack::push_frame(big, 0, stack::kind_bits(stack::FRAME_CALL));
    EXPECT_EQ(stack::calling_function_name().symbol, big);
}

TEST_F(StackTest, CallStackOfAnErrorReport) {
    eval("f: func [] [] g: func [] [] n: 1");
    Cell words_used = test::load("f g n");
    Cell f = *blk::at(words_used.data2, 0), g = *blk::at(words_used.data2, 1), n = *blk::at(words_used.data2, 2);
    stack::push_call_frame(&f);
    stack::push_frame(&words::frame_body, stack::kind_bits(stack::FRAME_CALL) | stack::FRAME_EVAL);
    stack::push_call_frame(&n);
    stack::push_call_frame(&g);
    uint32_t at = stack::frame_position();
    stack::push_call_frame(&f);  // above the recorded position: not listed
    Cell list;
    blk::make_at(&list, 4);
    error::capture_call_stack(1, &list, at);
    EXPECT_EQ(mold(list), "[f g]");
    Cell all;
    blk::make_at(&all, 4);
    error::capture_call_stack(2, &all, at);
    EXPECT_EQ(mold(all), "[f n g]");
}
