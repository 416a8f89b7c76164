// Writing a whole output file safely: under a temporary name beside it,
// renamed over the final name only once every byte is on disk.
#include "model.h"

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

void write_whole_file(const std::string& path, const std::vector<std::string>& pieces) {
    std::string temporary = path + ".tmp-XXXXXX";
    int fd = mkstemp(temporary.data());
    fopen_error(fd >= 0, path);
    bool written = true;
    for (const std::string& bytes : pieces) {
        for (std::size_t done = 0; written && done < bytes.size();) {
            ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
            written = n > 0;
            if (written) done += static_cast<std::size_t>(n);
        }
    }
    // mkstemp gives 0600; an output is an ordinary file for its owner's group and others too.
    mode_t mask = umask(0);
    umask(mask);
    written = written && fchmod(fd, 0666 & ~mask) == 0;
    written = ::close(fd) == 0 && written;
    if (!written || std::rename(temporary.c_str(), path.c_str()) != 0) {
        std::remove(temporary.c_str());
        write_error(path);
    }
}
