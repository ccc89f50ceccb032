#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

// Move-only owner of one reference to a COM interface.
template <typename T>
class CComOwner
{
public:
    CComOwner() noexcept = default;
    ~CComOwner() { reset(); }

    CComOwner(CComOwner&& other) noexcept : m_pointer(other.release()) {}
    CComOwner& operator=(CComOwner&& other) noexcept
    {
        if (this != &other)
        {
            reset(other.release());
        }
        return *this;
    }
    CComOwner(const CComOwner&) = delete;
    CComOwner& operator=(const CComOwner&) = delete;

    T* get() const noexcept { return m_pointer; }
    T* operator->() const noexcept { return m_pointer; }
    explicit operator bool() const noexcept { return m_pointer != nullptr; }

    // Takes over a reference the caller already holds.
    void reset(T* pointer = nullptr) noexcept
    {
        T* const old = std::exchange(m_pointer, pointer);
        if (old != nullptr)
        {
            old->Release();
        }
    }

    T* release() noexcept { return std::exchange(m_pointer, nullptr); }

    T** put() noexcept
    {
        reset();
        return &m_pointer;
    }

    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* m_pointer = nullptr;
};

// Initialises COM for the thread and uninitialises it when it ends, but only
// when the initialisation succeeded (S_FALSE counts as success).
class CComApartment
{
public:
    explicit CComApartment(DWORD model) noexcept
        : m_result(CoInitializeEx(/* pvReserved */ nullptr, model))
    {
    }
    ~CComApartment()
    {
        if (SUCCEEDED(m_result))
        {
            CoUninitialize();
        }
    }
    CComApartment(const CComApartment&) = delete;
    CComApartment& operator=(const CComApartment&) = delete;

    HRESULT Result() const noexcept { return m_result; }

private:
    HRESULT m_result;
};
