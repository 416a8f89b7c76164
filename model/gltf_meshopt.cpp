// EXT_meshopt_compression with meshoptimizer's decoders. A buffer view that
// has it names the compressed bytes in its extension, and its own bytes (a
// fallback buffer, often with no data at all) are left aside: it is pointed
// at a new buffer of the decoded bytes, so that accessors read it as any
// other.
#include "gltf_decode.h"

#include "gltf_value.h"

#include <meshoptimizer.h>
#include <tiny_gltf.h>


namespace {

// The stream versions this build's decoders read (meshoptimizer 0.18): a
// file written by a newer encoder is refused as such, not as garbage.
constexpr int VERTEX_HEADER = 0xA, VERTEX_VERSION = 0;
constexpr int INDEX_HEADER = 0xE, INDEX_VERSION = 1;
constexpr int SEQUENCE_HEADER = 0xD, SEQUENCE_VERSION = 1;
// Each 16 bytes of a vertex stream take at least two bits: a larger claim is
// a header that lies, and would have memory reserved for nothing.
constexpr std::uint64_t MOST_DECODED_PER_BYTE = 64;

// Gives each accessor over decoded view k a buffer of its own bytes, so
// that the importer can let them go accessor by accessor once read: a
// view's accessors are often those of several primitives read in turn.
// Left as it is where the accessors overlap (copies could outgrow the view),
// where one does not fit (the reader reports it) and where other data
// reads the view. Returns whether the view's own buffer is still read.
bool split_by_accessor(tinygltf::Model& model, std::size_t k, std::vector<unsigned char>& decoded) {
    for (const tinygltf::Image& image : model.images)
        if (image.bufferView == int(k)) return true;
    for (const tinygltf::Mesh& mesh : model.meshes)
        for (const tinygltf::Primitive& p : mesh.primitives)
            if (p.extensions.count("KHR_draco_mesh_compression")) return true;
    std::vector<std::pair<std::size_t, std::size_t>> spans;  // by accessor: first byte, length
    std::vector<std::size_t> over;
    std::size_t total = 0;
    const std::size_t viewStride = model.bufferViews[k].byteStride;
    for (std::size_t a = 0; a < model.accessors.size(); ++a) {
        const tinygltf::Accessor& accessor = model.accessors[a];
        const auto& sparse = accessor.sparse;
        if (sparse.isSparse && (sparse.indices.bufferView == int(k) || sparse.values.bufferView == int(k))) return true;
        if (accessor.bufferView != int(k)) continue;
        const int size = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(accessor.componentType));
        const int components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(accessor.type));
        if (size <= 0 || components <= 0 || accessor.count == 0) return true;
        const std::size_t element = std::size_t(size) * std::size_t(components);
        const std::size_t stride = viewStride ? viewStride : element;
        const std::size_t offset = accessor.byteOffset;
        if (offset > decoded.size() || element > decoded.size() - offset ||
            accessor.count - 1 > (decoded.size() - offset - element) / stride)
            return true;
        const std::size_t length = stride * (accessor.count - 1) + element;
        total += length;
        if (total > decoded.size()) return true;
        spans.emplace_back(offset, length);
        over.push_back(a);
    }
    for (std::size_t j = 0; j < over.size(); ++j) {
        const auto [offset, length] = spans[j];
        tinygltf::BufferView view = model.bufferViews[k];
        view.extensions.clear();
        view.buffer = add_buffer(model, std::vector<unsigned char>(decoded.begin() + std::ptrdiff_t(offset),
                                                                   decoded.begin() + std::ptrdiff_t(offset + length)));
        view.byteOffset = 0;
        view.byteLength = length;
        model.bufferViews.push_back(std::move(view));
        model.accessors[over[j]].bufferView = int(model.bufferViews.size() - 1);
        model.accessors[over[j]].byteOffset = 0;
    }
    return false;
}

}  // namespace

