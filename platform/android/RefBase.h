// Strong/weak reference counting of the platform's foundation: RefBase, sp and wp.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace android {

// Lifetime rules kept deliberately simple:
// - the first strong reference calls onFirstRef(); the object is deleted (through its virtual
//   destructor) when the last strong reference goes;
// - an object that never had a strong reference is never deleted by references: its owner
//   deletes it, and weak references to it then fail to promote;
// - the counts block lives as long as the object or any weak reference, whichever is longer.
// onIncStrongAttempted() and onLastWeakRef() exist for source compatibility and are never
// called: objects whose lifetime follows their weak count are not supported.
class RefBase {
public:
    // The counts live in a block of their own so that a weak reference can outlive the
    // object and still answer "is it gone?" when asked to promote.
    class weakref_type {
    public:
        RefBase* refBase() const;
        void incWeak(const void* id);
        void decWeak(const void* id);
        // Takes a strong reference if the object is still alive; false once it is gone.
        bool attemptIncStrong(const void* id);
        // Weak references to a live object, one held by each strong reference included.
        int32_t getWeakCount() const;

    private:
        friend class RefBase;
        explicit weakref_type(RefBase* base);
        std::atomic<int32_t> mStrong;
        // While the object lives it holds one weak count of its own, so the block is freed
        // exactly once: by whichever of the object and its last weak reference goes last.
        std::atomic<int32_t> mWeak;
        RefBase* const mBase;
    };

    void incStrong(const void* id) const;
    void decStrong(const void* id) const;
    int32_t getStrongCount() const;

    weakref_type* createWeak(const void* id) const;
    weakref_type* getWeakRefs() const { return mRefs; }

protected:
    RefBase();
    virtual ~RefBase();

    virtual void onFirstRef();
    virtual void onLastStrongRef(const void* id);
    virtual bool onIncStrongAttempted(uint32_t flags, const void* id);
    virtual void onLastWeakRef(const void* id);

private:
    RefBase(const RefBase&) = delete;
    RefBase& operator=(const RefBase&) = delete;

    weakref_type* const mRefs;
};

template <typename T>
class wp;

template <typename T>
class sp {
public:
    sp() : m_ptr(nullptr) {}
    sp(std::nullptr_t) : m_ptr(nullptr) {}
    sp(T* other) : m_ptr(other) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    sp(const sp<T>& other) : m_ptr(other.m_ptr) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    sp(sp<T>&& other) noexcept : m_ptr(other.m_ptr) { other.m_ptr = nullptr; }
    template <typename U>
    sp(U* other) : m_ptr(other) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    template <typename U>
    sp(const sp<U>& other) : m_ptr(other.get()) {
        if (m_ptr) m_ptr->incStrong(this);
    }
    ~sp() {
        if (m_ptr) m_ptr->decStrong(this);
    }

    sp& operator=(const sp<T>& other) {
        T* p = other.m_ptr;
        if (p) p->incStrong(this);
        if (m_ptr) m_ptr->decStrong(this);
        m_ptr = p;
        return *this;
    }
    sp& operator=(sp<T>&& other) noexcept {
        if (this != &other) {
            if (m_ptr) m_ptr->decStrong(this);
            m_ptr = other.m_ptr;
            other.m_ptr = nullptr;
        }
        return *this;
    }
    sp& operator=(T* other) {
        if (other) other->incStrong(this);
        if (m_ptr) m_ptr->decStrong(this);
        m_ptr = other;
        return *this;
    }
    template <typename U>
    sp& operator=(const sp<U>& other) {
        // Implicit conversion only: a static_cast would let a base pointer be narrowed.
        T* p = other.get();
        return *this = p;
    }

    void clear() {
        if (m_ptr) {
            T* p = m_ptr;
            m_ptr = nullptr;
            p->decStrong(this);
        }
    }

    T& operator*() const { return *m_ptr; }
    T* operator->() const { return m_ptr; }
    T* get() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    // Used by wp::promote(): adopts a strong count that was already taken.
    static sp<T> adopt(T* p) {
        sp<T> s;
        s.m_ptr = p;
        return s;
    }

private:
    template <typename U>
    friend class sp;
    T* m_ptr;
};

template <typename T, typename U>
bool operator==(const sp<T>& a, const sp<U>& b) {
    return a.get() == b.get();
}
template <typename T, typename U>
bool operator!=(const sp<T>& a, const sp<U>& b) {
    return a.get() != b.get();
}
template <typename T>
bool operator==(const sp<T>& a, std::nullptr_t) {
    return a.get() == nullptr;
}
template <typename T>
bool operator!=(const sp<T>& a, std::nullptr_t) {
    return a.get() != nullptr;
}
template <typename T>
bool operator==(std::nullptr_t, const sp<T>& b) {
    return b.get() == nullptr;
}
template <typename T>
bool operator!=(std::nullptr_t, const sp<T>& b) {
    return b.get() != nullptr;
}
template <typename T>
bool operator==(const sp<T>& a, const T* b) {
    return a.get() == b;
}
template <typename T>
bool operator!=(const sp<T>& a, const T* b) {
    return a.get() != b;
}

template <typename T>
class wp {
public:
    wp() : m_ptr(nullptr), m_refs(nullptr) {}
    wp(std::nullptr_t) : wp() {}
    wp(T* other) : m_ptr(other), m_refs(other ? other->createWeak(this) : nullptr) {}
    wp(const sp<T>& other) : wp(other.get()) {}
    wp(const wp<T>& other) : m_ptr(other.m_ptr), m_refs(other.m_refs) {
        if (m_refs) m_refs->incWeak(this);
    }
    wp(wp<T>&& other) noexcept : m_ptr(other.m_ptr), m_refs(other.m_refs) {
        other.m_ptr = nullptr;
        other.m_refs = nullptr;
    }
    ~wp() {
        if (m_refs) m_refs->decWeak(this);
    }

    wp& operator=(const wp<T>& other) {
        if (other.m_refs) other.m_refs->incWeak(this);
        if (m_refs) m_refs->decWeak(this);
        m_ptr = other.m_ptr;
        m_refs = other.m_refs;
        return *this;
    }
    wp& operator=(T* other) {
        RefBase::weakref_type* refs = other ? other->createWeak(this) : nullptr;
        if (m_refs) m_refs->decWeak(this);
        m_ptr = other;
        m_refs = refs;
        return *this;
    }
    wp& operator=(const sp<T>& other) { return *this = other.get(); }

    // A strong reference if the object still lives, null otherwise.
    sp<T> promote() const {
        if (m_ptr && m_refs->attemptIncStrong(this)) return sp<T>::adopt(m_ptr);
        return sp<T>();
    }

    void clear() {
        if (m_refs) m_refs->decWeak(this);
        m_ptr = nullptr;
        m_refs = nullptr;
    }

    T* unsafe_get() const { return m_ptr; }

private:
    T* m_ptr;
    RefBase::weakref_type* m_refs;
};

}  // namespace android
