// The growable array shared with the host framework: plain elements, storage
// from the C heap so either side may grow or free it, grown to exactly the
// size needed. A failed allocation leaves the array unchanged and is reported
// by the false result of Realloc, Add and Grow.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <limits>

template <class T>
class CAurexArray {
public:
    CAurexArray() = default;
    CAurexArray(const CAurexArray& other) { *this = other; }
    virtual ~CAurexArray() {
        if (m_data) std::free(m_data);
    }

    std::uint32_t Size() const { return m_count; }
    std::uint32_t Capacity() const { return m_capacity; }
    T* Data() const { return m_data; }
    T& operator[](std::uint32_t i) { return m_data[i]; }
    const T& operator[](std::uint32_t i) const { return m_data[i]; }

    bool Add(const T& value) {
        if (m_count == std::numeric_limits<std::uint32_t>::max()) return false;  // the count cannot grow
        if (m_capacity < m_count + 1 && !Realloc(m_count + 1)) return false;
        ++m_count;
        m_data[m_count - 1] = value;
        return true;
    }

    bool Grow(std::uint32_t newCount) {
        if (m_capacity < newCount && !Realloc(newCount)) return false;
        m_count = newCount;
        return true;
    }

    bool Realloc(std::uint32_t newCapacity) {
        if (newCapacity == 0) {
            m_count = 0;
            m_capacity = 0;
            if (m_data) {
                std::free(m_data);
                m_data = nullptr;
            }
            return true;
        }
        std::size_t bytes = static_cast<std::size_t>(newCapacity) > std::numeric_limits<std::size_t>::max() / sizeof(T)
                                ? std::numeric_limits<std::size_t>::max()
                                : static_cast<std::size_t>(newCapacity) * sizeof(T);
        void* p = m_data ? std::realloc(m_data, bytes) : std::malloc(bytes);
        if (!p) return false;  // the old storage, count and capacity stay as they were
        m_data = static_cast<T*>(p);
        m_capacity = newCapacity;
        return true;
    }

    void Clear(bool freeMemory) {
        m_count = 0;
        if (freeMemory) {
            m_capacity = 0;
            if (m_data) std::free(m_data);
            m_data = nullptr;
        }
    }

    void Free() { Clear(true); }

    void Construct(std::uint32_t index, const T& value) { m_data[index] = value; }
    void Destruct(std::uint32_t) {}

    CAurexArray& operator=(const CAurexArray& other) {
        if (&other == this) return *this;
        if (m_capacity < other.m_count && !Realloc(other.m_count)) return *this;
        m_count = other.m_count;
        for (std::uint32_t i = 0; i < m_count; ++i) m_data[i] = other.m_data[i];
        return *this;
    }

private:
    T* m_data = nullptr;
    std::uint32_t m_count = 0;
    std::uint32_t m_capacity = 0;
};
