// The MAT reader alone. The first two bytes of the input are the model's
// polygon count and texture count (what the PLY and RSD files would have
// given); the rest is one MAT file.
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static fuzz::MemFile file;
    if (size < 2) return 0;
    fuzz::read_once([&] {
        RsdData& rsd = malrsd.emplace_back();
        rsd.ply.npolygon = data[0];
        rsd.ntex = data[1] % 32;
        rsd.tex.resize(static_cast<std::size_t>(rsd.ntex));
        rsd.matName = file.set(data + 2, size - 2);
        MAT = 1;
        readMAT();
    });
    return 0;
}
