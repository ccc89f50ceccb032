#include "common/ComOwner.h"
#include "common/Owners.h"
#include "session/FileStream.h"
#include "session/SessionFile.h"
#include "SessionFolder.h"
#include "SessionWriter.h"
#include "TempFile.h"

#include <shlobj.h>
#include <shlwapi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

namespace
{
const wchar_t kUnchanged[] = L"unchanged";
const HRESULT kSharingViolation = HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION);

// Header words and records 1 to 5 of a session file, the sixth left to the test.
CSessionWriter SessionStart()
{
    CSessionWriter writer;
    writer.Word(0x12345678).Word(0xFFFFFFFF);
    writer.Text(L"first").Text(L"").Absent().Text(L"x").Text(L"{3E9B6824-12DB-43CA}");
    return writer;
}

std::string SessionWithId(const std::wstring& id)
{
    return SessionStart().Text(id).Data();
}

class SessionFileTest : public SessionFolderTest
{
protected:
    // The result of reading `content` as the session file, and the identifier.
    HRESULT ReadFrom(const std::string& content, std::wstring& id)
    {
        id = kUnchanged;
        if (!StoreFile(m_path, content))
        {
            ADD_FAILURE() << "cannot write the session file";
            return E_UNEXPECTED;
        }
        return ReadSessionId(id);
    }
};

TEST_F(SessionFileTest, AppDataFolderIsTheShellsRoamingFolder)
{
    std::wstring folder = L"before";
    EXPECT_EQ(S_OK, GetAppDataFolder(folder));
    EXPECT_EQ(m_appData, folder);
    EXPECT_EQ(m_path, SessionFilePath(SessionFolderPath(folder)));
}

TEST_F(SessionFileTest, SixthRecordUpToItsFirstNulIsTheIdentifier)
{
    const std::string abcBody = CSessionWriter::Utf16(L"ABC");
    const struct
    {
        const char* name;
        std::string content;
        std::wstring expected;
    } cases[] = {
        {"text", SessionWithId(L"ABC"), L"ABC"},
        {"absent", SessionStart().Absent().Data(), L""},
        {"empty", SessionStart().Text(L"").Data(), L""},
        {"inner NUL", SessionWithId(std::wstring(L"AB\0CD", 5)), L"AB"},
        // An odd last byte is no character.
        {"odd count", SessionStart().Record(7, abcBody.substr(0, 5), 0).Data(), L"AB"},
        {"single byte", SessionStart().Record(3, "C", 0).Data(), L""},
        {"trailing bytes", SessionStart().Text(L"ABC").Bytes("\x01\x00\x00\x00garbage").Data(),
         L"ABC"},
        {"other header and records",
         CSessionWriter()
             .Word(0)
             .Word(0)
             .Absent()
             .Absent()
             .Absent()
             .Absent()
             .Absent()
             .Text(L"ABC")
             .Data(),
         L"ABC"},
    };
    for (const auto& c : cases)
    {
        std::wstring id;
        EXPECT_EQ(S_OK, ReadFrom(c.content, id)) << c.name;
        EXPECT_EQ(c.expected, id) << c.name;
    }
}

