// Helpers shared by the fuzz targets: an input file kept in memory, running
// a reader so that only its report ends it, and a scratch directory laid
// with the files of one input.
#pragma once

#include "function.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include <sys/mman.h>
#include <unistd.h>

namespace fuzz {

// One file in memory; readers open it by its /proc name.
class MemFile {
public:
    MemFile() : fd_(memfd_create("zorvel-fuzz", 0)) {
        if (fd_ < 0) {
            std::perror("memfd_create");
            std::abort();
        }
        name_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    const std::string& set(const std::uint8_t* data, std::size_t size) {
        if (ftruncate(fd_, 0) != 0 || pwrite(fd_, data, size, 0) != static_cast<ssize_t>(size)) {
            std::perror("memfd write");
            std::abort();
        }
        return name_;
    }

private:
    int fd_;
    std::string name_;
};

// Runs `read`; a report ends it as it ends a run. Any other exception
// escapes and is a finding. The store is reset afterwards.
template <class Read>
void read_once(Read read) {
    try {
        read();
    } catch (const RunEnd&) {
    }
    myfree();
}

// A scratch directory for whole runs. An input is split at each line "%%":
//
//   command-line words, one per line
//   %%
//   name of a file
//   its bytes
//   %%
//   ...
//
// lay() empties the directory, lays the files (at most ten) in it and
// returns the words. Names and words are kept inside the directory: a
// leading '/' and every ".." are changed.
class Scratch {
public:
    static constexpr std::size_t MAX_WORDS = 32;
    static constexpr std::size_t MAX_FILES = 10;

    Scratch() {
        std::string base = (std::filesystem::temp_directory_path() / "zorvel-fuzz-XXXXXX").string();
        if (!mkdtemp(base.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        root_ = base;
        dir_ = root_ / "run";
        std::filesystem::create_directory(dir_);
    }
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove_all(root_, ec);
    }
    const std::filesystem::path& dir() const { return dir_; }

    std::vector<std::string> lay(const std::uint8_t* data, std::size_t size) {
        for (const auto& entry : std::filesystem::directory_iterator(dir_)) std::filesystem::remove_all(entry.path());
        std::vector<std::string_view> sections =
            split(std::string_view(reinterpret_cast<const char*>(data), size), "\n%%\n");
        std::vector<std::string> words;
        if (!sections[0].empty())
            for (std::string_view word : split(sections[0], "\n"))
                if (words.size() < MAX_WORDS) words.push_back(inside(word));
        for (std::size_t k = 1; k < sections.size() && k <= MAX_FILES; ++k) lay_file(sections[k], k);
        return words;
    }

private:
    static std::string inside(std::string_view text) {
        std::string safe(text);
        if (!safe.empty() && safe[0] == '/') safe[0] = '_';
        for (std::size_t at; (at = safe.find("..")) != std::string::npos;) safe[at + 1] = '_';
        return safe;
    }
    static std::vector<std::string_view> split(std::string_view text, std::string_view separator) {
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
        std::filesystem::path path = dir_ / name;
        std::filesystem::create_directories(path.parent_path(), ec);
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }

    std::filesystem::path root_, dir_;
};

}  // namespace fuzz
