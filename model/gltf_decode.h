// The decoders of glTF's compression extensions, each in a file of its own.
// They turn a loaded file's compressed data into plain buffers that the
// accessors then read as any others; each fault of the compressed data ends
// the run with RunEnd naming it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tinygltf {
class Model;
}

// EXT_meshopt_compression: every buffer view that has it is decoded (its
// filter applied) into a buffer of its own. Returns the bytes decoded.
std::uint64_t decode_meshopt(tinygltf::Model& model, const std::string& path);

// KHR_draco_mesh_compression: every primitive that has it is decoded, and
// its accessors given buffer views of the decoded values. Returns the bytes
// decoded.
std::uint64_t decode_draco(tinygltf::Model& model, const std::string& path);

// Appends a buffer holding `bytes` to the model; returns its number.
int add_buffer(tinygltf::Model& model, std::vector<unsigned char> bytes);
