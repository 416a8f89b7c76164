// Renumbering: every reference inside a model, read as a number local to
// its own file, becomes the merged number of the item it names.
#include "function.h"

void change_index() {
    for (RsdData& rsd : malrsd) {
        PlyData& ply = rsd.ply;
        for (PolygonData& poly : ply.polygon) {
            // A triangle's fourth numbers, and the normal numbers of a model
            // without normals, are carried through as read.
            int corners = poly.flag == 0 ? 3 : 4;
            for (int k = 0; k < corners; ++k) {
                poly.vtx[k] = static_cast<int>(ply.firstVertex + poly.vtx[k]);
                if (ply.nnormal != 0) poly.nrm[k] = static_cast<int>(ply.firstNormal + poly.nrm[k]);
            }
        }
        for (MaterialData& material : rsd.mat.material) {
            material.polygon = static_cast<int>(ply.firstPolygon + material.polygon);
            if (is_textured(material.type)) material.tim = search_tidx(material.tim, rsd);
        }
    }
}

// The merged number of texture line `tidx` of the model. The readers have
// checked that the line exists.
int search_tidx(int tidx, const RsdData& rsd) {
    return rsd.tex[static_cast<std::size_t>(tidx)].index;
}
