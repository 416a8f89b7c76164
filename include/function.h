// Declarations of every procedure of the tool, and the two small file
// classes that all readers and writers share.
#pragma once

#include "zorvel.h"

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// ---- Run sequence and command line ----------------------------------------
int run(int argc, char** argv);  // the whole run; returns the exit status
int option(int argc, char** argv);
[[noreturn]] void help(int status);
void license();
void oname(std::string_view extension);
std::size_t stem_length(std::string_view name);  // up to the first '.' of the last component

// ---- Ending a run -----------------------------------------------------------
// Thrown by every checking procedure after it has composed its report; only
// run() catches it, prints the report and returns the status.
struct RunEnd {
    int status;
    std::string report;   // as zorvel prints it
    std::string message;  // the report's message alone ("Can't open!")
    std::string fileName; // the file it names, if any
};
constexpr int EXIT_REPORT = 1;  // a fatal report was printed
constexpr int EXIT_USAGE = 2;   // the command line is malformed

// ---- Checking procedures: each returns only when its test passes ------------
void malloc_error(bool allocated, int size, int count, std::string_view message);
void realloc_error(bool allocated, int size, int count, std::string_view message);
void fopen_error(bool opened, std::string_view fileName);
void id_error(std::string_view fileName, std::string_view expected, std::string_view line);
void index_error(std::string_view fileName, int index, int limit, std::string_view message);
[[noreturn]] void plyflag_error(std::string_view fileName, int polygon);
[[noreturn]] void file_error(std::string_view message, std::string_view fileName);
void name_error(std::string_view name);  // fails for names longer than NAME_MAX_LEN
[[noreturn]] void eof_error(std::string_view fileName);
[[noreturn]] void write_error(std::string_view fileName);

// Makes room in a table for `count` records, or ends the run with the
// allocation report of that table, which shows the record size `size` and
// the number of records `reported`.
template <class T>
void reserve_table(std::vector<T>& table, long long count, int size, int reported,
                   std::string_view message) {
    bool ok = count >= 0;
    if (ok) {
        try {
            table.reserve(static_cast<std::size_t>(count));
        } catch (const std::bad_alloc&) {
            ok = false;
        } catch (const std::length_error&) {
            ok = false;
        }
    }
    malloc_error(ok, size, reported, message);
}

// ---- Text input -------------------------------------------------------------
// Releases an input file's bytes: a mapping of the file, or an array.
struct InFileBytes {
    std::size_t mapped = 0;  // the length of the mapping; 0 for an array
    void operator()(char* bytes) const;
};
// An input file, read whole when it is opened; get1line walks its lines.
struct InFile {
    std::string name;
    std::unique_ptr<char[], InFileBytes> data;
    std::size_t size = 0;
    std::size_t pos = 0;
    bool hasNul = false;  // a NUL byte ends the line it stands in
    std::size_t remaining() const { return size - pos; }
};
void open_input(InFile& file, const std::string& name);
// Opens a model file and checks its identifier line. Where `merged` is given,
// a file of that identifier is accepted too; returns whether it was one.
bool open_model_file(InFile& file, const std::string& name, std::string_view identifier,
                     std::string_view merged = {});
bool get1line(InFile& file);
// The meaningful line that starts at or after `pos` in the `size` bytes at
// `data`, as get1line finds it; moves `pos` past it. Reads no shared state.
bool next_line(const char* data, std::size_t size, std::size_t& pos, bool hasNul,
               std::string_view& line, bool& ended);
void need_line(InFile& file);  // get1line, or "Unexpected end of file!"
const char* skip_space(const char* p, const char* end);
const char* skip_unspace(const char* p, const char* end);

// ---- Number conversion, as the C library's scanf and strtod read them ------
bool is_c_space(char c);
inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
const char* scan_int(const char* p, const char* end, int& value);   // "%d"
const char* scan_hex(const char* p, const char* end, int& value);   // "%x"
const char* scan_word(const char* p, const char* end, std::string_view& word);  // "%s"
double scan_double(const char* p, const char* end);  // strtod; 0 for no number
float scan_float(const char* p, const char* end);    // strtod, then the nearest float
// A coordinate in its usual form, "[-]digits[.digits]" with at most 19 digits,
// at p: scan_float's value and where it ends, or null for every other form.
// What follows is the caller's to check (scan_float stops at any character
// it cannot take). Bytes up to `limit` (at least `end`) are readable.
const char* scan_coordinate(const char* p, const char* end, const char* limit, float& value);
char* format_int(char* out, long long value);        // "%d"
char* format_hex(char* out, unsigned value);         // "%x"
char* format_fixed(char* out, float value);          // "%f" of the value as a double
char* format_shortest(char* out, float value);       // the fewest digits that scan_float reads back as value
// Room each of the four needs at `out`: the longest text, and bytes just
// past the end of a shorter one may be written as well.
constexpr std::size_t FORMAT_MAX = 64;

