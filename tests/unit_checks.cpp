// The checking procedures: each passes silently or ends the run with its
// report, byte for byte.
#include "function.h"

#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>

namespace {

// The report a check ends the run with; status -1 when it passed.
RunEnd outcome(const std::function<void()>& check) {
    try {
        check();
    } catch (const RunEnd& end) {
        return end;
    }
    return {-1, ""};
}

void expect_report(const std::function<void()>& check, const std::string& report) {
    RunEnd end = outcome(check);
    EXPECT_EQ(end.status, EXIT_REPORT);
    EXPECT_EQ(end.report, report);
}

void expect_pass(const std::function<void()>& check) {
    EXPECT_EQ(outcome(check).status, -1);
}

class Checks : public ::testing::Test {
protected:
    void TearDown() override { myfree(); }
};

TEST_F(Checks, AllocationReportShowsSizeCountAndWrappedProduct) {
    expect_pass([] { malloc_error(true, 1296, 3, "malloc error!(RSD Data Base)"); });
    expect_report([] { malloc_error(false, 1296, 3, "msg"); },
                  "\nmsg\nSize(1296byte) \x81\x7E Number(3):3888byte\n");
    expect_report([] { realloc_error(false, 96, 2, "realloc error!(MATERIAL Data Base)"); },
                  "\nrealloc error!(MATERIAL Data Base)\nSize(96byte) \x81\x7E Number(2):192byte\n");
    // The product is taken in 32 bits: 256 * 2^23 = 2^31, 256 * 2^24 = 2^32.
    expect_report([] { malloc_error(false, 256, 8388608, "m"); },
                  "\nm\nSize(256byte) \x81\x7E Number(8388608):-2147483648byte\n");
    expect_report([] { malloc_error(false, 256, 16777216, "m"); },
                  "\nm\nSize(256byte) \x81\x7E Number(16777216):0byte\n");
    expect_report([] { malloc_error(false, 268, -5, "m"); },
                  "\nm\nSize(268byte) \x81\x7E Number(-5):-1340byte\n");
    expect_report([] { malloc_error(false, 20, INT_MAX, "m"); },
                  "\nm\nSize(20byte) \x81\x7E Number(2147483647):-20byte\n");
}

TEST_F(Checks, NamedReports) {
    expect_pass([] { fopen_error(true, "car.rsd"); });
    expect_report([] { fopen_error(false, "dir/car.rsd"); }, "\nCan't open!\nFile Name:dir/car.rsd\n");
    expect_report([] { plyflag_error("car.ply", 7); },
                  "\nThe polygon type isn't supported!\nFile Name:car.ply\nPolygon Index:7\n");
    expect_report([] { eof_error("car.mat"); }, "\nUnexpected end of file!\nFile Name:car.mat\n");
    expect_report([] { write_error("a.ply"); }, "\nCan't write!\nFile Name:a.ply\n");
}

TEST_F(Checks, IdentifierLine) {
    const struct {
        const char* expected;
        std::string line;
        const char* problem;  // nullptr: accepted
    } cases[] = {
        {"@RSD940102", "@RSD940102", nullptr},
        {"@RSD940102", "@RSD940102 extra", nullptr},
        {"@RSD940102", "@RSD9401021", nullptr},  // nothing after the tenth character counts
        {"@RSD940102", "@RSD970401", "Version is incorrect!"},
        {"@RSD940102", "@RSD9401", "Version is incorrect!"},
        {"@RSD940102", "@RSD", "Version is incorrect!"},
        {"@RSD940102", "@rsd940102", "Format is incorrect!"},
        {"@RSD940102", "@PLY940102", "Format is incorrect!"},
        {"@RSD940102", "@RS", "Format is incorrect!"},
        {"@RSD940102", " @RSD940102", "Format is incorrect!"},
        {"@RSD940102", "", "Format is incorrect!"},
        {"@PLY940102", "@PLY940102", nullptr},
        {"@PLY940102", "@PLY940801", "Version is incorrect!"},
        {"@MAT940801", "@MAT940801", nullptr},
        {"@MAT940801", "@MAT940102", nullptr},
        {"@MAT940801", "@MAT940102 x", nullptr},
        {"@MAT940801", "@MAT970401", "Version is incorrect!"},
        {"@MAT940801", "@MAT", "Version is incorrect!"},
        {"@RSD940102", "@RSD940801", "Version is incorrect!"},
    };
    for (const auto& c : cases) {
        for (bool ended : {true, false}) {
            SCOPED_TRACE(c.line + (ended ? " (line end)" : " (no line end)"));
            Buffer = c.line;
            BufferEnded = ended;
            auto check = [&] { id_error("m.rsd", c.expected, Buffer); };
            if (!c.problem) {
                expect_pass(check);
                continue;
            }
            expect_report(check, std::string("\n") + c.problem + "\nFile Name:m.rsd\nID:" + c.line +
                                     (ended ? "\n" : ""));
        }
    }
}

TEST_F(Checks, IndexBelowTheLimitAndNotNegative) {
    const std::string report = "\nVertex's index is incorrect!\nFile Name:car.ply\n";
    for (int index : {0, 2}) expect_pass([&] { index_error("car.ply", index, 3, "Vertex's index is incorrect!"); });
    for (int index : {3, 4, INT_MAX, -1, INT_MIN})
        expect_report([&] { index_error("car.ply", index, 3, "Vertex's index is incorrect!"); }, report);
    expect_report([] { index_error("car.ply", 0, 0, "Vertex's index is incorrect!"); }, report);
}

TEST_F(Checks, NamesUpTo255Bytes) {
    const std::string fits(255, 'n'), tooLong(256, 'n');
    expect_pass([&] { name_error(fits); });
    expect_pass([] { name_error(""); });
    expect_report([&] { name_error(tooLong); }, "\nFile name is too long!\nFile Name:" + tooLong + "\n");
}

}  // namespace
