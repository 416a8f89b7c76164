// Reading the PLY files: the vertices, normals and polygons of every model.
#include "function.h"

#include <algorithm>

namespace {

constexpr int VECTOR_RECORD = 20;
constexpr int POLYGON_RECORD = 44;

// Room for the records a count line announces, but never more than the rest
// of the file could hold (a line takes at least two bytes), so that a count
// the file cannot back ends with "Unexpected end of file!" and not with the
// memory used up.
template <class T>
void make_table(std::vector<T>& table, int count, int size, const char* message,
                const InFile& file) {
    long long fits = static_cast<long long>(file.remaining() / 2 + 1);
    reserve_table(table, std::min<long long>(count, fits), size, count, message);
}

// A vertex or normal line: three coordinates; a missing one is 0.
void read_vectors(InFile& file, std::vector<VectorData>& table, int count) {
    for (int j = 0; j < count; ++j) {
        need_line(file);
        const char* end = Buffer.data() + Buffer.size();
        const char* p = skip_space(Buffer.data(), end);
        VectorData v;
        v.x = scan_float(p, end);
        p = skip_space(skip_unspace(p, end), end);
        v.y = scan_float(p, end);
        p = skip_space(skip_unspace(p, end), end);
        v.z = scan_float(p, end);
        table.push_back(v);
    }
}

void read_polygons(InFile& file, PlyData& ply, const std::string& plyName) {
    for (int j = 0; j < ply.npolygon; ++j) {
        need_line(file);
        const char* end = Buffer.data() + Buffer.size();
        PolygonData poly;
        const char* p = scan_hex(Buffer.data(), end, poly.flag);
        for (int& number : poly.vtx) p = p ? scan_int(p, end, number) : nullptr;
        for (int& number : poly.nrm) p = p ? scan_int(p, end, number) : nullptr;
        if (!p) file_error("Polygon's data is incorrect!", plyName);
        if (poly.flag != 0 && poly.flag != 1) plyflag_error(plyName, j);
        int corners = poly.flag == 0 ? 3 : 4;
        for (int k = 0; k < corners; ++k) {
            index_error(plyName, poly.vtx[k], ply.nvertex, "Vertex's index is incorrect!");
            if (ply.nnormal != 0)
                index_error(plyName, poly.nrm[k], ply.nnormal, "Normal's index is incorrect!");
        }
        ply.polygon.push_back(poly);
    }
}

}  // namespace

void readPLY2(RsdData& rsd) {
    PlyData& ply = rsd.ply;
    ply = PlyData();
    InFile file;
    open_model_file(file, rsd.plyName, rsd.merged ? "@PLY970401" : "@PLY940102");

    need_line(file);
    const char* end = Buffer.data() + Buffer.size();
    const char* p = Buffer.data();
    for (int* count : {&ply.nvertex, &ply.nnormal, &ply.npolygon})
        if (p) p = scan_int(p, end, *count);

    make_table(ply.vertex, ply.nvertex, VECTOR_RECORD, "malloc error!(VERTEX Data Base)", file);
    read_vectors(file, ply.vertex, ply.nvertex);
    if (ply.nnormal != 0) {
        make_table(ply.normal, ply.nnormal, VECTOR_RECORD, "malloc error!(NORMAL Data Base)", file);
        read_vectors(file, ply.normal, ply.nnormal);
    }
    make_table(ply.polygon, ply.npolygon, POLYGON_RECORD, "malloc error!(POLYGON Data Base)", file);
    read_polygons(file, ply, rsd.plyName);
}

void readPLY() {
    for_each_model(readPLY2);
    // Vertices, normals and polygons are numbered across all models in order.
    std::int64_t vertices = 0, normals = 0, polygons = 0;
    for (RsdData& rsd : malrsd) {
        PlyData& ply = rsd.ply;
        ply.firstVertex = vertices;
        ply.firstNormal = normals;
        ply.firstPolygon = polygons;
        vertices += ply.nvertex;
        normals += ply.nnormal;
        polygons += ply.npolygon;
    }
}
