// "render": not drawn yet.
#include "model.h"

std::string make_png(const Scene&, const RenderOptions&) {
    throw RunEnd{EXIT_REPORT, "", "render is not available yet", ""};
}
