// zorvel-model: the models named on its command line, read by zorvel's own
// readers, and the groups they fall into.
#pragma once

#include "function.h"

#include <cstdio>

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

struct Scene {
    std::vector<Group> groups;
    // For each model: the material record that gives each polygon its look
    // (the last that names it), or -1.
    std::vector<std::vector<int>> materialOf;
};

// Reads every model and splits merged ones. A bad input ends with RunEnd,
// as in zorvel.
void read_scene(int count, char** names, Scene& scene);

// The commands. Each reports a failure with RunEnd.
void print_info(const Scene& scene, bool json, std::FILE* out);
// Both give the bytes of the file they make, in pieces to be written one
// after another. Both leave out the polygons with a corner that is no
// finite point, and count them in `leftOut`.
std::vector<std::string> make_glb(const Scene& scene, long long& leftOut);

// How "render" draws: the picture's side in pixels, the side the model is
// seen from, colours by material or by group, and edges drawn over it.
struct RenderOptions {
    int size = 800;
    std::string view = "iso";
    bool colourByGroup = false;
    bool wire = false;
};
std::vector<std::string> make_png(const Scene& scene, const RenderOptions& options, long long& leftOut);

// Writes the pieces one after another to `path` under a temporary name and
// renames it at the end, so that a failure leaves no partial file and keeps
// an older one.
void write_whole_file(const std::string& path, const std::vector<std::string>& pieces);
