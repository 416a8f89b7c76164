// Whole runs in one process: each run starts from the same store and
// settings, whatever the run before it did or where it stopped.
#include "function.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string banner =
    "\nzorvel version 1.1\nCopyright (C) 2026 the zorvel developers. All rights reserved.\n";

const char* const ply =
    "@PLY940102\n3 1 1\n0.1 100.3 -0.5\n1 0 0\n0 1 0\n0 0 1\n0 0 1 2 0 0 0 0 0\n";

const std::map<std::string, std::string> inputs = {
    {"car.rsd", "@RSD940102\nPLY=car.ply\nMAT=car.mat\nGRP=car.grp\nNTEX=2\nTEX[0]=body.tim\n"
                "TEX[1]=tyre.tim\n"},
    {"wheel.rsd", "@RSD940102\nPLY=wheel.ply\nMAT=wheel.mat\nNTEX=1\nTEX[0]=tyre.tim\n"},
    {"bad.rsd", "@RSD940102\nPLY=bad.ply\nMAT=wheel.mat\n"},
    {"car.ply", ply},
    {"wheel.ply", ply},
    {"bad.ply", "@PLY940102\n3 0 1\n0 0 0\n1 0 0\n0 1 0\n0 0 1 3 0 0 0 0 0\n"},
    {"car.mat", "@MAT940801\n1\n0 0 F T 1 0 0 10 0 0 10 10 10\n"},
    {"wheel.mat", "@MAT940801\n1\n0 0 F T 0 1 2 3 4 5 6 7 8\n"},
    {"list.txt", "wheel.rsd\ncar.rsd\n"},
};

class Runs : public ::testing::Test {
protected:
    fs::path dir, home;

    void SetUp() override {
        home = fs::current_path();
        dir = fs::temp_directory_path() / ("zorvel-runs-" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto& [name, bytes] : inputs) std::ofstream(dir / name, std::ios::binary) << bytes;
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(home);
        fs::remove_all(dir);
    }

    struct Result {
        int status;
        std::string stdout_;
        std::map<std::string, std::string> files;  // every file the run created
        bool operator==(const Result&) const = default;
    };

    Result run_with(std::initializer_list<std::string> words) {
        std::vector<std::string> args = {"zorvel"};
        args.insert(args.end(), words);
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        testing::internal::CaptureStdout();
        Result r{run(static_cast<int>(args.size()), argv.data()), "", {}};
        r.stdout_ = testing::internal::GetCapturedStdout();
        for (const auto& entry : fs::directory_iterator(dir)) {
            std::string name = entry.path().filename().string();
            if (inputs.count(name)) continue;
            std::ifstream in(entry.path(), std::ios::binary);
            r.files[name].assign(std::istreambuf_iterator<char>(in), {});
            fs::remove(entry.path());
        }
        return r;
    }
};

TEST_F(Runs, RepeatedRunsGiveTheSameOutputs) {
    const Result wheel = run_with({"wheel.rsd"});
    ASSERT_EQ(wheel.status, 0) << wheel.stdout_;
    EXPECT_EQ(wheel.stdout_, banner);
    ASSERT_EQ(wheel.files.size(), 4u);
    EXPECT_NE(wheel.files.at("a.rsd").find("NTEX=1\nTEX[0]=tyre.tim\n"), std::string::npos);

    // Texture numbers start again from 0: tyre.tim took 0 in the run before.
    const Result both = run_with({"-ogp", "car.rsd", "wheel.rsd"});
    ASSERT_EQ(both.status, 0) << both.stdout_;
    EXPECT_EQ(both.files.size(), 5u);
    EXPECT_NE(both.files.at("a.rsd").find("NTEX=2\nTEX[0]=body.tim\nTEX[1]=tyre.tim\n"), std::string::npos);
    EXPECT_EQ(run_with({"-ogp", "car.rsd", "wheel.rsd"}), both);

    // Settings, texture numbers and merged counters of one run do not reach the next.
    const Result options = run_with({"-o", "x", "-pvt", "p.pvt", "-mot", "1", "m.mot", "-cod", "c.cod",
                                     "car.rsd", "wheel.rsd"});
    ASSERT_EQ(options.status, 0) << options.stdout_;
    EXPECT_EQ(options.files.count("x.rsd"), 1u);
    EXPECT_EQ(run_with({"wheel.rsd"}), wheel);
    EXPECT_EQ(run_with({"-bat", "list.txt"}).files.at("a.rsd"),
              run_with({"wheel.rsd", "car.rsd"}).files.at("a.rsd"));
}

TEST_F(Runs, ARunAfterAFailedOneStartsAfresh) {
    const Result good = run_with({"car.rsd", "wheel.rsd"});
    ASSERT_EQ(good.status, 0) << good.stdout_;
    const struct {
        std::initializer_list<std::string> words;
        int status;
        std::string report;
    } failures[] = {
        {{"car.rsd", "missing.rsd"}, 1, "\nCan't open!\nFile Name:missing.rsd\n"},
        {{"-ogp", "car.rsd", "bad.rsd"}, 1, "\nVertex's index is incorrect!\nFile Name:bad.ply\n"},
        {{"-mot", "2", "x.mot"}, 2, ""},
        {{"-o", std::string(300, 'o'), "car.rsd"}, 1, ""},
    };
    for (const auto& f : failures) {
        const Result failed = run_with(f.words);
        EXPECT_EQ(failed.status, f.status);
        EXPECT_EQ(failed.stdout_.substr(0, banner.size()), banner);
        if (!f.report.empty()) {
            EXPECT_EQ(failed.stdout_, banner + f.report);
        }
        EXPECT_TRUE(failed.files.empty());
        EXPECT_EQ(run_with({"car.rsd", "wheel.rsd"}), good);
    }
}

}  // namespace
