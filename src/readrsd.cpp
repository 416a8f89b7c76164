// Reading the batch list and the RSD files, and giving every distinct
// texture file name its merged number.
#include "function.h"

#include <unordered_map>
#include <unordered_set>
#include <utility>

namespace {

// Merged texture numbers by name; a name takes the next number at its first
// appearance, models in order and texture lines in order.
std::unordered_map<std::string, int> texNumbers;

constexpr int RSD_RECORD = 1296;
constexpr int TIM_RECORD = 268;
const char* const TIM_INDEX = "TIM file's index is incorrect!";

bool starts_with(std::string_view line, std::string_view key) {
    return line.substr(0, key.size()) == key;
}

// "KEY=%s": one word after the key; a line without one leaves the name as it was.
void read_name(std::string_view line, std::size_t keyLength, std::string& name) {
    std::string_view word;
    if (scan_word(line.data() + keyLength, line.data() + line.size(), word)) {
        name_error(word);
        name.assign(word);
    }
}

void read_batch_list(const char* listName) {
    InFile list;
    open_input(list, listName);
    while (get1line(list)) {
        std::string_view word;
        scan_word(Buffer.data(), Buffer.data() + Buffer.size(), word);
        name_error(word);
        ++NumRsd;
        try {
            malrsd.emplace_back();
        } catch (const std::bad_alloc&) {
            realloc_error(false, RSD_RECORD, NumRsd, "realloc error!(RSD Data Base)");
        }
        malrsd.back().rsdName.assign(word);
    }
}

// The run of texture lines after "NTEX=", each "TEX[n]=name" with n below
// the count and each n once. Entry n takes the name of line n.
void read_textures(InFile& file, RsdData& rsd) {
    std::vector<std::pair<int, std::string_view>> lines;
    std::unordered_set<int> seen;
    for (int j = 0; j < rsd.ntex; ++j) {
        need_line(file);
        const char* p = Buffer.data();
        const char* end = p + Buffer.size();
        int n = 0;
        std::string_view name;
        bool formed = starts_with(Buffer, "TEX[") && (p = scan_int(p + 4, end, n)) &&
                      end - p >= 2 && p[0] == ']' && p[1] == '=' &&
                      scan_word(p + 2, end, name);
        if (!formed || !seen.insert(n).second) file_error(TIM_INDEX, rsd.rsdName);
        index_error(rsd.rsdName, n, rsd.ntex, TIM_INDEX);
        name_error(name);
        lines.emplace_back(n, name);
    }
    // Every line was there, so the table is no larger than the file.
    rsd.tex.resize(static_cast<std::size_t>(rsd.ntex));
    for (auto& [n, name] : lines) {
        TimData& entry = rsd.tex[static_cast<std::size_t>(n)];
        entry.local = n;
        entry.name.assign(name);
        entry.index = get_timidx(entry.name);
        if (entry.index < 0) {
            entry.index = static_cast<int>(texNumbers.size());
            texNumbers.emplace(entry.name, entry.index);
        }
        entry.used = 1;
    }
}

void read_rsd_file(RsdData& rsd) {
    InFile file;
    rsd.merged = open_model_file(file, rsd.rsdName, "@RSD940102", MERGED ? "@RSD970401" : "");
    bool hasPly = false, hasMat = false, hasNtex = false;
    rsd.ntex = 0;
    while (get1line(file)) {
        if (starts_with(Buffer, "PLY=")) {
            PLY = 1;
            hasPly = true;
            read_name(Buffer, 4, rsd.plyName);
        } else if (starts_with(Buffer, "MAT=")) {
            MAT = 1;
            hasMat = true;
            read_name(Buffer, 4, rsd.matName);
        } else if (rsd.merged && starts_with(Buffer, "COD=")) {
            read_name(Buffer, 4, rsd.codName);
        } else if (starts_with(Buffer, "GRP=")) {
            read_name(Buffer, 4, rsd.grpName);
        } else if (starts_with(Buffer, "NTEX=")) {
            // A second count would replace a table whose names already
            // took merged numbers.
            if (hasNtex) file_error(TIM_INDEX, rsd.rsdName);
            hasNtex = true;
            scan_int(Buffer.data() + 5, Buffer.data() + Buffer.size(), rsd.ntex);
            if (rsd.ntex == 0) continue;
            malloc_error(rsd.ntex > 0, TIM_RECORD, rsd.ntex, "malloc error!(TIM Data Base)");
            TIM = 1;
            read_textures(file, rsd);
        }
    }
    if (!hasPly) file_error("PLY file isn't specified!", rsd.rsdName);
    if (!hasMat) file_error("MAT file isn't specified!", rsd.rsdName);
}

}  // namespace

void readRSD(char** names) {
    texNumbers.clear();
    if (BAT) {
        read_batch_list(names[0]);
    } else {
        reserve_table(malrsd, NumRsd, RSD_RECORD, NumRsd, "malloc error!(RSD Data Base)");
        malrsd.resize(static_cast<std::size_t>(NumRsd));
    }
    for (int i = 0; i < NumRsd; ++i) {
        RsdData& rsd = malrsd[static_cast<std::size_t>(i)];
        if (!BAT) {
            name_error(names[i]);
            rsd.rsdName = names[i];
        }
        read_rsd_file(rsd);
    }
}

// The merged number an earlier entry of the same name took, or -1.
int get_timidx(const std::string& timName) {
    auto found = texNumbers.find(timName);
    return found == texNumbers.end() ? -1 : found->second;
}
