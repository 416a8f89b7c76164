// Reading the MAT files: one record per polygon that a material line names.
#include "function.h"

#include <algorithm>
#include <climits>

namespace {

constexpr int MATERIAL_RECORD = 96;
const char* const POLYGON_INDEX = "Polygon's index is incorrect!";
const char* const MATERIAL_DATA = "Material's data is incorrect!";

bool is_blank(char c) { return c == ' ' || c == '\t'; }
// Decimal digits, clamped to the largest int; null when there are none.
const char* read_digits(const char* p, const char* end, long long& value) {
    if (p == end || !is_digit(*p)) return nullptr;
    value = 0;
    for (; p < end && is_digit(*p); ++p) value = std::min<long long>(value * 10 + (*p - '0'), INT_MAX);
    return p;
}

// One item of a polygon list, "n" or "a-b" with a <= b, ending at a ',' or at
// the end of the list. Anything else ends the run.
const char* read_item(const char* p, const char* listEnd, long long& first, long long& last,
                      const std::string& matName) {
    p = read_digits(p, listEnd, first);
    last = first;
    if (p && p < listEnd && *p == '-') p = read_digits(p + 1, listEnd, last);
    if (!p || (p < listEnd && *p != ',') || last < first) file_error(POLYGON_INDEX, matName);
    return p;
}

const char* field_end(const char* p, const char* end) {
    while (p < end && !is_blank(*p)) ++p;
    return p;
}

// The fields after the polygon list: the flag (one whole hexadecimal number),
// the shade and the type (one character each), then the numbers of the type.
void read_fields(const char* p, const char* end, MaterialData& m, const RsdData& rsd) {
    const char* fields[3];
    const char* ends[3];
    for (int k = 0; k < 3; ++k) {
        fields[k] = skip_space(p, end);
        ends[k] = p = field_end(fields[k], end);
        if (fields[k] == ends[k]) file_error(MATERIAL_DATA, rsd.matName);
    }
    if (scan_hex(fields[0], ends[0], m.flag) != ends[0] || ends[1] - fields[1] != 1 ||
        ends[2] - fields[2] != 1)
        file_error(MATERIAL_DATA, rsd.matName);
    m.shade = *fields[1];
    m.type = *fields[2];
    readMAT2(m.type, skip_space(p, end), end, m, rsd);
}

void read_mat_file(RsdData& rsd) {
    MatData& mat = rsd.mat;
    mat = MatData();
    InFile file;
    open_model_file(file, rsd.matName, rsd.merged ? "@MAT970401" : "@MAT940801");
    need_line(file);
    int count = 0;
    scan_int(Buffer.data(), Buffer.data() + Buffer.size(), count);

    // Most files name every polygon once: room for that saves growing the
    // table, and copying it, as the lines come. Where that room cannot be
    // had, a line's worth per line will do.
    try {
        if (count > 0 && rsd.ply.npolygon > count) mat.material.reserve(static_cast<std::size_t>(rsd.ply.npolygon));
    } catch (const std::bad_alloc&) {
    } catch (const std::length_error&) {
    }
    reserve_table(mat.material, count > 0 ? std::min(count, rsd.ply.npolygon) : 0,
                  MATERIAL_RECORD, 1, "malloc error!(MATERIAL Data Base)");
    for (int j = 0; j < count; ++j) {
        need_line(file);
        const char* end = Buffer.data() + Buffer.size();
        const char* list = skip_space(Buffer.data(), end);
        const char* listEnd = field_end(list, end);
        MaterialData proto{};
        bool parsed = false;
        for (const char* p = list; p < listEnd;) {
            long long first, last;
            p = read_item(p, listEnd, first, last, rsd.matName);
            if (p < listEnd) ++p;  // the ','; one at the end of the list adds nothing
            for (long long polygon = first; polygon <= last; ++polygon) {
                index_error(rsd.matName, static_cast<int>(polygon), rsd.ply.npolygon, POLYGON_INDEX);
                if (!parsed) {
                    read_fields(listEnd, end, proto, rsd);
                    parsed = true;
                }
                proto.polygon = static_cast<int>(polygon);
                try {
                    mat.material.push_back(proto);
                } catch (const std::bad_alloc&) {
                    realloc_error(false, MATERIAL_RECORD, static_cast<int>(mat.material.size() + 1),
                                  "realloc error!(MATERIAL Data Base)");
                }
            }
        }
    }
    mat.nmaterial = static_cast<int>(mat.material.size());
}

}  // namespace

void readMAT() {
    for_each_model(read_mat_file);
}

// The numbers of the data part, as many as the type needs; a textured
// type's texture number must name one of the model's texture lines.
void readMAT2(char type, const char* data, const char* end, MaterialData& material,
              const RsdData& rsd) {
    material.type = type;
    const char* p = data;
    visit_material_numbers(material, [&](int& number) {
        if (p) p = scan_int(p, end, number);
    });
    if (!p) file_error(MATERIAL_DATA, rsd.matName);
    if (is_textured(type))
        index_error(rsd.matName, material.tim, rsd.ntex, "Texture's index is incorrect!");
}
