// Reading the members of a glTF extension's object as tinygltf holds it.
// A member of the wrong kind ends the run with RunEnd naming `what`.
#pragma once

#include "function.h"

#include <tiny_gltf.h>

#include <string>

// A whole number from 0 to 2^53; 0 when absent and not `required`.
inline std::size_t value_size(const tinygltf::Value& object, const std::string& key, const std::string& what,
                              const std::string& path, bool required) {
    if (!object.IsObject() || !object.Has(key)) {
        if (required) file_error(what + " has no " + key, path);
        return 0;
    }
    const tinygltf::Value& v = object.Get(key);
    const double number = v.IsNumber() ? v.GetNumberAsDouble() : -1;
    if (!(number >= 0 && number <= 9007199254740992.0) || number != double(std::size_t(number)))
        file_error(what + "'s " + key + " is not a whole number", path);
    return std::size_t(number);
}

// A string; `absent` when there is none.
inline std::string value_string(const tinygltf::Value& object, const std::string& key, const std::string& what,
                                const std::string& path, const std::string& absent) {
    if (!object.IsObject() || !object.Has(key)) return absent;
    const tinygltf::Value& v = object.Get(key);
    if (!v.IsString()) file_error(what + "'s " + key + " is not a string", path);
    return v.Get<std::string>();
}
