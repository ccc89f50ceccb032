#include "common/Owners.h"
#include "session/File.h"
#include "session/FileStream.h"
#include "TempFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace
{
class FileTest : public TempFileTest
{
protected:
    static DWORD Position(const CFile& file)
    {
        return SetFilePointer(file.Handle(), 0, nullptr, FILE_CURRENT);
    }
};

TEST(FileErrors, SixErrorsAreFileErrorAndEveryOtherCodeIsOther)
{
    const struct
    {
        DWORD error;
        FileState expected;
    } cases[] = {
        {ERROR_SUCCESS, FileOtherError},
        {ERROR_INVALID_FUNCTION, FileOtherError},
        {ERROR_FILE_NOT_FOUND, FileError},
        {ERROR_PATH_NOT_FOUND, FileOtherError},
        {ERROR_TOO_MANY_OPEN_FILES, FileError},
        {ERROR_ACCESS_DENIED, FileOtherError},
        {ERROR_INVALID_HANDLE, FileError},
        {ERROR_ARENA_TRASHED, FileOtherError},
        {ERROR_BAD_FORMAT, FileOtherError},
        {ERROR_INVALID_ACCESS, FileError},
        {ERROR_INVALID_DATA, FileOtherError},
        {ERROR_GEN_FAILURE, FileOtherError},
        {ERROR_SHARING_VIOLATION, FileError},
        {ERROR_LOCK_VIOLATION, FileOtherError},
        {ERROR_HANDLE_EOF, FileOtherError},
        {ERROR_HANDLE_DISK_FULL, FileError},
        {ERROR_HANDLE_DISK_FULL + 1, FileOtherError},
        {ERROR_DISK_FULL, FileOtherError},
        {0x80070020, FileOtherError},
    };
    for (const auto& c : cases)
    {
        CFile file;
        SetLastError(c.error);
        EXPECT_EQ(c.expected, file.MapLastError()) << c.error;
        EXPECT_EQ(c.expected, file.State()) << c.error;
        EXPECT_EQ(c.error, file.LastError());
    }
}

TEST_F(FileTest, OpensReadsToTheEndAndStopsThere)
{
    CFile file;
    EXPECT_EQ(FileClosed, file.State());
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    EXPECT_EQ(0u, file.LastError());

    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    char buffer[16] = {};
    DWORD transferred = 99;
    EXPECT_EQ(FileOk, file.Read(0, buffer, &transferred));
    EXPECT_EQ(0u, transferred);
    EXPECT_EQ(FileOk, file.Read(6, buffer, &transferred));
    EXPECT_EQ("012345", std::string(buffer, transferred));
    EXPECT_EQ(FileOk, file.Read(1, buffer, nullptr));
    EXPECT_EQ(FileEof, file.Read(10, buffer, &transferred));
    EXPECT_EQ("789", std::string(buffer, transferred));

    // Back at the start, the file would give bytes; a read in FileEof asks it for none.
    ASSERT_EQ(0u, SetFilePointer(file.Handle(), 0, nullptr, FILE_BEGIN));
    transferred = 99;
    EXPECT_EQ(FileEof, file.Read(4, buffer, &transferred));
    EXPECT_EQ(0u, transferred);
    EXPECT_EQ(0u, Position(file));
    EXPECT_EQ(0u, file.LastError());
}

// A file open for reading can be deleted (it goes with its last handle) but
// not written by others.
TEST_F(FileTest, AFileOpenForReadingSharesDeletionNotWriting)
{
    CFile file;
    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    EXPECT_FALSE(CUniqueHFile(CreateFileW(m_path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)));
    EXPECT_TRUE(DeleteFileW(m_path.c_str())) << GetLastError();
    char buffer[4] = {};
    EXPECT_EQ(FileOk, file.Read(4, buffer, nullptr)) << "the open file is still readable";
    EXPECT_EQ(FileClosed, file.Close());
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(m_path.c_str()));
}

