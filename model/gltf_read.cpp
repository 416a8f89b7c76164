// Reading glTF 2.0 with tinygltf. tinygltf parses the JSON and loads the
// buffers; what it leaves unchecked (indices, bounds, the scene's shape) is
// checked here before anything is read, and the few places where it would
// read outside its input or recurse without end are kept from it.
#include "gltf_read.h"

#include "geometry.h"
#include "gltf_decode.h"
#include "gltf_extensions.h"
#include "gltf_value.h"

#include <nlohmann/json.hpp>
#include <tiny_gltf.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <regex>
#include <set>
#include <type_traits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MAX_DEPTH = 100;  // JSON nesting; tinygltf copies "extras" by recursion

[[noreturn]] void fail(const std::string& message, const std::string& path) { file_error(message, path); }

std::uint32_t u32(const unsigned char* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 | std::uint32_t(p[3]) << 24;
}

// A file descriptor closed on every way out.
struct Fd {
    int fd;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
};

bool read_at(int fd, void* to, std::size_t size, off_t at) {
    auto* p = static_cast<char*>(to);
    while (size > 0) {
        const ssize_t n = pread(fd, p, size, at);
        if (n <= 0) return false;
        p += n, at += n, size -= static_cast<std::size_t>(n);
    }
    return true;
}

// A binary file's chunk is given to tinygltf as the external file of
// buffer 0, under a name no file can have (it holds a NUL byte), so that
// its bytes are read straight into the buffer and held once.
const std::string BINARY_CHUNK_URI = "%00binary-chunk";
const std::string BINARY_CHUNK_NAME("\0binary-chunk", 13);

// The files a .gltf names: regular files only (a name such as /dev/zero
// would never end), each read once, so that memory stays within the
// input's size however often a file is named; and a binary file's chunk.
struct NamedFiles {
    std::string folder;  // the glTF file's, as given and canonical
    std::string canonicalFolder;
    std::set<std::pair<dev_t, ino_t>> read;
    std::uint64_t bytes = 0;
    int glb = -1;  // the binary file, its chunk's place and the length buffer 0 takes of it
    off_t chunkAt = 0;
    std::size_t chunkLength = 0;
};

bool is_binary_chunk(const std::string& path, const NamedFiles& files) {
    const std::size_t slash = path.rfind('/');
    return files.glb >= 0 && path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, BINARY_CHUNK_NAME) == 0;
}

// tinygltf also looks for a file in the current folder: only the glTF
// file's own is searched.
bool file_exists(const std::string& path, void* state) {
    const auto& files = *static_cast<NamedFiles*>(state);
    struct stat st;
    return is_binary_chunk(path, files) || (path.compare(0, files.folder.size() + 1, files.folder + "/") == 0 &&
                                            ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode));
}

// A symbolic link may lead outside the folder that the name stays in.
bool inside_folder(const std::string& path, const NamedFiles& files) {
    std::unique_ptr<char, void (*)(void*)> real(::realpath(path.c_str(), nullptr), std::free);
    const std::string& folder = files.canonicalFolder;
    return real && (folder == "/" || std::string(real.get()).compare(0, folder.size() + 1, folder + "/") == 0);
}
std::string expand_path(const std::string& path, void*) { return path; }
bool write_file(std::string*, const std::string&, const std::vector<unsigned char>&, void*) { return false; }

bool read_file(std::vector<unsigned char>* out, std::string* err, const std::string& path, void* state) {
    auto& files = *static_cast<NamedFiles*>(state);
    if (is_binary_chunk(path, files)) {
        const int glb = files.glb;
        files.glb = -1;  // once
        out->resize(files.chunkLength);
        return read_at(glb, out->data(), out->size(), files.chunkAt);
    }
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st;
    const char* problem = nullptr;
    if (file.fd < 0 || fstat(file.fd, &st) != 0 || !S_ISREG(st.st_mode)) problem = " cannot be read";
    else if (!inside_folder(path, files)) problem = " lies outside the glTF file's folder";
    else if (!files.read.emplace(st.st_dev, st.st_ino).second) problem = " is named twice";
    if (!problem) {
        out->resize(static_cast<std::size_t>(st.st_size));
        if (!read_at(file.fd, out->data(), out->size(), 0)) problem = " cannot be read";
        files.bytes += out->size();
    }
    if (problem && err) *err += path + problem + "\n";
    return !problem;
}

// Images are decoded only when a drawn primitive uses them: here the
// encoded bytes of those given by URI are kept, and those in a buffer view
// are left where they are (tinygltf does not check that view's bounds).
bool keep_image(tinygltf::Image* image, const int, std::string*, std::string*, int, int,
                const unsigned char* bytes, int size, void*) {
    if (image->bufferView < 0) image->image.assign(bytes, bytes + size);
    return true;
}

const char* const GLTF_1 = "a glTF 1.0 file: import reads glTF 2.0 only";

// glTF 1.0 named its objects in dictionaries, and says so in its asset.
bool is_gltf_1(const nlohmann::json& doc) {
    const auto asset = doc.find("asset");
    if (asset != doc.end() && asset->is_object()) {
        const auto version = asset->find("version");
        if (version != asset->end() && version->is_string() && version->get<std::string>().rfind("1.", 0) == 0) return true;
    }
    for (const char* key : {"buffers", "accessors", "meshes", "nodes"})
        if (doc.contains(key) && doc[key].is_object()) return true;
    return false;
}

std::vector<std::string> strings_of(const nlohmann::json& doc, const char* key) {
    std::vector<std::string> out;
    const auto list = doc.find(key);
    if (list != doc.end() && list->is_array())
        for (const auto& name : *list)
            if (name.is_string()) out.push_back(name.get<std::string>());
    return out;
}

