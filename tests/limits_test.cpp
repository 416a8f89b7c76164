// Resource limits: counts and lines far beyond what the files hold, and
// writes that fail part-way. Inputs are made here at run time; the built
// zorvel runs on them under a 1 GB address-space limit (not in sanitizer or
// wrapped builds, whose runtimes reserve far more) and its peak resident
// memory must stay under 1 GB. Each run's peak is printed; it counts this
// process's own size before exec, so it is the tool's peak only in a build
// without sanitizers.
//
// ZORVEL_WRAPPER, when set, is put in front of the binary (for example
// "valgrind --error-exitcode=99 -q"); what the wrapper writes to standard
// error is shown.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZORVEL_BIN
#error "ZORVEL_BIN must name the zorvel executable"
#endif

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

namespace fs = std::filesystem;

namespace {

constexpr long kMemoryLimit = 1L << 30;
constexpr unsigned kTimeoutSeconds = 120;

const std::string banner =
    "\nzorvel version 1.1\nCopyright (C) 2026 the zorvel developers. All rights reserved.\n";

std::string report(const std::string& message, const std::string& file) {
    return banner + "\n" + message + "\nFile Name:" + file + "\n";
}

// One model: four vertices, one normal, two polygons, one texture.
const std::string rsdText = "@RSD940102\nPLY=m.ply\nMAT=m.mat\nGRP=m.grp\nNTEX=1\nTEX[0]=m.tim\n";
const std::string plyHead = "@PLY940102\n";
const std::string plyBody =
    "4 1 2\n0 0 0\n1 0 0\n1 1 0\n0 1 0\n0 0 1\n0 0 1 2 0 0 0 0 0\n1 0 1 2 3 0 0 0 0\n";
const std::string matText = "@MAT940801\n1\n0-1 0 F T 0 0 0 63 0 63 63 0 63\n";

std::vector<std::string> wrapper_words() {
    std::vector<std::string> words;
    if (const char* text = std::getenv("ZORVEL_WRAPPER")) {
        std::istringstream in(text);
        for (std::string w; in >> w;) words.push_back(w);
    }
    return words;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Result {
    int status = -1;  // -1: ended by a signal
    std::string out, err;
    long peakKb = 0;
};

class Limits : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zorvel-limits-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        if (!HasFailure()) fs::remove_all(dir);
    }

    void write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
    }
    void model(const std::string& ply = plyHead + plyBody, const std::string& mat = matText,
               const std::string& rsd = rsdText) {
        write("m.rsd", rsd);
        write("m.ply", ply);
        write("m.mat", mat);
    }
    std::string output(const std::string& name) { return slurp(dir / name); }

    Result run(std::vector<std::string> args) {
        std::vector<std::string> words = wrapper_words();
        const bool wrapped = !words.empty();
        words.push_back(ZORVEL_BIN);
        words.insert(words.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        const fs::path outPath = dir / ".stdout", errPath = dir / ".stderr";

        // The child's peak counts this process's size before exec: keep it small.
        malloc_trim(0);
        pid_t pid = fork();
        if (pid == 0) {
            int in = open("/dev/null", O_RDONLY);
            int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
                dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
                _exit(127);
            if (!kSanitized && !wrapped) {
                rlimit limit{kMemoryLimit, kMemoryLimit};
                setrlimit(RLIMIT_AS, &limit);
            }
            alarm(kTimeoutSeconds);  // kept across exec: a hang ends in SIGALRM
            execvp(argv[0], argv.data());
            _exit(127);
        }
        Result r;
        int wstatus = 0;
        rusage usage{};
        EXPECT_EQ(wait4(pid, &wstatus, 0, &usage), pid);
        if (WIFEXITED(wstatus)) r.status = WEXITSTATUS(wstatus);
        EXPECT_TRUE(WIFEXITED(wstatus)) << "ended by signal " << WTERMSIG(wstatus);
        r.out = slurp(outPath);
        r.err = slurp(errPath);
        fs::remove(outPath);
        fs::remove(errPath);
        r.peakKb = usage.ru_maxrss;
        std::printf("[  peak    ] %s: %.1f MB\n",
                    testing::UnitTest::GetInstance()->current_test_info()->name(),
                    static_cast<double>(r.peakKb) / 1024);
        EXPECT_LT(r.peakKb * 1024, kMemoryLimit);
        if (wrapped) {
            if (!r.err.empty()) std::printf("%s", r.err.c_str());
        } else {
            EXPECT_EQ(r.err, "");
        }
        return r;
    }

    void expect_report(std::vector<std::string> args, const std::string& expected,
                       int status = 1) {
        Result r = run(std::move(args));
        EXPECT_EQ(r.status, status);
        EXPECT_EQ(r.out, expected);
    }

    // Runs on the model as it is and, in a second directory, on `plain`;
    // both runs must complete and write the same files.
    void expect_same_merge(const std::string& ply, const std::string& mat) {
        Result r = run({"m.rsd"});
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, banner);
        std::vector<std::string> files;
        for (const char* ext : {".rsd", ".ply", ".mat", ".cod"}) files.push_back(output(std::string("a") + ext));
        for (const auto& entry : fs::directory_iterator(dir)) fs::remove_all(entry.path());
        model(ply, mat);
        EXPECT_EQ(run({"m.rsd"}).status, 0);
        int k = 0;
        for (const char* ext : {".rsd", ".ply", ".mat", ".cod"})
            EXPECT_TRUE(files[k++] == output(std::string("a") + ext)) << "a" << ext << " differs";
    }
};

