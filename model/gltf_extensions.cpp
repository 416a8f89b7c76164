#include "gltf_extensions.h"

#include "function.h"

#include <algorithm>
#include <set>

namespace {

const std::set<std::string> UNDERSTOOD{
    "KHR_materials_unlit",
    "KHR_mesh_quantization",
    "KHR_draco_mesh_compression",
    "EXT_meshopt_compression",
    "KHR_materials_pbrSpecularGlossiness",
    "EXT_texture_webp",
    "KHR_texture_transform",
    "EXT_mesh_gpu_instancing",
};

// Lights, shading beyond the base colour, metadata and animation: import
// leaves all of them out, so a file that requires one is still read whole.
const std::set<std::string> LEFT_ASIDE{
    "KHR_lights_punctual",
    "KHR_materials_emissive_strength",
    "KHR_materials_ior",
    "KHR_materials_specular",
    "KHR_materials_transmission",
    "KHR_materials_volume",
    "KHR_materials_clearcoat",
    "KHR_materials_sheen",
    "KHR_materials_iridescence",
    "KHR_materials_anisotropy",
    "KHR_materials_dispersion",
    "KHR_materials_variants",
    "KHR_xmp_json_ld",
    "KHR_animation_pointer",
    "EXT_lights_image_based",
};

}  // namespace

std::string listed(const std::vector<std::string>& names) {
    std::string text;
    for (std::size_t k = 0; k < names.size(); ++k)
        text += (k == 0 ? "" : k + 1 == names.size() ? " and " : ", ") + names[k];
    return text;
}

ExtensionUse extension_use(const std::string& name) {
    if (UNDERSTOOD.count(name)) return ExtensionUse::Understood;
    if (LEFT_ASIDE.count(name)) return ExtensionUse::LeftAside;
    return ExtensionUse::Unknown;
}

std::vector<std::string> extension_notes(const std::vector<std::string>& used, const std::vector<std::string>& required,
                                         const std::string& path) {
    for (const std::string& name : required)
        if (extension_use(name) == ExtensionUse::Unknown)
            file_error("extension " + name + " is required but not supported", path);
    std::vector<std::string> aside, unknown;
    for (const std::string& name : used) {
        auto& list = extension_use(name) == ExtensionUse::LeftAside ? aside : unknown;
        if (extension_use(name) != ExtensionUse::Understood && std::find(list.begin(), list.end(), name) == list.end())
            list.push_back(name);
    }
    std::vector<std::string> notes;
    if (!aside.empty())
        notes.push_back((aside.size() == 1 ? "extension " : "extensions ") + listed(aside) + " left aside, as import leaves out what " +
                        (aside.size() == 1 ? "it concerns" : "they concern"));
    if (!unknown.empty())
        notes.push_back((unknown.size() == 1 ? "optional extension " : "optional extensions ") + listed(unknown) +
                        " not understood: the file is read without " + (unknown.size() == 1 ? "it" : "them"));
    return notes;
}
