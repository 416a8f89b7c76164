// End-to-end tests: every folder under tests/cases is one run of the built
// zorvel in a fresh scratch directory.
//
//   args     one argument per line (an empty or missing file: no arguments)
//   in/      laid into the scratch directory before the run
//   out/     every file the run must create, compared byte for byte
//   stdout   the exact standard output
//   status   the exit status
//
// ZORVEL_WRAPPER, when set, is put in front of the binary, for example
// "valgrind --error-exitcode=99 -q" (scripts/memcheck.sh).
//
// Files of in/ must stay unchanged unless out/ lists them, and no other file
// may appear. Symbolic links in in/ (e.g. to /dev/full) are laid and
// compared as links, never followed. Standard error must stay empty: the
// tool reports on stdout.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#ifndef ZORVEL_CASES_DIR
#error "ZORVEL_CASES_DIR must name the directory of the end-to-end cases"
#endif
#ifndef ZORVEL_BIN
#error "ZORVEL_BIN must name the zorvel executable"
#endif
#ifndef ZORVEL_SCRATCH_DIR
#define ZORVEL_SCRATCH_DIR "/tmp"
#endif

namespace fs = std::filesystem;

namespace {

constexpr int kTimeoutSeconds = 30;

struct Case {
    std::string name;
    fs::path dir;
};

std::vector<Case> discover_cases() {
    std::vector<Case> cases;
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(ZORVEL_CASES_DIR, ec)) {
        if (entry.is_directory()) cases.push_back({entry.path().filename().string(), entry.path()});
    }
    std::sort(cases.begin(), cases.end(),
              [](const Case& a, const Case& b) { return a.name < b.name; });
    return cases;
}

// Shown by gtest instead of the bytes of the record.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string test_name(const testing::TestParamInfo<Case>& info) {
    std::string name;
    for (unsigned char c : info.param.name) name += std::isalnum(c) ? static_cast<char>(c) : '_';
    return name.empty() ? "unnamed" : name;
}

std::optional<std::string> read_file(const fs::path& path) {
    std::error_code ec;
    if (fs::is_symlink(path, ec)) return "symbolic link to " + fs::read_symlink(path, ec).string();
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Relative paths of the regular files below root.
std::set<std::string> list_files(const fs::path& root) {
    std::set<std::string> files;
    if (!fs::is_directory(root)) return files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_symlink() || !entry.is_directory())
            files.insert(entry.path().lexically_relative(root).generic_string());
    }
    return files;
}

std::vector<std::string> read_args(const fs::path& path) {
    std::vector<std::string> args;
    auto text = read_file(path);
    if (!text) return args;
    std::size_t start = 0;
    while (start < text->size()) {
        std::size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        args.push_back(text->substr(start, end - start));
        start = end + 1;
    }
    return args;
}

// One line of text with the bytes a terminal would hide made visible.
std::string visible(std::string_view line) {
    std::string out;
    for (unsigned char c : line) {
        if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c >= 0x7f || c == '\\') {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The line that holds byte `offset`, with up to two lines on either side.
std::string context(const std::string& text, std::size_t offset) {
    std::vector<std::size_t> starts{0};
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && i + 1 < text.size()) starts.push_back(i + 1);
    }
    std::size_t line = std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1;
    std::size_t first = line >= 2 ? line - 2 : 0;
    std::size_t last = std::min(line + 2, starts.size() - 1);
    std::string out;
    for (std::size_t i = first; i <= last && !text.empty(); ++i) {
        std::size_t end = i + 1 < starts.size() ? starts[i + 1] : text.size();
        std::string_view piece(text.data() + starts[i], std::min<std::size_t>(end - starts[i], 200));
        out += (i == line ? "  > " : "    ") + visible(piece) + (end - starts[i] > 200 ? " ...\n" : "\n");
    }
    if (offset >= text.size()) out += "  > (end of text)\n";
    return out;
}

// Empty when equal; otherwise where and how the two texts part.
std::string describe_difference(const std::string& expected, const std::string& actual) {
    if (expected == actual) return {};
    std::size_t offset = 0;
    while (offset < expected.size() && offset < actual.size() && expected[offset] == actual[offset]) {
        ++offset;
    }
    std::size_t line = 1 + std::count(expected.begin(), expected.begin() + offset, '\n');
    std::ostringstream out;
    out << "first difference at byte " << offset << " (line " << line << "); expected "
        << expected.size() << " bytes, got " << actual.size() << " bytes\n"
        << "  expected:\n" << context(expected, offset) << "  actual:\n" << context(actual, offset);
    return out.str();
}

struct RunResult {
    bool timedOut = false;
    int status = -1;  // exit status, or -1 when killed by a signal
    int signal = 0;
    std::string out;
    std::string err;
    std::string failure;  // set when the process could not be run
};