TEST_F(SessionFileTest, CountsAreLimitedInEveryRecord)
{
    const std::string fill(0x100000, 'A');
    const struct
    {
        uint32_t count;
        HRESULT expected;
    } cases[] = {
        {1, E_FAIL},
        {0xFFFFF, S_OK},
        {0x100000, S_OK},
        {0x100001, E_ACCESSDENIED},
        {0x80000000, E_ACCESSDENIED},
        {0xFFFFFFFF, E_ACCESSDENIED},
    };
    for (const auto& c : cases)
    {
        // The body fits the count whenever a count is accepted.
        const std::string body = fill.substr(0, c.count > 2 ? c.count - 2 : 0);
        CSessionWriter first;
        first.Word(1).Word(2).Record(c.count, body, 0);
        first.Text(L"2").Text(L"3").Text(L"4").Text(L"5").Text(L"ABC");
        std::wstring id;
        EXPECT_EQ(c.expected, ReadFrom(first.Data(), id)) << "record 1, count " << c.count;
        EXPECT_EQ(SUCCEEDED(c.expected) ? L"ABC" : kUnchanged, id) << c.count;

        EXPECT_EQ(c.expected, ReadFrom(SessionStart().Record(c.count, body, 0).Data(), id))
            << "record 6, count " << c.count;
        if (SUCCEEDED(c.expected))
        {
            // Two bytes make a unit; an odd one is dropped.
            EXPECT_EQ((c.count - 2) / 2, id.size()) << c.count;
            EXPECT_EQ(std::wstring::npos, id.find_first_not_of(L'\x4141'));
        }
        else
        {
            EXPECT_EQ(kUnchanged, id);
        }
    }
}

TEST_F(SessionFileTest, AMalformedRecordFailsTheWholeRead)
{
    const std::string text = CSessionWriter::Utf16(L"ABC");
    const struct
    {
        const char* name;
        std::function<void(CSessionWriter&)> record;
        HRESULT expected;
    } faults[] = {
        {"count 1", [](CSessionWriter& w) { w.Word(1); }, E_FAIL},
        {"terminator 0x0001", [&](CSessionWriter& w) { w.Record(8, text, 0x0001); }, E_FAIL},
        {"terminator 0x0100", [&](CSessionWriter& w) { w.Record(8, text, 0x0100); }, E_FAIL},
        {"terminator 0xFFFF", [&](CSessionWriter& w) { w.Record(8, text, 0xFFFF); }, E_FAIL},
        {"count too large", [&](CSessionWriter& w) { w.Record(0x100001, text, 0); },
         E_ACCESSDENIED},
    };
    for (int bad = 1; bad <= 6; ++bad)
    {
        for (const auto& fault : faults)
        {
            CSessionWriter writer;
            writer.Word(7).Word(8);
            for (int record = 1; record <= 6; ++record)
            {
                if (record == bad)
                {
                    fault.record(writer);
                }
                else
                {
                    writer.Text(L"ABC");
                }
            }
            std::wstring id;
            EXPECT_EQ(fault.expected, ReadFrom(writer.Data(), id))
                << fault.name << " in record " << bad;
            EXPECT_EQ(kUnchanged, id);
        }
    }
}

TEST_F(SessionFileTest, FileEndingBeforeTheSixthTerminatorFails)
{
    const std::string whole = SessionWithId(L"ABC");
    for (size_t length = 0; length < whole.size(); ++length)
    {
        std::wstring id;
        EXPECT_EQ(E_FAIL, ReadFrom(whole.substr(0, length), id)) << length;
        EXPECT_EQ(kUnchanged, id) << length;
    }
    std::wstring id;
    EXPECT_EQ(S_OK, ReadFrom(whole, id));
}

TEST_F(SessionFileTest, MissingFileOrFolderFails)
{
    std::wstring id = kUnchanged;
    EXPECT_EQ(E_FAIL, ReadSessionId(id));
    ASSERT_TRUE(RemoveDirectoryW(m_folder.c_str()));
    m_createdFolder = false;
    EXPECT_EQ(E_FAIL, ReadSessionId(id));
    EXPECT_EQ(kUnchanged, id);
}

