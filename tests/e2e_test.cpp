// End-to-end tests: every folder under the cases directory (tests/cases for
// zorvel, tests/model-cases for zorvel-model) is one run of the built tool
// in a fresh scratch directory.
//
//   args    one argument per line (an empty or missing file: no arguments)
//   in/     laid into the scratch directory; symbolic links (e.g. to
//           /dev/full) are laid and compared as links, never followed
//   setup   optional: run as "sh setup" in the scratch directory once in/ is
//           laid, to make inputs too large to keep, with the tool's path in
//           ZORVEL_BIN (for a result it must match); it may leave in expected/
//           files the run must write that are too large for out/
//   out/    every file the run must create, compared byte for byte
//   stdout  the exact standard output
//   stderr  optional: the exact standard error; without it, it must stay empty
//   status  the exit status
//
// Files present before the run must stay unchanged unless out/ lists them,
// and no other file may appear. A run is killed after kSeconds, gets 1 GB of
// address space (not with sanitizers or a wrapper, which reserve far more)
// and must stay below 1 GB resident. ZORVEL_WRAPPER, split at blanks, goes
// in front of the binary ("valgrind --error-exitcode=99 -q", "/usr/bin/time
// -v"); standard error is then shown, not checked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr unsigned kSeconds = 120;
constexpr long kMemory = 1L << 30;
const fs::path kCases = ZORVEL_CASES_DIR;

std::string slurp(const fs::path& path) {
    if (fs::is_symlink(path)) return "symbolic link to " + fs::read_symlink(path).string();
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Every file below root with a hash of its bytes (or its link target), read
// in pieces: the runner's size at fork counts in the child's peak memory.
std::map<std::string, std::string> snapshot(const fs::path& root) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::is_directory(root) ? fs::recursive_directory_iterator(root)
                                                : fs::recursive_directory_iterator()) {
        if (e.is_directory() && !e.is_symlink()) continue;
        std::string& print = files[e.path().lexically_relative(root).generic_string()];
        if (e.is_symlink()) {
            print = "link to " + fs::read_symlink(e.path()).string();
            continue;
        }
        std::uint64_t h = 14695981039346656037u;  // FNV-1a
        std::ifstream in(e.path(), std::ios::binary);
        char buf[65536];
        while (in.read(buf, sizeof buf) || in.gcount() > 0)
            for (std::streamsize i = 0; i < in.gcount(); ++i) h = (h ^ (unsigned char)buf[i]) * 1099511628211u;
        print = std::to_string(h);
    }
    return files;
}

// Empty when equal; otherwise the first differing byte and both texts around it.
std::string difference(const std::string& want, const std::string& got) {
    if (want == got) return {};
    std::size_t at = std::mismatch(want.begin(), want.end(), got.begin(), got.end()).first - want.begin();
    std::size_t from = at > 60 ? at - 60 : 0;
    auto around = [&](const std::string& s) {
        return testing::PrintToString(s.substr(from, at - from)) + "<HERE>" + testing::PrintToString(s.substr(at, 60));
    };
    return "first difference at byte " + std::to_string(at) + " (line " +
           std::to_string(1 + std::count(want.begin(), want.begin() + at, '\n')) + "); " +
           std::to_string(want.size()) + " bytes expected, " + std::to_string(got.size()) + " got\n  expected: " +
           around(want) + "\n  actual:   " + around(got) + "\n";
}

struct Result {
    int status = -1, signal = 0;  // signal: what ended it, if anything
    long peakKb = 0;
    std::string out, err;
};

// Runs words in dir with standard input from /dev/null and a time limit,
// under the memory limit when asked.
Result run(std::vector<std::string> words, const fs::path& dir, bool limitMemory) {
    std::vector<char*> argv;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    FILE *out = std::tmpfile(), *err = std::tmpfile();
    malloc_trim(0);
    pid_t pid = out && err ? fork() : -1;
    if (pid == 0) {
        int in = open("/dev/null", O_RDONLY);
        rlimit limit{kMemory, kMemory};
        if (in < 0 || dup2(in, 0) < 0 || dup2(fileno(out), 1) < 0 || dup2(fileno(err), 2) < 0 ||
            chdir(dir.c_str()) != 0 || (limitMemory && !ZORVEL_SANITIZED && setrlimit(RLIMIT_AS, &limit) != 0))
            _exit(127);
        alarm(kSeconds);  // kept across exec: a hang ends in SIGALRM
        execvp(argv[0], argv.data());
        _exit(127);
    }
    Result r;
    int ws = 0;
    rusage use{};
    const bool ran = pid > 0 && wait4(pid, &ws, 0, &use) == pid;
    r.status = ran && WIFEXITED(ws) ? WEXITSTATUS(ws) : -1;
    r.signal = ran && WIFSIGNALED(ws) ? WTERMSIG(ws) : 0;
    r.peakKb = use.ru_maxrss;
    for (auto [f, s] : {std::pair{out, &r.out}, std::pair{err, &r.err}}) {
        if (!f) continue;
        std::rewind(f);  // the child moved the shared offset to the end
        char buf[65536];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) s->append(buf, n);
        std::fclose(f);
    }
    return r;
}

