// Output files, written through one large buffer; every write and the
// closing are checked.
#include "function.h"

#include <algorithm>

namespace {
constexpr std::size_t OUT_BUFFER = 1 << 20;
}

OutFile::OutFile(const std::string& name, const std::string& opened) : name_(name), buf_(new char[OUT_BUFFER]) {
    fp_ = std::fopen((opened.empty() ? name : opened).c_str(), "wb");
    fopen_error(fp_ != nullptr, name);
}

OutFile::~OutFile() {
    // Reached with the file open only when a report ends the run: keep what
    // was written.
    if (fp_) {
        std::fwrite(buf_.get(), 1, used_, fp_);
        std::fclose(fp_);
    }
}

char* OutFile::room(std::size_t n) {
    if (OUT_BUFFER - used_ < n) flush();
    return buf_.get() + used_;
}

void OutFile::flush() {
    if (used_ && std::fwrite(buf_.get(), 1, used_, fp_) != used_) {
        used_ = 0;
        write_error(name_);
    }
    used_ = 0;
}

void OutFile::put(std::string_view text) {
    if (text.size() >= OUT_BUFFER / 2) {
        // Large pieces go straight to the file.
        flush();
        if (std::fwrite(text.data(), 1, text.size(), fp_) != text.size()) write_error(name_);
        return;
    }
    std::copy_n(text.data(), text.size(), room(text.size()));
    used_ += text.size();
}

void OutFile::put(char c) {
    *room(1) = c;
    ++used_;
}

void OutFile::putInt(long long value) {
    char* p = room(FORMAT_MAX);
    used_ += static_cast<std::size_t>(format_int(p, value) - p);
}

void OutFile::putHex(int value) {
    char* p = room(FORMAT_MAX);
    used_ += static_cast<std::size_t>(format_hex(p, static_cast<unsigned>(value)) - p);
}

void OutFile::close() {
    flush();
    std::FILE* fp = fp_;
    fp_ = nullptr;
    // A write that failed earlier leaves its mark on the stream, whatever
    // the closing itself reports.
    bool failed = std::ferror(fp) != 0;
    if (std::fclose(fp) != 0 || failed) write_error(name_);
}
