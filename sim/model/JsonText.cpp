#include "sim/model/JsonText.h"

#include <exception>
#include <memory>

namespace orvix::model {

std::string compactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

std::string quoteJson(const std::string& text) {
    return compactJson(Json::Value(text));
}

bool parseJson(const std::string& text, Json::Value* out) {
    try {
        std::unique_ptr<Json::CharReader> reader(Json::CharReaderBuilder().newCharReader());
        Json::Value value;
        if (!reader->parse(text.data(), text.data() + text.size(), &value, nullptr)) return false;
        *out = std::move(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

Json::Value optionalJson(const std::optional<std::string>& text) {
    return text ? Json::Value(*text) : Json::Value(Json::nullValue);
}

}  // namespace orvix::model
