// The one way replies are written: compact, on one line.
#pragma once

#include <json/value.h>

#include <string>

namespace orvix {

std::string CompactJson(const Json::Value& value);

}  // namespace orvix
