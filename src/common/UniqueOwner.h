#pragma once

#include <utility>

// Move-only owner of one resource whose empty value and release function come
// from Traits (Type, Empty(), Close(Type)). The field is reset before the old
// value is released, so it never holds a released resource.
template <typename Traits>
class CUniqueOwner
{
public:
    using Type = typename Traits::Type;

    CUniqueOwner() noexcept : m_value(Traits::Empty()) {}
    explicit CUniqueOwner(Type value) noexcept : m_value(value) {}
    ~CUniqueOwner() { reset(); }

    CUniqueOwner(CUniqueOwner&& other) noexcept : m_value(other.release()) {}
    CUniqueOwner& operator=(CUniqueOwner&& other) noexcept
    {
        if (this != &other)
        {
            reset(other.release());
        }
        return *this;
    }
    CUniqueOwner(const CUniqueOwner&) = delete;
    CUniqueOwner& operator=(const CUniqueOwner&) = delete;

    Type get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::Empty(); }

    void reset(Type value = Traits::Empty()) noexcept
    {
        const Type old = m_value;
        m_value = value;
        if (old != Traits::Empty())
        {
            Traits::Close(old);
        }
    }

    Type release() noexcept { return std::exchange(m_value, Traits::Empty()); }

    // Releases what is held, then hands out the field as an out-parameter.
    Type* put() noexcept
    {
        reset();
        return &m_value;
    }

private:
    Type m_value;
};
