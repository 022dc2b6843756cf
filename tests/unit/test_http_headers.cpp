// Reply header text turned into a map!: names as word keys, repeated names
// (whatever their case) gathered in a block, values after the colon and
// its blanks, and a last line without CR LF read to the text's end only.
#include <cstring>
#include <memory>
#include <string>

#include "interp_fixture.h"
#include "io/http.h"

using namespace vyx;

using HttpHeaders = UnderCollections<InterpTest>;

namespace {

std::string parsed(const std::string& text) {
    Cell* top = stack::top;
    // A copy with no terminator: reading past its end is a fault the
    // sanitizers see.
    std::unique_ptr<char[]> bytes(new char[text.size() ? text.size() : 1]);
    std::memcpy(bytes.get(), text.data(), text.size());
    Cell m = *simple_io::parse_headers(bytes.get(), text.size());
    std::string out = InterpTest::mold(m);
    stack::top = top;
    return out;
}

}  // namespace

TEST_F(HttpHeaders, ValuesStartAfterTheColonAndItsBlanks) {
    EXPECT_EQ(parsed("X:1\r\nY:\r\nZ: \t two words \r\n"), "#[\n    X: \"1\"\n    Y: \"\"\n    Z: \"two words \"\n]");
}

TEST_F(HttpHeaders, ALastLineWithoutLineEndEndsAtTheText) {
    EXPECT_EQ(parsed("A: b\r\nC: d"), "#[\n    A: \"b\"\n    C: \"d\"\n]");
    EXPECT_EQ(parsed("C:"), "#[\n    C: \"\"\n]");
    EXPECT_EQ(parsed(""), "#[]");
}

TEST_F(HttpHeaders, RepeatedNamesGatherInABlockInOrder) {
    EXPECT_EQ(parsed("Set-Cookie: a=1\r\nX: y\r\nset-cookie: b=2\r\nSet-Cookie: c=3\r\n"),
              "#[\n    Set-Cookie: [\"a=1\" \"b=2\" \"c=3\"]\n    X: \"y\"\n]");
}

TEST_F(HttpHeaders, LinesWithoutANameAreSkippedAndBadBytesRepaired) {
    EXPECT_EQ(parsed(": v\r\nno colon\r\nK: \xff\r\n"), "#[\n    K: \"\xef\xbf\xbd\"\n]");
}
