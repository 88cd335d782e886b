// The simulator's wire format: a 4-byte big-endian length, then that many bytes of one JSON
// object. Shared by the server and the control CLI.
#pragma once

#include <json/json.h>

#include <cstdint>
#include <string>

namespace orvix::sim {

// The largest frame a daemon-side peer may send or be sent.
constexpr uint32_t kMaxFrame = 4u * 1024u * 1024u;
// Control replies carry whole logs, which grow with the length of a run.
constexpr uint32_t kMaxControlFrame = 64u * 1024u * 1024u;

// The frame of object written as compact JSON (length prefix included).
std::string FrameBytes(const Json::Value& object);
// The body length a frame's first four bytes announce.
uint32_t FrameLength(const unsigned char* head);

}  // namespace orvix::sim
