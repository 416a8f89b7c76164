// Reading a merged model's COD file for the inputs it records: the vertex
// range of each, or, when it lists object groups, the name of the OGP file
// that holds them.
#include "function.h"

namespace {

const char* const FORMAT = "Format is incorrect!";
constexpr int COORDINATE_LINES = 6;  // three axes, two vectors, the block's number

}  // namespace

// "count first-last": a run of merged vertex numbers. Null when the line
// does not hold one.
const char* scan_vertex_range(const char* p, const char* end, VertexGroup& group) {
    int count = 0, first = 0, last = 0;
    p = scan_int(p, end, count);
    if (p) p = scan_int(p, end, first);
    if (!p || p == end || *p != '-') return nullptr;
    p = scan_int(p + 1, end, last);
    // A model without vertices is recorded as first-(first-1).
    if (!p || count < 0 || first < 0 || static_cast<long long>(last) - first + 1 != count) return nullptr;
    group.count = count;
    group.first = first;
    return p;
}

std::vector<VertexGroup> readCOD(const std::string& codFile, std::string& ogpFile) {
    InFile file;
    open_model_file(file, codFile, "@COD970401");
    need_line(file);
    std::string_view ogpLine = Buffer;
    if (ogpLine.substr(0, 4) != "OGP=") file_error(FORMAT, codFile);
    std::string_view ogpName;
    scan_word(ogpLine.data() + 4, ogpLine.data() + ogpLine.size(), ogpName);
    ogpFile.clear();
    need_line(file);
    int blocks = 0;
    if (!scan_int(Buffer.data(), Buffer.data() + Buffer.size(), blocks) || blocks < 0)
        file_error(FORMAT, codFile);
    for (long long line = 0; line < static_cast<long long>(blocks) * COORDINATE_LINES; ++line)
        need_line(file);
    if (ogpName != "NULL") {
        name_error(ogpName);
        ogpFile.assign(ogpName);
        return {};
    }

    // "n count first-last" for each block, the n-th named "group<n>".
    std::vector<VertexGroup> groups;
    for (int k = 0; k < blocks; ++k) {
        need_line(file);
        const char* end = Buffer.data() + Buffer.size();
        VertexGroup group;
        int number = 0;
        const char* p = scan_int(Buffer.data(), end, number);
        if (!p || !scan_vertex_range(p, end, group)) file_error(FORMAT, codFile);
        group.name = "group" + std::to_string(k);
        groups.push_back(std::move(group));
    }
    return groups;
}