// ---- Vector instructions -------------------------------------------------
// The hot loops of the PLY files come built for several instruction sets
// (vector.cpp); each gives the same bytes.
std::vector<std::string_view> vector_paths();  // the sets this processor has, "baseline" first
bool use_vector_path(std::string_view name);   // uses that set from now on; false where absent
std::string_view vector_path();                // the set in use

// ---- Text output ------------------------------------------------------------
// An output file written through one large buffer. Every failure to create,
// write or close it ends the run with its report, which names `name`; the
// file opened is `opened` where one is given (a temporary name).
class OutFile {
public:
    explicit OutFile(const std::string& name, const std::string& opened = {});
    ~OutFile();
    OutFile(const OutFile&) = delete;
    OutFile& operator=(const OutFile&) = delete;

    void put(std::string_view text);
    void put(char c);
    void putInt(long long value);
    void putHex(int value);
    void close();

private:
    char* room(std::size_t n);
    void flush();

    std::FILE* fp_ = nullptr;
    std::string name_;
    std::unique_ptr<char[]> buf_;
    std::size_t used_ = 0;
};

// ---- Model files -------------------------------------------------------------
void readRSD(char** names);
int get_timidx(const std::string& timName);
void writeRSD();
void flag_off();
void readPLY();
void readPLY2(RsdData& rsd);
// A vertex or normal line at `pos` in its usual form, three plain decimals
// between blanks with the line end right after them, or a polygon line of a
// one-digit flag and eight numbers of at most nine digits: read as readPLY
// reads it (by the vector code in use where it takes the line), with `pos`
// moved past the line end. False for any other line, which the field
// scanners read; `v` or `poly` may then have changed.
bool read_vector_line(const char* data, std::size_t size, std::size_t& pos, VectorData& v);
bool read_polygon_line(const char* data, std::size_t size, std::size_t& pos, PolygonData& poly);
void writePLY();
char* writePLY2(char* out, const PolygonData& polygon);  // one line; returns its end
// The longest lines written, line end included: numbers with a separator
// each; a material line has 25 at most (polygon, flag and the 21 of type
// 'H') and its two characters.
constexpr std::size_t INT_TEXT_MAX = 12;  // "-2147483648" and a separator
constexpr std::size_t VECTOR_LINE_MAX = 3 * (FORMAT_MAX + 1);
constexpr std::size_t POLYGON_LINE_MAX = 9 * INT_TEXT_MAX;
constexpr std::size_t MATERIAL_LINE_MAX = 25 * INT_TEXT_MAX + 4;
void readMAT();
void readMAT2(char type, const char* data, const char* end, MaterialData& material,
              const RsdData& rsd);
void writeMAT();
char* writeMAT2(char* out, const MaterialData& material);  // one line; returns its end
void put_name_line(OutFile& out, std::string_view key, std::string_view extension);
void writeCOD();
void put_vertex_range(OutFile& out, const PlyData& ply);  // "count first-last\n"
void writeOGP();
void ogpname(RsdData& rsd);
// The vertex groups a COD file records; when it lists object groups instead,
// none, and the name of the OGP file that holds them.
std::vector<VertexGroup> readCOD(const std::string& codFile, std::string& ogpFile);
const char* scan_vertex_range(const char* p, const char* end, VertexGroup& group);
std::vector<VertexGroup> readOGP(const std::string& ogpFile);

// ---- Two threads -------------------------------------------------------------
// Runs `read` on every model, on several threads; a failure ends the run with
// the report of the first model, in model order, that failed.
void for_each_model(void (*read)(RsdData& rsd));
// The threads a reader may use for the parts of one file: all cores when it
// is alone, fewer while for_each_model reads other models beside it.
unsigned spare_threads();
// Runs work(k) for every k below `pieces` on up to `threads` threads, the
// calling one included; `work` must not throw.
void run_pieces(unsigned threads, std::size_t pieces, const std::function<void(std::size_t)>& work);
// Formats `pieces` pieces of text, each of at most `maxBytes` bytes, on
// several threads and writes them to `out` in piece order. `format` writes
// piece k at `text` and returns the end of what it wrote.
void write_in_order(OutFile& out, std::size_t pieces, std::size_t maxBytes,
                    const std::function<char*(std::size_t piece, char* text)>& format);

// The records of one table of every model, in model order, cut into pieces
// of at most PIECE_RECORDS records.
constexpr std::size_t PIECE_RECORDS = 16384;
template <class T, class Table>
std::vector<std::span<const T>> cut_tables(Table table) {
    std::vector<std::span<const T>> pieces;
    for (const RsdData& rsd : malrsd) {
        const std::vector<T>& records = table(rsd);
        for (std::size_t i = 0; i < records.size(); i += PIECE_RECORDS)
            pieces.emplace_back(records.data() + i, std::min(PIECE_RECORDS, records.size() - i));
    }
    return pieces;
}

// ---- Merging and release ----------------------------------------------------
void change_index();
int search_tidx(int tidx, const RsdData& rsd);
void myfree();
