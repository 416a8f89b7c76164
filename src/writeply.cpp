// Writing the merged PLY file: the tables of all models, one after another.
#include "function.h"
#include "vector.h"

namespace {

// "%f %f %f\n" for each vertex or normal.
char* format_vectors(std::span<const VectorData> vectors, char* p) {
    for (const VectorData& v : vectors) {
        p = format_fixed(p, v.x);
        *p++ = ' ';
        p = format_fixed(p, v.y);
        *p++ = ' ';
        p = format_fixed(p, v.z);
        *p++ = '\n';
    }
    return p;
}

char* format_polygons(std::span<const PolygonData> polygons, char* p) {
    for (const PolygonData& poly : polygons) p = writePLY2(p, poly);
    return p;
}

void put_vectors(OutFile& out, const std::vector<VectorData> PlyData::*table) {
    auto pieces = cut_tables<VectorData>(
        [table](const RsdData& rsd) -> const std::vector<VectorData>& { return rsd.ply.*table; });
    auto format = vector_kernels().vector_lines;
    if (!format) format = format_vectors;
    write_in_order(out, pieces.size(), PIECE_RECORDS * VECTOR_LINE_MAX,
                   [&](std::size_t k, char* text) { return format(pieces[k], text); });
}

}  // namespace

void writePLY() {
    oname(".ply");
    OutFile out(outName);
    long long vertices = 0, normals = 0, polygons = 0;
    for (const RsdData& rsd : malrsd) {
        vertices += rsd.ply.nvertex;
        normals += rsd.ply.nnormal;
        polygons += rsd.ply.npolygon;
    }
    out.put("@PLY970401");
    out.put("\n");
    out.put("# Number of Items\n");
    out.putInt(vertices);
    out.put(' ');
    out.putInt(normals);
    out.put(' ');
    out.putInt(polygons);
    out.put("\n# Vertex\n");
    put_vectors(out, &PlyData::vertex);
    if (normals != 0) {
        out.put("# Normal\n");
        put_vectors(out, &PlyData::normal);
    }
    out.put("# Polygon\n");
    auto pieces = cut_tables<PolygonData>(
        [](const RsdData& rsd) -> const std::vector<PolygonData>& { return rsd.ply.polygon; });
    write_in_order(out, pieces.size(), PIECE_RECORDS * POLYGON_LINE_MAX,
                   [&](std::size_t k, char* text) { return format_polygons(pieces[k], text); });
    out.close();
}

// "%x %d %d %d %d %d %d %d %d\n": one polygon line.
char* writePLY2(char* p, const PolygonData& polygon) {
    p = format_hex(p, static_cast<unsigned>(polygon.flag));
    for (int number : polygon.vtx) {
        *p++ = ' ';
        p = format_int(p, number);
    }
    for (int number : polygon.nrm) {
        *p++ = ' ';
        p = format_int(p, number);
    }
    *p++ = '\n';
    return p;
}
