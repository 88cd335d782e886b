#include "platform/android/RefBase.h"

namespace android {

namespace {
// A count that no real object reaches: tells "never had a strong reference" from "has none".
constexpr int32_t kInitialStrong = 1 << 28;
// The count while the object is being destroyed. A strong reference taken and dropped again
// inside the destructor (handing "this" to an unregister call) then neither reaches 0 again
// nor looks like a first reference, so the object is not deleted twice; promotion fails.
constexpr int32_t kDestroying = 1 << 29;
constexpr uint32_t kFirstIncStrong = 1;
}  // namespace

RefBase::weakref_type::weakref_type(RefBase* base)
    : mStrong(kInitialStrong), mWeak(1), mBase(base) {}

RefBase* RefBase::weakref_type::refBase() const {
    return mBase;
}

void RefBase::weakref_type::incWeak(const void*) {
    mWeak.fetch_add(1, std::memory_order_relaxed);
}

void RefBase::weakref_type::decWeak(const void*) {
    if (mWeak.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

bool RefBase::weakref_type::attemptIncStrong(const void* id) {
    incWeak(id);
    int32_t current = mStrong.load(std::memory_order_relaxed);
    // Only a count above zero may grow: once it reached zero the object is being deleted.
    while (current > 0 && current < kDestroying) {
        if (mStrong.compare_exchange_weak(current, current + 1, std::memory_order_acq_rel,
                                          std::memory_order_relaxed)) {
            break;
        }
    }
    if (current <= 0 || current >= kDestroying) {
        decWeak(id);
        return false;
    }
    if (current == kInitialStrong) {
        mStrong.fetch_sub(kInitialStrong, std::memory_order_acq_rel);
        mBase->onFirstRef();
    }
    return true;
}

int32_t RefBase::weakref_type::getWeakCount() const {
    return mWeak.load(std::memory_order_relaxed) - 1;
}

RefBase::RefBase() : mRefs(new weakref_type(this)) {}

RefBase::~RefBase() {
    // An object deleted by its owner without ever being strongly held: weak references that
    // outlive it must see it as gone.
    int32_t never = kInitialStrong;
    mRefs->mStrong.compare_exchange_strong(never, 0, std::memory_order_acq_rel);
    mRefs->decWeak(this);
}

void RefBase::incStrong(const void* id) const {
    mRefs->incWeak(id);
    const int32_t previous = mRefs->mStrong.fetch_add(1, std::memory_order_relaxed);
    if (previous == kInitialStrong) {
        mRefs->mStrong.fetch_sub(kInitialStrong, std::memory_order_relaxed);
        const_cast<RefBase*>(this)->onFirstRef();
    }
}

void RefBase::decStrong(const void* id) const {
    weakref_type* const refs = mRefs;
    if (refs->mStrong.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        RefBase* self = const_cast<RefBase*>(this);
        self->onLastStrongRef(id);
        refs->mStrong.store(kDestroying, std::memory_order_release);
        delete self;
    }
    refs->decWeak(id);
}

int32_t RefBase::getStrongCount() const {
    const int32_t count = mRefs->mStrong.load(std::memory_order_relaxed);
    return (count == kInitialStrong || count >= kDestroying) ? 0 : count;
}

RefBase::weakref_type* RefBase::createWeak(const void* id) const {
    mRefs->incWeak(id);
    return mRefs;
}

void RefBase::onFirstRef() {}

void RefBase::onLastStrongRef(const void*) {}

bool RefBase::onIncStrongAttempted(uint32_t flags, const void*) {
    return (flags & kFirstIncStrong) != 0;
}

void RefBase::onLastWeakRef(const void*) {}

}  // namespace android