// A name with its percent escapes decoded, as tinygltf decodes a buffer's.
std::string percent_decoded(const std::string& uri) {
    std::string out;
    for (std::size_t i = 0; i < uri.size(); ++i) {
        if (uri[i] == '%' && i + 2 < uri.size() && std::isxdigit(static_cast<unsigned char>(uri[i + 1])) &&
            std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
            out += char(std::stoi(uri.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += uri[i];
        }
    }
    return out;
}

// Whether a relative name leads out of its folder: absolute, or more ".."
// than names before them at some point.
bool leads_outside(const std::string& name) {
    if (!name.empty() && name[0] == '/') return true;
    int depth = 0;
    for (std::size_t from = 0; from <= name.size();) {
        std::size_t to = name.find('/', from);
        if (to == std::string::npos) to = name.size();
        const std::string part = name.substr(from, to - from);
        if (part == "..") {
            if (--depth < 0) return true;
        } else if (!part.empty() && part != ".") {
            ++depth;
        }
        from = to + 1;
    }
    return false;
}

// What check_json found: the JSON to give tinygltf where it had to be
// changed (else empty), the length buffer 0 takes of a binary chunk, and
// the notes on the file's extensions.
struct CheckedJson {
    std::string text;
    bool namesChunk = false;
    std::size_t chunkLength = 0;
    std::vector<std::string> notes;
};

// A buffer that only stands in for compressed data a loader cannot decode
// may have no bytes at all: it is given one, and never read.
bool is_fallback(const nlohmann::json& buffer) {
    const auto ext = buffer.find("extensions");
    return ext != buffer.end() && ext->is_object() && ext->contains("EXT_meshopt_compression");
}
const char* const FALLBACK_URI = "data:application/octet-stream;base64,AA==";

// tinygltf will have a buffer view for every primitive's indices, which a
// Draco primitive's have not until they are decoded: until then, they are
// given the view of the compressed data. Returns whether any was.
bool give_draco_indices_a_view(nlohmann::json& doc) {
    bool given = false;
    const auto meshes = doc.find("meshes");
    const auto accessors = doc.find("accessors");
    if (meshes == doc.end() || !meshes->is_array() || accessors == doc.end() || !accessors->is_array()) return false;
    for (const auto& mesh : *meshes) {
        if (!mesh.is_object() || !mesh.contains("primitives") || !mesh["primitives"].is_array()) continue;
        for (const auto& p : mesh["primitives"]) {
            const auto indices = p.find("indices");
            if (!p.is_object() || indices == p.end() || !indices->is_number_unsigned() || *indices >= accessors->size()) continue;
            const nlohmann::json* view = nullptr;
            if (const auto ext = p.find("extensions"); ext != p.end() && ext->is_object())
                if (const auto draco = ext->find("KHR_draco_mesh_compression"); draco != ext->end() && draco->is_object())
                    if (const auto v = draco->find("bufferView"); v != draco->end()) view = &*v;
            auto& accessor = (*accessors)[indices->get<std::size_t>()];
            if (view && accessor.is_object() && !accessor.contains("bufferView")) accessor["bufferView"] = *view, given = true;
        }
    }
    return given;
}

// Checks what tinygltf would not: JSON nested deep enough to exhaust its
// recursion, the glTF version, extensions that must be understood, files
// named outside the glTF file's folder, and buffers without a URI other
// than a binary file's first. For a binary file whose buffer 0 has none,
// the JSON given again names the binary chunk.
CheckedJson check_json(std::string_view text, bool binary, const std::string& path) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text.begin(), text.end(), [](int depth, nlohmann::json::parse_event_t, nlohmann::json&) {
            if (depth > MAX_DEPTH) throw std::length_error("JSON nested deeper than " + std::to_string(MAX_DEPTH) + " levels");
            return true;
        });
    } catch (const nlohmann::json::parse_error& e) {
        fail("malformed JSON at byte " + std::to_string(e.byte), path);
    } catch (const std::length_error& e) {
        fail(e.what(), path);
    }
    if (!doc.is_object()) fail("the JSON is not an object", path);
    if (is_gltf_1(doc)) fail(GLTF_1, path);
    CheckedJson out;
    bool changed = false;
    out.notes = extension_notes(strings_of(doc, "extensionsUsed"), strings_of(doc, "extensionsRequired"), path);
    for (const char* kind : {"buffers", "images"}) {
        const auto list = doc.find(kind);
        if (list == doc.end() || !list->is_array()) continue;
        for (std::size_t k = 0; k < list->size(); ++k) {
            const auto uri = (*list)[k].find("uri");
            if (!(*list)[k].is_object() || uri == (*list)[k].end() || !uri->is_string()) continue;
            const std::string name = uri->get<std::string>();
            if (name.rfind("data:", 0) != 0 && (leads_outside(name) || leads_outside(percent_decoded(name))))
                fail(std::string(kind).substr(0, std::strlen(kind) - 1) + " " + std::to_string(k) + "'s file " + name +
                         " lies outside the glTF file's folder", path);
            // tinygltf decodes data URIs of a few media types only: a WebP
            // image's is given as plain bytes, which the image's are.
            const std::size_t base64 = name.find(";base64,");
            if (name.rfind("data:image/webp", 0) == 0 && base64 != std::string::npos)
                *uri = "data:application/octet-stream" + name.substr(base64), changed = true;
        }
    }
    changed |= give_draco_indices_a_view(doc);
    const auto buffers = doc.find("buffers");
    if (buffers == doc.end() || !buffers->is_array() || buffers->empty()) {
        if (changed) out.text = doc.dump();
        return out;
    }
    for (std::size_t k = binary ? 1 : 0; k < buffers->size(); ++k) {
        auto& buffer = (*buffers)[k];
        if (!buffer.is_object() || buffer.contains("uri")) continue;
        if (!is_fallback(buffer)) fail("buffer " + std::to_string(k) + " has no uri", path);
        buffer["uri"] = FALLBACK_URI, buffer["byteLength"] = 1;
        changed = true;
    }
    auto& first = (*buffers)[0];
    if (binary && first.is_object() && !first.contains("uri")) {
        const auto length = first.find("byteLength");
        if (length == first.end() || !length->is_number_unsigned()) fail("buffer 0 has no byteLength", path);
        out.chunkLength = length->get<std::size_t>();
        out.namesChunk = true;
        first["uri"] = BINARY_CHUNK_URI;
        changed = true;
    }
    if (changed) out.text = doc.dump();
    return out;
}