TEST_F(Limits, PlyCountsOfTwoBillionInThreeLineFiles) {
    for (std::string counts : {"2000000000 0 0", "1 2000000000 0", "1 0 2000000000"}) {
        model(plyHead + counts + "\n0 0 0\n");
        expect_report({"m.rsd"}, report("Unexpected end of file!", "m.ply"));
    }
}

TEST_F(Limits, TextureCountOfTwoBillionWithTwoLines) {
    model(plyHead + plyBody, matText,
          "@RSD940102\nPLY=m.ply\nMAT=m.mat\nNTEX=2000000000\nTEX[0]=a.tim\nTEX[1]=b.tim\n");
    expect_report({"m.rsd"}, report("Unexpected end of file!", "m.rsd"));
}

TEST_F(Limits, MaterialCountAndRangeOfTwoBillion) {
    model(plyHead + plyBody, "@MAT940801\n2000000000\n0-1 0 F C 1 2 3\n");
    expect_report({"m.rsd"}, report("Unexpected end of file!", "m.mat"));
    model(plyHead + plyBody, "@MAT940801\n1\n0-2000000000 0 F C 1 2 3\n");
    expect_report({"m.rsd"}, report("Polygon's index is incorrect!", "m.mat"));
}

constexpr std::size_t kLongLine = 50'000'000;

TEST_F(Limits, FiftyMegabyteCommentLine) {
    model(plyHead + "# " + std::string(kLongLine, 'x') + "\n" + plyBody);
    expect_same_merge(plyHead + plyBody, matText);
}

// "000...0-000...01": the polygons 0 and 1, written with 25 MB of zeros each.
TEST_F(Limits, FiftyMegabytePolygonList) {
    model(plyHead + plyBody, [] {
        std::string zeros(kLongLine / 2, '0');
        return "@MAT940801\n1\n" + zeros + "-" + zeros + "1 0 F T 0 0 0 63 0 63 63 0 63\n";
    }());
    expect_same_merge(plyHead + plyBody, matText);
}

TEST_F(Limits, TwentyThousandModelsInBatchList) {
    model();
    std::string list;
    for (int i = 0; i < 20000; ++i) list += "m.rsd\n";
    write("list.txt", list);
    Result r = run({"-ogp", "-bat", "list.txt"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, banner);
    std::string ply = output("a.ply"), ogp = output("a.ogp"), mat = output("a.mat");
    EXPECT_TRUE(ply.starts_with("@PLY970401\n# Number of Items\n80000 20000 40000\n"));
    EXPECT_TRUE(ogp.ends_with("\nm 4 79992-79995\nm 4 79996-79999\n")) << ogp.substr(ogp.size() - 60);
    EXPECT_TRUE(mat.ends_with("\n39999 0 F T 0 0 0 63 0 63 63 0 63\n")) << mat.substr(mat.size() - 60);
    EXPECT_TRUE(output("a.rsd").ends_with("\nNTEX=1\nTEX[0]=m.tim\n"));
}

// A count the arguments cannot back is a malformed command line, also when
// it does not fit in 32 bits (4294967297 must not wrap to 1).
TEST_F(Limits, MotionCountsNearIntMax) {
    model();
    const std::string usage = run({}).out;  // banner and usage text
    for (std::string count : {"2147483646", "2147483647", "4294967297"})
        expect_report({"-mot", count, "x.mot", "m.rsd"}, usage, 2);
    EXPECT_EQ(run({"-mot", "1", "x.mot", "m.rsd"}).status, 0);
}

// A PLY file larger than the output buffer fails while being written, not
// only when closed; the RSD file written before it stays.
TEST_F(Limits, LargeOutputOntoFullDevice) {
    std::string ply = plyHead + "100000 0 0\n";
    for (int i = 0; i < 100000; ++i) ply += "1.5 2.5 3.5\n";
    model(ply, "@MAT940801\n0\n", "@RSD940102\nPLY=m.ply\nMAT=m.mat\n");
    fs::create_symlink("/dev/full", dir / "a.ply");
    expect_report({"m.rsd"}, report("Can't write!", "a.ply"));
    EXPECT_EQ(output("a.rsd"), "@RSD970401\n# include files\nPLY=a.ply\nMAT=a.mat\nCOD=a.cod\n");
}

}  // namespace
