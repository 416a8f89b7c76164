// JSON as zorvel-model writes it: keys in the order they were set, and
// numbers of the models' precision, written in their shortest form.
#pragma once

#include <nlohmann/json.hpp>

using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;
