// Writing the OGP file: every model as an object group with its vertices.
#include "function.h"

void writeOGP() {
    oname(".ogp");
    OutFile out(outName);
    out.put("@OGP970401");
    out.put("\n");
    out.put("# Number of Object Groupe\n");
    out.putInt(NumRsd);
    out.put("\n# Object Groupe\n");
    for (const RsdData& rsd : malrsd) {
        out.put(rsd.ogpName);
        out.put(' ');
        put_vertex_range(out, rsd.ply);
    }
    out.close();
}
