// The model store: records of every input model and the run-wide settings.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// A name field holds at most this many bytes; longer names are rejected.
constexpr std::size_t NAME_MAX_LEN = 255;
// The output stem leaves room for a four-byte extension.
constexpr std::size_t STEM_MAX_LEN = 251;

// One vertex or normal. Its merged number is the model's first merged number
// of that kind plus its position in the table.
struct VectorData {
    float x, y, z;
};

// One polygon: flag 0 is a triangle (three corners), 1 a quadrangle.
// A triangle's fourth vertex and normal numbers are carried through unchanged.
struct PolygonData {
    int flag;
    int vtx[4];
    int nrm[4];
};

struct PlyData {
    int nvertex = 0;
    std::vector<VectorData> vertex;
    int nnormal = 0;
    std::vector<VectorData> normal;
    int npolygon = 0;
    std::vector<PolygonData> polygon;
    // Merged number of the first vertex, normal and polygon of this model.
    std::int64_t firstVertex = 0, firstNormal = 0, firstPolygon = 0;
};

// The material of one polygon; which numbers are meaningful depends on type.
struct MaterialData {
    int polygon;
    int flag;
    char shade;
    char type;
    int tim;
    int r[4], g[4], b[4];
    int u[4], v[4];
};

// Visits the numbers of a material line in line order, as its type gives
// them: 'C' one colour, 'G' four, 'T' a texture with four coordinate pairs,
// 'D' a texture and one colour, 'H' a texture and four colours. Other types
// have no numbers.
template <class Material, class Visit>
void visit_material_numbers(Material& m, Visit&& visit) {
    auto colours = [&](int corners) {
        for (int k = 0; k < corners; ++k) {
            visit(m.r[k]);
            visit(m.g[k]);
            visit(m.b[k]);
        }
    };
    auto texture = [&] {
        visit(m.tim);
        for (int k = 0; k < 4; ++k) {
            visit(m.u[k]);
            visit(m.v[k]);
        }
    };
    switch (m.type) {
        case 'C': colours(1); break;
        case 'G': colours(4); break;
        case 'T': texture(); break;
        case 'D': texture(); colours(1); break;
        case 'H': texture(); colours(4); break;
        default: break;
    }
}

inline bool is_textured(char type) {
    return type == 'T' || type == 'D' || type == 'H';
}

struct MatData {
    int nmaterial = 0;
    std::vector<MaterialData> material;
};

// One texture entry of one model: entry n is filled by the line "TEX[n]=name".
struct TimData {
    int used = 0;   // filled, and not (yet) cleared as a duplicate
    int index = 0;  // merged texture number
    int local = 0;
    std::string name;
};

struct RsdData {
    bool merged = false;  // a merged model (version 970401), read where MERGED is set
    std::string codName;  // a merged model's "COD=" name
    std::string ogpName;
    std::string rsdName;
    std::string plyName;
    PlyData ply;
    std::string matName;
    MatData mat;
    std::string grpName;
    int ntex = 0;
    std::vector<TimData> tex;
};

// Run-wide state. Every run starts from these values and myfree() restores them.
extern int NumRsd;
extern std::vector<RsdData> malrsd;
extern int NumMot;
extern std::vector<std::string> malmot;
extern std::string outName;
extern std::string pvtName;
extern std::string codName;
extern int OUT, OGP, BAT, PVT, COD, MOT;
extern int PLY, MAT, TIM;
// Set by zorvel-model: merged models are read as well as input models.
extern int MERGED;

// The vertices of one input of a merged model, as its COD or OGP file
// records them: `count` vertices from merged number `first` on.
struct VertexGroup {
    std::string name;
    long long count = 0;
    long long first = 0;
};

// The line most recently read by get1line, without its line end, and whether
// a line end followed it in the file.
// Each thread that reads files has its own.
extern thread_local std::string_view Buffer;
extern thread_local bool BufferEnded;
