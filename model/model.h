// zorvel-model: the models named on its command line, read by zorvel's own
// readers, and the groups they fall into.
#pragma once

#include "function.h"
#include "texture_convert.h"
#include "tim.h"

#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

// One group: a model named on the command line, or one input of a merged
// model as its COD file records it.
struct Group {
    std::string name;
    const RsdData* model = nullptr;  // the tables the numbers below index
    std::size_t modelIndex = 0;      // its place among the models read
    long long firstVertex = 0;       // the group's vertices: a run of the model's table
    long long vertexCount = 0;
    bool split = false;              // cut out of a merged model
    std::vector<int> polygons;       // the model's polygons whose first corner is in the run
    std::vector<int> materials;      // the model's material records naming those polygons
};

// A texture file that materials name: read once, whichever models name it.
struct Texture {
    std::string name;
    std::string path;                // where it is read: found_beside the RSD file naming it
    bool found = false;              // the file exists
    std::optional<RunEnd> failure;   // found, but it could not be read as an image
    TimImage image;                  // read: found and no failure
    bool read() const { return found && !failure; }
};

struct Scene {
    std::vector<Group> groups;
    // For each model: the material record that gives each polygon its look
    // (the last that names it), or -1.
    std::vector<std::vector<int>> materialOf;
    // Every texture name that a material names, each once, in the order of
    // merged texture numbers; and for each model, the texture each of its
    // texture lines names (an index in `textures`), or -1 where no material
    // names the line.
    std::vector<Texture> textures;
    std::vector<std::vector<int>> textureOf;
};

// A file named inside the file `naming` (an RSD or COD file): as named when
// it exists from the current directory, else beside `naming` when it exists
// there, else as named (and reported missing as such).
std::string found_beside(const std::string& name, const std::string& naming);
// Reads every model and splits merged ones. A bad input ends with RunEnd,
// as in zorvel.
void read_scene(int count, char** names, Scene& scene);
// Reads the texture files the materials name. A file that is missing or
// malformed is recorded in its Texture, not reported.
void read_textures(Scene& scene);
// For the commands that draw textures: the report of the first texture file
// that cannot be read ends the run.
void check_textures(const Scene& scene);
// Once they have drawn: one note on standard error for each texture file
// missing, and for each drawn in greys for want of a colour table.
void note_textures(const Scene& scene);
// The note for a texture file whose indexed pixels have no colour table.
void note_grey_ramp(const std::string& name);
// The PNG file (8-bit RGBA) of a decoded texture image.
std::string texture_png(const TimImage& image);

// The commands. Each reports a failure with RunEnd.
void print_info(const Scene& scene, bool json, std::FILE* out);
// A file's bytes in pieces, to be written one after another: views of what
// `kept` holds, so that large tables are written from where they lie.
struct FileBytes {
    std::shared_ptr<const void> kept;
    std::vector<std::string_view> pieces;
};
// A glTF binary file's identifier and chunk types: "glTF", "JSON", "BIN\0"
// read as little-endian numbers.
constexpr std::uint32_t GLB_MAGIC = 0x46546C67, GLB_JSON = 0x4E4F534A, GLB_BIN = 0x004E4942;
// A set of files, each a path and its bytes in pieces, views of what `kept`
// holds.
struct OutputFile {
    std::string path;
    std::vector<std::string_view> pieces;
};
struct ExportFiles {
    std::shared_ptr<const void> kept;
    std::vector<OutputFile> files;
};
// The exports and render give the bytes of the files they make. They leave
// out the polygons with a corner that is no finite point, and count them in
// `leftOut`.
FileBytes make_glb(const Scene& scene, long long& leftOut);
// `path` ends in ".gltf" (in any case): the JSON there, NAME.bin and NAME-K.png beside it.
ExportFiles make_gltf(const Scene& scene, const std::string& path, long long& leftOut);

// How "render" draws: the picture's side in pixels, the side the model is
// seen from, colours by material or by group, and edges drawn over it.
struct RenderOptions {
    int size = 800;
    std::string view = "iso";
    bool colourByGroup = false;
    bool wire = false;
};
std::string make_png(const Scene& scene, const RenderOptions& options, long long& leftOut);

// A set of output files, each written under a temporary name beside it and
// renamed to its own only by commit(), once all are written: a failure
// (RunEnd) leaves no partial file and keeps the older ones.
class OutputSet {
public:
    OutputSet() = default;
    ~OutputSet();  // removes what was not committed
    OutputSet(const OutputSet&) = delete;
    OutputSet& operator=(const OutputSet&) = delete;

    // The temporary file that stands for `path` until commit(), made empty.
    std::string create(const std::string& path);
    // A temporary file beside `path` for text that goes into it later,
    // removed by commit() (and on failure).
    std::string scratch(const std::string& path);
    void commit();

private:
    struct Pending {
        std::string path, temporary;  // no path: a scratch file
    };
    std::vector<Pending> files_;
};
// Writes each file's pieces one after another, as one set.
void write_files(const std::vector<OutputFile>& files);
inline void write_whole_file(const std::string& path, const std::vector<std::string_view>& pieces) {
    write_files({{path, pieces}});
}

// "import": the glTF file `path` as an input model of these formats, written
// to STEM.rsd, STEM.ply, STEM.mat and STEM-K.tim; notes on standard error.
struct ImportOptions {
    double scale = 1;
    bool triangles = false;  // no triangles paired into quadrangles
    int scene = -1;          // the scene drawn; -1: the file's default
    TextureOptions texture;  // how each image becomes a TIM file
};
void import_gltf(const std::string& path, const std::string& stem, const ImportOptions& options);
