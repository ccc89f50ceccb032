#include "HandleCount.h"

#include <windows.h>
#include <winternl.h>

#include <vector>

namespace
{
constexpr ULONG kSystemHandleInformation = 16;
constexpr NTSTATUS kStatusInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004L);

struct SystemHandleEntry
{
    ULONG ownerProcessId;
    BYTE objectType;
    BYTE flags;
    USHORT handleValue;
    PVOID object;
    ACCESS_MASK access;
};

struct HandleTable
{
    ULONG count;
    SystemHandleEntry handles[1];
};
} // namespace

size_t CountProcessHandles()
{
    std::vector<BYTE> buffer(1 << 16);
    NTSTATUS status;
    while ((status = NtQuerySystemInformation(
                static_cast<SYSTEM_INFORMATION_CLASS>(kSystemHandleInformation), buffer.data(),
                static_cast<ULONG>(buffer.size()), nullptr)) == kStatusInfoLengthMismatch)
    {
        buffer.resize(buffer.size() * 2);
    }
    if (status < 0)
    {
        return 0;
    }
    const auto* info = reinterpret_cast<const HandleTable*>(buffer.data());
    const DWORD self = GetCurrentProcessId();
    size_t count = 0;
    for (ULONG i = 0; i < info->count; ++i)
    {
        count += info->handles[i].ownerProcessId == self ? 1 : 0;
    }
    return count;
}
