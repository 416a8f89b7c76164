// Reading input files: each file is read whole when it is opened, and
// get1line hands out its meaningful lines one at a time.
#include "function.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <filesystem>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

thread_local std::string_view Buffer;
thread_local bool BufferEnded = false;

namespace {

struct FileCloser {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};

// Below this size a copy costs less than setting up a mapping.
constexpr std::size_t MAP_MIN_BYTES = 1 << 20;

// A large regular file is mapped whole instead of copied: its pages are
// the page cache's own.
bool map_whole(const std::string& name, InFile& file) {
    int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    void* bytes = MAP_FAILED;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        static_cast<std::uint64_t>(st.st_size) >= MAP_MIN_BYTES)
        bytes = ::mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE,
                       fd, 0);
    ::close(fd);
    if (bytes == MAP_FAILED) return false;
    file.size = static_cast<std::size_t>(st.st_size);
    file.data = std::unique_ptr<char[], InFileBytes>(static_cast<char*>(bytes), InFileBytes{file.size});
    return true;
}

bool read_whole(const std::string& name, InFile& file) {
    std::unique_ptr<std::FILE, FileCloser> fp(std::fopen(name.c_str(), "rb"));
    if (!fp) return false;
    std::error_code ec;
    std::size_t capacity = std::filesystem::file_size(name, ec);
    if (ec) capacity = 0;
    try {
        // Read to the end, also when the file is not a regular one or grew.
        do {
            capacity = std::max<std::size_t>(capacity + 1, file.size + file.size / 2 + 65536);
            std::unique_ptr<char[], InFileBytes> grown(new char[capacity]);
            std::copy_n(file.data.get(), file.size, grown.get());
            file.data = std::move(grown);
            file.size += std::fread(file.data.get() + file.size, 1, capacity - file.size, fp.get());
        } while (file.size == capacity);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return !std::ferror(fp.get());
}

}  // namespace

void InFileBytes::operator()(char* bytes) const {
    if (mapped) {
        ::munmap(bytes, mapped);
    } else {
        delete[] bytes;
    }
}

void open_input(InFile& file, const std::string& name) {
    file.name = name;
    file.data.reset();
    file.size = 0;
    file.pos = 0;
    // Until the first line is read, a failing identifier check shows an empty line.
    Buffer = {};
    BufferEnded = false;
    // Whatever cannot be mapped (small, empty or not a regular file) is read.
    fopen_error(map_whole(name, file) || read_whole(name, file), name);
    file.hasNul = std::memchr(file.data.get(), '\0', file.size) != nullptr;
}

// The identifier line is the file's first meaningful line.
bool open_model_file(InFile& file, const std::string& name, std::string_view identifier,
                     std::string_view merged) {
    open_input(file, name);
    get1line(file);
    bool isMerged = !merged.empty() && Buffer.substr(0, merged.size()) == merged;
    id_error(name, isMerged ? merged : identifier, Buffer);
    return isMerged;
}

// A line ends at "\n" or "\r\n"; the last line may lack its end. Lines of
// blanks and tabs only, and lines whose first other character is '#', are
// passed over.
bool next_line(const char* data, std::size_t size, std::size_t& pos, bool hasNul,
               std::string_view& line, bool& lineEnded) {
    while (pos < size) {
        const char* start = data + pos;
        const std::size_t rest = size - pos;
        const void* nl = std::memchr(start, '\n', rest);
        std::size_t length = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : rest;
        pos += nl ? length + 1 : length;
        bool ended = nl != nullptr;
        if (ended && length > 0 && start[length - 1] == '\r') --length;
        if (hasNul) {
            // The line is read as text: a NUL byte ends it, without a line end.
            if (const void* nul = std::memchr(start, '\0', length)) {
                length = static_cast<std::size_t>(static_cast<const char*>(nul) - start);
                ended = false;
            }
        }
        const char* first = skip_space(start, start + length);
        if (first == start + length || *first == '#') continue;
        line = std::string_view(start, length);
        lineEnded = ended;
        return true;
    }
    return false;
}

bool get1line(InFile& file) {
    std::string_view line;
    bool ended;
    if (!next_line(file.data.get(), file.size, file.pos, file.hasNul, line, ended)) return false;
    Buffer = line;
    BufferEnded = ended;
    return true;
}

void need_line(InFile& file) {
    if (!get1line(file)) eof_error(file.name);
}
