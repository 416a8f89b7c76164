// Reading the PLY files: the vertices, normals and polygons of every model.
#include "function.h"
#include "vector.h"

#include <algorithm>
#include <cstring>
#include <exception>

namespace {

constexpr int VECTOR_RECORD = 20;
constexpr int POLYGON_RECORD = 44;
// A file shorter than this is read on one thread: starting others costs more.
constexpr std::size_t SPLIT_MIN_BYTES = 4 << 20;
// Each thread takes several parts in turn, so that none waits long for another.
constexpr std::size_t PARTS_PER_THREAD = 4;

// Room for the records a count line announces, but never more than the rest
// of the file could hold (a line takes at least two bytes), so that a count
// the file cannot back ends with "Unexpected end of file!" and not with the
// memory used up.
template <class T>
void make_table(std::vector<T>& table, int count, int size, const char* message,
                const InFile& file) {
    long long fits = static_cast<long long>(file.remaining() / 2 + 1);
    reserve_table(table, std::min<long long>(count, fits), size, count, message);
}

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A vertex or normal line: three coordinates; a missing one is 0. `limit`
// is the end of the file's bytes.
VectorData read_vector(std::string_view line, const char* limit) {
    const char* end = line.data() + line.size();
    const char* p = skip_space(line.data(), end);
    VectorData v;
    // Most lines are three plain decimals between blanks.
    const char* q;
    if ((q = scan_coordinate(p, end, limit, v.x)) && q < end && is_blank(*q) &&
        (q = scan_coordinate(skip_space(q, end), end, limit, v.y)) && q < end && is_blank(*q) &&
        (q = scan_coordinate(skip_space(q, end), end, limit, v.z)) && (q == end || is_blank(*q)))
        return v;
    v.x = scan_float(p, end);
    p = skip_space(skip_unspace(p, end), end);
    v.y = scan_float(p, end);
    p = skip_space(skip_unspace(p, end), end);
    v.z = scan_float(p, end);
    return v;
}

// The same for the line at `pos` when it is three plain decimals between
// blanks and ends right after the third: its end is then found on the way,
// and `pos` moves past it. Any other line is left to next_line.
bool quick_vector(const char* data, std::size_t size, std::size_t& pos, VectorData& v) {
    const char* limit = data + size;
    const char* q = skip_space(data + pos, limit);
    if (q == limit || !(q = scan_coordinate(q, limit, limit, v.x)) || q == limit || !is_blank(*q) ||
        !(q = scan_coordinate(skip_space(q, limit), limit, limit, v.y)) || q == limit || !is_blank(*q) ||
        !(q = scan_coordinate(skip_space(q, limit), limit, limit, v.z)) || q == limit)
        return false;
    if (*q == '\r' && q + 1 < limit) ++q;
    if (*q != '\n') return false;
    pos = static_cast<std::size_t>(q + 1 - data);
    return true;
}

// Ends the run when polygon j, as read, is not a valid polygon of the model.
// In a merged model, the polygons of an input without normals carry the
// normal numbers they were read with, so there its normal numbers are not
// checked.
void check_polygon(const PolygonData& poly, const RsdData& rsd, int j) {
    const PlyData& ply = rsd.ply;
    if (poly.flag != 0 && poly.flag != 1) plyflag_error(rsd.plyName, j);
    int corners = poly.flag == 0 ? 3 : 4;
    for (int k = 0; k < corners; ++k) {
        index_error(rsd.plyName, poly.vtx[k], ply.nvertex, "Vertex's index is incorrect!");
        if (ply.nnormal != 0 && !rsd.merged)
            index_error(rsd.plyName, poly.nrm[k], ply.nnormal, "Normal's index is incorrect!");
    }
}

// Polygon line j of the file; ends the run when it is not a valid polygon.
PolygonData read_polygon(std::string_view line, const RsdData& rsd, int j) {
    const char* end = line.data() + line.size();
    PolygonData poly;
    const char* p = scan_hex(line.data(), end, poly.flag);
    for (int& number : poly.vtx) p = p ? scan_int(p, end, number) : nullptr;
    for (int& number : poly.nrm) p = p ? scan_int(p, end, number) : nullptr;
    if (!p) file_error("Polygon's data is incorrect!", rsd.plyName);
    check_polygon(poly, rsd, j);
    return poly;
}

// The polygon line at `pos` when it is a one-digit flag and eight numbers of
// at most nine digits, between blanks, ending right after the last: read as
// read_polygon reads it, its end found on the way; `pos` moves past it. Any
// other line is left to next_line and read_polygon.
bool quick_polygon(const char* data, std::size_t size, std::size_t& pos, PolygonData& poly) {
    const char* limit = data + size;
    const char* q = skip_space(data + pos, limit);
    if (q == limit || !is_digit(*q)) return false;
    poly.flag = *q++ - '0';
    for (int* number : {&poly.vtx[0], &poly.vtx[1], &poly.vtx[2], &poly.vtx[3], &poly.nrm[0], &poly.nrm[1],
                        &poly.nrm[2], &poly.nrm[3]}) {
        if (q == limit || !is_blank(*q)) return false;
        q = skip_space(q, limit);
        const char* first = q;
        unsigned value = 0;
        for (; q < limit && is_digit(*q); ++q) value = value * 10 + static_cast<unsigned>(*q - '0');
        if (q == first || q - first > 9) return false;
        *number = static_cast<int>(value);
    }
    if (q == limit) return false;
    if (*q == '\r' && q + 1 < limit) ++q;
    if (*q != '\n') return false;
    pos = static_cast<std::size_t>(q + 1 - data);
    return true;
}

// Records taken from the vector kernels at a time when reading in turn.
constexpr std::size_t RUN_RECORDS = 512;

// Lines in a row by the vector kernels in use, into `out` (up to `count`);
// how many. Any line they leave is the plain reader's.
std::size_t vector_run(const char* data, std::size_t size, std::size_t& pos, VectorData* out,
                       std::size_t count) {
    auto run = vector_kernels().vector_lines_read;
    return run ? run(data, size, pos, out, count) : 0;
}

std::size_t polygon_run(const char* data, std::size_t size, std::size_t& pos, PolygonData* out,
                        std::size_t count) {
    auto run = vector_kernels().polygon_lines_read;
    return run ? run(data, size, pos, out, count) : 0;
}

void read_vectors(InFile& file, std::vector<VectorData>& table, int count) {
    const char* data = file.data.get();
    VectorData batch[RUN_RECORDS];
    for (std::size_t j = 0, total = static_cast<std::size_t>(count); j < total;) {
        std::size_t n = file.hasNul ? 0 : vector_run(data, file.size, file.pos, batch, std::min(RUN_RECORDS, total - j));
        if (n == 0) {
            if (file.hasNul || file.pos >= file.size || !quick_vector(data, file.size, file.pos, batch[0])) {
                need_line(file);
                batch[0] = read_vector(Buffer, data + file.size);
            }
            n = 1;
        }
        table.insert(table.end(), batch, batch + n);
        j += n;
    }
}

void read_in_turn(InFile& file, RsdData& rsd) {
    PlyData& ply = rsd.ply;
    make_table(ply.vertex, ply.nvertex, VECTOR_RECORD, "malloc error!(VERTEX Data Base)", file);
    read_vectors(file, ply.vertex, ply.nvertex);
    if (ply.nnormal != 0) {
        make_table(ply.normal, ply.nnormal, VECTOR_RECORD, "malloc error!(NORMAL Data Base)", file);
        read_vectors(file, ply.normal, ply.nnormal);
    }
    make_table(ply.polygon, ply.npolygon, POLYGON_RECORD, "malloc error!(POLYGON Data Base)", file);
    const char* data = file.data.get();
    PolygonData batch[RUN_RECORDS];
    for (std::size_t j = 0, total = static_cast<std::size_t>(ply.npolygon); j < total;) {
        std::size_t n = file.hasNul ? 0 : polygon_run(data, file.size, file.pos, batch, std::min(RUN_RECORDS, total - j));
        if (n == 0) {
            if (!file.hasNul && file.pos < file.size && quick_polygon(data, file.size, file.pos, batch[0])) {
                n = 1;
            } else {
                need_line(file);
                batch[0] = read_polygon(Buffer, rsd, static_cast<int>(j));
                ply.polygon.push_back(batch[0]);
                ++j;
                continue;
            }
        }
        for (std::size_t m = 0; m < n; ++m) check_polygon(batch[m], rsd, static_cast<int>(j + m));
        ply.polygon.insert(ply.polygon.end(), batch, batch + n);
        j += n;
    }
}

// The same reading with the rest of the file cut into parts at line starts,
// read on several threads: a first pass counts each part's meaningful lines,
// which tells every part the number of its first line, and a second fills
// the tables. Only polygon lines can fail; the failure of the earliest line
// is the one reported, as in turn it would be the first met. Returns false,
// having read nothing, when the file holds fewer lines than the counts
// announce: reading in turn then reports what comes first.
bool read_in_parts(InFile& file, RsdData& rsd, unsigned threads) {
    PlyData& ply = rsd.ply;
    const char* data = file.data.get();
    const std::size_t size = file.size;
    const std::size_t parts = threads * PARTS_PER_THREAD;
    std::vector<std::size_t> starts(parts + 1, size);
    starts[0] = file.pos;
    for (std::size_t k = 1; k < parts; ++k) {
        std::size_t at = std::max(starts[k - 1], file.pos + (size - file.pos) / parts * k);
        const void* nl = at < size ? std::memchr(data + at, '\n', size - at) : nullptr;
        starts[k] = nl ? static_cast<std::size_t>(static_cast<const char*>(nl) - data) + 1 : size;
    }

    std::vector<long long> firstLine(parts + 1, 0);
    run_pieces(threads, parts, [&](std::size_t k) {
        std::size_t pos = starts[k];
        std::string_view line;
        bool ended;
        long long lines = 0;
        while (next_line(data, starts[k + 1], pos, file.hasNul, line, ended)) ++lines;
        firstLine[k + 1] = lines;
    });
    for (std::size_t k = 0; k < parts; ++k) firstLine[k + 1] += firstLine[k];
    const long long vectors = static_cast<long long>(ply.nvertex) + ply.nnormal;
    const long long needed = vectors + ply.npolygon;
    if (firstLine[parts] < needed) return false;

    // Every table fits in the file (each line takes at least two bytes), so
    // only an allocation failure can stop this, with the report the first
    // table to fail would give in turn.
    make_table(ply.vertex, ply.nvertex, VECTOR_RECORD, "malloc error!(VERTEX Data Base)", file);
    ply.vertex.resize(static_cast<std::size_t>(ply.nvertex));
    if (ply.nnormal != 0) {
        make_table(ply.normal, ply.nnormal, VECTOR_RECORD, "malloc error!(NORMAL Data Base)", file);
        ply.normal.resize(static_cast<std::size_t>(ply.nnormal));
    }
    make_table(ply.polygon, ply.npolygon, POLYGON_RECORD, "malloc error!(POLYGON Data Base)", file);
    ply.polygon.resize(static_cast<std::size_t>(ply.npolygon));

    std::vector<std::exception_ptr> failures(parts);
    const char* limit = data + size;
    run_pieces(threads, parts, [&](std::size_t k) {
        std::size_t pos = starts[k];
        std::string_view line;
        bool ended;
        long long i = firstLine[k];
        try {
            while (i < needed && pos < starts[k + 1]) {
                VectorData* v = i < ply.nvertex ? &ply.vertex[static_cast<std::size_t>(i)]
                                : i < vectors   ? &ply.normal[static_cast<std::size_t>(i - ply.nvertex)]
                                                : nullptr;
                auto j = static_cast<int>(i - vectors);
                PolygonData* poly = v ? nullptr : &ply.polygon[static_cast<std::size_t>(j)];
                std::size_t n = 0;
                if (!file.hasNul && v) {
                    // A run of vectors stops at the end of its table.
                    const long long room = (i < ply.nvertex ? ply.nvertex : vectors) - i;
                    n = vector_run(data, starts[k + 1], pos, v, static_cast<std::size_t>(room));
                    if (n == 0 && quick_vector(data, starts[k + 1], pos, *v)) n = 1;
                } else if (!file.hasNul) {
                    n = polygon_run(data, starts[k + 1], pos, poly, static_cast<std::size_t>(needed - i));
                    if (n == 0 && quick_polygon(data, starts[k + 1], pos, *poly)) n = 1;
                    for (std::size_t m = 0; m < n; ++m) check_polygon(poly[m], rsd, j + static_cast<int>(m));
                }
                if (n == 0) {
                    if (!next_line(data, starts[k + 1], pos, file.hasNul, line, ended)) break;
                    if (v) {
                        *v = read_vector(line, limit);
                    } else {
                        *poly = read_polygon(line, rsd, j);
                    }
                    n = 1;
                }
                i += static_cast<long long>(n);
            }
        } catch (...) {
            failures[k] = std::current_exception();
        }
    });
    for (const std::exception_ptr& failure : failures)
        if (failure) std::rethrow_exception(failure);
    return true;
}

}  // namespace