RunResult run_tool(const std::vector<std::string>& args, const fs::path& cwd) {
    RunResult result;
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) {
        result.failure = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    std::vector<std::string> argvText;
    if (const char* wrapper = std::getenv("ZORVEL_WRAPPER")) {
        std::istringstream words(wrapper);
        for (std::string w; words >> w;) argvText.push_back(w);
    }
    argvText.push_back(ZORVEL_BIN);
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string dir = cwd.string();

    pid_t pid = fork();
    if (pid < 0) {
        result.failure = std::string("fork: ") + std::strerror(errno);
        return result;
    }
    if (pid == 0) {
        int nullFd = open("/dev/null", O_RDONLY);
        if (nullFd < 0 || dup2(nullFd, 0) < 0 || dup2(outPipe[1], 1) < 0 ||
            dup2(errPipe[1], 2) < 0 || chdir(dir.c_str()) != 0) {
            _exit(127);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(outPipe[1]);
    close(errPipe[1]);

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int openPipes = 2;
    while (openPipes > 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            result.timedOut = true;
            kill(pid, SIGKILL);
            break;
        }
        int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char chunk[65536];
            ssize_t n = read(fds[i].fd, chunk, sizeof chunk);
            if (n > 0) {
                sinks[i]->append(chunk, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --openPipes;
            }
        }
    }
    for (auto& f : fds) {
        if (f.fd >= 0) close(f.fd);
    }
    int wstatus = 0;
    while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(wstatus)) {
        result.status = WEXITSTATUS(wstatus);
    } else if (WIFSIGNALED(wstatus)) {
        result.signal = WTERMSIG(wstatus);
    }
    return result;
}

fs::path make_scratch(const std::string& caseName) {
    fs::path base = ZORVEL_SCRATCH_DIR;
    fs::create_directories(base);
    std::string pattern = (base / (caseName + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) return {};
    return pattern;
}

class EndToEnd : public testing::TestWithParam<Case> {};

TEST_P(EndToEnd, Run) {
    const Case& c = GetParam();
    const fs::path inDir = c.dir / "in";
    const fs::path outDir = c.dir / "out";

    auto expectedStdout = read_file(c.dir / "stdout");
    auto statusText = read_file(c.dir / "status");
    ASSERT_TRUE(expectedStdout) << "case " << c.name << " has no stdout file";
    ASSERT_TRUE(statusText) << "case " << c.name << " has no status file";
    const int expectedStatus = std::atoi(statusText->c_str());

    const fs::path scratch = make_scratch(c.name);
    ASSERT_FALSE(scratch.empty()) << "cannot create a scratch directory under " << ZORVEL_SCRATCH_DIR;
    if (fs::is_directory(inDir)) {
        fs::copy(inDir, scratch, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    }

    RunResult r = run_tool(read_args(c.dir / "args"), scratch);
    ASSERT_TRUE(r.failure.empty()) << r.failure;

    bool ok = true;
    std::ostringstream why;
    if (r.timedOut) {
        ok = false;
        why << "killed after " << kTimeoutSeconds << " s without ending\n";
    } else if (r.signal != 0) {
        ok = false;
        why << "ended by signal " << r.signal << " (" << strsignal(r.signal) << ")\n";
    } else if (r.status != expectedStatus) {
        ok = false;
        why << "exit status " << r.status << ", expected " << expectedStatus << "\n";
    }
    if (std::string d = describe_difference(*expectedStdout, r.out); !d.empty()) {
        ok = false;
        why << "standard output differs: " << d;
    }
    if (!r.err.empty()) {
        ok = false;
        why << "standard error is not empty:\n" << context(r.err, 0);
    }

    const std::set<std::string> inputs = list_files(inDir);
    const std::set<std::string> outputs = list_files(outDir);
    for (const auto& rel : outputs) {
        auto expected = read_file(outDir / rel);
        auto actual = read_file(scratch / rel);
        if (!actual) {
            ok = false;
            why << "missing output file " << rel << "\n";
        } else if (std::string d = describe_difference(*expected, *actual); !d.empty()) {
            ok = false;
            why << "output file " << rel << " differs: " << d;
        }
    }
    for (const auto& rel : list_files(scratch)) {
        if (outputs.count(rel)) continue;
        if (!inputs.count(rel)) {
            ok = false;
            why << "unexpected file " << rel << " (" << read_file(scratch / rel).value_or("").size()
                << " bytes)\n";
        } else if (read_file(scratch / rel) != read_file(inDir / rel)) {
            ok = false;
            why << "input file " << rel << " was changed\n";
        }
    }
    for (const auto& rel : inputs) {
        if (!outputs.count(rel) && !fs::exists(fs::symlink_status(scratch / rel))) {
            ok = false;
            why << "input file " << rel << " was removed\n";
        }
    }

    if (ok) {
        std::error_code ec;
        fs::remove_all(scratch, ec);
    } else {
        ADD_FAILURE() << "case " << c.name << " (" << c.dir.string() << ")\n"
                      << why.str() << "scratch directory kept: " << scratch.string();
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, EndToEnd, testing::ValuesIn(discover_cases()), test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EndToEnd);

}  // namespace
