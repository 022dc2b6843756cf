// Decoded blocks: records, their table by node and their end (see decoded.h).
#include "evaluator/decoded.h"

#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/collector.h"

namespace vyx::decoded {

#ifdef VYX_DECODED_FORM
bool enabled = true;
#endif

std::vector<std::unique_ptr<Record*[]>> pages;

namespace {

// Every record in the table, for the collector's sweep.
std::vector<Record*> all;

// The records left at exit go with the process's own data.
struct Owner {
    ~Owner() {
        for (Record* r : all) delete r;
        all.clear();
    }
} owner;

Record** entry(Node node, bool make) {
    uint32_t p = node >> PAGE_BITS;
    if (p >= pages.size()) {
        if (!make) return nullptr;
        pages.resize(p + 1);
    }
    if (!pages[p]) {
        if (!make) return nullptr;
        pages[p].reset(new Record*[PAGE]());
    }
    return &pages[p][node & (PAGE - 1)];
}

// Takes a record out of the table; frees it unless an evaluation still runs it.
void retire(Record* r) {
    Record** e = entry(r->node, false);
    if (e && *e == r) *e = nullptr;
    all[r->slot] = all.back();
    all[r->slot]->slot = r->slot;
    all.pop_back();
    r->retired = true;
    if (r->running == 0) delete r;
}

// After marking: the records of blocks nothing reaches any more go.
void sweep() {
    // Downwards: a retired record's place takes the last one, already seen.
    for (size_t i = all.size(); i-- > 0;) {
        Record* r = all[i];
        if (!collector::is_marked(r->node)) retire(r);
    }
}

}  // namespace

void init() {
#ifdef VYX_DECODED_FORM
    const char* e = std::getenv("VYX_DECODE");
    enabled = !(e && std::strcmp(e, "0") == 0);
#endif
    for (Record* r : all) {
        r->retired = true;
        if (r->running == 0) delete r;
    }
    all.clear();
    pages.clear();
    collector::add_gc_sweep_callback(sweep);
}

Record* fresh(Node node) {
    Record** e = entry(node, true);
    if (*e) retire(*e);
    Record* r = new Record;
    r->node = node;
    r->slot = uint32_t(all.size());
    all.push_back(r);
    *e = r;
    return r;
}

}  // namespace vyx::decoded
