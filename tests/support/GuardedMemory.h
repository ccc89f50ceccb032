#pragma once

#include <cstddef>

// Memory that ends right before an inaccessible page, so that reading or
// writing even one unit past an object placed at its end stops the process
// instead of passing unseen.
class CGuardedMemory
{
public:
    explicit CGuardedMemory(std::size_t bytes);
    ~CGuardedMemory();
    CGuardedMemory(const CGuardedMemory&) = delete;
    CGuardedMemory& operator=(const CGuardedMemory&) = delete;

    bool Valid() const noexcept { return m_base != nullptr; }

    // Room for `count` objects of T whose last byte is the last accessible
    // one. The page size keeps the end aligned for any T.
    template <typename T>
    T* Tail(std::size_t count) const noexcept
    {
        return reinterpret_cast<T*>(m_end - count * sizeof(T));
    }

private:
    void* m_base = nullptr;
    unsigned char* m_end = nullptr;
};
