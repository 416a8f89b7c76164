// zorvel-model's reading of input and merged models, with everything that
// follows it: the input holds the model names (one per line) and up to ten
// files (RSD, PLY, MAT, COD, OGP), laid as for fuzz_run. Each model read is
// reported on, exported (both ways) and drawn small.
#include "fuzz_common.h"

#include "../model/model.h"

namespace fs = std::filesystem;

namespace {

fuzz::Scratch* scratch;
fs::path home;
std::FILE* sink;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static fuzz::Scratch dir;
    scratch = &dir;
    home = fs::current_path();
    sink = std::fopen("/dev/null", "w");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::string> names = scratch->lay(data, size);
    if (names.empty()) return 0;
    std::vector<char*> argv;
    for (std::string& name : names) argv.push_back(name.data());
    argv.push_back(nullptr);
    fs::current_path(scratch->dir());
    fuzz::read_once([&] {
        Scene scene;
        read_scene(static_cast<int>(names.size()), argv.data(), scene);
        print_info(scene, false, sink);
        print_info(scene, true, sink);
        long long leftOut = 0;
        make_glb(scene, leftOut);
        make_gltf(scene, "fuzz.gltf", leftOut);
        RenderOptions small;
        small.size = 24;
        small.wire = true;
        for (const char* view : {"iso", "top"}) {
            small.view = view;
            make_png(scene, small, leftOut);
            small.colourByGroup = !small.colourByGroup;
        }
    });
    fs::current_path(home);
    return 0;
}
