// Helpers shared by the fuzz targets: an input file kept in memory, and
// running a reader so that only its report ends it.
#pragma once

#include "function.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

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

}  // namespace fuzz
