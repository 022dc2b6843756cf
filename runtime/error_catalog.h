// The error catalog as a static C++ table.
//
// boot/errors.vyx is the one source of the catalog: the boot evaluates it into
// system/catalog/errors, and scripts/gen_catalog.py turns it into this table
// and the Id constants of error_ids.h. C++ code raises errors by those Ids, and
// the fallback report (an error before the catalog object exists, or when it
// is unusable) takes titles and messages from here.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

#include "error_ids.h"

namespace vyx::err {

enum class PartKind : uint8_t {
    Text,     // written as it is
    GetArg,   // :argN in the template
    WordArg,  // argN as a plain word (same output; kept so the source can be rebuilt)
};

struct MessagePart {
    PartKind kind;
    uint8_t arg;       // 1-3 for GetArg and WordArg, 0 for Text
    const char* text;  // Text only
};

enum class MessageKind : uint8_t {
    String,  // one Text part
    Block,   // a template: parts joined by single spaces
    Word,    // a word looked up in the error itself: one WordArg part
};

struct EntryInfo {
    int code;          // category code + position among the entries
    const char* name;  // the Vyx id word, e.g. "no-value"
    MessageKind kind;
    const MessagePart* parts;
    uint8_t part_count;
    const char* source_text;  // the message as written in boot/errors.vyx
};

struct CategoryInfo {
    int code;           // 100 * position
    const char* name;   // the Vyx category word, e.g. "script"
    const char* title;  // the `type` field, e.g. "Script Error"
    const EntryInfo* entries;
    uint8_t entry_count;
};

// nullptr when the category is out of range.
const CategoryInfo* category_info(int category);
// `entry` counts as the runtime does: FIRST_ENTRY (2) is the first entry.
// nullptr when either number is out of range.
const EntryInfo* entry_info(int category, int entry);
inline const EntryInfo* entry_info(Id id) { return entry_info(id.category, id.entry); }
// Number of entries (not counting `code` and `type`); 0 for an unknown category.
int entry_count(int category);

// Lookups by Vyx word; -1 when not found. find_entry answers the runtime entry
// number (2 = first entry).
int find_category(std::string_view name);
int find_entry(int category, std::string_view name);

// The message line of the report, without the "*** Title: " prefix. The
// arguments are the error's arg1..arg3 already turned into text by the caller
// (formed for syntax errors, molded otherwise, each cut at 80 characters).
// A template writes its items with one space between them, so a string that
// ends in a space is followed by two. An unknown id gives ""; null args
// count as three empty strings.
std::string render_message(Id id, const std::string args[3]);

namespace detail {
extern const CategoryInfo category_table[CATEGORY_COUNT];
}

}  // namespace vyx::err