TEST_F(SessionFileTest, FileHeldOpenByOthersIsASharingViolation)
{
    const struct
    {
        const char* name;
        DWORD access;
        DWORD share;
        HRESULT expected;
    } holders[] = {
        {"reader sharing nothing", GENERIC_READ, 0, kSharingViolation},
        {"writer sharing everything", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
         kSharingViolation},
        {"reader sharing reading", GENERIC_READ, FILE_SHARE_READ, S_OK},
    };
    ASSERT_TRUE(StoreFile(m_path, SessionWithId(L"ABC")));
    for (const auto& holder : holders)
    {
        CUniqueHFile held(CreateFileW(m_path.c_str(), holder.access, holder.share, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(held) << holder.name;
        std::wstring id = kUnchanged;
        EXPECT_EQ(holder.expected, ReadSessionId(id)) << holder.name;
        EXPECT_EQ(SUCCEEDED(holder.expected) ? L"ABC" : kUnchanged, id) << holder.name;
    }
}

// A shell-folder value saved when the test starts and put back when it ends.
class CSavedValue
{
public:
    CSavedValue(HKEY key, const wchar_t* name) : m_key(key), m_name(name)
    {
        DWORD size = 0;
        m_present = RegQueryValueExW(key, name, nullptr, &m_type, nullptr, &size) == ERROR_SUCCESS;
        if (m_present)
        {
            m_data.resize(size);
            m_present =
                RegQueryValueExW(key, name, nullptr, &m_type, &m_data[0], &size) == ERROR_SUCCESS;
        }
    }
    ~CSavedValue()
    {
        if (m_present)
        {
            RegSetValueExW(m_key, m_name, 0, m_type, m_data.data(),
                           static_cast<DWORD>(m_data.size()));
        }
        else
        {
            RegDeleteValueW(m_key, m_name);
        }
    }
    CSavedValue(const CSavedValue&) = delete;
    CSavedValue& operator=(const CSavedValue&) = delete;

private:
    HKEY m_key;
    const wchar_t* m_name;
    bool m_present = false;
    DWORD m_type = REG_NONE;
    std::basic_string<BYTE> m_data;
};

// When the shell cannot give the application-data folder, or gives one that is
// empty or relative, nothing is read: not even a file planted where a path
// formed from such a folder would point (the current folder is C:\).
TEST_F(SessionFileTest, NoUsableAppDataFolderMeansNoSessionFile)
{
    const std::wstring explorer = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
    const REGSAM access = KEY_QUERY_VALUE | KEY_SET_VALUE;
    CUniqueHKey userFolders;
    CUniqueHKey folders;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExW(HKEY_CURRENT_USER, (explorer + L"User Shell Folders").c_str(), 0,
                            access, userFolders.put()));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExW(HKEY_CURRENT_USER, (explorer + L"Shell Folders").c_str(),
                                           0, access, folders.put()));
    // The shell caches the resolved folder under Shell Folders: both go back.
    const CSavedValue savedUserFolder(userFolders.get(), L"AppData");
    const CSavedValue savedFolder(folders.get(), L"AppData");

    wchar_t previousDirectory[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previousDirectory));
    ASSERT_TRUE(SetCurrentDirectoryW(L"C:\\"));
    // A folder below a file cannot be created.
    const std::wstring blocker = m_folder + L"\\blocker";
    ASSERT_TRUE(StoreFile(blocker, ""));
    const struct
    {
        const char* name;
        std::wstring value;
        std::wstring plantFolder; // below C:\, where a path formed from the value points
        bool lookupFails;         // the shell itself must refuse it
    } cases[] = {
        {"unreachable", blocker + L"\\AppData", L"ZorvikUpdate", true},
        {"empty", L"", L"ZorvikUpdate", false},
        {"relative", L"ZorvikRelative", L"ZorvikRelative\\ZorvikUpdate", false},
    };
    for (const auto& c : cases)
    {
        const std::wstring planted = c.plantFolder + L"\\ZorvikUpdate.session";
        SHCreateDirectoryExW(nullptr, (std::wstring(L"C:\\") + c.plantFolder).c_str(), nullptr);
        const bool stored = StoreFile(planted, SessionWithId(L"PLANTED"));
        const LSTATUS set =
            RegSetValueExW(userFolders.get(), L"AppData", 0, REG_SZ,
                           reinterpret_cast<const BYTE*>(c.value.c_str()),
                           static_cast<DWORD>((c.value.size() + 1) * sizeof(wchar_t)));
        RegDeleteValueW(folders.get(), L"AppData");

        std::wstring folder = kUnchanged;
        const HRESULT folderResult = GetAppDataFolder(folder);
        std::wstring id = kUnchanged;
        const HRESULT readResult = ReadSessionId(id);
        const BOOL plantedVisible = PathFileExistsW(planted.c_str());
        DeleteFileW(planted.c_str());

        EXPECT_TRUE(stored && plantedVisible) << c.name;
        EXPECT_EQ(ERROR_SUCCESS, set) << c.name;
        EXPECT_NE(L"PLANTED", id) << c.name;
        if (c.lookupFails || FAILED(folderResult))
        {
            EXPECT_TRUE(FAILED(folderResult)) << c.name << std::hex << " " << folderResult;
            EXPECT_EQ(kUnchanged, folder) << c.name;
            EXPECT_EQ(folderResult, readResult) << c.name;
            EXPECT_EQ(kUnchanged, id) << c.name;
        }
        else
        {
            // The shell may make the value a full path of its own; it is
            // then used, and it is not where the planted file is.
            EXPECT_TRUE(IsFullFolderPath(folder.c_str())) << c.name;
        }
    }
    RemoveDirectoryW(L"C:\\ZorvikRelative\\ZorvikUpdate");
    RemoveDirectoryW(L"C:\\ZorvikRelative");
    RemoveDirectoryW(L"C:\\ZorvikUpdate");
    SetCurrentDirectoryW(previousDirectory);
    DeleteFileW(blocker.c_str());
}

