// Writing the merged MAT file: one material line per record.
#include "function.h"

void writeMAT() {
    oname(".mat");
    OutFile out(outName);
    long long records = 0;
    for (const RsdData& rsd : malrsd) records += rsd.mat.nmaterial;
    out.put("@MAT970401");
    out.put("\n");
    out.put("# Number of Items\n");
    out.putInt(records);
    out.put("\n# Material\n");
    for (const RsdData& rsd : malrsd)
        for (const MaterialData& material : rsd.mat.material) writeMAT2(out, material);
    out.close();
}

// A record of a type without numbers is written with its first four fields.
void writeMAT2(OutFile& out, const MaterialData& material) {
    out.putInt(material.polygon);
    out.put(' ');
    out.putHex(material.flag);
    out.put(' ');
    out.put(material.shade);
    out.put(' ');
    out.put(material.type);
    visit_material_numbers(material, [&](int number) {
        out.put(' ');
        out.putInt(number);
    });
    out.put('\n');
}
