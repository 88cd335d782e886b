#include "requests/JsonText.h"

#include <json/writer.h>

namespace orvix {

std::string CompactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    return Json::writeString(builder, value);
}

}  // namespace orvix
