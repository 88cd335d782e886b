#include "sim/server/Framing.h"

#include <exception>
#include <memory>

namespace orvix::sim {

std::string FrameBytes(const std::string& body) {
    const uint32_t size = static_cast<uint32_t>(body.size());
    std::string bytes;
    bytes.reserve(4 + body.size());
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(size >> shift));
    bytes.append(body);
    return bytes;
}

std::string FrameBytes(const Json::Value& object) {
    return FrameBytes(CompactJson(object));
}

std::string CompactJson(const Json::Value& value) {
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "";
    builder["emitUTF8"] = true;
    return Json::writeString(builder, value);
}

bool ParseObject(const std::string& text, Json::Value* out) {
    try {
        Json::CharReaderBuilder builder;
        std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
        Json::Value value;
        std::string errors;
        if (!reader->parse(text.data(), text.data() + text.size(), &value, &errors) ||
            !value.isObject()) {
            return false;
        }
        *out = std::move(value);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

void FrameDecoder::append(const char* data, size_t size) {
    // Drop what was consumed before the buffer grows again.
    if (mOffset > 0 && mOffset >= mBuffer.size() / 2) {
        mBuffer.erase(0, mOffset);
        mOffset = 0;
    }
    mBuffer.append(data, size);
}

FrameDecoder::Status FrameDecoder::next(std::string* body) {
    const size_t available = mBuffer.size() - mOffset;
    if (available < 4) return Status::More;
    const auto* p = reinterpret_cast<const unsigned char*>(mBuffer.data() + mOffset);
    const uint32_t size =
        (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
    if (size > mMaxFrame) return Status::Error;
    if (available - 4 < size) return Status::More;
    body->assign(mBuffer, mOffset + 4, size);
    mOffset += 4 + size;
    return Status::Frame;
}

}  // namespace orvix::sim
