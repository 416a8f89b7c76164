// Reading glTF 2.0 with tinygltf. tinygltf parses the JSON and loads the
// buffers; what it leaves unchecked (indices, bounds, the scene's shape) is
// checked here before anything is read, and the few places where it would
// read outside its input or recurse without end are kept from it.
#include "gltf_read.h"

#include "geometry.h"

#include <nlohmann/json.hpp>
#include <stb_image.h>
#include <tiny_gltf.h>

#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <type_traits>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr int MAX_DEPTH = 100;  // JSON nesting; tinygltf copies "extras" by recursion
// Extensions whose meaning import follows or may leave aside.
const std::set<std::string> UNDERSTOOD{"KHR_materials_unlit", "KHR_mesh_quantization"};

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

bool file_exists(const std::string& path, void* state) {
    struct stat st;
    return is_binary_chunk(path, *static_cast<NamedFiles*>(state)) || (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode));
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

// Checks what tinygltf would not: JSON nested deep enough to exhaust its
// recursion, extensions that must be understood, and buffers without a URI
// other than a binary file's first. For a binary file whose buffer 0 has
// none, gives the JSON again with that buffer naming the binary chunk, and
// the length it takes of it; otherwise empty.
std::string check_json(std::string_view text, bool binary, const std::string& path, std::size_t& chunkLength) {
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
    const auto required = doc.find("extensionsRequired");
    if (required != doc.end() && required->is_array())
        for (const auto& name : *required)
            if (name.is_string() && !UNDERSTOOD.count(name.get<std::string>()))
                fail("extension " + name.get<std::string>() + " is required but not supported", path);
    const auto buffers = doc.find("buffers");
    if (buffers == doc.end() || !buffers->is_array() || buffers->empty()) return {};
    for (std::size_t k = 0; k < buffers->size(); ++k) {
        const auto& buffer = (*buffers)[k];
        if ((!binary || k > 0) && buffer.is_object() && !buffer.contains("uri"))
            fail("buffer " + std::to_string(k) + " has no uri", path);
    }
    auto& first = (*buffers)[0];
    if (!binary || !first.is_object() || first.contains("uri")) return {};
    const auto length = first.find("byteLength");
    if (length == first.end() || !length->is_number_unsigned()) fail("buffer 0 has no byteLength", path);
    chunkLength = length->get<std::size_t>();
    first["uri"] = BINARY_CHUNK_URI;
    return doc.dump();
}

std::string first_line(std::string text) {
    const std::size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text.empty() ? "not a glTF file" : text;
}

std::string directory_of(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash);
}