bool read_vector_line(const char* data, std::size_t size, std::size_t& pos, VectorData& v) {
    return vector_run(data, size, pos, &v, 1) == 1 || quick_vector(data, size, pos, v);
}

bool read_polygon_line(const char* data, std::size_t size, std::size_t& pos, PolygonData& poly) {
    return polygon_run(data, size, pos, &poly, 1) == 1 || quick_polygon(data, size, pos, poly);
}

void readPLY2(RsdData& rsd) {
    PlyData& ply = rsd.ply;
    ply = PlyData();
    InFile file;
    open_model_file(file, rsd.plyName, rsd.merged ? "@PLY970401" : "@PLY940102");

    need_line(file);
    const char* end = Buffer.data() + Buffer.size();
    const char* p = Buffer.data();
    for (int* count : {&ply.nvertex, &ply.nnormal, &ply.npolygon})
        if (p) p = scan_int(p, end, *count);

    unsigned threads = file.remaining() >= SPLIT_MIN_BYTES ? spare_threads() : 1;
    bool counted = ply.nvertex >= 0 && ply.nnormal >= 0 && ply.npolygon >= 0;
    if (threads > 1 && counted && read_in_parts(file, rsd, threads)) return;
    read_in_turn(file, rsd);
}

void readPLY() {
    for_each_model(readPLY2);
    // Vertices, normals and polygons are numbered across all models in order.
    std::int64_t vertices = 0, normals = 0, polygons = 0;
    for (RsdData& rsd : malrsd) {
        PlyData& ply = rsd.ply;
        ply.firstVertex = vertices;
        ply.firstNormal = normals;
        ply.firstPolygon = polygons;
        vertices += ply.nvertex;
        normals += ply.nnormal;
        polygons += ply.npolygon;
    }
}