// tinygltf's report on a file it does not load, in this tool's words: the
// first fault it names, or, for those it words alone, that the file is not
// glTF 2.0 as it should be.
std::string own_words(const std::string& err) {
    const std::string line = err.substr(0, err.find('\n'));
    // A data URI may be quoted whole; std::regex recurses on each character.
    if (line.find("Failed to decode 'uri'") != std::string::npos) return "a data URI does not decode to its buffer or image";
    const char* const notGltf = "not a well-formed glTF 2.0 file";
    if (line.size() > 4096) return notGltf;
    std::smatch m;
    static const std::regex missing(R"('(\w+)' property is missing(?: in `?(\w+)'?)?\.?\s*)");
    static const std::regex wrong(R"('(\w+)' (?:property|value) is not .*)");
    static const std::regex object(R"x("(\w+)" object not found.*)x");
    static const std::regex notFound(R"(File not found : (.*))");
    static const std::regex readError(R"(File read error : .*? : (.*))");
    static const std::regex size(R"(File size mismatch : (.*), requestedBytes (\d+), but got (\d+)\s*)");
    if (std::regex_match(line, m, missing))
        return m[2].matched ? "a " + std::string(1, char(std::tolower(m[2].str()[0]))) + m[2].str().substr(1) + " has no " + m[1].str() : "property " + m[1].str() + " is missing";
    if (std::regex_match(line, m, wrong)) return "property " + m[1].str() + " has a value of the wrong kind";
    if (std::regex_match(line, m, object)) return "property " + m[1].str() + " is missing";
    if (std::regex_match(line, m, notFound)) return "the file " + m[1].str() + " it names cannot be read";
    if (std::regex_match(line, m, readError)) return m[1].str();
    if (std::regex_match(line, m, size))
        return m[1].str() + " holds " + m[3].str() + " bytes, its buffer's byteLength says " + m[2].str();
    return notGltf;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A .glb file: its header and chunks checked here, and its JSON given to
// tinygltf as a .gltf file's, with buffer 0 naming the binary chunk.
// Given the whole file, tinygltf would copy the chunk, holding its bytes
// twice, and read up to eight bytes past a chunk that ends the file.
std::vector<std::string> load_binary(int fd, std::uint64_t size, tinygltf::TinyGLTF& loader, NamedFiles& named,
                                     tinygltf::Model& model, const std::string& path) {
    unsigned char head[20];
    if (size < 20 || !read_at(fd, head, 20, 0)) fail("the glTF binary file is truncated", path);
    if (u32(head + 4) == 1) fail(GLTF_1, path);
    if (u32(head + 4) != 2) fail("glTF binary version " + std::to_string(u32(head + 4)) + " is not 2", path);
    const std::uint64_t length = u32(head + 8), jsonLength = u32(head + 12);
    if (length > size || 20 + jsonLength > length) fail("the glTF binary file is truncated", path);
    if (u32(head + 16) != GLB_JSON || jsonLength == 0) fail("the glTF binary file's first chunk is not JSON", path);
    std::string json(jsonLength, '\0');
    if (!read_at(fd, json.data(), jsonLength, 20)) fail("the glTF binary file is truncated", path);
    std::uint64_t binLength = 0;
    unsigned char chunk[8];
    if (20 + jsonLength + 8 <= length && read_at(fd, chunk, 8, off_t(20 + jsonLength)) && u32(chunk + 4) == GLB_BIN) {
        binLength = u32(chunk);
        if (20 + jsonLength + 8 + binLength > length) fail("the glTF binary file is truncated", path);
    }
    CheckedJson checked = check_json(json, true, path);
    if (checked.chunkLength > binLength) fail("buffer 0 is longer than the binary chunk", path);
    if (checked.namesChunk) {
        named.glb = fd;
        named.chunkAt = off_t(20 + jsonLength + 8);
        named.chunkLength = checked.chunkLength;
    }
    if (!checked.text.empty()) json = std::move(checked.text);
    std::string err, warn;
    if (json.size() > UINT32_MAX ||
        !loader.LoadASCIIFromString(&model, &err, &warn, json.data(), static_cast<unsigned>(json.size()), directory_of(path)))
        fail(own_words(err), path);
    return checked.notes;
}

// Indices, sparse or not, are unsigned integers.
bool is_index_type(int componentType) {
    return componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE || componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT ||
           componentType == TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT;
}

// Checked access to the elements of accessors.
class Reader {
public:
    Reader(const tinygltf::Model& model, const std::string& path, std::uint64_t inputBytes)
        : model_(model), path_(path), inputBytes_(inputBytes) {}

    // The accessor's elements, `components` numbers each (one of `types`),
    // converted as glTF reads them: normalized integers to 0..1 or -1..1.
    // All accessors read, each once, hold no more elements than the input
    // has bytes (and a megabyte): zeros without a buffer view and accessors
    // over the same bytes cannot make memory grow beyond the input's size.
    template <class T>
    std::vector<T> read(int index, std::initializer_list<int> types, const char* what) {
        const tinygltf::Accessor& a = accessor(index, what);
        int components = 0;
        for (int type : types)
            if (a.type == type) components = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(type));
        if (components == 0) fail(name(index) + " has the wrong type for " + what, path_);
        const int size = component_size(a.componentType, index);
        const std::size_t count = a.count;
        elements_ += count;
        if (elements_ > inputBytes_ + ELEMENTS_BEYOND_INPUT)
            fail(name(index) + " has more elements than the file could hold", path_);
        std::vector<T> out;
        if (a.bufferView < 0) {
            // Zeros, perhaps with sparse values.
            out.assign(count * std::size_t(components), T(0));
        } else {
            std::size_t stride = 0;
            const unsigned char* p = bytes(a.bufferView, a.byteOffset, count, std::size_t(size) * std::size_t(components),
                                           stride, index);
            out.resize(count * std::size_t(components));
            const std::size_t element = std::size_t(size) * std::size_t(components);
            if (std::is_same_v<T, float> && a.componentType == TINYGLTF_COMPONENT_TYPE_FLOAT)
                for (std::size_t i = 0; i < count; ++i, p += stride) std::memcpy(&out[i * std::size_t(components)], p, element);
            else
                for (std::size_t i = 0; i < count; ++i, p += stride)
                    convert(p, a.componentType, a.normalized, components, &out[i * std::size_t(components)]);
        }
        if (a.sparse.isSparse) apply_sparse(a, index, components, size, out);
        return out;
    }

    // Bytes `[offset, offset + stride * (count - 1) + size)` of a buffer
    // view, and the stride: the view's (`size` when it has none), or `size`
    // for data that is `packed` whatever the view says.
    const unsigned char* bytes(int viewIndex, std::size_t offset, std::size_t count, std::size_t size,
                               std::size_t& stride, int accessorIndex, bool packed = false) const {
        if (viewIndex < 0 || std::size_t(viewIndex) >= model_.bufferViews.size())
            fail("buffer view " + std::to_string(viewIndex) + " does not exist", path_);
        const tinygltf::BufferView& view = model_.bufferViews[std::size_t(viewIndex)];
        const std::string viewName = "buffer view " + std::to_string(viewIndex);
        if (view.buffer < 0 || std::size_t(view.buffer) >= model_.buffers.size())
            fail(viewName + " names no buffer", path_);
        const std::vector<unsigned char>& data = model_.buffers[std::size_t(view.buffer)].data;
        if (view.byteLength > data.size() || view.byteOffset > data.size() - view.byteLength)
            fail(viewName + " lies outside its buffer", path_);
        stride = view.byteStride && !packed ? view.byteStride : size;
        const bool fits = count == 0 || (offset <= view.byteLength && size <= view.byteLength - offset &&
                                         (count - 1) <= (view.byteLength - offset - size) / stride);
        if (!fits) fail(name(accessorIndex) + " lies outside its buffer view", path_);
        return data.data() + view.byteOffset + offset;
    }

    std::string name(int index) const { return index < 0 ? "an image" : "accessor " + std::to_string(index); }

private:
    const tinygltf::Accessor& accessor(int index, const char* what) const {
        if (index < 0 || std::size_t(index) >= model_.accessors.size())
            fail(std::string(what) + " names accessor " + std::to_string(index) + ", which does not exist", path_);
        return model_.accessors[std::size_t(index)];
    }

    int component_size(int type, int index) const {
        const int size = tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(type));
        if (size <= 0 || type == TINYGLTF_COMPONENT_TYPE_DOUBLE || type == TINYGLTF_COMPONENT_TYPE_INT)
            fail(name(index) + " has an unknown component type", path_);
        return size;
    }

    template <class T>
    static void convert(const unsigned char* p, int type, bool normalized, int components, T* out) {
        for (int c = 0; c < components; ++c) out[c] = static_cast<T>(value(p, type, normalized, c));
    }

    // Component c of the element at p, little-endian.
    static double value(const unsigned char* p, int type, bool normalized, int c) {
        switch (type) {
            case TINYGLTF_COMPONENT_TYPE_BYTE: {
                const auto v = static_cast<std::int8_t>(p[c]);
                return normalized ? std::max(v / 127.0, -1.0) : v;
            }
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_BYTE: return normalized ? p[c] / 255.0 : p[c];
            case TINYGLTF_COMPONENT_TYPE_SHORT: {
                std::int16_t v;
                std::memcpy(&v, p + 2 * c, 2);
                return normalized ? std::max(v / 32767.0, -1.0) : v;
            }
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_SHORT: {
                std::uint16_t v;
                std::memcpy(&v, p + 2 * c, 2);
                return normalized ? v / 65535.0 : v;
            }
            case TINYGLTF_COMPONENT_TYPE_UNSIGNED_INT: {
                std::uint32_t v;
                std::memcpy(&v, p + 4 * c, 4);
                return normalized ? v / 4294967295.0 : v;
            }
            default: {
                float v;
                std::memcpy(&v, p + 4 * c, 4);
                return v;
            }
        }
    }

    template <class T>
    void apply_sparse(const tinygltf::Accessor& a, int index, int components, int size, std::vector<T>& out) const {
        const std::size_t count = static_cast<std::size_t>(std::max(a.sparse.count, 0));
        const int indexType = a.sparse.indices.componentType;
        if (!is_index_type(indexType))
            fail(name(index) + " has sparse indices of an unknown type", path_);
        std::size_t indexStride = 0, valueStride = 0;
        const std::size_t indexSize = std::size_t(tinygltf::GetComponentSizeInBytes(static_cast<std::uint32_t>(indexType)));
        // Sparse data is tightly packed, whatever its views say.
        const unsigned char* indices = bytes(a.sparse.indices.bufferView, std::size_t(std::max(a.sparse.indices.byteOffset, 0)),
                                             count, indexSize, indexStride, index, true);
        const std::size_t elementSize = std::size_t(size) * std::size_t(components);
        const unsigned char* values = bytes(a.sparse.values.bufferView, std::size_t(std::max(a.sparse.values.byteOffset, 0)),
                                            count, elementSize, valueStride, index, true);
        for (std::size_t i = 0; i < count; ++i) {
            const auto at = static_cast<std::size_t>(value(indices + i * indexSize, indexType, false, 0));
            if (at >= a.count) fail(name(index) + " has a sparse index beyond its elements", path_);
            convert(values + i * elementSize, a.componentType, a.normalized, components, &out[at * std::size_t(components)]);
        }
    }

    static constexpr std::uint64_t ELEMENTS_BEYOND_INPUT = 1 << 20;
    const tinygltf::Model& model_;
    const std::string& path_;
    std::uint64_t inputBytes_;
    std::uint64_t elements_ = 0;  // read so far
};

