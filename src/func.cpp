// The two field scanners. Blanks are spaces and tabs only.
#include "function.h"

const char* skip_space(const char* p, const char* end) {
    while (p < end && (*p == ' ' || *p == '\t')) ++p;
    return p;
}

// Steps off the character it starts on before it looks, so that started on
// a field it returns the blank or tab that ends the field. Stops at the end
// of the line.
const char* skip_unspace(const char* p, const char* end) {
    if (p == end) return p;
    ++p;
    while (p < end && *p != ' ' && *p != '\t') ++p;
    return p;
}
