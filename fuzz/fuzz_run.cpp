// A whole run in one process: the input holds the command-line words and
// up to ten files (batch list, RSD, PLY and MAT files), laid in an empty
// scratch directory that is the run's working directory (see fuzz::Scratch).
#include "fuzz_common.h"

#include <fcntl.h>

namespace fs = std::filesystem;

namespace {

fuzz::Scratch* scratch;
fs::path home;
int nullFd = -1, stdoutFd = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static fuzz::Scratch dir;
    scratch = &dir;
    home = fs::current_path();
    nullFd = open("/dev/null", O_WRONLY);
    stdoutFd = dup(1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> words = scratch->lay(data, size);
    words.insert(words.begin(), "zorvel");
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    // Only the run works in the scratch directory, so that libFuzzer's own
    // relative paths keep their meaning.
    std::fflush(stdout);
    dup2(nullFd, 1);
    fs::current_path(scratch->dir());
    run(static_cast<int>(words.size()), argv.data());
    fs::current_path(home);
    std::fflush(stdout);
    dup2(stdoutFd, 1);
    return 0;
}
