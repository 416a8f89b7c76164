// The option scan and the output names.
#include "function.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

const std::string usage =
    "\n"
    ">zorvel [option] RSD files \x81\x63\n"
    "\n"
    ">zorvel [option] -bat TXT file\n"
    "\n"
    "[-o FILEname] \x81\x63 Set output file name(default:a.***)\n"
    "[-ogp] \x81\x63 Output OGP file\n"
    "[-pvt PVTname] \x81\x63 Set PVT file\n"
    "[-cod CODname] \x81\x63 Set COD file\n"
    "[-mot MOTnum MOTname\x81\x63] \x81\x63 Set number of MOT file and MOT file\n";

class Options : public ::testing::Test {
protected:
    std::vector<std::string> args;
    std::vector<char*> argv;

    void TearDown() override { myfree(); }

    int scan(std::initializer_list<std::string> words) {
        args = {"zorvel"};
        args.insert(args.end(), words);
        argv.clear();
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return option(static_cast<int>(args.size()), argv.data());
    }

    RunEnd rejected(std::initializer_list<std::string> words) {
        try {
            int n = scan(words);
            ADD_FAILURE() << "accepted, options end at " << n;
        } catch (const RunEnd& end) {
            return end;
        }
        return {};
    }

    // The stem after an option scan: the names oname forms, in order.
    std::vector<std::string> names(std::initializer_list<std::string> words) {
        scan(words);
        std::vector<std::string> formed;
        for (const char* ext : {".rsd", ".ply", ".mat", ".cod", ".ogp"}) {
            oname(ext);
            formed.push_back(outName);
        }
        myfree();
        return formed;
    }
};

TEST_F(Options, EveryOptionWord) {
    EXPECT_EQ(scan({"-o", "out", "-ogp", "-bat", "-pvt", "p.pvt", "-cod", "c.cod", "-mot", "1",
                    "m.mot", "list.txt"}),
              12);
    EXPECT_EQ(OUT + OGP + BAT + PVT + COD + MOT, 6);
    EXPECT_EQ(outName, "out");
    EXPECT_EQ(pvtName, "p.pvt");
    EXPECT_EQ(codName, "c.cod");
    EXPECT_EQ(NumMot, 1);
    EXPECT_EQ(malmot, std::vector<std::string>{"m.mot"});
    myfree();  // back to the starting values
    EXPECT_EQ(OUT + OGP + BAT + PVT + COD + MOT + NumMot, 0);
    EXPECT_TRUE(outName.empty() && pvtName.empty() && codName.empty() && malmot.empty());
}

TEST_F(Options, WhereTheOptionsEnd) {
    EXPECT_EQ(scan({}), 1);
    EXPECT_EQ(scan({"-x", "a.rsd"}), 1);
    EXPECT_EQ(scan({"a.rsd", "-ogp"}), 1);
    EXPECT_EQ(OGP, 0);
    EXPECT_EQ(scan({"-OGP", "a.rsd"}), 1);  // matched exactly
    EXPECT_EQ(scan({"-ogpx"}), 1);
    EXPECT_EQ(scan({"-ogp"}), 2);            // options only: the count of arguments
    EXPECT_EQ(scan({"-o", "out"}), 3);
    EXPECT_EQ(scan({"-bat", "list.txt", "b.rsd"}), 2);
    EXPECT_EQ(scan({"-mot", "0", "a.rsd"}), 3);
    EXPECT_EQ(scan({"-mot", "none", "a.rsd"}), 3);  // no digits: no names
    EXPECT_EQ(NumMot, 0);
}

TEST_F(Options, LastOccurrenceWins) {
    scan({"-o", "out", "-o", "new", "-mot", "2", "x", "y", "-mot", " +1x", "z", "a.rsd"});
    EXPECT_EQ(outName, "new");
    EXPECT_EQ(NumMot, 1);
    EXPECT_EQ(malmot, std::vector<std::string>{"z"});
}