TEST(FullFolderPath, OnlyADriveRootOrAUncPathCounts)
{
    const struct
    {
        const wchar_t* path;
        bool full;
    } cases[] = {
        {L"C:\\Users\\u\\AppData\\Roaming", true},
        {L"c:/users", true},
        {L"C:\\", true},
        {L"\\\\server\\share\\u", true},
        {L"\\\\?\\C:\\u", true},
        {nullptr, false},
        {L"", false},
        {L"C", false},
        {L"C:", false},
        {L"C:Roaming", false}, // the current folder of drive C
        {L"\\Roaming", false}, // the root of the current drive
        {L"\\\\", false},
        {L"Roaming", false},
        // Drive letters are A to Z in either case, and nothing on either side.
        {L"1:\\x", false},
        {L"@:\\x", false},
        {L"A:\\x", true},
        {L"Z:\\x", true},
        {L"[:\\x", false},
        {L"`:\\x", false},
        {L"a:\\x", true},
        {L"z:\\x", true},
        {L"{:\\x", false},
        {L"\u00e9:\\x", false},
    };
    for (const auto& c : cases)
    {
        EXPECT_EQ(c.full, IsFullFolderPath(c.path)) << (c.path ? c.path : L"(null)");
    }
}

// Records read from a memory stream that can tell and set its position, after
// three bytes of something else.
class CountedStringTest : public ::testing::Test
{
protected:
    static constexpr ULONGLONG kStart = 3;

    void Load(const std::string& record)
    {
        const std::string bytes = "xyz" + record;
        ASSERT_EQ(S_OK, CreateStreamOnHGlobal(nullptr, TRUE, m_stream.put()));
        ASSERT_EQ(S_OK, m_stream->Write(bytes.data(), static_cast<ULONG>(bytes.size()), nullptr));
        SeekTo(kStart);
    }
    void SeekTo(ULONGLONG offset)
    {
        LARGE_INTEGER move;
        move.QuadPart = static_cast<LONGLONG>(offset);
        ASSERT_EQ(S_OK, m_stream->Seek(move, STREAM_SEEK_SET, nullptr));
    }
    ULONGLONG Position()
    {
        LARGE_INTEGER none;
        none.QuadPart = 0;
        ULARGE_INTEGER position;
        position.QuadPart = 0;
        EXPECT_EQ(S_OK, m_stream->Seek(none, STREAM_SEEK_CUR, &position));
        return position.QuadPart;
    }

