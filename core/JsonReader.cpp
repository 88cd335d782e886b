#include "core/JsonReader.h"

#include <json/reader.h>

#include <exception>
#include <memory>

namespace orvix {

bool ParseJson(const std::string& text, Json::Value* root, std::string* error) {
    try {
        Json::CharReaderBuilder builder;
        builder["stackLimit"] = kJsonMaxDepth;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        if (!reader) {
            error->clear();
            return false;
        }
        return reader->parse(text.data(), text.data() + text.size(), root, error);
    } catch (const std::exception& e) {
        // Past the nesting limit jsoncpp throws instead of failing the parse.
        *error = e.what();
        return false;
    }
}

}  // namespace orvix
