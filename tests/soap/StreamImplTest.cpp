#include "soap/InetStream.h"

#include <gtest/gtest.h>

#include <cstring>

namespace
{
// A heap stream that reports its own destruction.
class CProbeStream final : public CStreamImpl
{
public:
    explicit CProbeStream(bool& destroyed) : m_destroyed(destroyed) {}
    ~CProbeStream() override { m_destroyed = true; }
    HRESULT STDMETHODCALLTYPE Read(void*, ULONG, ULONG*) override { return S_FALSE; }

private:
    bool& m_destroyed;
};

// The count after a balanced AddRef/Release pair.
ULONG CountOf(IUnknown& object)
{
    object.AddRef();
    return object.Release();
}

TEST(StreamImpl, KnownInterfacesShareOnePointerAndAddAReferenceEach)
{
    CInetStream stream;
    IStream* const self = &stream;
    ULONG expected = 1;
    for (const IID* iid : {&IID_IUnknown, &IID_IStream, &IID_ISequentialStream, &IID_IStream})
    {
        void* object = nullptr;
        EXPECT_EQ(S_OK, stream.QueryInterface(*iid, &object));
        EXPECT_EQ(self, object);
        EXPECT_EQ(++expected, CountOf(stream));
    }
    for (ULONG count = expected; count > 1; --count)
    {
        EXPECT_EQ(count - 1, stream.Release());
    }
    // Nowhere to put the pointer: refused, and no reference taken.
    EXPECT_EQ(E_POINTER, stream.QueryInterface(IID_IStream, nullptr));
    EXPECT_EQ(1u, CountOf(stream));
}

TEST(StreamImpl, OtherInterfacesGiveNoInterfaceAndNullWithTheCountUnchanged)
{
    // All 16 bytes count: one bit off at either end of IID_IStream is another interface.
    IID firstByteOff = IID_IStream;
    firstByteOff.Data1 ^= 1;
    IID lastByteOff = IID_IStream;
    lastByteOff.Data4[7] ^= 1;
    CInetStream stream;
    const IID* const others[] = {&firstByteOff, &lastByteOff,        &IID_IDispatch,
                                 &IID_IStorage, &IID_IPersistStream, &IID_IMarshal};
    for (const IID* iid : others)
    {
        void* object = &stream;
        EXPECT_EQ(E_NOINTERFACE, stream.QueryInterface(*iid, &object));
        EXPECT_EQ(nullptr, object);
        EXPECT_EQ(1u, CountOf(stream));
    }
}

TEST(StreamImpl, RefusedOperationsLeaveTheirOutParametersAlone)
{
    CInetStream stream;
    const ULARGE_INTEGER large{{0x11111111, 0x22222222}};
    LARGE_INTEGER move;
    move.QuadPart = 0;
    ULONG written = 7;
    ULARGE_INTEGER position = large;
    ULARGE_INTEGER read = large;
    ULARGE_INTEGER copied = large;
    STATSTG status;
    std::memset(&status, 0xA5, sizeof status);
    STATSTG untouched;
    std::memset(&untouched, 0xA5, sizeof untouched);
    IStream* const marker = reinterpret_cast<IStream*>(&written);
    IStream* clone = marker;

    EXPECT_EQ(E_NOTIMPL, stream.Write("x", 1, &written));
    EXPECT_EQ(E_NOTIMPL, stream.Seek(move, STREAM_SEEK_CUR, &position));
    EXPECT_EQ(E_NOTIMPL, stream.SetSize(large));
    EXPECT_EQ(E_NOTIMPL, stream.CopyTo(&stream, large, &read, &copied));
    EXPECT_EQ(E_NOTIMPL, stream.Commit(STGC_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, stream.Revert());
    EXPECT_EQ(E_NOTIMPL, stream.LockRegion(large, large, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, stream.UnlockRegion(large, large, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, stream.Stat(&status, STATFLAG_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, stream.Clone(&clone));

    EXPECT_EQ(7u, written);
    EXPECT_EQ(large.QuadPart, position.QuadPart);
    EXPECT_EQ(large.QuadPart, read.QuadPart);
    EXPECT_EQ(large.QuadPart, copied.QuadPart);
    EXPECT_EQ(0, std::memcmp(&untouched, &status, sizeof status));
    EXPECT_EQ(marker, clone);
    EXPECT_EQ(1u, CountOf(stream));
}

TEST(StreamImpl, HeapStreamReleasedToZeroRunsItsDestructor)
{
    bool destroyed = false;
    IStream* const stream = new CProbeStream(destroyed);
    EXPECT_EQ(2u, stream->AddRef());
    EXPECT_EQ(1u, stream->Release());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(0u, stream->Release());
    EXPECT_TRUE(destroyed);
}
} // namespace