// A .glb file: its header and chunks checked here, and its JSON given to
// tinygltf as a .gltf file's, with buffer 0 naming the binary chunk.
// Given the whole file, tinygltf would copy the chunk, holding its bytes
// twice, and read up to eight bytes past a chunk that ends the file.
void load_binary(int fd, std::uint64_t size, tinygltf::TinyGLTF& loader, NamedFiles& named, tinygltf::Model& model,
                 const std::string& path) {
    unsigned char head[20];
    if (size < 20 || !read_at(fd, head, 20, 0)) fail("the glTF binary file is truncated", path);
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
    std::size_t taken = 0;
    std::string withChunk = check_json(json, true, path, taken);
    if (!withChunk.empty()) {
        if (taken > binLength) fail("buffer 0 is longer than the binary chunk", path);
        named.glb = fd;
        named.chunkAt = off_t(20 + jsonLength + 8);
        named.chunkLength = taken;
        json = std::move(withChunk);
    }
    std::string err, warn;
    if (json.size() > UINT32_MAX ||
        !loader.LoadASCIIFromString(&model, &err, &warn, json.data(), static_cast<unsigned>(json.size()), directory_of(path)))
        fail(first_line(err), path);
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

// A node's own transform: its matrix, or translation x rotation x scale.
Matrix local_matrix(const tinygltf::Node& node) {
    if (node.matrix.size() == 16) {
        Matrix m;
        std::copy(node.matrix.begin(), node.matrix.end(), m.begin());
        return m;
    }
    Matrix t = IDENTITY, r = IDENTITY, s = IDENTITY;
    if (node.translation.size() == 3) t[12] = node.translation[0], t[13] = node.translation[1], t[14] = node.translation[2];
    if (node.scale.size() == 3) s[0] = node.scale[0], s[5] = node.scale[1], s[10] = node.scale[2];
    if (node.rotation.size() == 4) {
        double x = node.rotation[0], y = node.rotation[1], z = node.rotation[2], w = node.rotation[3];
        const double length = std::sqrt(x * x + y * y + z * z + w * w);
        if (length > 0) x /= length, y /= length, z /= length, w /= length;
        r = {1 - 2 * (y * y + z * z), 2 * (x * y + z * w),     2 * (x * z - y * w),     0,
             2 * (x * y - z * w),     1 - 2 * (x * x + z * z), 2 * (y * z + x * w),     0,
             2 * (x * z + y * w),     2 * (y * z - x * w),     1 - 2 * (x * x + y * y), 0,
             0,                       0,                       0,                       1};
    }
    return t * r * s;
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

GltfFile::GltfFile(const std::string& path) : path_(path), model_(std::make_unique<tinygltf::Model>()) {
    Fd file{::open(path.c_str(), O_RDONLY | O_CLOEXEC)};
    struct stat st;
    fopen_error(file.fd >= 0 && fstat(file.fd, &st) == 0 && S_ISREG(st.st_mode), path);
    const auto size = static_cast<std::uint64_t>(st.st_size);

    NamedFiles named;
    tinygltf::TinyGLTF loader;
    loader.SetImageLoader(keep_image, nullptr);
    loader.SetFsCallbacks({file_exists, expand_path, read_file, write_file, &named});
    unsigned char magic[4] = {};
    try {
        if (size >= 4 && read_at(file.fd, magic, 4, 0) && u32(magic) == GLB_MAGIC) {
            load_binary(file.fd, size, loader, named, *model_, path);
        } else {
            std::string text(size, '\0');
            if (!read_at(file.fd, text.data(), text.size(), 0)) fopen_error(false, path);
            std::size_t unused = 0;
            check_json(text, false, path, unused);
            std::string err, warn;
            if (size > UINT32_MAX) fail("the file is too large for glTF", path);
            if (!loader.LoadASCIIFromString(model_.get(), &err, &warn, text.data(), static_cast<unsigned>(text.size()),
                                            directory_of(path)))
                fail(first_line(err), path);
        }
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception&) {
        // tinygltf may throw where it reaches past a vector's end.
        fail("not a glTF file", path);
    }
    inputBytes_ = size + named.bytes;

    const tinygltf::Model& m = *model_;
    for (std::size_t k = 0; k < m.materials.size(); ++k) {
        const tinygltf::Material& source = m.materials[k];
        GltfMaterial material;
        material.unlit = source.extensions.count("KHR_materials_unlit") > 0;
        material.doubleSided = source.doubleSided;
        material.blend = source.alphaMode == "BLEND";
        const auto& pbr = source.pbrMetallicRoughness;
        if (pbr.baseColorFactor.size() >= 3) std::copy_n(pbr.baseColorFactor.begin(), 3, material.factor.begin());
        const int texture = pbr.baseColorTexture.index;
        if (texture >= 0) {
            if (std::size_t(texture) >= m.textures.size())
                fail("material " + std::to_string(k) + " names texture " + std::to_string(texture) + ", which does not exist", path);
            material.image = m.textures[std::size_t(texture)].source;
            if (material.image >= 0 && std::size_t(material.image) >= m.images.size())
                fail("texture " + std::to_string(texture) + " names image " + std::to_string(material.image) +
                         ", which does not exist", path);
            material.texCoord = pbr.baseColorTexture.texCoord;
        }
        materials.push_back(material);
    }
}

GltfFile::~GltfFile() = default;

void GltfFile::draw(double scale, const std::function<void(const DrawnPrimitive&)>& visit) {
    const tinygltf::Model& m = *model_;
    Reader reader(m, path_, inputBytes_);
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
    // The default scene, else the first, else every node that is no node's child.
    std::vector<int> roots;
    if (m.defaultScene >= 0 || !m.scenes.empty()) {
        const int scene = std::max(m.defaultScene, 0);
        if (std::size_t(scene) >= m.scenes.size()) fail("scene " + std::to_string(scene) + " does not exist", path_);
        roots = m.scenes[std::size_t(scene)].nodes;
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
        drawing.emplace_back(index, world);
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

    for (const auto& entry : drawing) {
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
            drawn.sharing = {index, position->second, -1};

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
    std::string text;
    for (std::size_t k = 0; k < kinds.size(); ++k)
        text += (k == 0 ? "" : k + 1 == kinds.size() ? " and " : ", ") + kinds[k];
    return text;
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
    const std::string_view file(reinterpret_cast<const char*>(bytes), size);
    const ImageKind kind = image_kind(file);
    if (kind != ImageKind::PNG && kind != ImageKind::JPEG) fail(name + " is neither PNG nor JPEG", path_);
    return decode_image(file, name, path_);
}