std::uint64_t decode_meshopt(tinygltf::Model& model, const std::string& path) {
    std::uint64_t decoded = 0;
    // A buffer is copied, not moved, when the list grows: it grows once,
    // while it holds only the compressed bytes.
    model.buffers.reserve(model.buffers.size() + model.bufferViews.size() + model.accessors.size());
    for (std::size_t k = 0; k < model.bufferViews.size(); ++k) {
        const auto found = model.bufferViews[k].extensions.find("EXT_meshopt_compression");
        if (found == model.bufferViews[k].extensions.end()) continue;
        const std::string name = "buffer view " + std::to_string(k) + "'s meshopt data";
        const tinygltf::Value& ext = found->second;
        const std::size_t buffer = value_size(ext, "buffer", name, path, true);
        const std::size_t offset = value_size(ext, "byteOffset", name, path, false);
        const std::size_t length = value_size(ext, "byteLength", name, path, true);
        const std::size_t stride = value_size(ext, "byteStride", name, path, true);
        const std::size_t count = value_size(ext, "count", name, path, true);
        const std::string mode = value_string(ext, "mode", name, path, "");
        const std::string filter = value_string(ext, "filter", name, path, "NONE");
        if (buffer >= model.buffers.size()) file_error(name + " names a buffer that does not exist", path);
        const std::vector<unsigned char>& source = model.buffers[buffer].data;
        if (offset > source.size() || length > source.size() - offset || length == 0)
            file_error(name + " lies outside its buffer", path);
        const unsigned char* bytes = source.data() + offset;
        if (stride == 0 || stride > 256 || count > (MOST_DECODED_PER_BYTE * length + 4096) / stride)
            file_error(name + " claims more than its " + std::to_string(length) + " bytes can hold", path);

        int header = 0, newest = 0;
        if (mode == "ATTRIBUTES") header = VERTEX_HEADER, newest = VERTEX_VERSION;
        else if (mode == "TRIANGLES") header = INDEX_HEADER, newest = INDEX_VERSION;
        else if (mode == "INDICES") header = SEQUENCE_HEADER, newest = SEQUENCE_VERSION;
        else file_error(name + " has the unknown mode '" + mode + "'", path);
        if (bytes[0] >> 4 == header && (bytes[0] & 0xF) > newest)
            file_error(name + " is of codec version " + std::to_string(bytes[0] & 0xF) +
                           ", newer than this build's meshopt decoder reads (version " + std::to_string(newest) + ")",
                       path);
        // The decoders take only these sizes (and stop the program on others).
        if (mode == "ATTRIBUTES" && stride % 4 != 0) file_error(name + " has vertices of " + std::to_string(stride) + " bytes", path);
        if (mode != "ATTRIBUTES" && stride != 2 && stride != 4) file_error(name + " has indices of " + std::to_string(stride) + " bytes", path);
        if (mode == "TRIANGLES" && count % 3 != 0) file_error(name + " has a count of triangle corners not divisible by 3", path);
        bool filterFits = filter == "NONE" || (filter == "OCTAHEDRAL" && (stride == 4 || stride == 8)) ||
                          (filter == "QUATERNION" && stride == 8) || (filter == "EXPONENTIAL" && stride % 4 == 0);
        if (!filterFits || (filter != "NONE" && mode != "ATTRIBUTES"))
            file_error(name + " has the filter '" + filter + "', which does not fit its data", path);

        std::vector<unsigned char> out(count * stride);
        int status = 0;
        if (mode == "ATTRIBUTES") status = meshopt_decodeVertexBuffer(out.data(), count, stride, bytes, length);
        else if (mode == "TRIANGLES") status = meshopt_decodeIndexBuffer(out.data(), count, stride, bytes, length);
        else status = meshopt_decodeIndexSequence(out.data(), count, stride, bytes, length);
        if (status != 0) file_error(name + " does not decode", path);
        if (filter == "OCTAHEDRAL") meshopt_decodeFilterOct(out.data(), count, stride);
        else if (filter == "QUATERNION") meshopt_decodeFilterQuat(out.data(), count, stride);
        else if (filter == "EXPONENTIAL") meshopt_decodeFilterExp(out.data(), count, stride);

        decoded += out.size();
        if (!split_by_accessor(model, k, out)) std::vector<unsigned char>().swap(out);
        tinygltf::BufferView& view = model.bufferViews[k];
        view.buffer = add_buffer(model, std::move(out));
        view.byteOffset = 0;
        view.byteLength = count * stride;
    }
    // The compressed bytes, and a fallback's, are let go once no view reads them.
    if (decoded > 0) {
        std::vector<bool> read(model.buffers.size(), false);
        for (const tinygltf::BufferView& view : model.bufferViews)
            if (view.buffer >= 0 && std::size_t(view.buffer) < read.size()) read[std::size_t(view.buffer)] = true;
        for (std::size_t k = 0; k < read.size(); ++k)
            if (!read[k]) std::vector<unsigned char>().swap(model.buffers[k].data);
    }
    return decoded;
}
