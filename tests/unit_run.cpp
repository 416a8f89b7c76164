// Whole runs in one process: each run starts from the same store and
// settings, whatever the run before it did or where it stopped.
#include "function.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
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
    {"list.txt", "wheel.rsd\ncar.rsd\n"},
};

struct Result {
    int status;
    std::string out;
    std::map<std::string, std::string> files;  // every file the run created
    bool operator==(const Result&) const = default;
    friend void PrintTo(const Result& r, std::ostream* os) {
        *os << "status " << r.status << ", output " << testing::PrintToString(r.out) << ", files "
            << testing::PrintToString(r.files);
    }
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

TEST(Runs, RepeatedRunsGiveTheSameOutputs) {
    const Result wheel = run_with({"wheel.rsd"});
    ASSERT_EQ(wheel.status, 0) << wheel.out;
    // Texture numbers start again from 0: tyre.tim took 0 in the run before.
    const Result both = run_with({"-ogp", "car.rsd", "wheel.rsd"});
    EXPECT_NE(both.files.at("a.rsd").find("NTEX=2\nTEX[0]=body.tim\nTEX[1]=tyre.tim\n"), std::string::npos);
    EXPECT_EQ(run_with({"-ogp", "car.rsd", "wheel.rsd"}), both);
    // Settings, texture numbers and merged counters of one run do not reach the next.
    const Result options = run_with({"-o", "x", "-pvt", "p.pvt", "-mot", "1", "m.mot", "-cod", "c.cod", "car.rsd"});
    EXPECT_EQ(options.files.count("x.rsd"), 1u);
    EXPECT_EQ(run_with({"wheel.rsd"}), wheel);
    EXPECT_EQ(run_with({"-bat", "list.txt"}).files.at("a.rsd"), run_with({"wheel.rsd", "car.rsd"}).files.at("a.rsd"));
}

// Failures at the command line, on opening, and part way through reading.
TEST(Runs, ARunAfterAFailedOneStartsAfresh) {
    const Result good = run_with({"car.rsd", "wheel.rsd"});
    ASSERT_EQ(good.status, 0) << good.out;
    const std::vector<std::string> failures[] = {
        {"car.rsd", "missing.rsd"}, {"-ogp", "car.rsd", "bad.rsd"}, {"-mot", "2", "x.mot"},
        {"-o", std::string(300, 'o'), "car.rsd"}};
    for (const auto& words : failures) {
        const Result failed = run_with(words);
        EXPECT_NE(failed.status, 0);
        EXPECT_TRUE(failed.files.empty());
        EXPECT_EQ(run_with({"car.rsd", "wheel.rsd"}), good);
    }
}

}  // namespace
