// The one way the daemon reads JSON that comes from outside (client requests, the receiver's
// setup document).
#pragma once

#include <json/value.h>

#include <string>

namespace orvix {

// Deepest nesting read. jsoncpp recurses once per level, and its own limit of 1,000 levels
// needs about 200 KiB of stack on 32-bit ARM and more on x86-64: more than a device thread
// may have. Nothing the daemon reads is more than a few levels deep.
constexpr int kJsonMaxDepth = 64;

// Parses the whole of text into root. False with the reader's message in error when it is no
// JSON, or nests deeper than kJsonMaxDepth; never throws.
bool ParseJson(const std::string& text, Json::Value* root, std::string* error);

}  // namespace orvix