// Column-major 4x4 matrices, as glTF stores them.
using Matrix = std::array<double, 16>;
constexpr Matrix IDENTITY{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

Matrix operator*(const Matrix& a, const Matrix& b) {
    Matrix m{};
    for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 4; ++r)
            for (int k = 0; k < 4; ++k) m[std::size_t(c * 4 + r)] += a[std::size_t(k * 4 + r)] * b[std::size_t(c * 4 + k)];
    return m;
}

// Translation x rotation (a quaternion x y z w) x scale, each null for none.
template <class T>
Matrix trs_matrix(const T* translation, const T* rotation, const T* scale) {
    Matrix t = IDENTITY, r = IDENTITY, s = IDENTITY;
    if (translation) t[12] = translation[0], t[13] = translation[1], t[14] = translation[2];
    if (scale) s[0] = scale[0], s[5] = scale[1], s[10] = scale[2];
    if (rotation) {
        double x = rotation[0], y = rotation[1], z = rotation[2], w = rotation[3];
        const double length = std::sqrt(x * x + y * y + z * z + w * w);
        if (length > 0) x /= length, y /= length, z /= length, w /= length;
        r = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),     0,
             2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),     0,
             2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y), 0,
             0,                       0,                       0,                       1};
    }
    return t * r * s;
}

