#include "GuardedMemory.h"

#include <windows.h>

CGuardedMemory::CGuardedMemory(std::size_t bytes)
{
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    const std::size_t page = system.dwPageSize;
    const std::size_t usable = (bytes + page - 1) / page * page;
    m_base = VirtualAlloc(/* lpAddress */ nullptr, usable + page, MEM_RESERVE | MEM_COMMIT,
                          PAGE_READWRITE);
    if (m_base == nullptr)
    {
        return;
    }
    m_end = static_cast<unsigned char*>(m_base) + usable;
    DWORD previous = 0;
    if (!VirtualProtect(m_end, page, PAGE_NOACCESS, &previous))
    {
        VirtualFree(m_base, 0, MEM_RELEASE);
        m_base = nullptr;
        m_end = nullptr;
    }
}

CGuardedMemory::~CGuardedMemory()
{
    if (m_base != nullptr)
    {
        VirtualFree(m_base, 0, MEM_RELEASE);
    }
}
