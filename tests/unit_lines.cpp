// The line reader and the two field scanners.
#include "function.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::string_literals;

namespace {

class LineReader : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("zorvel-lines-" + std::to_string(getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override {
        myfree();
        fs::remove_all(dir);
    }
    std::string write(const std::string& name, const std::string& bytes) {
        std::string path = (dir / name).string();
        std::ofstream(path, std::ios::binary) << bytes;
        return path;
    }
    static RunEnd ends(InFile& file, const std::string& name) {
        try {
            open_input(file, name);
            for (;;) need_line(file);
        } catch (const RunEnd& end) {
            return end;
        }
    }
};

struct LineCase {
    const char* what;
    std::string bytes;
    std::vector<std::pair<std::string, bool>> lines;  // text, line end followed
};

const LineCase lineCases[] = {
    {"comments and blank lines before the identifier", "# comment\n\n   \n@RSD940102\n",
     {{"@RSD940102", true}}},
    {"indented comment, tab line, indented key line", "   # note\n\t\n  PLY=car.ply\n",
     {{"  PLY=car.ply", true}}},
    {"blank line then a last line without its end", "    \nab", {{"ab", false}}},
    {"a '#' after the first character belongs to the line", "  \nab #1\na#b\n",
     {{"ab #1", true}, {"a#b", true}}},
    {"CR LF line ends", "# c\r\n\r\n \t\r\nPLY=a\r\nMAT=b\r\n", {{"PLY=a", true}, {"MAT=b", true}}},
    {"a CR inside a line stays", "a\rb\r\n", {{"a\rb", true}}},
    {"mixed line ends", "a\nb\r\nc", {{"a", true}, {"b", true}, {"c", false}}},
    {"last line of blanks without its end", "x\n \t ", {{"x", true}}},
    {"file ends with comments", "x\n# end\n  # more", {{"x", true}}},
    {"other control characters are not blanks", "\v\n\f \n", {{"\v", true}, {"\f ", true}}},
    {"a NUL byte ends its line", "ab\0cd\nef\n"s, {{"ab", false}, {"ef", true}}},
    {"a NUL after blanks leaves a blank line", "  \0x\nef"s, {{"ef", false}}},
    {"empty file", "", {}},
    {"blank and comment lines only", "\n\n \t\n#\n", {}},
};

TEST_F(LineReader, ReadsMeaningfulLinesInOrder) {
    int n = 0;
    for (const LineCase& c : lineCases) {
        SCOPED_TRACE(c.what);
        std::string path = write("case" + std::to_string(n++), c.bytes);
        InFile file;
        open_input(file, path);
        EXPECT_TRUE(Buffer.empty());
        for (const auto& [text, ended] : c.lines) {
            ASSERT_TRUE(get1line(file));
            EXPECT_EQ(std::string(Buffer), text);
            EXPECT_EQ(BufferEnded, ended);
        }
        EXPECT_FALSE(get1line(file));
        EXPECT_FALSE(get1line(file));  // stays at the end
        RunEnd end = ends(file, path);
        EXPECT_EQ(end.status, EXIT_REPORT);
        EXPECT_EQ(end.report, "\nUnexpected end of file!\nFile Name:" + path + "\n");
    }
}

TEST_F(LineReader, LongLinesAreReadWhole) {
    const std::string big(1 << 20, 'x');
    std::string path = write("long", big + "\n#" + big + "\n" + big + "y");
    InFile file;
    open_input(file, path);
    ASSERT_TRUE(get1line(file));
    EXPECT_EQ(Buffer.size(), big.size());
    EXPECT_TRUE(BufferEnded);
    ASSERT_TRUE(get1line(file));  // the long comment has no tail read as a line
    EXPECT_EQ(std::string(Buffer), big + "y");
    EXPECT_FALSE(BufferEnded);
    EXPECT_FALSE(get1line(file));
}

TEST_F(LineReader, OpeningAFileForgetsTheLineOfTheFileBefore) {
    InFile first, second;
    open_input(first, write("first", "@RSD940102\n"));
    ASSERT_TRUE(get1line(first));
    open_input(second, write("empty", ""));
    EXPECT_TRUE(Buffer.empty());
    EXPECT_FALSE(BufferEnded);
    EXPECT_FALSE(get1line(second));
    EXPECT_TRUE(Buffer.empty());
}

TEST_F(LineReader, UnreadableInputsCannotBeOpened) {
    for (std::string name : {dir.string(), (dir / "missing.rsd").string()}) {
        InFile file;
        RunEnd end = ends(file, name);
        EXPECT_EQ(end.status, EXIT_REPORT);
        EXPECT_EQ(end.report, "\nCan't open!\nFile Name:" + name + "\n");
    }
}

struct ScanCase {
    std::string text;
    std::size_t from, space, unspace;  // start, then where each scanner stops
};

TEST(Scanners, StopWhereTheFieldsEnd) {
    const ScanCase cases[] = {
        {"  \tab c", 0, 3, 1},     // unspace: a blank followed by a blank
        {"  \tab c", 3, 3, 5},     // on a field: the blank after it
        {" ab\tc", 0, 1, 3},       // on a blank before a field: the tab after the field
        {"a\nb c", 0, 0, 3},       // unspace runs through a newline
        {"\n  x", 0, 0, 1},        // skip_space stops at a newline
        {"\r\v\f", 0, 0, 3},       // only blanks and tabs count as blanks
        {"abc", 0, 0, 3},          // never past the end
        {"   ", 0, 3, 1},
        {" ", 0, 1, 1},            // a lone blank: unspace steps off it to the end
        {"x", 1, 1, 1},            // at the end already
        {"", 0, 0, 0},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.text) + " from " + std::to_string(c.from));
        const char* b = c.text.data();
        const char* e = b + c.text.size();
        EXPECT_EQ(skip_space(b + c.from, e) - b, static_cast<long>(c.space));
        EXPECT_EQ(skip_unspace(b + c.from, e) - b, static_cast<long>(c.unspace));
    }
}

TEST(Scanners, UnspaceNeverStopsOnItsStartCharacter) {
    const std::string text = " \t x \ty";
    const char* b = text.data();
    const char* e = b + text.size();
    for (const char* p = b; p < e; ++p) {
        const char* q = skip_unspace(p, e);
        EXPECT_GT(q, p);
        EXPECT_LE(q, e);
        for (const char* r = p + 1; r < q; ++r) EXPECT_TRUE(*r != ' ' && *r != '\t');
        if (q < e) {
            EXPECT_TRUE(*q == ' ' || *q == '\t');
        }
    }
}

}  // namespace
