#include "session/FileStream.h"
#include "TempFile.h"

#include <gtest/gtest.h>

#include <string>

namespace
{
LARGE_INTEGER Move(LONGLONG distance)
{
    LARGE_INTEGER move;
    move.QuadPart = distance;
    return move;
}

// A file stream over the temporary file.
class FileStreamTest : public TempFileTest
{
protected:
    void TearDown() override
    {
        m_stream.File().Close();
        TempFileTest::TearDown();
    }

    void Open() { ASSERT_EQ(FileOk, m_stream.File().Open(m_path.c_str())); }
    DWORD Position() const
    {
        return SetFilePointer(m_stream.File().Handle(), 0, nullptr, FILE_CURRENT);
    }

    CFileStream m_stream;
    char m_buffer[16] = {};
};

TEST_F(FileStreamTest, ShortReadGivesItsBytesThenNothingButFalse)
{
    Open();
    ULONG read = 99;
    ASSERT_EQ(S_OK, m_stream.Read(m_buffer, 6, &read));
    EXPECT_EQ("012345", std::string(m_buffer, read));
    ASSERT_EQ(S_OK, m_stream.Read(m_buffer, 10, &read));
    EXPECT_EQ("6789", std::string(m_buffer, read));
    EXPECT_EQ(FileEof, m_stream.File().State());
    for (int again = 0; again < 3; ++again)
    {
        read = 99;
        EXPECT_EQ(S_FALSE, m_stream.Read(m_buffer, 10, &read));
        EXPECT_EQ(0u, read);
    }
}

TEST_F(FileStreamTest, WithoutACountTheFileLayersCountDecides)
{
    Open();
    EXPECT_EQ(S_OK, m_stream.Read(m_buffer, 16, nullptr)); // short, but some bytes
    EXPECT_EQ(S_FALSE, m_stream.Read(m_buffer, 16, nullptr));
}

TEST_F(FileStreamTest, ReadAtTheEndAndZeroByteRead)
{
    Open();
    ULONG read = 99;
    EXPECT_EQ(S_OK, m_stream.Read(m_buffer, 0, &read));
    EXPECT_EQ(0u, read);
    EXPECT_EQ(FileOk, m_stream.File().State());
    ASSERT_EQ(S_OK, m_stream.Read(m_buffer, 10, &read));
    EXPECT_EQ(FileOk, m_stream.File().State());
    EXPECT_EQ(S_FALSE, m_stream.Read(m_buffer, 1, &read));
    EXPECT_EQ(0u, read);
}

TEST_F(FileStreamTest, NullBufferIsRefusedWithoutTouchingTheFile)
{
    Open();
    ULONG read = 99;
    EXPECT_EQ(STG_E_INVALIDPOINTER, m_stream.Read(nullptr, 4, &read));
    EXPECT_EQ(99u, read);
    EXPECT_EQ(FileOk, m_stream.File().State());
    EXPECT_EQ(0u, Position());
}

TEST_F(FileStreamTest, NeverOpenedFileFailsAsAnInvalidHandle)
{
    const HRESULT invalidHandle = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    ULONG count = 99;
    EXPECT_EQ(invalidHandle, m_stream.Read(m_buffer, 4, &count));
    EXPECT_EQ(0u, count);
    count = 99;
    EXPECT_EQ(invalidHandle, m_stream.Write("x", 1, &count));
    EXPECT_EQ(99u, count);
    EXPECT_EQ(FileClosed, m_stream.File().State());
    // The rewind asks the platform, which records the same error.
    EXPECT_EQ(invalidHandle, m_stream.Seek(Move(0), STREAM_SEEK_SET, nullptr));
    EXPECT_EQ(FileError, m_stream.File().State());
}

TEST_F(FileStreamTest, FailuresReportTheRecordedError)
{
    EXPECT_NE(FileOk, m_stream.File().Open((m_path + L".missing").c_str()));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), m_stream.Read(m_buffer, 4, nullptr));

    // A successful open keeps the earlier error; at the end of the file a
    // write of nothing reports it.
    Open();
    ASSERT_EQ(S_OK, m_stream.Read(m_buffer, 16, nullptr));
    ASSERT_EQ(FileEof, m_stream.File().State());
    ULONG count = 99;
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND), m_stream.Write("x", 0, &count));
    EXPECT_EQ(99u, count);
    EXPECT_EQ(E_ACCESSDENIED, m_stream.Write("x", 1, &count)); // opened for reading
    EXPECT_EQ(E_ACCESSDENIED, m_stream.Read(m_buffer, 4, &count));
    EXPECT_EQ(0u, count);
}

