// zorvel-model: reads models of zorvel's formats, input or merged, and
// reports on them, exports them to glTF 2.0 or draws them; converts a
// texture image to PNG; imports a glTF 2.0 file as an input model.
#include "model.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>
#include <string_view>

#ifndef ZORVEL_VERSION
#define ZORVEL_VERSION "unknown"
#endif

namespace {

const char* const USAGE =
    "usage: zorvel-model info [--json] MODEL...\n"
    "       zorvel-model export MODEL... -o FILE.glb|FILE.gltf\n"
    "       zorvel-model render MODEL... -o FILE.png [--size PIXELS]\n"
    "                    [--view iso|front|back|left|right|top|bottom]\n"
    "                    [--colour material|group] [--wire]\n"
    "       zorvel-model texture FILE.tim -o FILE.png [--table N]\n"
    "       zorvel-model texture FILE.png|.jpg|.webp -o FILE.tim [--bits 4|8|16|24]\n"
    "                    [--fit N] [--dither]\n"
    "       zorvel-model import FILE.glb|FILE.gltf -o STEM [--scale S] [--triangles]\n"
    "                    [--scene N]\n"
    "                    [--texture-bits 4|8|16|24] [--texture-fit N] [--dither]\n"
    "       zorvel-model --help | --version\n"
    "MODEL is an RSD file, of an input model or of a merged one.\n";

// A malformed command line, and what is wrong with it when the usage alone
// does not tell.
struct UsageError {
    const char* why = nullptr;
};

// Whether `name` ends in `extension` (lower case), in any case.
bool has_extension(std::string_view name, std::string_view extension) {
    if (name.size() < extension.size()) return false;
    name.remove_prefix(name.size() - extension.size());
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != extension[i]) return false;
    return true;
}

struct CommandLine {
    std::string command;
    std::vector<char*> models;  // for "texture": the one TIM file or picture
    std::string output;
    bool json = false;
    int table = -1;  // the colour table of an indexed texture, -1 for none given
    bool picture = false;  // "texture" of a picture, to a TIM file
    TextureOptions texture;
    RenderOptions render;
    ImportOptions import;
};

CommandLine parse(int argc, char** argv) {
    CommandLine line;
    if (argc < 2) throw UsageError{};
    line.command = argv[1];
    if (line.command != "info" && line.command != "export" && line.command != "render" && line.command != "texture" &&
        line.command != "import")
        throw UsageError{};
    const bool info = line.command == "info", render = line.command == "render", texture = line.command == "texture",
               import = line.command == "import";
    bool outputGiven = false, optionsEnded = false;
    for (int i = 2; i < argc; ++i) {
        std::string_view word = argv[i];
        auto value = [&] {
            if (i + 1 >= argc) throw UsageError{};
            return std::string_view(argv[++i]);
        };
        // A whole number of digits only, no sign.
        auto number = [&] {
            std::string_view text = value();
            int n = 0;
            const char* end = text.data() + text.size();
            if (text.empty() || !is_digit(text[0]) || scan_int(text.data(), end, n) != end) throw UsageError{};
            return n;
        };
        if (optionsEnded || word.empty() || word[0] != '-') {
            line.models.push_back(argv[i]);
        } else if (word == "--") {
            optionsEnded = true;
        } else if (word == "--json" && info) {
            line.json = true;
        } else if (word == "-o" && !info) {
            line.output = value();
            outputGiven = true;
        } else if (word == "--size" && render) {
            const int size = number();
            if (size < 16 || size > 8192) throw UsageError{};
            line.render.size = size;
        } else if (word == "--table" && texture) {
            line.table = number();
        } else if ((word == "--bits" && texture) || (word == "--texture-bits" && import)) {
            const int bits = number();
            if (bits != 4 && bits != 8 && bits != 16 && bits != 24) throw UsageError{};
            (texture ? line.texture : line.import.texture).bits = bits;
        } else if ((word == "--fit" && texture) || (word == "--texture-fit" && import)) {
            const int fit = number();
            if (fit < 1 || fit > 4096) throw UsageError{};
            (texture ? line.texture : line.import.texture).fit = fit;
        } else if (word == "--dither" && (texture || import)) {
            (texture ? line.texture : line.import.texture).dither = true;
        } else if (word == "--view" && render) {
            std::string_view view = value();
            bool known = false;
            for (const char* name : {"iso", "front", "back", "left", "right", "top", "bottom"}) known |= view == name;
            if (!known) throw UsageError{};
            line.render.view = view;
        } else if ((word == "--colour" || word == "--color") && render) {
            std::string_view by = value();
            if (by != "material" && by != "group") throw UsageError{};
            line.render.colourByGroup = by == "group";
        } else if (word == "--wire" && render) {
            line.render.wire = true;
        } else if (word == "--scale" && import) {
            const std::string_view text = value();
            double scale = 0;
            const auto [end, problem] = std::from_chars(text.data(), text.data() + text.size(), scale);
            // A finite number above zero: a mirroring scale would turn the fronts round.
            if (problem != std::errc() || end != text.data() + text.size() || !(scale > 0) || !std::isfinite(scale))
                throw UsageError{};
            line.import.scale = scale;
        } else if (word == "--triangles" && import) {
            line.import.triangles = true;
        } else if (word == "--scene" && import) {
            line.import.scene = number();
        } else {
            throw UsageError{};
        }
    }
    if (line.models.empty() || (!info && (!outputGiven || line.output.empty())) ||
        ((texture || import) && line.models.size() > 1))
        throw UsageError{};
    if (line.command == "export" && !has_extension(line.output, ".glb") && !has_extension(line.output, ".gltf"))
        throw UsageError{"export writes a file named *.glb (binary) or *.gltf (JSON)"};
    if (texture) {
        // The direction follows the input's name; the output's must match it.
        auto ends_in = [](std::string_view name, std::initializer_list<std::string_view> extensions) {
            return std::any_of(extensions.begin(), extensions.end(),
                               [&](std::string_view e) { return name.size() > e.size() && has_extension(name, e); });
        };
        line.picture = ends_in(line.models[0], {".png", ".jpg", ".jpeg", ".webp"});
        if (line.picture ? !ends_in(line.output, {".tim"}) || line.table >= 0
                         : !ends_in(line.output, {".png"}) || line.texture.bits || line.texture.fit || line.texture.dither)
            throw UsageError{};
    }
    line.models.push_back(nullptr);
    return line;
}

