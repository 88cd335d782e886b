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

namespace {

// Null and absent members mean "not given".
const Json::Value* member(const Json::Value& object, const char* key) {
    if (!object.isObject()) return nullptr;
    const Json::Value* found = object.find(key, key + std::char_traits<char>::length(key));
    if (found == nullptr || found->isNull()) return nullptr;
    return found;
}

}  // namespace

bool readInt32(const Json::Value& object, const char* key, int32_t* out) {
    const Json::Value* v = member(object, key);
    if (v == nullptr) return true;
    if (!v->isInt()) return false;
    *out = v->asInt();
    return true;
}

bool readDouble(const Json::Value& object, const char* key, double* out) {
    const Json::Value* v = member(object, key);
    if (v == nullptr) return true;
    if (!v->isNumeric() || v->isBool()) return false;
    *out = v->asDouble();
    return true;
}

bool readBool(const Json::Value& object, const char* key, bool* out) {
    const Json::Value* v = member(object, key);
    if (v == nullptr) return true;
    if (!v->isBool()) return false;
    *out = v->asBool();
    return true;
}

bool readOptionalString(const Json::Value& object, const char* key,
                        std::optional<std::string>* out) {
    const Json::Value* v = member(object, key);
    if (v == nullptr) {
        out->reset();
        return true;
    }
    if (!v->isString()) return false;
    *out = v->asString();
    return true;
}

Json::Value optionalJson(const std::optional<std::string>& text) {
    return text ? Json::Value(*text) : Json::Value(Json::nullValue);
}

}  // namespace orvix::model
