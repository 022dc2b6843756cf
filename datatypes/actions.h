// The 62 polymorphic actions: their numbers and the parameter list each
// datatype's handler takes.
//
// A handler lives in the registry as an untyped function pointer and is called
// through the alias of its action below. Arguments come as the cells on the
// evaluation stack; a refinement that takes an argument arrives as that argument
// cell, or null when the refinement is absent; a refinement without argument
// arrives as a flag. Handlers of the "stack" kind take nothing: they read their
// arguments at stack::arguments and write the result slot there.
#pragma once
#include "runtime/cell.h"

namespace vyx {

enum Action : int {
    A_MAKE = 1, A_RANDOM, A_REFLECT, A_TO, A_FORM, A_MOLD, A_EVAL_PATH, A_UNUSED /* a free slot */, A_COMPARE,
    A_ABSOLUTE, A_ADD, A_DIVIDE, A_MULTIPLY, A_NEGATE, A_POWER, A_REMAINDER, A_ROUND, A_SUBTRACT,
    A_EVEN_Q, A_ODD_Q, A_AND_T, A_COMPLEMENT, A_OR_T, A_XOR_T, A_APPEND, A_AT, A_BACK, A_CHANGE,
    A_CLEAR, A_COPY, A_FIND, A_HEAD, A_HEAD_Q, A_INDEX_Q, A_INSERT, A_LENGTH_Q, A_MOVE, A_NEXT,
    A_PICK, A_POKE, A_PUT, A_REMOVE, A_REVERSE, A_SELECT, A_SORT, A_SKIP, A_SWAP, A_TAIL, A_TAIL_Q,
    A_TAKE, A_TRIM, A_CREATE, A_CLOSE, A_DELETE, A_MODIFY, A_OPEN, A_OPEN_Q, A_QUERY, A_READ,
    A_RENAME, A_UPDATE, A_WRITE,
};
constexpr int ACTION_COUNT = 62;
static_assert(A_WRITE == ACTION_COUNT && A_COMPARE == 9 && A_APPEND == 25 && A_LENGTH_Q == 36);

// Comparison operators, the third argument of every comparison handler.
enum CompareOp : int {
    COMP_EQUAL = 0, COMP_NOT_EQUAL, COMP_STRICT_EQUAL, COMP_LESSER, COMP_LESSER_EQUAL, COMP_GREATER,
    COMP_GREATER_EQUAL, COMP_SORT, COMP_CASE_SORT, COMP_SAME,
    // Equality in which word! and lit-word! (path! and lit-path!) are alike:
    // with case, then without.
    COMP_LIT_STRICT_EQUAL, COMP_LIT_EQUAL, COMP_FIND,
};
// A comparison handler answers this when the two values cannot be ordered.
constexpr int NOT_COMPARABLE = -2;
// The operators a type without an order still answers: equality, sameness,
// find, and the sorts (which need only a stable answer).
constexpr bool is_unordered_compare(int op) {
    switch (op) {
    case COMP_EQUAL: case COMP_NOT_EQUAL: case COMP_STRICT_EQUAL: case COMP_SORT: case COMP_CASE_SORT:
    case COMP_SAME: case COMP_FIND:
        return true;
    default:
        return false;
    }
}

// Math operators of the arithmetic handlers.
enum MathOp : int { OP_ADD = 0, OP_SUB, OP_MUL, OP_DIV, OP_REM, OP_OR, OP_AND, OP_XOR };

// A /part of "no limit" for the text writers.
constexpr int NO_LIMIT = 0x7FFFFFFF;

namespace act {
using Any = void (*)();
using Stack = void (*)();
using Make = const Cell* (*)(Cell* proto, Cell* spec, int type);  // also `to`
using Random = void (*)(Cell* value, bool seed, bool secure, bool only);
using Reflect = void (*)(Cell* value, int field_symbol);
// Text writers take and return the length budget.
using Form = int (*)(Cell* value, Cell* buffer, int part);
using Mold = int (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, int part, int indent);
using EvalPath = const Cell* (*)(Cell* parent, Cell* element, Cell* value, Cell* path, bool case_);
using Compare = int (*)(Cell* a, Cell* b, int op);
using Negate = void (*)(Cell* value);
using Complement = const Cell* (*)(Cell* value);
using Round = void (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                       bool ceiling, bool half_ceiling);
using EvenOdd = bool (*)(Cell* value);
// append, insert, change: /part already turned into a count (-1 absent), /dup count (1 absent).
using Insert = void (*)(Cell* series, Cell* value, int part, bool only, int dup);
using Clear = void (*)(Cell* series);
using Copy = const Cell* (*)(Cell* series, Cell* result, Cell* part, bool deep, Cell* types);
using Find = const Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, bool case_, bool same, bool any,
                       Cell* with, Cell* skip, bool last, bool reverse, bool tail, bool match);
using Length = int (*)(Cell* series);  // -1: no length
using Move = const Cell* (*)(Cell* origin, Cell* target, Cell* part);
using Pick = const Cell* (*)(Cell* series, int index, Cell* boxed_index);
using Poke = const Cell* (*)(Cell* series, int index, Cell* data, Cell* boxed_index);
using Put = const Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using Remove = void (*)(Cell* series, Cell* part, Cell* key);
using Reverse = void (*)(Cell* series, Cell* part, Cell* skip);
using Sort = const Cell* (*)(Cell* series, bool case_, Cell* skip, Cell* compare, Cell* part, bool all,
                       bool reverse, bool stable);
using Swap = void (*)(Cell* series1, Cell* series2);
using Take = const Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using Trim = void (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using Modify = const Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using PortOne = const Cell* (*)(Cell* port);  // create, close, delete, open?, query, update
using Open = const Cell* (*)(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
using Read = const Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using Rename = const Cell* (*)(Cell* from, Cell* to);
using Write = const Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                        Cell* part, Cell* seek, Cell* allow, Cell* as);
}  // namespace act

// The handler type of each action: a registration names its action and the
// compiler checks the handler against this (see Registration::on).
template <int A>
struct ActionHandler;
#define VYX_ACTION_HANDLER(A, T) \
    template <>                  \
    struct ActionHandler<A> {    \
        using type = act::T;     \
    }
VYX_ACTION_HANDLER(A_MAKE, Make);
VYX_ACTION_HANDLER(A_RANDOM, Random);
VYX_ACTION_HANDLER(A_REFLECT, Reflect);
VYX_ACTION_HANDLER(A_TO, Make);
VYX_ACTION_HANDLER(A_FORM, Form);
VYX_ACTION_HANDLER(A_MOLD, Mold);
VYX_ACTION_HANDLER(A_EVAL_PATH, EvalPath);
VYX_ACTION_HANDLER(A_COMPARE, Compare);
VYX_ACTION_HANDLER(A_ABSOLUTE, Stack);
VYX_ACTION_HANDLER(A_ADD, Stack);
VYX_ACTION_HANDLER(A_DIVIDE, Stack);
VYX_ACTION_HANDLER(A_MULTIPLY, Stack);
VYX_ACTION_HANDLER(A_NEGATE, Negate);
VYX_ACTION_HANDLER(A_POWER, Stack);
VYX_ACTION_HANDLER(A_REMAINDER, Stack);
VYX_ACTION_HANDLER(A_ROUND, Round);
VYX_ACTION_HANDLER(A_SUBTRACT, Stack);
VYX_ACTION_HANDLER(A_EVEN_Q, EvenOdd);
VYX_ACTION_HANDLER(A_ODD_Q, EvenOdd);
VYX_ACTION_HANDLER(A_AND_T, Stack);
VYX_ACTION_HANDLER(A_COMPLEMENT, Complement);
VYX_ACTION_HANDLER(A_OR_T, Stack);
VYX_ACTION_HANDLER(A_XOR_T, Stack);
VYX_ACTION_HANDLER(A_APPEND, Insert);
VYX_ACTION_HANDLER(A_AT, Stack);
VYX_ACTION_HANDLER(A_BACK, Stack);
VYX_ACTION_HANDLER(A_CHANGE, Insert);
VYX_ACTION_HANDLER(A_CLEAR, Clear);
VYX_ACTION_HANDLER(A_COPY, Copy);
VYX_ACTION_HANDLER(A_FIND, Find);
VYX_ACTION_HANDLER(A_HEAD, Stack);
VYX_ACTION_HANDLER(A_HEAD_Q, Stack);
VYX_ACTION_HANDLER(A_INDEX_Q, Stack);
VYX_ACTION_HANDLER(A_INSERT, Insert);
VYX_ACTION_HANDLER(A_LENGTH_Q, Length);
VYX_ACTION_HANDLER(A_MOVE, Move);
VYX_ACTION_HANDLER(A_NEXT, Stack);
VYX_ACTION_HANDLER(A_PICK, Pick);
VYX_ACTION_HANDLER(A_POKE, Poke);
VYX_ACTION_HANDLER(A_PUT, Put);
VYX_ACTION_HANDLER(A_REMOVE, Remove);
VYX_ACTION_HANDLER(A_REVERSE, Reverse);
VYX_ACTION_HANDLER(A_SELECT, Find);
VYX_ACTION_HANDLER(A_SORT, Sort);
VYX_ACTION_HANDLER(A_SKIP, Stack);
VYX_ACTION_HANDLER(A_SWAP, Swap);
VYX_ACTION_HANDLER(A_TAIL, Stack);
VYX_ACTION_HANDLER(A_TAIL_Q, Stack);
VYX_ACTION_HANDLER(A_TAKE, Take);
VYX_ACTION_HANDLER(A_TRIM, Trim);
VYX_ACTION_HANDLER(A_CREATE, PortOne);
VYX_ACTION_HANDLER(A_CLOSE, PortOne);
VYX_ACTION_HANDLER(A_DELETE, PortOne);
VYX_ACTION_HANDLER(A_MODIFY, Modify);
VYX_ACTION_HANDLER(A_OPEN, Open);
VYX_ACTION_HANDLER(A_OPEN_Q, PortOne);
VYX_ACTION_HANDLER(A_QUERY, PortOne);
VYX_ACTION_HANDLER(A_READ, Read);
VYX_ACTION_HANDLER(A_RENAME, Rename);
VYX_ACTION_HANDLER(A_UPDATE, PortOne);
VYX_ACTION_HANDLER(A_WRITE, Write);
#undef VYX_ACTION_HANDLER
template <int A>
using handler_of = typename ActionHandler<A>::type;

}  // namespace vyx