TEST_F(FileStreamTest, WritesThroughAWritableFile)
{
    ASSERT_EQ(FileOk, m_stream.File().Create(m_path.c_str()));
    ULONG written = 0;
    EXPECT_EQ(S_OK, m_stream.Write("abc", 3, &written));
    EXPECT_EQ(3u, written);
    EXPECT_EQ(S_OK, m_stream.Write("de", 2, nullptr));
    ASSERT_EQ(S_OK, m_stream.Seek(Move(0), STREAM_SEEK_SET, nullptr));
    ULONG read = 0;
    EXPECT_EQ(S_OK, m_stream.Read(m_buffer, 8, &read));
    EXPECT_EQ("abcde", std::string(m_buffer, read));
    // With nothing failed, writing nothing at the end of the file is S_OK.
    ASSERT_EQ(FileEof, m_stream.File().State());
    written = 99;
    EXPECT_EQ(S_OK, m_stream.Write("x", 0, &written));
    EXPECT_EQ(99u, written);
    EXPECT_EQ(FileEof, m_stream.File().State());
}

TEST_F(FileStreamTest, OnlyThePlainRewindIsAccepted)
{
    Open();
    ASSERT_EQ(S_OK, m_stream.Read(m_buffer, 16, nullptr));
    ASSERT_EQ(FileEof, m_stream.File().State());

    const struct
    {
        LONGLONG move;
        DWORD origin;
        bool askPosition;
    } refused[] = {
        {0, STREAM_SEEK_SET, true},
        {0, STREAM_SEEK_CUR, true}, // the position query
        {0, STREAM_SEEK_CUR, false},
        {0, STREAM_SEEK_END, false},
        {1, STREAM_SEEK_SET, false},
        {-1, STREAM_SEEK_SET, false},
        {0x100000000LL, STREAM_SEEK_SET, false}, // only the high half set
        {0, 3, false},
    };
    for (const auto& r : refused)
    {
        ULARGE_INTEGER position;
        position.QuadPart = 1234;
        EXPECT_EQ(E_INVALIDARG,
                  m_stream.Seek(Move(r.move), r.origin, r.askPosition ? &position : nullptr))
            << r.move << " " << r.origin;
        EXPECT_EQ(1234u, position.QuadPart);
        EXPECT_EQ(10u, Position());
        EXPECT_EQ(FileEof, m_stream.File().State());
    }

    EXPECT_EQ(S_OK, m_stream.Seek(Move(0), STREAM_SEEK_SET, nullptr));
    EXPECT_EQ(0u, Position());
    // The end once reached stays reached.
    ULONG read = 99;
    EXPECT_EQ(S_FALSE, m_stream.Read(m_buffer, 4, &read));
    EXPECT_EQ(0u, read);
}

TEST_F(FileStreamTest, OtherOperationsAreNotImplemented)
{
    Open();
    ULARGE_INTEGER size;
    size.QuadPart = 4;
    STATSTG status{};
    IStream* clone = nullptr;
    EXPECT_EQ(E_NOTIMPL, m_stream.SetSize(size));
    EXPECT_EQ(E_NOTIMPL, m_stream.CopyTo(&m_stream, size, nullptr, nullptr));
    EXPECT_EQ(E_NOTIMPL, m_stream.Commit(STGC_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, m_stream.Revert());
    EXPECT_EQ(E_NOTIMPL, m_stream.LockRegion(size, size, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, m_stream.UnlockRegion(size, size, LOCK_WRITE));
    EXPECT_EQ(E_NOTIMPL, m_stream.Stat(&status, STATFLAG_DEFAULT));
    EXPECT_EQ(E_NOTIMPL, m_stream.Clone(&clone));
    EXPECT_EQ(nullptr, clone);
    EXPECT_EQ(0u, Position());
}

TEST_F(FileStreamTest, StreamClosesItsFileWhenDestroyedOrReleasedToZero)
{
    {
        CFileStream local;
        ASSERT_EQ(FileOk, local.File().Open(m_path.c_str()));
        EXPECT_FALSE(IsFileClosedEverywhere(m_path));
    }
    EXPECT_TRUE(IsFileClosedEverywhere(m_path));

    auto* const heap = new CFileStream;
    ASSERT_EQ(FileOk, heap->File().Open(m_path.c_str()));
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, heap->QueryInterface(IID_IStream, reinterpret_cast<void**>(&stream)));
    heap->Release();
    EXPECT_FALSE(IsFileClosedEverywhere(m_path));
    EXPECT_EQ(0u, stream->Release());
    EXPECT_TRUE(IsFileClosedEverywhere(m_path));
}
} // namespace