// The transforms of an instanced node's instances (EXT_mesh_gpu_instancing):
// translation x rotation x scale, any of the three absent; one instance
// that moves nothing when all are.
std::vector<Matrix> instances(Reader& reader, const tinygltf::Value& extension, int node, const std::string& path) {
    const char* const names[3] = {"TRANSLATION", "ROTATION", "SCALE"};
    const int types[3] = {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4, TINYGLTF_TYPE_VEC3};
    std::vector<float> values[3];
    std::size_t count = 1;
    bool counted = false;
    const bool hasAttributes = extension.IsObject() && extension.Has("attributes");
    for (std::size_t k = 0; k < 3 && hasAttributes; ++k) {
        const tinygltf::Value& attributes = extension.Get("attributes");
        if (!attributes.IsObject() || !attributes.Has(names[k])) continue;
        const tinygltf::Value& accessor = attributes.Get(names[k]);
        if (!accessor.IsInt()) fail("node " + std::to_string(node) + "'s instances name no accessor for " + names[k], path);
        values[k] = reader.read<float>(accessor.GetNumberAsInt(), {types[k]}, names[k]);
        const std::size_t n = values[k].size() / (k == 1 ? 4 : 3);
        if (counted && n != count) fail("node " + std::to_string(node) + "'s instance attributes differ in length", path);
        count = n, counted = true;
    }
    std::vector<Matrix> out(count);
    for (std::size_t i = 0; i < count; ++i)
        out[i] = trs_matrix(values[0].empty() ? nullptr : &values[0][3 * i], values[1].empty() ? nullptr : &values[1][4 * i],
                            values[2].empty() ? nullptr : &values[2][3 * i]);
    return out;
}

// A node's own transform: its matrix, or translation x rotation x scale.
Matrix local_matrix(const tinygltf::Node& node) {
    if (node.matrix.size() == 16) {
        Matrix m;
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    return trs_matrix(node.translation.size() == 3 ? node.translation.data() : nullptr,
                      node.rotation.size() == 4 ? node.rotation.data() : nullptr,
                      node.scale.size() == 3 ? node.scale.data() : nullptr);
}

// The numbers of an extension's member: an array of `count` numbers, or a
// number when `count` is 1; false, leaving `to` as it is, when it is neither.
bool numbers_of(const tinygltf::Value& object, const char* key, std::size_t count, double* to) {
    if (!object.IsObject() || !object.Has(key)) return false;
    const tinygltf::Value& v = object.Get(key);
    if (count == 1 && v.IsNumber()) return *to = v.GetNumberAsDouble(), true;
    if (!v.IsArray() || v.ArrayLen() != count) return false;
    for (std::size_t k = 0; k < count; ++k)
        if (!v.Get(int(k)).IsNumber()) return false;
    for (std::size_t k = 0; k < count; ++k) to[k] = v.Get(int(k)).GetNumberAsDouble();
    return true;
}

// KHR_texture_transform of a texture reference: offset x rotation x scale
// as 2x3 matrices (the rotation's row 0 is cos, sin), and the coordinate
// set it may name instead of the reference's.
void read_texture_transform(const tinygltf::TextureInfo& info, GltfMaterial& material) {
    const auto found = info.extensions.find("KHR_texture_transform");
    if (found == info.extensions.end()) return;
    const tinygltf::Value& x = found->second;
    double offset[2] = {0, 0}, rotation = 0, scale[2] = {1, 1}, texCoord = material.texCoord;
    numbers_of(x, "offset", 2, offset);
    numbers_of(x, "rotation", 1, &rotation);
    numbers_of(x, "scale", 2, scale);
    if (numbers_of(x, "texCoord", 1, &texCoord) && texCoord >= 0 && texCoord <= 1e6) material.texCoord = int(texCoord);
    const double c = std::cos(rotation), s = std::sin(rotation);
    material.uv = {c * scale[0], s * scale[1], offset[0], -s * scale[0], c * scale[1], offset[1]};
}

Wrap wrap_of(int mode) {
    return mode == TINYGLTF_TEXTURE_WRAP_MIRRORED_REPEAT ? Wrap::mirrored
           : mode == TINYGLTF_TEXTURE_WRAP_CLAMP_TO_EDGE ? Wrap::clamp
                                                         : Wrap::repeat;
}

// What turns a direction as the matrix turns the surface: the cofactors of
// its 3x3 part (the inverse's transpose times the determinant), with the
// determinant's sign taken out. Also gives the determinant.
std::array<double, 9> normal_matrix(const Matrix& m, double& det) {
    auto at = [&](int r, int c) { return m[std::size_t(c * 4 + r)]; };
    std::array<double, 9> n{};  // row-major
    for (int r = 0; r < 3; ++r)
        for (int c = 0; c < 3; ++c) {
            const int r1 = (r + 1) % 3, r2 = (r + 2) % 3, c1 = (c + 1) % 3, c2 = (c + 2) % 3;
            n[std::size_t(r * 3 + c)] = at(r1, c1) * at(r2, c2) - at(r1, c2) * at(r2, c1);
        }
    det = at(0, 0) * n[0] + at(0, 1) * n[1] + at(0, 2) * n[2];
    if (det < 0)
        for (double& v : n) v = -v;
    return n;
}

// The primitive's triangles as vertex numbers. Strips and fans become
// triangles as glTF defines them; those of theirs that name a vertex twice
// join strips and draw nothing, and are left out.
std::vector<std::uint32_t> triangles_of(int mode, const std::vector<std::uint32_t>& order) {
    std::vector<std::uint32_t> out;
    const std::size_t n = order.size();
    auto add = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, bool joining) {
        if (joining && (a == b || b == c || a == c)) return;
        out.push_back(a), out.push_back(b), out.push_back(c);
    };
    if (mode == TINYGLTF_MODE_TRIANGLES) {
        out.reserve(n - n % 3);
        for (std::size_t i = 0; i + 2 < n; i += 3) add(order[i], order[i + 1], order[i + 2], false);
    } else if (mode == TINYGLTF_MODE_TRIANGLE_STRIP) {
        for (std::size_t i = 0; i + 2 < n; ++i)
            add(order[i], order[i + 1 + i % 2], order[i + 2 - i % 2], true);
    } else {
        for (std::size_t i = 1; i + 1 < n; ++i) add(order[i], order[i + 1], order[0], true);
    }
    return out;
}

}  // namespace

