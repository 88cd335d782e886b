// The foundation's string: a thin owner of bytes with the calls the daemon uses.
#pragma once

#include <cstddef>
#include <string>

namespace android {

class AString {
public:
    AString() = default;
    AString(const char* s);  // NOLINT: implicit like the platform's
    AString(const char* s, size_t size);
    AString(const std::string& s) : mData(s) {}  // NOLINT

    const char* c_str() const { return mData.c_str(); }
    size_t size() const { return mData.size(); }
    bool empty() const { return mData.empty(); }
    void clear() { mData.clear(); }
    void setTo(const char* s);
    void setTo(const char* s, size_t size);
    void append(const char* s) { mData.append(s ? s : ""); }
    void append(const AString& s) { mData.append(s.mData); }
    const std::string& str() const { return mData; }

    bool operator==(const AString& o) const { return mData == o.mData; }
    bool operator!=(const AString& o) const { return mData != o.mData; }

private:
    std::string mData;
};

}  // namespace android
