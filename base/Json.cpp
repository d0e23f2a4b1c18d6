#include "base/Json.h"

#include <nlohmann/json.hpp>

#include "base/TextFormat.h"

namespace velmora {

namespace {

// Every text in the value made valid UTF-8, so that writing it never fails.
void MakeTextsValid(Json& value) {
    if (value.is_string()) {
        value = ValidUtf8(value.get_ref<const std::string&>());
    } else if (value.is_structured()) {
        for (Json& item : value) {
            MakeTextsValid(item);
        }
    }
}

}  // namespace

std::string JsonLine(const Json& value) {
    Json valid = value;
    MakeTextsValid(valid);
    std::string line = valid.dump(-1, ' ', false, Json::error_handler_t::replace);
    // U+FFFD written as its escape, so that a replaced byte shows as plain
    // ASCII in a log, whatever the terminal or editor reading it.
    const std::string_view replacement = "\xEF\xBF\xBD";
    for (std::size_t at = line.find(replacement); at != std::string::npos;
         at = line.find(replacement, at)) {
        line.replace(at, replacement.size(), "\\ufffd");
    }
    return line;
}

std::string JsonArrayLines(const Json& array) {
    if (array.empty()) {
        return "[]";
    }
    std::string out = "[";
    for (const Json& item : array) {
        out += (out.size() == 1 ? "\n  " : ",\n  ") + JsonLine(item);
    }
    return out + "\n]";
}

Json TextOrNull(std::string_view text) {
    return text.empty() ? Json(nullptr) : Json(std::string(text));
}

}  // namespace velmora
