// The simulator's wire format: a 4-byte big-endian length, then that many bytes of one JSON
// object. Shared by the server and the control CLI.
#pragma once

#include <json/json.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvix::sim {

// The largest frame a daemon-side peer may send or be sent.
constexpr uint32_t kMaxFrame = 4u * 1024u * 1024u;
// Control replies carry whole logs, which grow with the length of a run.
constexpr uint32_t kMaxControlFrame = 64u * 1024u * 1024u;

// The frame of body (length prefix included).
std::string FrameBytes(const std::string& body);
// The frame of object written as compact JSON.
std::string FrameBytes(const Json::Value& object);
// Compact one-line JSON text, UTF-8 kept as it is.
std::string CompactJson(const Json::Value& value);

// Parses text into a JSON object. False for anything else, and never throws: jsoncpp throws
// on input nested too deeply, and a peer's bytes must not end the process.
bool ParseObject(const std::string& text, Json::Value* out);

// Cuts a byte stream into frame bodies.
class FrameDecoder {
public:
    enum class Status { Frame, More, Error };

    explicit FrameDecoder(uint32_t maxFrame = kMaxFrame) : mMaxFrame(maxFrame) {}

    void append(const char* data, size_t size);
    // Frame: *body is the next complete frame. More: nothing complete yet. Error: a length
    // over the limit; the stream cannot be trusted any more.
    Status next(std::string* body);

private:
    const uint32_t mMaxFrame;
    std::string mBuffer;
    size_t mOffset = 0;
};

}  // namespace orvix::sim