TEST_F(Options, MotionNames) {
    EXPECT_EQ(scan({"-mot", "2", "walk.mot", "run.mot", "a.rsd", "b.rsd"}), 5);
    EXPECT_EQ(MOT, 1);
    EXPECT_EQ(NumMot, 2);
    EXPECT_EQ(malmot, (std::vector<std::string>{"walk.mot", "run.mot"}));
    // The names are taken whatever they look like.
    EXPECT_EQ(scan({"-mot", "1", "-ogp", "a.rsd"}), 4);
    EXPECT_EQ(OGP, 0);
}

TEST_F(Options, MalformedCommandLines) {
    for (auto words : {std::initializer_list<std::string>{"-o"}, {"-pvt"}, {"-cod"}, {"-mot"},
                       {"-ogp", "-o"}, {"-mot", "3", "a", "b"}, {"-mot", "1"},
                       {"-mot", "99999999999", "a"}, {"-mot", "2147483647", "a"}}) {
        RunEnd end = rejected(words);
        EXPECT_EQ(end.status, EXIT_USAGE);
        EXPECT_EQ(end.report, usage);
        myfree();
    }
}

TEST_F(Options, NegativeMotionCountIsAnAllocationFailure) {
    const struct {
        const char* count;
        const char* shown;  // the count as read, then the 32-bit product
    } cases[] = {{"-1", "-1):-256"}, {"-2147483649", "-2147483648):0"}, {"-8388608", "-8388608):-2147483648"}};
    for (const auto& c : cases) {
        RunEnd end = rejected({"-mot", c.count, "a.rsd"});
        EXPECT_EQ(end.status, EXIT_REPORT);
        EXPECT_EQ(end.report, std::string("\nmalloc error!(MOT Data Base)\nSize(256byte) \x81\x7E Number(") +
                                  c.shown + "byte\n");
        myfree();
    }
    // Checked before the names that follow are counted.
    EXPECT_EQ(rejected({"-mot", "-3"}).status, EXIT_REPORT);
}

TEST_F(Options, NamesTooLong) {
    const std::string n255(255, 'n'), n256(256, 'n');
    const std::string stem251(251, 's'), stem252(252, 's');
    for (auto words : {std::initializer_list<std::string>{"-o", n256}, {"-pvt", n256}, {"-cod", n256},
                       {"-mot", "2", "ok.mot", n256}, {"-o", stem252}, {"-o", stem252 + ".rsd"},
                       {"-o", "d/" + std::string(250, 's')}}) {
        RunEnd end = rejected(words);
        EXPECT_EQ(end.status, EXIT_REPORT);
        EXPECT_EQ(end.report, "\nFile name is too long!\nFile Name:" + *(words.end() - 1) + "\n");
        myfree();
    }
    EXPECT_EQ(scan({"-o", stem251 + ".rsd", "-pvt", n255, "-cod", n255, "-mot", "1", n255}), 10);
    EXPECT_EQ(scan({"-o", std::string(200, 'd') + "." + std::string(54, 'x')}), 3);  // stem of 200
    oname(".rsd");
    EXPECT_EQ(outName, std::string(200, 'd') + ".rsd");
}

TEST_F(Options, OutputNames) {
    using V = std::vector<std::string>;
    EXPECT_EQ(names({}), (V{"a.rsd", "a.ply", "a.mat", "a.cod", "a.ogp"}));
    EXPECT_EQ(names({"-ogp", "x.rsd"}), (V{"a.rsd", "a.ply", "a.mat", "a.cod", "a.ogp"}));
    EXPECT_EQ(names({"-o", "car.old.rsd"}), (V{"car.rsd", "car.ply", "car.mat", "car.cod", "car.ogp"}));
    EXPECT_EQ(names({"-o", "out", "-o", "new"})[0], "new.rsd");
    EXPECT_EQ(names({"-o", "../out/car"})[0], "../out/car.rsd");
    EXPECT_EQ(names({"-o", "out.d/car.x"})[1], "out.d/car.ply");
    EXPECT_EQ(names({"-o", "./a.b/c.d.e"})[4], "./a.b/c.ogp");
    EXPECT_EQ(names({"-o", "dir/.hidden"})[2], "dir/.mat");
    EXPECT_EQ(names({"-o", ".car"})[0], ".rsd");
    EXPECT_EQ(names({"-o", "car."})[0], "car.rsd");
}

}  // namespace
