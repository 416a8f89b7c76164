// Writing the COD file: a coordinate block per model, then which merged
// vertices (or, with "-ogp", which object group) belong to each.
#include "function.h"

// The merged numbers of a model's first and last vertex. A model without
// vertices gives first = the vertices of all earlier models, last = first - 1.
void put_vertex_range(OutFile& out, const PlyData& ply) {
    out.putInt(ply.nvertex);
    out.put(' ');
    out.putInt(ply.firstVertex);
    out.put('-');
    out.putInt(ply.firstVertex + ply.nvertex - 1);
    out.put('\n');
}

void writeCOD() {
    oname(".cod");
    OutFile out(outName);
    out.put("@COD970401");
    out.put("\n");
    out.put("# OGP file\n");
    if (OGP) {
        put_name_line(out, "OGP=", ".ogp");
    } else {
        out.put("OGP=NULL\n");
    }
    out.put("# Number of Coordinates\n");
    out.putInt(NumRsd);
    out.put("\n# Coordinate\n");
    for (int i = 0; i < NumRsd; ++i) {
        out.put("4096 0 0\n0 4096 0\n0 0 4096\n0 0 0\n0 0 0\n");
        out.putInt(i);
        out.put('\n');
    }
    if (OGP) {
        out.put("# Coordinate of Object Groupe\n");
        for (int i = 0; i < NumRsd; ++i) {
            RsdData& rsd = malrsd[static_cast<std::size_t>(i)];
            ogpname(rsd);
            out.putInt(i);
            out.put(" 1 ");
            out.put(rsd.ogpName);
            out.put('\n');
        }
    } else {
        out.put("# Coordinate of Vertex\n");
        for (int i = 0; i < NumRsd; ++i) {
            out.putInt(i);
            out.put(' ');
            put_vertex_range(out, malrsd[static_cast<std::size_t>(i)].ply);
        }
    }
    out.close();
}
