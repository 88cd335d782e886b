// The simulator's one set of JSON helpers: one-line output for the CLI, the wire and the
// timeline, a parser that never throws, and the type-checked readers that conversions of
// untrusted JSON use (jsoncpp's asX throw on the wrong type; these never do).
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

// Member readers: false when the member is there but of the wrong type or out of range.
// A missing or null member succeeds and leaves the target unchanged, except for the optional
// string, which becomes nullopt.
bool readInt32(const Json::Value& object, const char* key, int32_t* out);
bool readDouble(const Json::Value& object, const char* key, double* out);
bool readBool(const Json::Value& object, const char* key, bool* out);
bool readOptionalString(const Json::Value& object, const char* key,
                        std::optional<std::string>* out);

// An optional text as JSON: the string, or null.
Json::Value optionalJson(const std::optional<std::string>& text);

}  // namespace orvix::model
