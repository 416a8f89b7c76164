// JSON as zorvel-model writes it: keys in the order they were set, and
// numbers of the models' precision, written in their shortest form.
#pragma once

#include <nlohmann/json.hpp>

using Json = nlohmann::basic_json<nlohmann::ordered_map, std::vector, std::string, bool, std::int64_t,
                                  std::uint64_t, float>;

// The text of a JSON value. Names in the models are bytes, and JSON holds
// only UTF-8: a byte that is not part of one shows as U+FFFD.
inline std::string json_text(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }
