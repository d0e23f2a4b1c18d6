// JSON as the tool writes it, through nlohmann-json. Objects keep their keys
// in the order they were added, so a record reads the same every time, and
// every text comes out as UTF-8: a byte that is not part of well-formed UTF-8
// (a file name in a legacy code page) becomes U+FFFD, one per byte.
//
// Only the declarations are here; a file that builds or reads a value
// includes <nlohmann/json.hpp> itself.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>

namespace velmora {

using Json = nlohmann::ordered_json;

// The value on one line, without a line end.
std::string JsonLine(const Json& value);

// An array with one element a line, for a reader who looks at it:
// "[\n  {...},\n  {...}\n]" ("[]" when empty), without a line end.
std::string JsonArrayLines(const Json& array);

// A text, or null when it is empty (a field that is not known).
Json TextOrNull(std::string_view text);

}  // namespace velmora