int add_buffer(tinygltf::Model& model, std::vector<unsigned char> bytes) {
    tinygltf::Buffer buffer;
    buffer.data = std::move(bytes);
    model.buffers.push_back(std::move(buffer));
    return int(model.buffers.size() - 1);
}

GltfFile::GltfFile(const std::string& path) : path_(path), model_(std::make_unique<tinygltf::Model>()) {
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st;
    fopen_error(file.fd >= 0 && fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode), path);
    const auto size = static_cast<std::uint64_t>(st.st_size);

    NamedFiles named;
    named.folder = directory_of(path);
    std::unique_ptr<char, void (*)(void*)> folder(::realpath(named.folder.c_str(), nullptr), std::free);
    if (folder) named.canonicalFolder = folder.get();
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keep_image, nullptr);
    loader.SetFsCallbacks({file_exists, expand_path, read_file, write_file, &named});
    unsigned char magic[4] = {};
    try {
        if (size >= 4 && read_at(file.fd, magic, 4, 0) && u32(magic) == GLB_MAGIC) {
            notes = load_binary(file.fd, size, loader, named, *model_, path);
        } else {
            std::string text(size, '\0');
            if (!read_at(file.fd, text.data(), text.size(), 0)) fopen_error(false, path);
            CheckedJson checked = check_json(text, false, path);
            notes = std::move(checked.notes);
            if (!checked.text.empty()) text = std::move(checked.text);
            std::string err, warn;
            if (text.size() > UINT32_MAX) fail("the file is too large for glTF", path);
            if (!loader.LoadASCIIFromString(model_.get(), &err, &warn, text.data(), static_cast<unsigned>(text.size()),
                                            directory_of(path)))
                fail(own_words(err), path);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // tinygltf may throw where it reaches past a vector's end.
        fail("not a glTF file", path);
    }
    // Decoded data counts as input: the accessors reading it are held to
    // its size, as those of a file without compression to the file's.
    inputBytes_ = size + named.bytes + decode_meshopt(*model_, path);
    inputBytes_ += decode_draco(*model_, path);

    const tinygltf::Model& m = *model_;
    for (std::size_t k = 0; k < m.materials.size(); ++k) {
        const tinygltf::Material& source = m.materials[k];
        GltfMaterial material;
        material.unlit = source.extensions.count("KHR_materials_unlit") > 0;
        material.doubleSided = source.doubleSided;
        material.blend = source.alphaMode == "BLEND";
        const auto& pbr = source.pbrMetallicRoughness;
        if (pbr.baseColorFactor.size() >= 3) std::copy_n(pbr.baseColorFactor.begin(), 3, material.factor.begin());
        tinygltf::TextureInfo base = pbr.baseColorTexture;
        if (const auto found = source.extensions.find("KHR_materials_pbrSpecularGlossiness"); found != source.extensions.end())
            diffuse_for_base(found->second, "material " + std::to_string(k), material, base);
        const int texture = base.index;
        if (texture >= 0) {
            if (std::size_t(texture) >= m.textures.size())
                fail("material " + std::to_string(k) + " names texture " + std::to_string(texture) + ", which does not exist", path);
            material.image = image_of(m.textures[std::size_t(texture)], "texture " + std::to_string(texture));
            if (material.image >= 0 && std::size_t(material.image) >= m.images.size())
                fail("texture " + std::to_string(texture) + " names image " + std::to_string(material.image) +
                         ", which does not exist", path);
            material.texCoord = base.texCoord;
            read_texture_transform(base, material);
            const int sampler = m.textures[std::size_t(texture)].sampler;
            if (sampler >= 0 && std::size_t(sampler) < m.samplers.size())
                material.wrapS = wrap_of(m.samplers[std::size_t(sampler)].wrapS),
                material.wrapT = wrap_of(m.samplers[std::size_t(sampler)].wrapT);
        }
        materials.push_back(material);
    }
}

// KHR_materials_pbrSpecularGlossiness: its diffuse factor and texture stand
// for the base colour's (both default as the base colour's do).
void GltfFile::diffuse_for_base(const tinygltf::Value& ext, const std::string& what, GltfMaterial& material,
                                tinygltf::TextureInfo& base) const {
    const std::string name = what + "'s specular-glossiness";
    material.factor = {1, 1, 1};
    if (ext.IsObject() && ext.Has("diffuseFactor")) {
        const tinygltf::Value& factor = ext.Get("diffuseFactor");
        if (!factor.IsArray() || factor.ArrayLen() != 4) fail(name + " has a diffuseFactor that is not 4 numbers", path_);
        for (int c = 0; c < 3; ++c) {
            if (!factor.Get(c).IsNumber()) fail(name + " has a diffuseFactor that is not 4 numbers", path_);
            material.factor[std::size_t(c)] = factor.Get(c).GetNumberAsDouble();
        }
    }
    base = tinygltf::TextureInfo();
    if (!ext.IsObject() || !ext.Has("diffuseTexture")) return;
    const tinygltf::Value& texture = ext.Get("diffuseTexture");
    const std::size_t index = value_size(texture, "index", name + "'s diffuseTexture", path_, true);
    base.index = index > INT_MAX ? INT_MAX : int(index);
    base.texCoord = int(std::min<std::size_t>(value_size(texture, "texCoord", name + "'s diffuseTexture", path_, false), INT_MAX));
    if (texture.Has("extensions") && texture.Get("extensions").IsObject())
        for (const std::string& key : texture.Get("extensions").Keys()) base.extensions[key] = texture.Get("extensions").Get(key);
}

