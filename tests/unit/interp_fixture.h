// A fresh runtime per test with helpers to evaluate source text (loaded by
// the real lexer, see source_text.h) and to inspect errors.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/context.h"
#include "datatypes/word.h"
#include "evaluator/helpers.h"
#include "source_text.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/protect.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/error_catalog.h"
#include "runtime/raise.h"
#include "runtime_fixture.h"

struct InterpTest : RuntimeTest {
    // Evaluates the text as a block; the value of its last expression.
    vyx::Cell eval(std::string_view text) {
        vyx::Cell b = vyx::test::load(text);
        return eval_block(b);
    }

    vyx::Cell eval_block(const vyx::Cell& block) {
        using namespace vyx;
        stack::Frame* frames = stack::frame_top;
        Cell* top = stack::top;
        Cell* args = stack::arguments;
        // The console's catch: back to where this evaluation began, and the
        // error goes on to the test.
        protect::Guard guard;
        // The code is held on the stack, as a native holds its block
        // argument, so that the collector sees it while nested code runs.
        Cell* held = stack::push(&block);
        if (!guard.run([&] { interp::eval_whole_block(held, true); })) guard.rethrow();
        Cell r = *(stack::top - 1);
        stack::top = top;
        EXPECT_EQ(stack::frame_top, frames);
        EXPECT_EQ(stack::arguments, args);
        return r;
    }

    // The error the text raises (fails the test when there is none).
    vyx::VyxError error_of(std::string_view text) {
        try {
            eval(text);
        } catch (const vyx::VyxError& e) {
            return e;
        }
        ADD_FAILURE() << "no error from: " << text;
        return vyx::VyxError{};
    }

    // The molded value of the text, or "** " and the message of its error.
    std::string result_of(std::string_view text) {
        try {
            return mold(eval(text));
        } catch (const vyx::VyxError& e) {
            return std::string("** ").append(message(e));
        }
    }

    // The same for source text read by the lexer.
    vyx::Cell eval_source(std::string_view source) {
        vyx::collector::Rooted<1> r;
        vyx::lexer::load_block(&r[0], source);
        return eval_block(r[0]);
    }
    std::string result_of_source(std::string_view source) {
        try {
            return mold(eval_source(source));
        } catch (const vyx::VyxError& e) {
            return "** " + message(e);
        }
    }

    static std::string mold(const vyx::Cell& value) {
        using namespace vyx;
        auto h = reinterpret_cast<act::Mold>(get_handler(type_of(&value), A_MOLD));
        if (!h) return std::string("?").append(type_names[type_of(&value)].name).append("?");
        collector::Rooted<2> r;
        r[0] = value;
        string::make_at(&r[1], 16);
        h(&r[0], &r[1], false, false, false, NO_LIMIT, 0);
        return string::to_utf8(&r[1]);
    }

    static std::string form(const vyx::Cell& value) {
        using namespace vyx;
        auto h = reinterpret_cast<act::Form>(get_handler(type_of(&value), A_FORM));
        if (!h) return "?";
        collector::Rooted<2> r;
        r[0] = value;
        string::make_at(&r[1], 16);
        h(&r[0], &r[1], NO_LIMIT);
        return string::to_utf8(&r[1]);
    }

    // The error's message line, its arguments molded.
    static std::string message(const vyx::VyxError& e) {
        vyx::collector::Pause no_collection;  // the arguments are held by the exception only
        std::string args[3];
        for (int i = 0; i < 3; i++) args[i] = mold(e.args[i]);
        return vyx::err::render_message(e.id, args);
    }

    static bool same_id(const vyx::VyxError& e, vyx::err::Id id) {
        return e.id.category == id.category && e.id.entry == id.entry;
    }

    static int32_t int_of(const vyx::Cell& c) { return int32_t(c.data2); }
};

// A fixture whose tests run with a collection at every allocation and every
// live buffer moved.
template <class Base>
struct UnderCollections : Base {
    void SetUp() override {
        Base::SetUp();
        vyx::collector::active = true;
        vyx::collector::stress_every = 1;
        vyx::collector::evacuate = true;
    }
    void TearDown() override {
        vyx::collector::active = false;
        vyx::collector::stress_every = 0;
        vyx::collector::evacuate = false;
        Base::TearDown();
    }
};
