// A looper message: a code, a target handler id and named int32/double/string fields
// kept in the order they were first set.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/android/AString.h"
#include "platform/android/RefBase.h"
#include "platform/android/Thread.h"

namespace android {

typedef int32_t handler_id;

class AMessage : public RefBase {
public:
    enum Type { kTypeInt32, kTypeDouble, kTypeString };

    explicit AMessage(uint32_t what = 0, handler_id target = 0);

    uint32_t what() const { return mWhat; }
    void setWhat(uint32_t what) { mWhat = what; }
    handler_id target() const { return mTarget; }
    void setTarget(handler_id target) { mTarget = target; }

    void setInt32(const char* name, int32_t value);
    void setDouble(const char* name, double value);
    // len -1: up to the terminating NUL.
    void setString(const char* name, const char* s, ssize_t len = -1);
    void setString(const char* name, const AString& s);

    bool findInt32(const char* name, int32_t* value) const;
    bool findDouble(const char* name, double* value) const;
    bool findString(const char* name, AString* value) const;
    bool contains(const char* name) const;

    size_t countEntries() const { return mItems.size(); }
    const char* getEntryNameAt(size_t index, Type* type) const;

    // Queues the message on the looper of its target after delayUs microseconds.
    // A message whose target is not registered (or whose handler is gone) is dropped.
    status_t post(int64_t delayUs = 0);

    sp<AMessage> dup() const;
    std::string debugString() const;

protected:
    virtual ~AMessage() = default;

private:
    struct Item {
        std::string name;
        Type type;
        int32_t i32 = 0;
        double d = 0.0;
        std::string s;
    };
    Item* findItem(const char* name, Type type);
    const Item* findItem(const char* name, Type type) const;
    Item& allocateItem(const char* name);

    uint32_t mWhat;
    handler_id mTarget;
    std::vector<Item> mItems;
};

}  // namespace android
