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

}  // namespace

std::uint64_t decode_meshopt(tinygltf::Model& model, const std::string& path) {
    std::uint64_t decoded = 0;
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