void run_command(const CommandLine& line) {
    if (line.command == "texture" && line.picture) {
        const std::string name = line.models[0];
        InFile file;
        open_input(file, name);
        RgbaImage image = decode_image(std::string_view(file.data.get(), file.size), "", name);
        write_whole_file(line.output, {make_tim(image, line.texture, name).bytes});
        return;
    }
    if (line.command == "texture") {
        const TimImage image = read_tim(line.models[0], std::max(line.table, 0));
        write_whole_file(line.output, {texture_png(image)});
        if (image.greyRamp) note_grey_ramp(line.models[0]);
        return;
    }
    if (line.command == "import") {
        import_gltf(line.models[0], line.output, line.import);
        return;
    }
    Scene scene;
    read_scene(static_cast<int>(line.models.size() - 1), const_cast<char**>(line.models.data()), scene);
    if (line.command == "info") {
        print_info(scene, line.json, stdout);
        if (std::fflush(stdout) != 0 || std::ferror(stdout)) write_error("standard output");
        return;
    }
    check_textures(scene);
    long long leftOut = 0;
    if (line.command == "export" && has_extension(line.output, ".gltf"))
        write_files(make_gltf(scene, line.output, leftOut).files);
    else if (line.command == "export")
        write_whole_file(line.output, make_glb(scene, leftOut).pieces);
    else
        write_whole_file(line.output, {make_png(scene, line.render, leftOut)});
    note_textures(scene);
    if (leftOut)
        std::fprintf(stderr, "zorvel-model: note: %lld polygons with a corner that is no finite point left out\n",
                     leftOut);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        std::fputs(USAGE, stdout);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("zorvel-model %s\n", ZORVEL_VERSION);
        return 0;
    }
    int status = 0;
    try {
        run_command(parse(argc, argv));
    } catch (const UsageError& error) {
        if (error.why) std::fprintf(stderr, "zorvel-model: %s\n", error.why);
        std::fputs(USAGE, stderr);
        status = EXIT_USAGE;
    } catch (const RunEnd& end) {
        std::string where = end.fileName.empty() ? "" : end.fileName + ": ";
        std::fprintf(stderr, "zorvel-model: %s%s\n", where.c_str(), end.message.c_str());
        status = EXIT_REPORT;
    } catch (const std::bad_alloc&) {
        std::fputs("zorvel-model: Out of memory!\n", stderr);
        status = EXIT_REPORT;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zorvel-model: %s\n", e.what());
        status = EXIT_REPORT;
    }
    myfree();
    return status;
}
