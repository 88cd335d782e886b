#include "platform/android/AMessage.h"

#include <sstream>

#include "platform/android/ALooperRoster.h"

namespace android {

AMessage::AMessage(uint32_t what, handler_id target) : mWhat(what), mTarget(target) {}

AMessage::Item* AMessage::findItem(const char* name, Type type) {
    return const_cast<Item*>(static_cast<const AMessage*>(this)->findItem(name, type));
}

const AMessage::Item* AMessage::findItem(const char* name, Type type) const {
    if (name == nullptr) return nullptr;
    for (const Item& item : mItems) {
        if (item.name == name) return item.type == type ? &item : nullptr;
    }
    return nullptr;
}

AMessage::Item& AMessage::allocateItem(const char* name) {
    const char* key = name ? name : "";
    for (Item& item : mItems) {
        if (item.name == key) {
            // A name set again keeps its place in the order; only its value and type change.
            item.i32 = 0;
            item.d = 0.0;
            item.s.clear();
            return item;
        }
    }
    mItems.push_back(Item{key, kTypeInt32, 0, 0.0, std::string()});
    return mItems.back();
}

void AMessage::setInt32(const char* name, int32_t value) {
    Item& item = allocateItem(name);
    item.type = kTypeInt32;
    item.i32 = value;
}

void AMessage::setDouble(const char* name, double value) {
    Item& item = allocateItem(name);
    item.type = kTypeDouble;
    item.d = value;
}

void AMessage::setString(const char* name, const char* s, ssize_t len) {
    Item& item = allocateItem(name);
    item.type = kTypeString;
    if (s == nullptr) return;
    if (len < 0) {
        item.s.assign(s);
    } else {
        item.s.assign(s, static_cast<size_t>(len));
    }
}

void AMessage::setString(const char* name, const AString& s) {
    Item& item = allocateItem(name);
    item.type = kTypeString;
    item.s = s.str();
}

bool AMessage::findInt32(const char* name, int32_t* value) const {
    const Item* item = findItem(name, kTypeInt32);
    if (item == nullptr) return false;
    if (value) *value = item->i32;
    return true;
}

bool AMessage::findDouble(const char* name, double* value) const {
    const Item* item = findItem(name, kTypeDouble);
    if (item == nullptr) return false;
    if (value) *value = item->d;
    return true;
}

bool AMessage::findString(const char* name, AString* value) const {
    const Item* item = findItem(name, kTypeString);
    if (item == nullptr) return false;
    if (value) *value = AString(item->s);
    return true;
}

bool AMessage::contains(const char* name) const {
    if (name == nullptr) return false;
    for (const Item& item : mItems) {
        if (item.name == name) return true;
    }
    return false;
}

const char* AMessage::getEntryNameAt(size_t index, Type* type) const {
    if (index >= mItems.size()) return nullptr;
    if (type) *type = mItems[index].type;
    return mItems[index].name.c_str();
}

status_t AMessage::post(int64_t delayUs) {
    return ALooperRoster::PostMessage(sp<AMessage>(this), delayUs);
}

sp<AMessage> AMessage::dup() const {
    sp<AMessage> copy = new AMessage(mWhat, mTarget);
    copy->mItems = mItems;
    return copy;
}

std::string AMessage::debugString() const {
    std::ostringstream out;
    out << "AMessage(what=" << mWhat << ", target=" << mTarget << ") {";
    const char* separator = "";
    for (const Item& item : mItems) {
        out << separator << item.name << '=';
        switch (item.type) {
            case kTypeInt32:
                out << item.i32;
                break;
            case kTypeDouble:
                out << item.d;
                break;
            case kTypeString:
                out << '"' << item.s << '"';
                break;
        }
        separator = ", ";
    }
    out << '}';
    return out.str();
}

}  // namespace android