// A texture's image: EXT_texture_webp's where it has one, else its own.
int GltfFile::image_of(const tinygltf::Texture& texture, const std::string& what) const {
    const auto webp = texture.extensions.find("EXT_texture_webp");
    if (webp == texture.extensions.end()) return texture.source;
    const std::size_t source = value_size(webp->second, "source", what + "'s WebP image", path_, true);
    return source > INT_MAX ? INT_MAX : int(source);
}

GltfFile::~GltfFile() = default;

void GltfFile::draw(double scale, int sceneAsked, const std::function<void(const DrawnPrimitive&)>& visit) {
    const tinygltf::Model& m = *model_;
    Reader reader(m, path_, inputBytes_);
    pointsAndLines = 0;
    // Primitives and nodes often share accessors: each is read once, and let
    // go after the last primitive that uses it.
    std::map<int, std::vector<float>> floatsRead;
    std::map<int, std::vector<std::uint32_t>> indicesRead;
    auto floats = [&](int accessor, std::initializer_list<int> types, const std::string& what) -> const std::vector<float>& {
        auto known = floatsRead.find(accessor);
        if (known == floatsRead.end()) known = floatsRead.emplace(accessor, reader.read<float>(accessor, types, what.c_str())).first;
        return known->second;
    };
    auto indices = [&](int accessor) -> const std::vector<std::uint32_t>& {
        auto known = indicesRead.find(accessor);
        if (known != indicesRead.end()) return known->second;
        if (m.accessors.size() > std::size_t(accessor) && !is_index_type(m.accessors[std::size_t(accessor)].componentType))
            fail(reader.name(accessor) + " holds indices that are not unsigned integers", path_);
        return indicesRead.emplace(accessor, reader.read<std::uint32_t>(accessor, {TINYGLTF_TYPE_SCALAR}, "indices")).first->second;
    };
    // The scene asked for, else the default scene, else the first, else
    // every node that is no node's child.
    std::vector<int> roots;
    if (sceneAsked >= 0 || m.defaultScene >= 0 || !m.scenes.empty()) {
        const int scene = sceneAsked >= 0 ? sceneAsked : std::max(m.defaultScene, 0);
        if (std::size_t(scene) >= m.scenes.size()) fail("scene " + std::to_string(scene) + " does not exist", path_);
        roots = m.scenes[std::size_t(scene)].nodes;
        otherScenes = m.scenes.size() - 1;
    } else {
        std::vector<bool> child(m.nodes.size(), false);
        for (const tinygltf::Node& node : m.nodes)
            for (int c : node.children)
                if (c >= 0 && std::size_t(c) < child.size()) child[std::size_t(c)] = true;
        for (std::size_t k = 0; k < m.nodes.size(); ++k)
            if (!child[k]) roots.push_back(int(k));
    }

    // Depth first without recursion: a chain of nodes may be as long as the
    // file. The nodes that draw a mesh, in order, with their transforms.
    std::vector<bool> reached(m.nodes.size(), false);
    std::vector<std::pair<int, Matrix>> stack, drawing;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) stack.emplace_back(*it, IDENTITY);
    while (!stack.empty()) {
        const auto [index, parent] = stack.back();
        stack.pop_back();
        if (index < 0 || std::size_t(index) >= m.nodes.size()) fail("node " + std::to_string(index) + " does not exist", path_);
        if (reached[std::size_t(index)]) fail("node " + std::to_string(index) + " is reached twice in the scene", path_);
        reached[std::size_t(index)] = true;
        const tinygltf::Node& node = m.nodes[std::size_t(index)];
        const Matrix world = parent * local_matrix(node);
        for (auto it = node.children.rbegin(); it != node.children.rend(); ++it) stack.emplace_back(*it, world);
        if (node.mesh < 0) continue;
        if (std::size_t(node.mesh) >= m.meshes.size()) fail("node " + std::to_string(index) + " names a mesh that does not exist", path_);
        const auto instanced = node.extensions.find("EXT_mesh_gpu_instancing");
        if (instanced == node.extensions.end()) drawing.emplace_back(index, world);
        else
            for (const Matrix& instance : instances(reader, instanced->second, index, path_))
                drawing.emplace_back(index, world * instance);
    }
    std::map<int, int> usesLeft;
    auto for_each_accessor = [](const tinygltf::Primitive& p, auto&& use) {
        for (const auto& attribute : p.attributes) use(attribute.second);
        if (p.indices >= 0) use(p.indices);
    };
    for (const auto& [index, world] : drawing)
        for (const tinygltf::Primitive& p : m.meshes[std::size_t(m.nodes[std::size_t(index)].mesh)].primitives)
            for_each_accessor(p, [&](int accessor) { ++usesLeft[accessor]; });
    auto let_go = [&](const tinygltf::Primitive& p) {
        for_each_accessor(p, [&](int accessor) {
            if (--usesLeft[accessor] == 0) floatsRead.erase(accessor), indicesRead.erase(accessor);
        });
    };

    for (std::size_t entryNumber = 0; entryNumber < drawing.size(); ++entryNumber) {
        const auto& entry = drawing[entryNumber];
        const int index = entry.first;
        const Matrix& world = entry.second;
        const tinygltf::Node& node = m.nodes[std::size_t(index)];
        double det = 0;
        const std::array<double, 9> turn = normal_matrix(world, det);
        auto draw_primitive = [&](const tinygltf::Primitive& p) {
            morphTargets_ |= !p.targets.empty();
            if (p.mode >= TINYGLTF_MODE_POINTS && p.mode <= TINYGLTF_MODE_LINE_STRIP) {
                ++pointsAndLines;
                return;
            }
            if (p.mode < TINYGLTF_MODE_TRIANGLES || p.mode > TINYGLTF_MODE_TRIANGLE_FAN)
                fail("a primitive's mode " + std::to_string(p.mode) + " is unknown", path_);
            const auto position = p.attributes.find("POSITION");
            if (position == p.attributes.end()) return;  // nothing to draw
            if (p.material >= 0 && std::size_t(p.material) >= materials.size())
                fail("a primitive names material " + std::to_string(p.material) + ", which does not exist", path_);

            DrawnPrimitive drawn;
            drawn.material = p.material;
            const std::vector<float>& local = floats(position->second, {TINYGLTF_TYPE_VEC3}, "POSITION");
            const std::size_t n = local.size() / 3;
            std::vector<std::uint32_t> unindexed;
            const std::vector<std::uint32_t>* order = &unindexed;
            if (p.indices >= 0) {
                order = &indices(p.indices);
                for (std::uint32_t i : *order)
                    if (i >= n) fail(reader.name(p.indices) + " names vertex " + std::to_string(i) + " of " + std::to_string(n), path_);
            } else {
                unindexed.resize(n);
                for (std::size_t i = 0; i < n; ++i) unindexed[i] = static_cast<std::uint32_t>(i);
            }
            drawn.triangles = triangles_of(p.mode, *order);
            unindexed = {};
            if (drawn.triangles.empty()) return;
            // A mirroring transform turns the fronts round.
            if (det < 0)
                for (std::size_t t = 0; t < drawn.triangles.size(); t += 3) std::swap(drawn.triangles[t + 1], drawn.triangles[t + 2]);
            drawn.vertices = n;
            drawn.position = local.data();
            drawn.world = world;
            drawn.turn = turn;
            drawn.scale = scale;
            // An instanced node's instances place the same positions apart.
            drawn.sharing = {int(entryNumber), position->second, -1};

            auto attribute = [&](const std::string& name, std::initializer_list<int> types, int& size) -> const float* {
                const auto found = p.attributes.find(name);
                if (found == p.attributes.end()) return nullptr;
                const std::vector<float>& values = floats(found->second, types, name);
                const tinygltf::Accessor& a = m.accessors[std::size_t(found->second)];
                size = tinygltf::GetNumComponentsInType(static_cast<std::uint32_t>(a.type));
                if (a.count != n) fail(name + " has " + std::to_string(a.count) + " elements, POSITION " + std::to_string(n), path_);
                return values.data();
            };
            int size = 0;
            drawn.normal = attribute("NORMAL", {TINYGLTF_TYPE_VEC3}, size);
            if (drawn.normal) drawn.sharing[2] = p.attributes.at("NORMAL");
            drawn.colour = attribute("COLOR_0", {TINYGLTF_TYPE_VEC3, TINYGLTF_TYPE_VEC4}, drawn.colourSize);
            const GltfMaterial* material = p.material >= 0 ? &materials[std::size_t(p.material)] : nullptr;
            if (material && material->image >= 0)
                drawn.texcoord = attribute("TEXCOORD_" + std::to_string(material->texCoord), {TINYGLTF_TYPE_VEC2}, size);
            visit(drawn);
        };
        for (const tinygltf::Primitive& p : m.meshes[std::size_t(node.mesh)].primitives) {
            draw_primitive(p);
            let_go(p);
        }
    }
}

