// The PLY reader alone: the input is one PLY file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemFile file;
    fuzz::read_once([&] {
        RsdData& rsd = malrsd.emplace_back();
        rsd.plyName = file.set(data, size);
        readPLY2(rsd);
    });
    return 0;
}
