// Output file names: the stem ("a" unless "-o" was given) and an extension.
#include "function.h"

std::string outName;

// The stem is the name up to the first '.' of its last path component, so
// "../out/car.old.rsd" gives "../out/car".
std::size_t stem_length(std::string_view name) {
    std::size_t slash = name.rfind('/');
    std::size_t dot = name.find('.', slash == std::string_view::npos ? 0 : slash + 1);
    return dot == std::string_view::npos ? name.size() : dot;
}

void oname(std::string_view extension) {
    if (!OUT) outName.assign(1, 'a');  // the default stem
    outName.resize(stem_length(outName));
    outName.append(extension);
}

// "KEY=name\n" with the output name formed with `extension`: how the merged
// RSD and COD files name the other output files.
void put_name_line(OutFile& out, std::string_view key, std::string_view extension) {
    oname(extension);
    out.put(key);
    out.put(outName);
    out.put('\n');
}
