// Reading input files: each file is read whole when it is opened, and
// get1line hands out its meaningful lines one at a time.
#include "function.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <filesystem>

thread_local std::string_view Buffer;
thread_local bool BufferEnded = false;

namespace {

struct FileCloser {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};

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
            auto grown = std::make_unique_for_overwrite<char[]>(capacity);
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

void open_input(InFile& file, const std::string& name) {
    file.name = name;
    file.data.reset();
    file.size = 0;
    file.pos = 0;
    // Until the first line is read, a failing identifier check shows an empty line.
    Buffer = {};
    BufferEnded = false;
    fopen_error(read_whole(name, file), name);
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
bool get1line(InFile& file) {
    const std::size_t size = file.size;
    while (file.pos < size) {
        const char* start = file.data.get() + file.pos;
        const std::size_t rest = size - file.pos;
        const void* nl = std::memchr(start, '\n', rest);
        std::size_t length = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - start) : rest;
        file.pos += nl ? length + 1 : length;
        bool ended = nl != nullptr;
        if (ended && length > 0 && start[length - 1] == '\r') --length;
        if (file.hasNul) {
            // The line is read as text: a NUL byte ends it, without a line end.
            if (const void* nul = std::memchr(start, '\0', length)) {
                length = static_cast<std::size_t>(static_cast<const char*>(nul) - start);
                ended = false;
            }
        }
        const char* first = skip_space(start, start + length);
        if (first == start + length || *first == '#') continue;
        Buffer = std::string_view(start, length);
        BufferEnded = ended;
        return true;
    }
    return false;
}

void need_line(InFile& file) {
    if (!get1line(file)) eof_error(file.name);
}
