// The checking procedures. Each tests one result and either returns or ends
// the run: it composes its report and throws RunEnd, which run() prints.
#include "function.h"

#include <cstdint>
#include <string>

namespace {

[[noreturn]] void fail(std::string report, std::string_view message, std::string_view fileName = {}) {
    throw RunEnd{EXIT_REPORT, std::move(report), std::string(message), std::string(fileName)};
}

// "\n", the message, "\n", "File Name:<name>\n": the layout of most reports.
std::string named_report(std::string_view message, std::string_view fileName) {
    std::string text = "\n";
    text.append(message).append("\nFile Name:").append(fileName).append("\n");
    return text;
}

[[noreturn]] void fail_named(std::string_view message, std::string_view fileName) {
    fail(named_report(message, fileName), message, fileName);
}

void alloc_error(bool allocated, int size, int count, std::string_view message) {
    if (allocated) return;
    // The product is shown as a 32-bit signed value, wrapping as it would.
    auto product = static_cast<std::int32_t>(
        static_cast<std::uint32_t>(size) * static_cast<std::uint32_t>(count));
    std::string text = "\n";
    text.append(message)
        .append("\nSize(")
        .append(std::to_string(size))
        .append("byte) \x81\x7E Number(")
        .append(std::to_string(count))
        .append("):")
        .append(std::to_string(product))
        .append("byte\n");
    fail(std::move(text), message);
}

}  // namespace

void malloc_error(bool allocated, int size, int count, std::string_view message) {
    alloc_error(allocated, size, count, message);
}

void realloc_error(bool allocated, int size, int count, std::string_view message) {
    alloc_error(allocated, size, count, message);
}

void fopen_error(bool opened, std::string_view fileName) {
    if (!opened) fail_named("Can't open!", fileName);
}

void id_error(std::string_view fileName, std::string_view expected, std::string_view line) {
    const char* problem = nullptr;
    if (line.substr(0, 4) != expected.substr(0, 4)) {
        problem = "Format is incorrect!";
    } else {
        std::string_view version = line.substr(4, 6);
        bool accepted = version == expected.substr(4, 6) ||
                        (expected == "@MAT940801" && version == "940102");
        if (!accepted) problem = "Version is incorrect!";
    }
    if (!problem) return;
    // The line is shown as read: with its line end when it had one.
    std::string text = named_report(problem, fileName);
    text.append("ID:").append(line);
    if (BufferEnded) text.append("\n");
    fail(std::move(text), problem, fileName);
}

void index_error(std::string_view fileName, int index, int limit, std::string_view message) {
    if (index < 0 || index >= limit) fail_named(message, fileName);
}

void plyflag_error(std::string_view fileName, int polygon) {
    std::string text = named_report("The polygon type isn't supported!", fileName);
    text.append("Polygon Index:").append(std::to_string(polygon)).append("\n");
    fail(std::move(text), "The polygon type isn't supported!", fileName);
}

void file_error(std::string_view message, std::string_view fileName) {
    fail_named(message, fileName);
}

void name_error(std::string_view name) {
    if (name.size() > NAME_MAX_LEN) file_error("File name is too long!", name);
}

void eof_error(std::string_view fileName) {
    file_error("Unexpected end of file!", fileName);
}

void write_error(std::string_view fileName) {
    file_error("Can't write!", fileName);
}
