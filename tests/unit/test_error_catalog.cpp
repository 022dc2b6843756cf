// The generated error table against tests/data/error-catalog.tsv, a list of
// every category and entry written out independently of boot/errors.vyx.
// A category row has an empty entry column and its title as the message.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "runtime/error_catalog.h"

using namespace vyx::err;

namespace {

struct Row {
    int code;
    std::string category, entry, message;
};

std::vector<Row> load_fixture() {
    const char* root = std::getenv("VYX_SOURCE_DIR");
    std::string path = std::string(root ? root : ".") + "/tests/data/error-catalog.tsv";
    std::ifstream in(path);
    EXPECT_TRUE(in) << "cannot read " << path << " (is VYX_SOURCE_DIR set?)";
    std::vector<Row> rows;
    std::string line;
    std::getline(in, line);  // column names
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        std::vector<std::string> cols;
        std::stringstream ss(line);
        std::string col;
        while (std::getline(ss, col, '\t')) cols.push_back(col);
        if (cols.size() == 3) cols.push_back("");
        EXPECT_EQ(cols.size(), 4u) << line;
        if (cols.size() != 4) continue;
        rows.push_back({std::stoi(cols[0]), cols[1], cols[2], cols[3]});
    }
    return rows;
}

// Renders a message cell of the fixture with its own small reader, so that the
// generated parts (not only their source text) are checked: strings in double
// quotes, words and get-words arg1-arg3, and the form "the word `argN`".
std::string render_cell(const std::string& cell, const std::string args[3]) {
    auto arg_of = [&](const std::string& word) -> std::string {
        if (word.size() == 4 && word.compare(0, 3, "arg") == 0 && word[3] >= '1' && word[3] <= '3')
            return args[word[3] - '1'];
        ADD_FAILURE() << "unexpected word " << word << " in " << cell;
        return {};
    };
    const std::string word_form = "the word `";
    if (cell.compare(0, word_form.size(), word_form) == 0 && cell.back() == '`')
        return arg_of(cell.substr(word_form.size(), cell.size() - word_form.size() - 1));

    bool block = !cell.empty() && cell.front() == '[';
    if (block && cell.back() != ']') ADD_FAILURE() << "unclosed template " << cell;
    std::string body = block ? cell.substr(1, cell.size() - 2) : cell;
    std::vector<std::string> items;
    size_t i = 0;
    while (i < body.size()) {
        if (body[i] == ' ') {
            i++;
        } else if (body[i] == '"') {
            std::string s;
            for (i++; i < body.size() && body[i] != '"'; i++) {
                if (body[i] == '^' && i + 1 < body.size()) i++;
                s += body[i];
            }
            if (i >= body.size()) ADD_FAILURE() << "unterminated string in " << cell;
            i++;
            items.push_back(s);
        } else {
            size_t end = body.find(' ', i);
            if (end == std::string::npos) end = body.size();
            std::string word = body.substr(i, end - i);
            if (word[0] == ':') word.erase(0, 1);
            items.push_back(arg_of(word));
            i = end;
        }
    }
    if (!block && items.size() != 1) ADD_FAILURE() << "a plain message is one string: " << cell;
    std::string out;
    for (size_t k = 0; k < items.size(); k++) out += (k ? " " : "") + items[k];
    return out;
}

}  // namespace

TEST(ErrorCatalog, MatchesFixtureRowByRow) {
    std::vector<Row> rows = load_fixture();
    ASSERT_FALSE(rows.empty());
    const std::string args[3] = {"<one>", "<two>", "<three>"};
    int category = -1, entry = 0, entries_seen = 0;
    std::map<std::string, int> per_category;
    for (const Row& row : rows) {
        SCOPED_TRACE(std::to_string(row.code) + " " + row.category + "/" + row.entry);
        if (row.entry.empty()) {
            // a new category: it must be the next one, with its code and title
            if (category >= 0) {
                EXPECT_EQ(entry - FIRST_ENTRY, entry_count(category));
            }
            category++;
            entry = FIRST_ENTRY;
            const CategoryInfo* cat = category_info(category);
            ASSERT_NE(cat, nullptr);
            EXPECT_EQ(cat->name, row.category);
            EXPECT_EQ(cat->code, row.code);
            EXPECT_EQ(category * 100, row.code);
            EXPECT_EQ(std::string("\"").append(cat->title).append("\""), row.message);
            EXPECT_EQ(find_category(row.category), category);
            continue;
        }
        ASSERT_GE(category, 0) << "entry row before any category row";
        const EntryInfo* info = entry_info(category, entry);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->name, row.entry);
        EXPECT_EQ(info->code, row.code);
        EXPECT_EQ(category_info(category)->code + entry - FIRST_ENTRY, row.code);
        EXPECT_EQ(find_entry(category, row.entry), entry);

        const std::string word_form = "the word `";
        if (row.message.compare(0, word_form.size(), word_form) == 0) {
            EXPECT_EQ(info->kind, MessageKind::Word);
            EXPECT_EQ(word_form + info->source_text + "`", row.message);
        } else {
            EXPECT_EQ(info->source_text, row.message);
            EXPECT_EQ(info->kind, row.message[0] == '[' ? MessageKind::Block : MessageKind::String);
        }
        Id id{uint8_t(category), uint8_t(entry)};
        EXPECT_EQ(render_message(id, args), render_cell(row.message, args));
        entry++;
        entries_seen++;
        per_category[row.category]++;
    }
    EXPECT_EQ(entry - FIRST_ENTRY, entry_count(category));
    EXPECT_EQ(category + 1, CATEGORY_COUNT);
    EXPECT_EQ(entries_seen, 140);

    int total = 0;
    for (int c = 0; c < CATEGORY_COUNT; c++) total += entry_count(c);
    EXPECT_EQ(total, entries_seen);
    EXPECT_EQ(per_category["script"], 94);
    EXPECT_EQ(entry_count(CAT_RESERVED1), 0);
    EXPECT_EQ(entry_count(CAT_RESERVED2), 0);
    EXPECT_EQ(category_info(CAT_RESERVED2)->title, std::string("Reserved2 Error"));
}

