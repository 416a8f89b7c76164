// KHR_draco_mesh_compression with Draco's decoder. A primitive that has it
// names a buffer view of one Draco mesh, and which of the mesh's attributes
// (by their unique id) each of its own attributes is; its accessors have no
// buffer view of their own. Each is given one here, of the decoded values
// in the accessor's component type (indices as unsigned 32-bit integers):
// draw then reads them as any other accessor.
#include "gltf_decode.h"

#include "gltf_value.h"

#include <draco/compression/config/compression_shared.h>
#include <draco/compression/decode.h>
#include <tiny_gltf.h>

#include <cstring>
#include <map>

namespace {

// The bytes of `values`, held by a new buffer and a view of it; the
// accessor reads them from there.
template <class T>
void give_view(tinygltf::Model& model, tinygltf::Accessor& accessor, const std::vector<T>& values) {
    std::vector<unsigned char> bytes(values.size() * sizeof(T));
    if (!bytes.empty()) std::memcpy(bytes.data(), values.data(), bytes.size());
    tinygltf::BufferView view;
    view.byteLength = bytes.size();
    view.buffer = add_buffer(model, std::move(bytes));
    model.bufferViews.push_back(view);
    accessor.bufferView = int(model.bufferViews.size() - 1);
    accessor.byteOffset = 0;
    accessor.sparse.isSparse = false;
}

// The attribute's values at each point, as the accessor's components (its
// normalisation is the accessor's to apply); false where one does not convert.
template <class T>
bool convert_into(const draco::PointAttribute& values, std::size_t points, int components, tinygltf::Model& model,
                  tinygltf::Accessor& accessor) {
    std::vector<T> out(points * std::size_t(components));
    for (draco::PointIndex i(0); i < std::uint32_t(points); ++i)
        if (!values.ConvertValue<T>(values.mapped_index(i), std::int8_t(components), &out[i.value() * std::size_t(components)]))
            return false;
    give_view(model, accessor, out);
    return true;
}

bool convert(const draco::PointAttribute& values, std::size_t points, int components, tinygltf::Model& model,
             tinygltf::Accessor& accessor) {
    switch (accessor.componentType) {
        case TINYGLTF_COMPONENT_TYPE_FLOAT: return convert_into<float>(values, points, components, model, accessor);
        case TINYGLTF_COMPONENT_TYPE_BYTE: return convert_into<std::int8_t>(values, points, components, model, accessor);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return convert_into<std::uint8_t>(values, points, components, model, accessor);
        case TINYGLTF_COMPONENT_TYPE_SHORT: return convert_into<std::int16_t>(values, points, components, model, accessor);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: return convert_into<std::uint16_t>(values, points, components, model, accessor);
        case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: return convert_into<std::uint32_t>(values, points, components, model, accessor);
        default: return false;
    }
}

// A Draco stream begins "DRACO", major and minor version.
constexpr std::size_t VERSION_AT = 5;

}  // namespace

