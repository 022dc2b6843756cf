// Interpreter speed: loops, calls, recursion and the non-local exits, on
// programs built as blocks; and the two ways a non-local exit can travel
// through native code (a C++ exception against a pending code checked after
// each evaluation), measured on a model of the interpreter's call nesting.
#include <benchmark/benchmark.h>

#include <stdexcept>

#include "boot/init.h"
#include "evaluator/interpreter.h"
#include "runtime/stack.h"
#include "runtime/raise.h"
#include "runtime/collector.h"
#include "tests/unit/source_text.h"

using namespace vyx;

namespace {

struct Fresh {
    Fresh() { init_runtime(); }
    ~Fresh() { shutdown_runtime(); }
};

Cell run(const Cell& block) {
    Cell* top = stack::top;
    interp::eval_whole_block(&block, true);
    Cell r = *(stack::top - 1);
    stack::top = top;
    return r;
}

// Runs `setup` once, then times `body`; reports ns per `items` (calls or
// iterations) through items_processed.
void run_program(benchmark::State& state, const char* setup, const char* body, int64_t items) {
    Fresh rt;
    run(test::load(setup));
    // Kept in a root: the benchmark's collections must not take the program.
    collector::Rooted<1> kept;
    kept[0] = test::load(body);
    Cell program = kept[0];
    for (auto _ : state) benchmark::DoNotOptimize(run(program));
    state.SetItemsProcessed(state.iterations() * items);
}

void BM_EmptyLoop(benchmark::State& state) { run_program(state, "", "loop 10'000'000 []", 10'000'000); }
BENCHMARK(BM_EmptyLoop)->Unit(benchmark::kMillisecond);

void BM_CountingLoop(benchmark::State& state) {
    run_program(state, "", "i: 0 loop 10'000'000 [i: i + 1]", 10'000'000);
}
BENCHMARK(BM_CountingLoop)->Unit(benchmark::kMillisecond);

// fib 27 makes 635,621 calls.
void BM_FibEither(benchmark::State& state) {
    run_program(state, "fib: func [n] [either n < 2 [n] [(fib n - 1) + fib n - 2]]", "fib 27", 635'621);
}
BENCHMARK(BM_FibEither)->Unit(benchmark::kMillisecond);

void BM_FibIfReturn(benchmark::State& state) {
    run_program(state, "fib: func [n] [if n < 2 [return n] (fib n - 1) + fib n - 2]", "fib 27", 635'621);
}
BENCHMARK(BM_FibIfReturn)->Unit(benchmark::kMillisecond);

void BM_ReturnInHotFunction(benchmark::State& state) {
    run_program(state, "f: func [x] [return x]", "loop 1'000'000 [f 1]", 1'000'000);
}
BENCHMARK(BM_ReturnInHotFunction)->Unit(benchmark::kMillisecond);

void BM_CallWithoutReturn(benchmark::State& state) {
    run_program(state, "f: func [x] [x]", "loop 1'000'000 [f 1]", 1'000'000);
}
BENCHMARK(BM_CallWithoutReturn)->Unit(benchmark::kMillisecond);

void BM_BreakInLoop(benchmark::State& state) {
    run_program(state, "", "loop 1'000'000 [loop 2 [break]]", 1'000'000);
}
BENCHMARK(BM_BreakInLoop)->Unit(benchmark::kMillisecond);

void BM_CatchThrow(benchmark::State& state) {
    run_program(state, "", "loop 1'000'000 [catch [throw 1]]", 1'000'000);
}
BENCHMARK(BM_CatchThrow)->Unit(benchmark::kMillisecond);

void BM_TryZeroDivide(benchmark::State& state) {
    run_program(state, "", "loop 100'000 [try [1 / 0]]", 100'000);
}
BENCHMARK(BM_TryZeroDivide)->Unit(benchmark::kMillisecond);

// The exit mechanisms on a model of the interpreter ---------------------------
//
// Between a `return` native and the function body that receives it lie about
// eight native calls (block evaluation, expression, call, argument gathering,
// native, block evaluation, ...). Each level here does a little work, like an
// evaluation step, and either checks a pending code after its callee or lets
// an exception pass.

struct Exit {
    uint32_t code;
};

uint32_t pending = 0;
volatile int sink = 0;

__attribute__((noinline)) int level_status(int depth, bool exit_now) {
    sink = sink + depth;
    if (depth == 0) {
        if (exit_now) pending = stack::EXIT_RETURN;
        return 1;
    }
    int r = level_status(depth - 1, exit_now);
    if (pending) return r;
    return r + 1;
}

__attribute__((noinline)) int level_throw(int depth, bool exit_now) {
    sink = sink + depth;
    if (depth == 0) {
        if (exit_now) throw Exit{stack::EXIT_RETURN};
        return 1;
    }
    return level_throw(depth - 1, exit_now) + 1;
}

constexpr int DEPTH = 8;

void BM_ModelPendingCodeExit(benchmark::State& state) {
    for (auto _ : state) {
        level_status(DEPTH, true);
        if (pending == stack::EXIT_RETURN) pending = 0;
    }
}
BENCHMARK(BM_ModelPendingCodeExit);

void BM_ModelExceptionExit(benchmark::State& state) {
    for (auto _ : state) {
        try {
            level_throw(DEPTH, true);
        } catch (const Exit& e) {
            benchmark::DoNotOptimize(e.code);
        }
    }
}
BENCHMARK(BM_ModelExceptionExit);

// The same calls with no exit: what each mechanism costs when nothing leaves.
void BM_ModelPendingCodeNoExit(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(level_status(DEPTH, false));
}
BENCHMARK(BM_ModelPendingCodeNoExit);

void BM_ModelExceptionNoExit(benchmark::State& state) {
    for (auto _ : state) {
        try {
            benchmark::DoNotOptimize(level_throw(DEPTH, false));
        } catch (const Exit& e) {
            benchmark::DoNotOptimize(e.code);
        }
    }
}
BENCHMARK(BM_ModelExceptionNoExit);

// The runtime's own error road, for scale: raise_error caught right away.
void BM_RaiseErrorCaught(benchmark::State& state) {
    for (auto _ : state) {
        try {
            raise_error(err::math_zero_divide);
        } catch (const VyxError& e) {
            benchmark::DoNotOptimize(e.id);
        }
    }
}
BENCHMARK(BM_RaiseErrorCaught);

}  // namespace