TEST(ErrorCatalog, IdsNameTheirEntries) {
    struct Case {
        Id id;
        int code;
        const char* category;
        const char* entry;
    };
    const Case cases[] = {
        {throw_break, 0, "throw", "break"},
        {throw_throw, 2, "throw", "throw"},
        {syntax_invalid, 200, "syntax", "invalid"},
        {script_no_value, 300, "script", "no-value"},
        {script_invalid_path, 331, "script", "invalid-path"},
        {script_vb_invalid_record, 393, "script", "vb-invalid-record"},
        {math_zero_divide, 400, "math", "zero-divide"},
        {user_message, 800, "user", "message"},
        {internal_no_memory, 902, "internal", "no-memory"},
        {internal_deprecated, 913, "internal", "deprecated"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        const EntryInfo* info = entry_info(c.id);
        ASSERT_NE(info, nullptr);
        EXPECT_EQ(info->code, c.code);
        EXPECT_EQ(info->name, std::string(c.entry));
        EXPECT_EQ(category_info(c.id.category)->name, std::string(c.category));
        // the runtime finds an entry from a code by code / 100 and code % 100 + 2
        EXPECT_EQ(c.id.category, c.code / 100);
        EXPECT_EQ(c.id.entry, c.code % 100 + FIRST_ENTRY);
    }
    EXPECT_EQ(script_no_value.entry, 2);
    EXPECT_EQ(int(CAT_INTERNAL), 9);
}

TEST(ErrorCatalog, OutOfRangeLookupsFindNothing) {
    EXPECT_EQ(category_info(-1), nullptr);
    EXPECT_EQ(category_info(CATEGORY_COUNT), nullptr);
    EXPECT_EQ(entry_info(CAT_SCRIPT, 0), nullptr);  // `code`
    EXPECT_EQ(entry_info(CAT_SCRIPT, 1), nullptr);  // `type`
    EXPECT_EQ(entry_info(CAT_SCRIPT, 94 + FIRST_ENTRY), nullptr);  // code 394
    EXPECT_EQ(entry_info(CAT_RESERVED1, FIRST_ENTRY), nullptr);
    EXPECT_EQ(entry_info(CATEGORY_COUNT, FIRST_ENTRY), nullptr);
    EXPECT_EQ(entry_count(-1), 0);
    EXPECT_EQ(find_category("reserved3"), -1);
    EXPECT_EQ(find_entry(CAT_MATH, "no-value"), -1);
    EXPECT_EQ(find_entry(CAT_SCRIPT, "code"), -1);
    EXPECT_EQ(find_entry(-1, "break"), -1);
}

TEST(ErrorCatalog, RenderMessage) {
    struct Case {
        Id id;
        std::string args[3];
        const char* expected;
    };
    const Case cases[] = {
        {script_no_value, {"foo"}, "foo has no value"},
        {syntax_invalid, {"(line 1)", "integer!", "12a"}, "(line 1) invalid integer! at 12a"},
        // arguments are placed by name, not by order of appearance
        {script_bad_path_type, {"a/b", "none", "b"}, "b returned a none value, so a/b could not be accessed"},
        // the trailing space of the text and the separator both stay
        {note_no_load, {"%x.vyx"}, "cannot load:  %x.vyx"},
        {script_parse_infinite, {"x"}, "PARSE - infinite recursion at rule: [ x ]"},
        {access_invalid_port, {"ignored"}, "invalid port object (invalid field values)"},
        {internal_not_here, {"clipboard"}, "clipboard not supported on your system"},
        {internal_deprecated, {"old", "new"}, "old is DEPRECATED, please use new instead"},
        {internal_routines, {}, "routines require compilation, from OS shell: `vyx -r <script.vyx>`"},
        {user_message, {"my own text", "x"}, "my own text"},
        {math_zero_divide, {"1"}, "attempt to divide by zero"},
        // an empty argument still gets its separating space
        {throw_throw, {""}, "no catch for throw: "},
        {Id{CAT_RESERVED1, FIRST_ENTRY}, {"x"}, ""},
        {Id{CATEGORY_COUNT, FIRST_ENTRY}, {"x"}, ""},
    };
    for (const Case& c : cases) EXPECT_EQ(render_message(c.id, c.args), c.expected);
    EXPECT_EQ(render_message(script_no_value, nullptr), " has no value");
}
