#include "common/ComOwner.h"
#include "common/Owners.h"
#include "common/UniqueOwner.h"

#include <gtest/gtest.h>

#include <vector>

namespace
{
std::vector<int> g_closed;

struct CountingTraits
{
    using Type = int;
    static Type Empty() noexcept { return -1; }
    static void Close(Type value) noexcept { g_closed.push_back(value); }
};
using CCountingOwner = CUniqueOwner<CountingTraits>;

class UniqueOwner : public ::testing::Test
{
protected:
    void SetUp() override { g_closed.clear(); }
};

TEST_F(UniqueOwner, ReleasesEachValueOnceOnEveryPath)
{
    {
        CCountingOwner owner(1);
        owner.reset(2);                         // releases 1
        CCountingOwner moved(std::move(owner)); // takes 2; owner is empty
        EXPECT_FALSE(owner);
        EXPECT_EQ(2, moved.get());
        CCountingOwner assigned(3);
        assigned = std::move(moved); // releases 3, takes 2
        *assigned.put() = 4;         // releases 2 before handing out the field
        EXPECT_EQ(4, assigned.get());
        CCountingOwner released(5);
        EXPECT_EQ(5, released.release()); // never released by the owner
    }                                     // releases 4
    EXPECT_EQ((std::vector<int>{1, 3, 2, 4}), g_closed);
}

TEST_F(UniqueOwner, EmptyOwnerReleasesNothing)
{
    {
        CCountingOwner owner;
        EXPECT_FALSE(owner);
        owner.reset();
        *owner.put() = -1;
    }
    EXPECT_TRUE(g_closed.empty());
}

TEST(Owners, FileOwnerClosesItsHandleAndEmptiesToInvalidHandleValue)
{
    wchar_t path[MAX_PATH];
    wchar_t dir[MAX_PATH];
    ASSERT_NE(0u, GetTempPathW(MAX_PATH, dir));
    ASSERT_NE(0u, GetTempFileNameW(dir, L"own", 0, path));

    CUniqueHFile file(
        CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(file);
    file.reset();
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.get());
    // Not sharing: the file can be opened exclusively again only if it was closed.
    CUniqueHFile again(
        CreateFileW(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_TRUE(again);
    again.reset();
    EXPECT_TRUE(DeleteFileW(path));
}

TEST(Owners, BstrAndCoTaskMemOwnersFreeTheirMemory)
{
    CUniqueBstr text(SysAllocString(L"abc"));
    ASSERT_TRUE(text);
    EXPECT_EQ(3u, SysStringLen(text.get()));
    text.reset();
    EXPECT_FALSE(text);

    CUniqueCoTaskMem<wchar_t> memory(static_cast<wchar_t*>(CoTaskMemAlloc(16)));
    ASSERT_TRUE(memory);
    memory.reset();
    EXPECT_FALSE(memory);
}

// A minimal COM object that counts its references.
class CCountedUnknown : public IUnknown
{
public:
    ULONG count = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** out) override
    {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count; }
    ULONG STDMETHODCALLTYPE Release() override { return --count; }
};

TEST(ComOwner, ReleasesTheReferenceItHoldsOnce)
{
    CCountedUnknown object;
    object.AddRef();
    {
        CComOwner<IUnknown> owner;
        owner.reset(&object);
        CComOwner<IUnknown> moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(&object, moved.get());
        EXPECT_EQ(2u, object.count);
    }
    EXPECT_EQ(1u, object.count);

    object.AddRef();
    CComOwner<IUnknown> owner;
    owner.reset(&object);
    IUnknown** slot = owner.put();
    EXPECT_EQ(1u, object.count);
    EXPECT_EQ(nullptr, *slot);
}
} // namespace
