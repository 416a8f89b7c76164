// The option scan and the output names.
#include "function.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Words = std::vector<std::string>;

// Where the options end; -1 when the scan ended the run with `status`.
int scan(Words args, int* status = nullptr) {
    myfree();
    args.insert(args.begin(), "zorvel");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    try {
        return option(static_cast<int>(args.size()), argv.data());
    } catch (const RunEnd& end) {
        if (status) *status = end.status;
        return -1;
    }
}

TEST(Options, EveryOptionWordSetsItsStateAndMyfreeResetsIt) {
    EXPECT_EQ(scan({"-o", "out", "-ogp", "-bat", "-pvt", "p.pvt", "-cod", "c.cod", "-mot", "1", "m.mot", "l.txt"}),
              12);
    EXPECT_EQ(OUT + OGP + BAT + PVT + COD + MOT, 6);
    EXPECT_EQ(outName + pvtName + codName, "outp.pvtc.cod");
    EXPECT_EQ(NumMot, 1);
    EXPECT_EQ(malmot, std::vector<std::string>{"m.mot"});
    myfree();
    EXPECT_EQ(OUT + OGP + BAT + PVT + COD + MOT + NumMot, 0);
    EXPECT_TRUE(outName.empty() && pvtName.empty() && codName.empty() && malmot.empty());
}

// The index of the first argument that is no option; the count of arguments
// when all are options. -1: the run ends with a usage (2) or a report (1).
TEST(Options, WhereTheOptionsEnd) {
    const std::string n255(255, 'n'), n256(256, 'n');
    const struct {
        Words words;
        int end, status;
    } cases[] = {
        {{}, 1, 0}, {{"-x", "a.rsd"}, 1, 0}, {{"a.rsd", "-ogp"}, 1, 0}, {{"-OGP", "a.rsd"}, 1, 0},
        {{"-ogpx"}, 1, 0}, {{"-ogp"}, 2, 0}, {{"-o", "out"}, 3, 0}, {{"-bat", "list.txt", "b.rsd"}, 2, 0},
        {{"-mot", "none", "a.rsd"}, 3, 0},      // no digits: no names
        {{"-mot", "1", "-ogp", "a.rsd"}, 4, 0},  // names are taken whatever they look like
        {{"-mot", "2", "x", "y"}, 5, 0},
        {{"-o", std::string(251, 's') + ".rsd", "-pvt", n255, "-cod", n255, "-mot", "1", n255}, 10, 0},
        {{"-o", std::string(200, 'd') + "." + std::string(54, 'x')}, 3, 0},  // stem of 200
        {{"-mot", "3", "a", "b"}, -1, EXIT_USAGE}, {{"-mot", "99999999999", "a"}, -1, EXIT_USAGE},
        {{"-ogp", "-o"}, -1, EXIT_USAGE}, {{"-pvt", n256}, -1, EXIT_REPORT},
        {{"-o", std::string(252, 's') + ".rsd"}, -1, EXIT_REPORT},
        {{"-o", "d/" + std::string(250, 's')}, -1, EXIT_REPORT},
        {{"-mot", "-3"}, -1, EXIT_REPORT},  // the count is checked before the names are counted
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.words).substr(0, 60));
        int status = 0;
        EXPECT_EQ(scan(c.words, &status), c.end);
        EXPECT_EQ(status, c.status);
    }
    myfree();
}

// The stem is cut at the first '.' of the last path component; each name
// replaces the extension of the one before.
TEST(Options, OutputNames) {
    const struct {
        Words words;
        const char* stem;
    } cases[] = {{{}, "a"},           {{"-ogp", "x.rsd"}, "a"},  {{"-o", "dir/.hidden"}, "dir/"},
                 {{"-o", ".car"}, ""}, {{"-o", "car."}, "car"}, {{"-o", "./a.b/c.d.e"}, "./a.b/c"}};
    for (const auto& c : cases) {
        scan(c.words);
        for (const char* ext : {".rsd", ".ply", ".mat", ".cod", ".ogp"}) {
            oname(ext);
            EXPECT_EQ(outName, c.stem + std::string(ext));
        }
    }
    myfree();
}

}  // namespace
