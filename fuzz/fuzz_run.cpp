// A whole run in one process. The input is split at each line "%%":
//
//   command-line words, one per line
//   %%
//   name of a file
//   its bytes
//   %%
//   ...
//
// The files (at most ten: batch list, RSD, PLY and MAT files) are laid
// in an empty scratch directory, which is the working directory of the run.
// Names and words are kept inside the scratch directory: a leading '/' and
// every ".." are changed.
#include "fuzz_common.h"

#include <fcntl.h>

#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view SEPARATOR = "\n%%\n";
constexpr std::size_t MAX_WORDS = 32;
constexpr std::size_t MAX_FILES = 10;

fs::path home, scratch;
int nullFd = -1, stdoutFd = -1;

void remove_scratch() {
    std::error_code ec;
    fs::remove_all(scratch.parent_path(), ec);
}

std::string inside(std::string_view text) {
    std::string safe(text);
    if (!safe.empty() && safe[0] == '/') safe[0] = '_';
    for (std::size_t at; (at = safe.find("..")) != std::string::npos;) safe[at + 1] = '_';
    return safe;
}

std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> parts;
    for (std::size_t at; (at = text.find(separator)) != std::string_view::npos;) {
        parts.push_back(text.substr(0, at));
        text.remove_prefix(at + separator.size());
    }
    parts.push_back(text);
    return parts;
}

void lay_file(std::string_view section, std::size_t k) {
    std::size_t nl = section.find('\n');
    std::string name = inside(section.substr(0, nl));
    std::string_view bytes = nl == std::string_view::npos ? "" : section.substr(nl + 1);
    if (name.empty() || name.size() > 200) name = "f" + std::to_string(k);
    std::error_code ec;
    fs::path path = scratch / name;
    fs::create_directories(path.parent_path(), ec);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    std::string base = (fs::temp_directory_path() / "zorvel-fuzz-XXXXXX").string();
    if (!mkdtemp(base.data())) {
        std::perror("mkdtemp");
        std::abort();
    }
    scratch = fs::path(base) / "run";
    fs::create_directory(scratch);
    home = fs::current_path();
    std::atexit(remove_scratch);
    nullFd = open("/dev/null", O_WRONLY);
    stdoutFd = dup(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    for (const auto& entry : fs::directory_iterator(scratch)) fs::remove_all(entry.path());
    std::vector<std::string_view> sections =
        split(std::string_view(reinterpret_cast<const char*>(data), size), SEPARATOR);

    std::vector<std::string> words{"zorvel"};
    if (!sections[0].empty())
        for (std::string_view word : split(sections[0], "\n"))
            if (words.size() <= MAX_WORDS) words.push_back(inside(word));
    for (std::size_t k = 1; k < sections.size() && k <= MAX_FILES; ++k) lay_file(sections[k], k);

    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // Only the run works in the scratch directory, so that libFuzzer's own
    // relative paths keep their meaning.
    std::fflush(stdout);
    dup2(nullFd, 1);
    fs::current_path(scratch);
    run(static_cast<int>(words.size()), argv.data());
    fs::current_path(home);
    std::fflush(stdout);
    dup2(stdoutFd, 1);
    return 0;
}