std::uint64_t decode_draco(tinygltf::Model& model, const std::string& path) {
    std::uint64_t decoded = 0;
    std::map<int, int> decodedFrom;  // accessor: the buffer view it was decoded from
    for (std::size_t m = 0; m < model.meshes.size(); ++m)
        for (std::size_t k = 0; k < model.meshes[m].primitives.size(); ++k) {
            tinygltf::Primitive& p = model.meshes[m].primitives[k];
            const auto found = p.extensions.find("KHR_draco_mesh_compression");
            // Points and lines are left out: nothing to decode.
            if (found == p.extensions.end() || (p.mode != TINYGLTF_MODE_TRIANGLES && p.mode != TINYGLTF_MODE_TRIANGLE_STRIP))
                continue;
            const std::string name = "mesh " + std::to_string(m) + " primitive " + std::to_string(k) + "'s Draco data";
            const tinygltf::Value& ext = found->second;
            const std::size_t viewNumber = value_size(ext, "bufferView", name, path, true);
            if (viewNumber >= model.bufferViews.size()) file_error(name + " names a buffer view that does not exist", path);
            const tinygltf::BufferView& view = model.bufferViews[viewNumber];
            if (view.buffer < 0 || std::size_t(view.buffer) >= model.buffers.size()) file_error(name + " lies outside its buffer", path);
            const std::vector<unsigned char>& buffer = model.buffers[std::size_t(view.buffer)].data;
            if (view.byteOffset > buffer.size() || view.byteLength > buffer.size() - view.byteOffset)
                file_error(name + " lies outside its buffer", path);
            const char* bytes = reinterpret_cast<const char*>(buffer.data() + view.byteOffset);
            const std::size_t length = view.byteLength;
            if (length < VERSION_AT + 2 || std::memcmp(bytes, "DRACO", 5) != 0) file_error(name + " is not a Draco stream", path);
            const int major = static_cast<unsigned char>(bytes[VERSION_AT]), minor = static_cast<unsigned char>(bytes[VERSION_AT + 1]);
            if (major > draco::kDracoMeshBitstreamVersionMajor ||
                (major == draco::kDracoMeshBitstreamVersionMajor && minor > draco::kDracoMeshBitstreamVersionMinor))
                file_error(name + " is of Draco version " + std::to_string(major) + "." + std::to_string(minor) +
                               ", newer than this build's decoder reads (" +
                               std::to_string(draco::kDracoMeshBitstreamVersionMajor) + "." +
                               std::to_string(draco::kDracoMeshBitstreamVersionMinor) + ")",
                           path);

            draco::DecoderBuffer in;
            in.Init(bytes, length);
            draco::Decoder decoder;
            auto result = decoder.DecodeMeshFromBuffer(&in);
            if (!result.ok() || !result.value()) file_error(name + " does not decode", path);
            const draco::Mesh& mesh = *result.value();
            const std::size_t points = mesh.num_points();

            auto take = [&](int accessor) {
                if (accessor < 0 || std::size_t(accessor) >= model.accessors.size())
                    file_error(name + " is read by accessor " + std::to_string(accessor) + ", which does not exist", path);
                const auto [at, added] = decodedFrom.emplace(accessor, int(viewNumber));
                if (!added && at->second != int(viewNumber))
                    file_error("accessor " + std::to_string(accessor) + " is decoded from two Draco streams", path);
                return added;
            };
            const tinygltf::Value& ids = ext.Get("attributes");
            for (const auto& [attribute, accessor] : p.attributes) {
                if (!ids.IsObject() || !ids.Has(attribute)) continue;  // stored plainly
                const std::size_t id = value_size(ids, attribute, name, path, true);
                const draco::PointAttribute* values = id <= UINT32_MAX ? mesh.GetAttributeByUniqueId(std::uint32_t(id)) : nullptr;
                if (!values) file_error(name + " has no attribute " + std::to_string(id) + " for " + attribute, path);
                if (!take(accessor)) continue;
                tinygltf::Accessor& a = model.accessors[std::size_t(accessor)];
                if (a.count != points)
                    file_error(name + " decodes to " + std::to_string(points) + " vertices, its accessor " +
                                   std::to_string(accessor) + " has " + std::to_string(a.count), path);
                const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(a.type));
                if (components <= 0) file_error("accessor " + std::to_string(accessor) + " has an unknown type", path);
                if (!convert(*values, points, components, model, a)) file_error(name + "'s " + attribute + " does not decode", path);
                decoded += model.buffers.back().data.size();
            }
            if (p.indices >= 0 && take(p.indices)) {
                tinygltf::Accessor& a = model.accessors[std::size_t(p.indices)];
                if (a.count != 3 * std::size_t(mesh.num_faces()))
                    file_error(name + " decodes to " + std::to_string(mesh.num_faces()) + " triangles, its indices number " +
                                   std::to_string(a.count), path);
                std::vector<std::uint32_t> out;
                out.reserve(a.count);
                for (draco::FaceIndex f(0); f < mesh.num_faces(); ++f)
                    for (int c = 0; c < 3; ++c) out.push_back(mesh.face(f)[c].value());
                decoded += out.size() * sizeof(std::uint32_t);
                a.componentType = TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
                give_view(model, a, out);
            }
            p.mode = TINYGLTF_MODE_TRIANGLES;  // a strip decodes to separate triangles
        }
    return decoded;
}
