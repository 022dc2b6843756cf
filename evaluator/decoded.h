// Decoded blocks: the interpreter's second form of code.
//
// A block that is evaluated again is decoded once, with the bindings of that
// moment, into a tree of steps that knows its calls, their arities and its
// infix operators (see interpreter.cpp, which builds and runs it). The tree
// holds positions and the values it relies on, never pointers into series:
// every step re-reads its cells through the block's node and re-checks the
// value of each callee and operator word before it relies on it.
//
// A decoded form stays good while its block's buffer keeps the DECODED flag,
// which every writable access to the buffer clears, and while the block's head
// and tail stay where they were. This file keeps the records (one per block
// node), drops those of blocks the collector found dead, and holds the switch
// that turns the form off.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "runtime/cell.h"
#include "runtime/memory.h"

namespace vyx::decoded {

enum Kind : uint8_t {
    K_VALUE,  // an inert value of the code, pushed as it stands
    K_WORD,   // a word holding a value that is not called
    K_PAREN,  // a paren, evaluated
    K_CALL,   // a word naming a function, native or action taking its arguments normally; the arguments follow
    K_COND,   // if, unless or either with its branches written as blocks; the condition follows
    K_EXPR,   // a value followed by infix operators (or by a word that may become one): the value, then the pairs
    K_PAIR,   // an infix operator word and, after it, its right operand
    K_SET,    // a set-word; its value's expression follows
    K_WALK,   // anything else, run by the generic walker
};

struct Op {
    uint8_t kind;
    uint8_t fast;        // K_PAIR: the operator's fast arithmetic kind, 0 for none
    uint8_t no_infix;    // how the walker takes this expression over
    uint8_t check_next;  // K_EXPR: the cell after it is a word, which may since have become an operator
    uint32_t pos;        // its first cell
    uint32_t next;       // the position after it
    uint32_t size;       // steps in its subtree, itself included
    uint32_t count;      // K_CALL: arguments
    Cell ident;          // K_CALL, K_PAIR: the callee's or the operator's value when decoded
};

struct Record {
    Node node = 0;
    uint32_t pos = 0;        // where the evaluation began
    uint32_t offset = 0;     // the buffer's head and tail then
    uint32_t tail = 0;
    uint32_t running = 0;    // evaluations using the record now
    uint32_t slot = 0;       // its place in the list of records
    bool decoded = false;    // false until its second evaluation
    bool retired = false;    // no longer in the table: freed when nothing runs it
    bool single = false;     // decoded as one whole expression over more than one cell, to the tail
    std::vector<Op> ops;
    std::vector<uint32_t> tops;  // the step of each whole expression, in order
};

// Whether the interpreter uses decoded forms. A build made with them
// (VYX_DECODED_FORM) uses them unless VYX_DECODE=0 is in the environment at
// start-up; any other build never does, and its walker pays nothing for them.
#ifdef VYX_DECODED_FORM
extern bool enabled;
#else
constexpr bool enabled = false;
#endif

void init();

// node -> record, in pages of 4096 nodes made when first needed.
constexpr uint32_t PAGE_BITS = 12;
constexpr uint32_t PAGE = 1u << PAGE_BITS;
extern std::vector<std::unique_ptr<Record*[]>> pages;

// The record of a block node, or null.
inline Record* find(Node node) {
    uint32_t p = node >> PAGE_BITS;
    if (p >= pages.size() || !pages[p]) return nullptr;
    return pages[p][node & (PAGE - 1)];
}
// A fresh record for the node, replacing (and retiring) any other.
Record* fresh(Node node);
// Keeps a record from being freed while an evaluation uses it.
struct Running {
    Record* r;
    explicit Running(Record* record) : r(record) { r->running++; }
    [[gnu::always_inline]] ~Running() {
        if (--r->running == 0 && r->retired) delete r;
    }
    Running(const Running&) = delete;
    Running& operator=(const Running&) = delete;
};

}  // namespace vyx::decoded
