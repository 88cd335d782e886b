#include "sim/server/Framing.h"

#include "sim/model/JsonText.h"

namespace orvix::sim {

std::string FrameBytes(const Json::Value& object) {
    const std::string body = model::compactJson(object);
    const uint32_t size = static_cast<uint32_t>(body.size());
    std::string bytes;
    for (int shift = 24; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>(size >> shift));
    return bytes + body;
}

uint32_t FrameLength(const unsigned char* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

}  // namespace orvix::sim
