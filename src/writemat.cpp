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
    auto pieces = cut_tables<MaterialData>(
        [](const RsdData& rsd) -> const std::vector<MaterialData>& { return rsd.mat.material; });
    write_in_order(out, pieces.size(), PIECE_RECORDS * MATERIAL_LINE_MAX,
                   [&](std::size_t k, char* text) {
                       for (const MaterialData& material : pieces[k]) text = writeMAT2(text, material);
                       return text;
                   });
    out.close();
}

// One material line: polygon, flag, shade, type and the numbers of the
// type. A record of a type without numbers is written with its first four
// fields.
char* writeMAT2(char* p, const MaterialData& material) {
    p = format_int(p, material.polygon);
    *p++ = ' ';
    p = format_hex(p, static_cast<unsigned>(material.flag));
    *p++ = ' ';
    *p++ = material.shade;
    *p++ = ' ';
    *p++ = material.type;
    visit_material_numbers(material, [&](int number) {
        *p++ = ' ';
        p = format_int(p, number);
    });
    *p++ = '\n';
    return p;
}
