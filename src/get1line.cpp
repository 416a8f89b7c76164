// Reading input files: each file is read whole when it is opened, and
// get1line hands out its meaningful lines one at a time.
#include "function.h"

#include <cstring>
#include <system_error>
#include <filesystem>

std::string_view Buffer;
bool BufferEnded = false;

namespace {

struct FileCloser {
    void operator()(std::FILE* fp) const { std::fclose(fp); }
};

bool read_whole(const std::string& name, std::string& data) {
    std::unique_ptr<std::FILE, FileCloser> fp(std::fopen(name.c_str(), "rb"));
    if (!fp) return false;
    std::error_code ec;
    auto size = std::filesystem::file_size(name, ec);
    if (ec || size > data.max_size()) size = 0;
    try {
        data.resize(size);
        std::size_t got = std::fread(data.data(), 1, size, fp.get());
        data.resize(got);
        // A file that grew, or one whose size is not known in advance.
        char chunk[65536];
        while ((got = std::fread(chunk, 1, sizeof chunk, fp.get())) > 0) data.append(chunk, got);
    } catch (const std::bad_alloc&) {
        return false;
    } catch (const std::length_error&) {
        return false;
    }
    return !std::ferror(fp.get());
}

}  // namespace

void open_input(InFile& file, const std::string& name) {
    file.name = name;
    file.data.clear();
    file.pos = 0;
    // Until the first line is read, a failing identifier check shows an empty line.
    Buffer = {};
    BufferEnded = false;
    fopen_error(read_whole(name, file.data), name);
    file.hasNul = std::memchr(file.data.data(), '\0', file.data.size()) != nullptr;
}

// A line ends at "\n" or "\r\n"; the last line may lack its end. Lines of
// blanks and tabs only, and lines whose first other character is '#', are
// passed over.
bool get1line(InFile& file) {
    const std::size_t size = file.data.size();
    while (file.pos < size) {
        const char* start = file.data.data() + file.pos;
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
