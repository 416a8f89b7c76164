// The option scan: options come first; the first argument that is not one
// of the six option words ends them.
#include "function.h"

#include <string>

namespace {

// A value-taking option must have its value: a command line that ends
// early is malformed.
const char* value_after(int argc, char** argv, int i) {
    if (i + 1 >= argc) help(EXIT_USAGE);
    return argv[i + 1];
}

std::string checked_name(const char* text) {
    std::string name = text;
    name_error(name);
    return name;
}

void read_motions(int argc, char** argv, int& i) {
    MOT = 1;
    const char* countText = value_after(argc, argv, i);
    int count = 0;
    const char* end = countText + std::char_traits<char>::length(countText);
    if (!scan_int(countText, end, count)) count = 0;
    NumMot = count;
    malloc_error(count >= 0, 256, count, "malloc error!(MOT Data Base)");
    i += 2;
    if (count > argc - i) help(EXIT_USAGE);
    malmot.clear();
    for (int k = 0; k < count; ++k) malmot.push_back(checked_name(argv[i++]));
}

}  // namespace

int option(int argc, char** argv) {
    if (argc < 2) return 1;
    int i = 1;
    while (i < argc) {
        std::string_view word = argv[i];
        if (word == "-o") {
            OUT = 1;
            outName = checked_name(value_after(argc, argv, i));
            if (stem_length(outName) > STEM_MAX_LEN) file_error("File name is too long!", outName);
            i += 2;
        } else if (word == "-pvt") {
            PVT = 1;
            pvtName = checked_name(value_after(argc, argv, i));
            i += 2;
        } else if (word == "-cod") {
            COD = 1;
            codName = checked_name(value_after(argc, argv, i));
            i += 2;
        } else if (word == "-ogp") {
            OGP = 1;
            ++i;
        } else if (word == "-bat") {
            BAT = 1;
            ++i;
        } else if (word == "-mot") {
            read_motions(argc, argv, i);
        } else {
            return i;
        }
    }
    return i;
}
