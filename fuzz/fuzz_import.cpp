// zorvel-model import on arbitrary bytes: once as the file is given (JSON,
// or a binary file where it starts so) and once behind a binary file's
// magic, so that the container's header and chunks are fuzzed as well.
// What it writes goes to a scratch directory.
#include "fuzz_common.h"

#include "../model/model.h"

namespace fs = std::filesystem;

namespace {
fuzz::Scratch* scratch;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static fuzz::Scratch dir;
    scratch = &dir;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    scratch->lay(nullptr, 0);
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    for (const std::string& file : {bytes, "glTF" + bytes}) {
        const fs::path path = scratch->dir() / (file == bytes ? "model.gltf" : "model.glb");
        std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));
        fuzz::read_once([&] { import_gltf(path.string(), (scratch->dir() / "out").string(), ImportOptions()); });
    }
    return 0;
}