VectorData DrawnPrimitive::vertex(std::size_t i) const {
    const double x = position[3 * i], y = position[3 * i + 1], z = position[3 * i + 2];
    const std::array<double, 16>& w = world;
    const Direction v = from_gltf({w[0] * x + w[4] * y + w[8] * z + w[12], w[1] * x + w[5] * y + w[9] * z + w[13],
                                   w[2] * x + w[6] * y + w[10] * z + w[14]});
    return {float(v.x * scale), float(v.y * scale), float(v.z * scale)};
}

VectorData DrawnPrimitive::normal_at(std::size_t i) const {
    const double x = normal[3 * i], y = normal[3 * i + 1], z = normal[3 * i + 2];
    const std::array<double, 9>& t = turn;
    const Vec3 unit = normalised(from_gltf({t[0] * x + t[1] * y + t[2] * z, t[3] * x + t[4] * y + t[5] * z, t[6] * x + t[7] * y + t[8] * z}));
    return {unit.x, unit.y, unit.z};
}

std::string GltfFile::notRead() const {
    const tinygltf::Model& m = *model_;
    std::vector<std::string> kinds;
    if (!m.skins.empty()) kinds.emplace_back("skins");
    if (morphTargets_) kinds.emplace_back("morph targets");
    if (!m.animations.empty()) kinds.emplace_back("animations");
    if (!m.cameras.empty()) kinds.emplace_back("cameras");
    if (!m.lights.empty()) kinds.emplace_back("lights");
    return listed(kinds);
}

RgbaImage GltfFile::image(int k) const {
    const tinygltf::Model& m = *model_;
    const tinygltf::Image& image = m.images[std::size_t(k)];
    const std::string name = "image " + std::to_string(k);
    const unsigned char* bytes = image.image.data();
    std::size_t size = image.image.size();
    if (image.bufferView >= 0) {
        const Reader reader(m, path_, inputBytes_);
        std::size_t stride = 0;
        const std::size_t length = std::size_t(image.bufferView) < m.bufferViews.size() ? m.bufferViews[std::size_t(image.bufferView)].byteLength : 0;
        bytes = reader.bytes(image.bufferView, 0, 1, length, stride, -1);
        size = length;
    } else if (size == 0) {
        // Its file was not read: missing, or read already for an image of the same URI.
        for (const tinygltf::Image& other : m.images)
            if (!other.image.empty() && other.bufferView < 0 && other.uri == image.uri && !image.uri.empty())
                bytes = other.image.data(), size = other.image.size();
        if (size == 0) fail(name + (image.uri.empty() ? "" : " (" + image.uri + ")") + " cannot be read", path_);
    }
    return decode_image(std::string_view(reinterpret_cast<const char*>(bytes), size), name, path_);
}
