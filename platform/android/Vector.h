// The platform's Vector, reduced to what the daemon and the bus client use.
#pragma once

#include <cstddef>
#include <vector>

namespace android {

template <typename T>
class Vector {
public:
    size_t size() const { return mItems.size(); }
    bool isEmpty() const { return mItems.empty(); }
    ssize_t add(const T& item) {
        mItems.push_back(item);
        return static_cast<ssize_t>(mItems.size() - 1);
    }
    ssize_t push_back(const T& item) { return add(item); }
    const T& itemAt(size_t index) const { return mItems[index]; }
    const T& operator[](size_t index) const { return mItems[index]; }
    T& editItemAt(size_t index) { return mItems[index]; }
    void clear() { mItems.clear(); }
    const T* array() const { return mItems.data(); }
    typename std::vector<T>::const_iterator begin() const { return mItems.begin(); }
    typename std::vector<T>::const_iterator end() const { return mItems.end(); }

private:
    std::vector<T> mItems;
};

}  // namespace android