TEST_F(FileTest, FailedOpensAreClassified)
{
    const struct
    {
        std::wstring path;
        FileState state;
        DWORD error;
    } cases[] = {
        {m_folder + L"zorvik-missing.bin", FileError, ERROR_FILE_NOT_FOUND},
        {m_folder + L"zorvik-missing\\file.bin", FileOtherError, ERROR_PATH_NOT_FOUND},
        {m_folder, FileOtherError, ERROR_ACCESS_DENIED}, // a folder is not a file to read
    };
    for (const auto& c : cases)
    {
        CFile file;
        EXPECT_EQ(c.state, file.Open(c.path.c_str()));
        EXPECT_EQ(c.state, file.State());
        EXPECT_EQ(c.error, file.LastError());
        EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
        // Nothing is open, yet the state is not FileClosed; closing makes it so.
        EXPECT_EQ(FileClosed, file.Close());
        EXPECT_EQ(c.error, file.LastError());
    }
}

TEST_F(FileTest, OpeningAgainClosesTheFirstHandle)
{
    CFile file;
    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    char buffer[20];
    ASSERT_EQ(FileEof, file.Read(20, buffer, nullptr));
    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    EXPECT_EQ(0u, Position(file));
    EXPECT_EQ(FileClosed, file.Close());
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    EXPECT_TRUE(IsFileClosedEverywhere(m_path));
    EXPECT_EQ(FileClosed, file.Close());
}

TEST_F(FileTest, PlatformFailuresOfReadAndCloseAreRecorded)
{
    CFile file;
    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    const HANDLE handle = file.Handle();
    ASSERT_TRUE(CloseHandle(handle)); // pulled from under the file

    char buffer[4];
    DWORD transferred = 99;
    EXPECT_EQ(FileError, file.Read(4, buffer, &transferred));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INVALID_HANDLE), file.LastError());
    EXPECT_EQ(0u, transferred);
    // A failed file reads nothing further, without asking the platform.
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FileError, file.Read(4, buffer, &transferred));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());

    EXPECT_EQ(FileError, file.Close());
    // The handle is given up: closing again asks the platform nothing, since
    // the old value may by now name another object.
    EXPECT_EQ(INVALID_HANDLE_VALUE, file.Handle());
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(FileClosed, file.Close());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST_F(FileTest, WritesOnlyWhereAllowed)
{
    CFile file;
    DWORD transferred = 99;
    EXPECT_EQ(FileClosed, file.Write(1, "x", &transferred));
    EXPECT_EQ(99u, transferred);

    // Opened for reading: the platform refuses the write.
    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    EXPECT_EQ(FileOk, file.Write(0, "x", &transferred));
    EXPECT_EQ(99u, transferred);
    EXPECT_EQ(FileOtherError, file.Write(1, "x", &transferred));
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), file.LastError());
    EXPECT_EQ(FileOtherError, file.Write(1, "x", &transferred));

    ASSERT_EQ(FileOk, file.Create(m_path.c_str()));
    char buffer[8];
    EXPECT_EQ(FileEof, file.Read(4, buffer, nullptr)); // the created file is empty
    EXPECT_EQ(FileEof, file.Write(0, "abc", &transferred));
    EXPECT_EQ(FileOk, file.Write(3, "abc", &transferred));
    EXPECT_EQ(3u, transferred);
    EXPECT_EQ(FileOk, file.Write(2, "de", nullptr));
    EXPECT_EQ(FileClosed, file.Close());

    ASSERT_EQ(FileOk, file.Open(m_path.c_str()));
    EXPECT_EQ(FileEof, file.Read(8, buffer, &transferred));
    EXPECT_EQ("abcde", std::string(buffer, transferred));
}

TEST_F(FileTest, DestructionClosesTheFile)
{
    auto file = std::make_unique<CFile>();
    ASSERT_EQ(FileOk, file->Open(m_path.c_str()));
    EXPECT_FALSE(IsFileClosedEverywhere(m_path));
    file.reset();
    EXPECT_TRUE(IsFileClosedEverywhere(m_path));
}
} // namespace
