// Reading an OGP file: each object group's name and vertex range.
#include "function.h"

std::vector<VertexGroup> readOGP(const std::string& ogpFile) {
    InFile file;
    open_model_file(file, ogpFile, "@OGP970401");
    need_line(file);
    int count = 0;
    if (!scan_int(Buffer.data(), Buffer.data() + Buffer.size(), count) || count < 0)
        file_error("Format is incorrect!", ogpFile);
    std::vector<VertexGroup> groups;
    for (int k = 0; k < count; ++k) {
        need_line(file);
        const char* end = Buffer.data() + Buffer.size();
        std::string_view name;
        VertexGroup group;
        const char* p = scan_word(Buffer.data(), end, name);
        if (!p || !scan_vertex_range(p, end, group)) file_error("Format is incorrect!", ogpFile);
        name_error(name);
        group.name.assign(name);
        groups.push_back(std::move(group));
    }
    return groups;
}
