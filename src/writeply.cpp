// Writing the merged PLY file: the tables of all models, one after another.
#include "function.h"

namespace {

void put_vectors(OutFile& out, const std::vector<VectorData>& table) {
    for (const VectorData& v : table) {
        out.putFixed(v.x);
        out.put(' ');
        out.putFixed(v.y);
        out.put(' ');
        out.putFixed(v.z);
        out.put('\n');
    }
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
    for (const RsdData& rsd : malrsd) put_vectors(out, rsd.ply.vertex);
    if (normals != 0) {
        out.put("# Normal\n");
        for (const RsdData& rsd : malrsd) put_vectors(out, rsd.ply.normal);
    }
    out.put("# Polygon\n");
    for (const RsdData& rsd : malrsd) {
        for (const PolygonData& poly : rsd.ply.polygon) {
            out.putHex(poly.flag);
            for (int number : poly.vtx) {
                out.put(' ');
                out.putInt(number);
            }
            for (int number : poly.nrm) {
                out.put(' ');
                out.putInt(number);
            }
            out.put('\n');
        }
    }
    out.close();
}
