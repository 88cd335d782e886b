// The simulator's one set of JSON helpers: one-line output for the CLI, the wire and the
// timeline, and a parser that never throws.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <optional>
#include <string>

namespace orvix::model {

// value as compact one-line JSON text, UTF-8 bytes kept as they are.
std::string compactJson(const Json::Value& value);
// text as a JSON string literal, quotes included.
std::string quoteJson(const std::string& text);
// Parses text; false (and out untouched) when it is not JSON. Never throws: jsoncpp throws on
// input nested too deeply, and a peer's bytes must not end the process.
bool parseJson(const std::string& text, Json::Value* out);

// An optional text as JSON: the string, or null.
Json::Value optionalJson(const std::optional<std::string>& text);

}  // namespace orvix::model
