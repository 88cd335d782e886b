#include "platform/android/AString.h"

namespace android {

AString::AString(const char* s) : mData(s ? s : "") {}

AString::AString(const char* s, size_t size) {
    if (s) mData.assign(s, size);
}

void AString::setTo(const char* s) {
    if (s) {
        mData.assign(s);
    } else {
        mData.clear();
    }
}

void AString::setTo(const char* s, size_t size) {
    if (s) {
        mData.assign(s, size);
    } else {
        mData.clear();
    }
}

}  // namespace android
