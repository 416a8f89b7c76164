// The line reader and the two field scanners.
#include "function.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

using namespace std::string_literals;

namespace {

TEST(LineReader, ReadsMeaningfulLinesInOrder) {
    const std::string big(200000, 'x');
    const struct {
        const char* what;
        std::string bytes;
        std::vector<std::pair<std::string, bool>> lines;  // text, line end followed
    } cases[] = {
        {"comments and blank lines skipped", "# c\n\n   \n  # note\n\t\n  PLY=a\n", {{"  PLY=a", true}}},
        {"a '#' after the first character belongs to the line", "ab #1\na#b\n", {{"ab #1", true}, {"a#b", true}}},
        {"CR LF line ends; a CR inside a line stays", "# c\r\n\r\n \t\r\nP=a\r\nb\rc\r\n",
         {{"P=a", true}, {"b\rc", true}}},
        {"mixed line ends, last line without its end", "a\nb\r\nc", {{"a", true}, {"b", true}, {"c", false}}},
        {"last line of blanks without its end", "x\n \t ", {{"x", true}}},
        {"file ends with comments", "x\n# end\n  # more", {{"x", true}}},
        {"other control characters are not blanks", "\v\n\f \n", {{"\v", true}, {"\f ", true}}},
        {"a NUL byte ends its line", "ab\0cd\nef\n"s, {{"ab", false}, {"ef", true}}},
        {"a NUL after blanks leaves a blank line", "  \0x\nef"s, {{"ef", false}}},
        {"long lines read whole", big + "\n#" + big + "\n" + big + "y", {{big, true}, {big + "y", false}}},
        {"empty file", "", {}},
    };
    const std::string path = testing::TempDir() + "zorvel-lines-" + std::to_string(getpid());
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(path, std::ios::binary) << c.bytes;
        InFile file;
        open_input(file, path);
        EXPECT_TRUE(Buffer.empty());
        for (const auto& [text, ended] : c.lines) {
            ASSERT_TRUE(get1line(file));
            EXPECT_TRUE(Buffer == text) << testing::PrintToString(std::string(Buffer.substr(0, 40)));
            EXPECT_EQ(BufferEnded, ended);
        }
        EXPECT_FALSE(get1line(file));
        EXPECT_FALSE(get1line(file));  // stays at the end
    }
    std::remove(path.c_str());
    myfree();  // the last line read pointed into the file
}

// Blanks are spaces and tabs only. skip_unspace steps off its start character
// first, so started on a blank before a field it stops after the field.
TEST(Scanners, StopWhereTheFieldsEnd) {
    const struct {
        std::string text;
        std::size_t from, space, unspace;  // start, then where each scanner stops
    } cases[] = {
        {"  \tab c", 0, 3, 1}, {"  \tab c", 3, 3, 5}, {" ab\tc", 0, 1, 3}, {"a\nb c", 0, 0, 3},
        {"\n  x", 0, 0, 1},    {"\r\v\f", 0, 0, 3},   {"abc", 0, 0, 3},   {" ", 0, 1, 1},
        {"x", 1, 1, 1},        {"", 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " from " + std::to_string(c.from));
        const char* b = c.text.data();
        const char* e = b + c.text.size();
        EXPECT_EQ(skip_space(b + c.from, e) - b, static_cast<long>(c.space));
        EXPECT_EQ(skip_unspace(b + c.from, e) - b, static_cast<long>(c.unspace));
    }
}

}  // namespace