class EndToEnd : public testing::TestWithParam<std::string> {};

TEST_P(EndToEnd, Run) {
    const fs::path dir = kCases / GetParam();
    ASSERT_TRUE(fs::exists(dir / "stdout") && fs::exists(dir / "status")) << dir << " lacks stdout or status";
    fs::create_directories(ZORVEL_SCRATCH_DIR);
    std::string pattern = (fs::path(ZORVEL_SCRATCH_DIR) / (GetParam() + "-XXXXXX")).string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr) << "cannot create " << pattern;
    const fs::path scratch = pattern;
    if (fs::is_directory(dir / "in"))
        fs::copy(dir / "in", scratch, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    std::map<std::string, fs::path> expected;  // relative path: file of the expected bytes
    for (const auto& [rel, hash] : snapshot(dir / "out")) expected[rel] = dir / "out" / rel;
    if (fs::exists(dir / "setup")) {
        setenv("ZORVEL_BIN", ZORVEL_BIN, 1);
        Result s = run({"sh", (dir / "setup").string()}, scratch, false);
        ASSERT_TRUE(s.status == 0 && s.err.empty()) << "sh setup: status " << s.status << ", signal " << s.signal
                                                    << ", standard error:\n" << s.err;
        for (const auto& [rel, hash] : snapshot(scratch / "expected")) expected[rel] = scratch / "expected" / rel;
    }
    const auto before = snapshot(scratch);

    std::vector<std::string> words;
    std::istringstream wrapper(std::getenv("ZORVEL_WRAPPER") ? std::getenv("ZORVEL_WRAPPER") : "");
    for (std::string w; wrapper >> w;) words.push_back(w);
    const bool wrapped = !words.empty();
    words.push_back(ZORVEL_BIN);
    std::istringstream args(slurp(dir / "args"));
    for (std::string a; std::getline(args, a);) words.push_back(a);
    const Result r = run(words, scratch, !wrapped);

    std::ostringstream why;
    const int status = std::atoi(slurp(dir / "status").c_str());
    if (r.signal == SIGALRM) why << "killed after " << kSeconds << " s\n";
    else if (r.signal) why << "ended by signal " << r.signal << " (" << strsignal(r.signal) << ")\n";
    else if (r.status != status) why << "exit status " << r.status << ", expected " << status << "\n";
    if (r.peakKb * 1024 >= kMemory) why << "peak memory " << r.peakKb / 1024 << " MB, not below 1 GB\n";
    if (auto d = difference(slurp(dir / "stdout"), r.out); !d.empty()) why << "standard output differs: " << d;
    if (wrapped) std::cout << r.err;
    else if (auto d = difference(slurp(dir / "stderr"), r.err); !d.empty()) why << "standard error differs: " << d;

    for (const auto& [rel, want] : expected) {
        if (!fs::exists(fs::symlink_status(scratch / rel))) why << "missing output file " << rel << "\n";
        else if (auto d = difference(slurp(want), slurp(scratch / rel)); !d.empty())
            why << "output file " << rel << " differs: " << d;
    }
    const auto after = snapshot(scratch);
    for (const auto& [rel, hash] : after)
        if (!expected.count(rel) && !before.count(rel)) why << "unexpected file " << rel << "\n";
    for (const auto& [rel, hash] : before)
        if (!expected.count(rel) && (!after.count(rel) || after.at(rel) != hash))
            why << "input file " << rel << (after.count(rel) ? " was changed\n" : " was removed\n");

    if (why.str().empty()) fs::remove_all(scratch);
    else ADD_FAILURE() << "case " << dir.string() << "\n" << why.str() << "scratch directory kept: " << scratch;
}

std::vector<std::string> cases() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(kCases))
        if (e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, testing::ValuesIn(cases()), [](const auto& info) {
    std::string name = info.param;
    std::replace_if(name.begin(), name.end(), [](unsigned char c) { return !std::isalnum(c); }, '_');
    return name;
});

}  // namespace