    CComOwner<IStream> m_stream;
};

TEST_F(CountedStringTest, HolderAndPositionFollowTheOutcome)
{
    const std::string abc = CSessionWriter::Utf16(L"ABC");
    const struct
    {
        const char* name;
        std::string record;
        HRESULT expected;
        const wchar_t* text; // null: no string
        ULONGLONG end;       // the position afterwards, from the record's start
    } cases[] = {
        {"absent", CSessionWriter().Absent().Data(), S_OK, nullptr, 4},
        {"empty", CSessionWriter().Text(L"").Data(), S_OK, L"", 6},
        {"text", CSessionWriter().Text(L"ABC").Data() + "more", S_OK, L"ABC", 12},
        {"short count", std::string("\x02\x00", 2), E_FAIL, nullptr, 0},
        {"count 1", CSessionWriter().Word(1).Data(), E_FAIL, nullptr, 0},
        {"count too large", CSessionWriter().Record(0x100001, abc, 0).Data(), E_ACCESSDENIED,
         nullptr, 0},
        {"short text", CSessionWriter().Word(8).Bytes(abc.substr(0, 5)).Data(), E_FAIL, nullptr, 0},
        {"short terminator", CSessionWriter().Word(8).Bytes(abc + '\0').Data(), E_FAIL, nullptr, 0},
        {"bad terminator", CSessionWriter().Record(8, abc, 0x20).Data(), E_FAIL, nullptr, 0},
    };
    for (const auto& c : cases)
    {
        Load(c.record);
        CUniqueBstr holder(SysAllocString(L"old"));
        EXPECT_EQ(c.expected, ReadCountedString(holder, m_stream.get())) << c.name;
        if (c.text == nullptr)
        {
            EXPECT_FALSE(holder) << c.name;
        }
        else
        {
            ASSERT_TRUE(holder) << c.name;
            EXPECT_EQ(std::wstring(c.text), std::wstring(holder.get(), SysStringLen(holder.get())))
                << c.name;
        }
        EXPECT_EQ(kStart + c.end, Position()) << c.name;
    }
}

TEST_F(CountedStringTest, OddCountKeepsEveryByteInTheString)
{
    Load(CSessionWriter().Record(5, "ABC", 0).Data());
    CUniqueBstr holder;
    ASSERT_EQ(S_OK, ReadCountedString(holder, m_stream.get()));
    EXPECT_EQ(3u, SysStringByteLen(holder.get()));
    EXPECT_EQ(0, std::memcmp("ABC", holder.get(), 3));
}

TEST(CountedString, NullStreamLeavesTheHolderAlone)
{
    CUniqueBstr holder(SysAllocString(L"kept"));
    const BSTR before = holder.get();
    EXPECT_EQ(E_INVALIDARG, ReadCountedString(holder, nullptr));
    EXPECT_EQ(before, holder.get());
}

using CountedStringFileTest = TempFileTest;

TEST_F(CountedStringFileTest, FileStreamFailuresPassThroughWithoutRewinding)
{
    CFileStream neverOpened;
    CUniqueBstr holder(SysAllocString(L"old"));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), ReadCountedString(holder, &neverOpened));
    EXPECT_FALSE(holder);

    const std::string abc = CSessionWriter::Utf16(L"ABC");
    ASSERT_TRUE(StoreFile(m_path, CSessionWriter().Record(8, abc, 7).Data()));
    CFileStream stream;
    ASSERT_EQ(FileOk, stream.File().Open(m_path.c_str()));
    EXPECT_EQ(E_FAIL, ReadCountedString(holder, &stream));
    // The file stream cannot tell its position, so it stays behind the terminator.
    EXPECT_EQ(12u, SetFilePointer(stream.File().Handle(), 0, nullptr, FILE_CURRENT));
    stream.File().Close();
}
} // namespace
