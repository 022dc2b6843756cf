#include "runtime/error_catalog.h"

namespace vyx::err {

const CategoryInfo* category_info(int category) {
    if (category < 0 || category >= CATEGORY_COUNT) return nullptr;
    return &detail::category_table[category];
}

const EntryInfo* entry_info(int category, int entry) {
    const CategoryInfo* cat = category_info(category);
    if (!cat) return nullptr;
    int index = entry - FIRST_ENTRY;
    if (index < 0 || index >= cat->entry_count) return nullptr;
    return &cat->entries[index];
}

int entry_count(int category) {
    const CategoryInfo* cat = category_info(category);
    return cat ? cat->entry_count : 0;
}

int find_category(std::string_view name) {
    for (int i = 0; i < CATEGORY_COUNT; i++)
        if (name == detail::category_table[i].name) return i;
    return -1;
}

int find_entry(int category, std::string_view name) {
    const CategoryInfo* cat = category_info(category);
    if (!cat) return -1;
    for (int i = 0; i < cat->entry_count; i++)
        if (name == cat->entries[i].name) return i + FIRST_ENTRY;
    return -1;
}

std::string render_message(Id id, const std::string args[3]) {
    const EntryInfo* entry = entry_info(id);
    if (!entry) return {};
    std::string out;
    for (int i = 0; i < entry->part_count; i++) {
        const MessagePart& part = entry->parts[i];
        if (i > 0) out += ' ';
        if (part.kind == PartKind::Text)
            out += part.text;
        else if (args && part.arg >= 1 && part.arg <= 3)
            out += args[part.arg - 1];
    }
    return out;
}

}  // namespace vyx::err
