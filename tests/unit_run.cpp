// Whole runs in one process, as a caller of run() other than main makes
// them: each run starts from the same store and settings, whatever the run
// before it did or where it stopped. And what no run can show yet: the report
// of a table that cannot grow, and the field scanners started on a blank.
#include "function.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::map<std::string, std::string> inputs = {
    {"car.rsd", "@RSD940102\nPLY=m.ply\nMAT=car.mat\nGRP=car.grp\nNTEX=2\nTEX[0]=body.tim\nTEX[1]=tyre.tim\n"},
    {"wheel.rsd", "@RSD940102\nPLY=m.ply\nMAT=wheel.mat\nNTEX=1\nTEX[0]=tyre.tim\n"},
    {"bad.rsd", "@RSD940102\nPLY=bad.ply\nMAT=wheel.mat\n"},
    {"m.ply", "@PLY940102\n3 1 1\n0.1 100.3 -0.5\n1 0 0\n0 1 0\n0 0 1\n0 0 1 2 0 0 0 0 0\n"},
    {"bad.ply", "@PLY940102\n3 0 1\n0 0 0\n1 0 0\n0 1 0\n0 0 1 3 0 0 0 0 0\n"},
    {"car.mat", "@MAT940801\n1\n0 0 F T 1 0 0 10 0 0 10 10 10\n"},
    {"wheel.mat", "@MAT940801\n1\n0 0 F T 0 1 2 3 4 5 6 7 8\n"},
    {"list.txt", "car.rsd\nwheel.rsd\n"},
};

struct Result {
    int status;
    std::string out;
    std::map<std::string, std::string> files;  // every file the run created
    bool operator==(const Result&) const = default;
};

// One run in a scratch directory that holds the inputs and nothing else.
Result run_with(std::vector<std::string> args) {
    const fs::path home = fs::current_path();
    const fs::path dir = fs::temp_directory_path() / ("zorvel-runs-" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto& [name, bytes] : inputs) std::ofstream(dir / name, std::ios::binary) << bytes;
    args.insert(args.begin(), "zorvel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    fs::current_path(dir);
    testing::internal::CaptureStdout();
    Result r{run(static_cast<int>(args.size()), argv.data()), "", {}};
    r.out = testing::internal::GetCapturedStdout();
    fs::current_path(home);
    for (const auto& entry : fs::directory_iterator(dir)) {
        if (inputs.count(entry.path().filename().string())) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        r.files[entry.path().filename().string()].assign(std::istreambuf_iterator<char>(in), {});
    }
    fs::remove_all(dir);
    return r;
}

TEST(Runs, EachRunStartsAfresh) {
    const Result wheel = run_with({"wheel.rsd"});
    ASSERT_EQ(wheel.status, 0) << wheel.out;
    // Texture numbers start again from 0: tyre.tim took 0 in the run before.
    const Result both = run_with({"-ogp", "car.rsd", "wheel.rsd"});
    EXPECT_NE(both.files.at("a.rsd").find("NTEX=2\nTEX[0]=body.tim\nTEX[1]=tyre.tim\n"), std::string::npos);
    // Runs that set every option, or fail at the command line, on opening
    // or part way through reading.
    const std::vector<std::string> others[] = {
        {"-o", "x", "-pvt", "p.pvt", "-mot", "1", "m.mot", "-cod", "c.cod", "-bat", "list.txt"},
        {"car.rsd", "missing.rsd"}, {"-ogp", "car.rsd", "bad.rsd"}, {"-mot", "2", "x.mot"},
        {"-o", std::string(300, 'o'), "car.rsd"}};
    for (const auto& words : others) {
        SCOPED_TRACE(testing::PrintToString(words).substr(0, 60));
        run_with(words);
        EXPECT_TRUE(run_with({"-ogp", "-bat", "list.txt"}) == both);
        EXPECT_TRUE(run_with({"wheel.rsd"}) == wheel);
        // What another command of the same library finds after a run.
        EXPECT_TRUE(malrsd.empty() && malmot.empty() && outName.empty() && pvtName.empty() && codName.empty());
        EXPECT_EQ(NumRsd + NumMot + OUT + OGP + BAT + PVT + COD + MOT + PLY + MAT + TIM + MERGED, 0);
    }
}

// A table that cannot grow is reported as one that cannot be made, with the
// product wrapped to 32 bits; no run within the memory limits gets there.
TEST(Reports, GrowthFailureShowsSizeCountAndWrappedProduct) {
    try {
        realloc_error(false, 96, 25165824, "realloc error!(MATERIAL Data Base)");
        ADD_FAILURE() << "no report";
    } catch (const RunEnd& end) {
        EXPECT_EQ(end.status, EXIT_REPORT);
        EXPECT_EQ(end.report, "\nrealloc error!(MATERIAL Data Base)\nSize(96byte) \x81\x7E Number(25165824):-1879048192byte\n");
    }
}

// Blanks are spaces and tabs only; skip_unspace steps off the character it
// starts on, so started on a blank before a field it stops after the field.
TEST(Scanners, StopWhereTheFieldsEnd) {
    const std::string text = " \tab\v\rc d";
    const char *b = text.data(), *e = b + text.size();
    EXPECT_EQ(skip_space(b, e) - b, 2);
    EXPECT_EQ(skip_unspace(b + 1, e) - b, 7);
    EXPECT_EQ(skip_unspace(e, e), e);
}

}  // namespace
