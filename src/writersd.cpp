// Writing the merged RSD file: the merged PLY, MAT and COD names, the PVT
// and motion names from the command line, and every texture name once.
#include "function.h"

#include <unordered_set>

void writeRSD() {
    oname(".rsd");
    OutFile out(outName);
    out.put("@RSD970401");
    out.put("\n");
    out.put("# include files\n");
    put_name_line(out, "PLY=", ".ply");
    put_name_line(out, "MAT=", ".mat");
    if (PVT) {
        out.put("PVT=");
        out.put(pvtName);
        out.put('\n');
    }
    if (COD) {
        out.put("COD=");
        out.put(codName);
        out.put('\n');
    } else {
        put_name_line(out, "COD=", ".cod");
    }
    if (MOT) {
        out.put("NMOT=");
        out.putInt(NumMot);
        out.put('\n');
        for (int k = 0; k < NumMot; ++k) {
            out.put("MOT[");
            out.putInt(k);
            out.put("]=");
            out.put(malmot[static_cast<std::size_t>(k)]);
            out.put('\n');
        }
    }
    if (TIM) {
        flag_off();
        long long count = 0;
        for (const RsdData& rsd : malrsd)
            for (const TimData& entry : rsd.tex) count += entry.used;
        out.put("NTEX=");
        out.putInt(count);
        out.put('\n');
        for (const RsdData& rsd : malrsd) {
            for (const TimData& entry : rsd.tex) {
                if (!entry.used) continue;
                out.put("TEX[");
                out.putInt(entry.index);
                out.put("]=");
                out.put(entry.name);
                out.put('\n');
            }
        }
    }
    out.close();
}

// Clears the mark of every texture entry whose name an earlier entry
// (models in order, entries in table order) already carries, so that each
// name is written once.
void flag_off() {
    std::unordered_set<std::string_view> written;
    for (RsdData& rsd : malrsd)
        for (TimData& entry : rsd.tex)
            if (entry.used && !written.insert(entry.name).second) entry.used = 0;
}
