// Writing output files safely: each under a temporary name beside it,
// renamed over its final name only once every file of the set is written.
#include "model.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

OutputSet::~OutputSet() {
    for (const Pending& file : files_) std::remove(file.temporary.c_str());
}

std::string OutputSet::scratch(const std::string& path) {
    std::string temporary = create(path);
    files_.back().path.clear();
    return temporary;
}

std::string OutputSet::create(const std::string& path) {
    Pending file{path, path + ".tmp-XXXXXX"};
    const int fd = mkstemp(file.temporary.data());
    fopen_error(fd >= 0, path);
    files_.push_back(file);
    // mkstemp gives 0600; an output is an ordinary file for its owner's group and others too.
    const mode_t mask = umask(0);
    umask(mask);
    const bool ready = fchmod(fd, 0666 & ~mask) == 0;
    if (::close(fd) != 0 || !ready) write_error(path);
    return file.temporary;
}

void OutputSet::commit() {
    // A directory in a file's place would stop the renames halfway.
    for (const Pending& file : files_) {
        std::error_code ec;
        if (!file.path.empty() && std::filesystem::is_directory(file.path, ec)) write_error(file.path);
    }
    while (!files_.empty()) {
        const Pending& file = files_.front();
        if (file.path.empty()) std::remove(file.temporary.c_str());
        else if (std::rename(file.temporary.c_str(), file.path.c_str()) != 0) write_error(file.path);
        files_.erase(files_.begin());
    }
}

void write_files(const std::vector<OutputFile>& files) {
    OutputSet set;
    for (const OutputFile& file : files) {
        OutFile out(file.path, set.create(file.path));
        for (std::string_view bytes : file.pieces) out.put(bytes);
        out.close();
    }
    set.commit();
}
