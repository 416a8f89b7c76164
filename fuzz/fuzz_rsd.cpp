// The RSD reader alone: the input is one RSD file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemFile file;
    std::string name = file.set(data, size);
    char* names[] = {name.data(), nullptr};
    fuzz::read_once([&] {
        NumRsd = 1;
        readRSD(names);
    });
    return 0;
}
