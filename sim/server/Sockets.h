// Opening the simulator's listening sockets. Each refuses to take over a path where a live
// server still answers, and removes a stale socket that nobody serves any more (a
// simulator that was killed leaves its socket files behind).
#pragma once

#include <cstdint>
#include <string>

namespace orvix::sim {

// A non-blocking listening Unix stream socket at path; -1 with *error set.
int ListenUnix(const std::string& path, std::string* error);
// A non-blocking Unix datagram socket bound at path; -1 with *error set.
int BindDatagram(const std::string& path, std::string* error);
// mkdir -p; false with *error set.
bool MakeDirs(const std::string& path, std::string* error);

// A socket file this process bound, removed at exit only while it is still the one we made
// (another simulator may have replaced it meanwhile).
class OwnedPath {
public:
    OwnedPath() = default;
    explicit OwnedPath(std::string path);
    ~OwnedPath() { remove(); }
    OwnedPath(const OwnedPath&) = delete;
    OwnedPath& operator=(const OwnedPath&) = delete;

    void remove();

private:
    std::string mPath;
    uint64_t mDevice = 0;
    uint64_t mInode = 0;
};

}  // namespace orvix::sim
