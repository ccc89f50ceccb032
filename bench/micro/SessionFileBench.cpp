#include "SessionFileBench.h"

#include "MemoryCounters.h"
#include "Output.h"
#include "Stopwatch.h"
#include "common/Owners.h"
#include "session/SessionFile.h"

#include <windows.h>
#include <shlwapi.h>

#include <algorithm>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

namespace
{
constexpr int kMemoryRuns = 10;
constexpr int kRecordCount = 6;
constexpr DWORD kWriteChunkUnits = 32 * 1024;
const wchar_t* const kTypicalTexts[] = {
    L"product", L"1.0", L"en-US", L"x86", L"channel", L"{5D3A9C21-7E4B-4F08-A1C6-92B0E8D4F317}"};

// A session file written record by record; it remembers the size of every
// read the session reader makes on it: two header words, then per record its
// count, its text and its terminator.
class CSessionFileWriter
{
public:
    explicit CSessionFileWriter(const std::wstring& path)
        : m_file(CreateFileW(path.c_str(), GENERIC_WRITE, /* dwShareMode */ 0,
                             /* lpSecurityAttributes */ nullptr, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, /* hTemplateFile */ nullptr))
    {
        if (!m_file)
        {
            Fail("cannot create the session file");
        }
        const DWORD header[2] = {0x5A52, 1};
        Write(header, sizeof header);
        m_reads.push_back(sizeof header);
    }

    void Record(const std::wstring& text)
    {
        const auto bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        Count(bytes + sizeof(wchar_t));
        Write(text.data(), bytes);
        Terminator(bytes);
    }

    // A record of `units` copies of one character, written in chunks.
    void Record(DWORD units, wchar_t fill)
    {
        Count(units * sizeof(wchar_t) + sizeof(wchar_t));
        const std::wstring chunk(kWriteChunkUnits, fill);
        for (DWORD left = units; left > 0;)
        {
            const DWORD now = std::min(left, kWriteChunkUnits);
            Write(chunk.data(), now * sizeof(wchar_t));
            left -= now;
        }
        Terminator(units * sizeof(wchar_t));
    }

    const std::vector<DWORD>& Reads() const noexcept { return m_reads; }

private:
    void Count(DWORD count)
    {
        Write(&count, sizeof count);
        m_reads.push_back(sizeof count);
    }

    void Terminator(DWORD textBytes)
    {
        const wchar_t terminator = L'\0';
        Write(&terminator, sizeof terminator);
        m_reads.push_back(textBytes);
        m_reads.push_back(sizeof terminator);
    }

    void Write(const void* data, DWORD bytes)
    {
        DWORD written = 0;
        if (!WriteFile(m_file.get(), data, bytes, &written, /* lpOverlapped */ nullptr) ||
            written != bytes)
        {
            Fail("cannot write the session file");
        }
    }

    CUniqueHFile m_file;
    std::vector<DWORD> m_reads;
};

struct SessionCase
{
    const char* item;
    std::vector<DWORD> reads;
    size_t identifierLength;
    int callsPerRound;
};

std::wstring SessionFileLocation()
{
    std::wstring appData;
    if (FAILED(GetAppDataFolder(appData)))
    {
        Fail("no application-data folder");
    }
    const std::wstring folder = SessionFolderPath(appData);
    CreateDirectoryW(folder.c_str(), /* lpSecurityAttributes */ nullptr);
    return SessionFilePath(folder);
}

// Six records of the largest legal count, 0x100000 bytes each.
SessionCase WriteLargestFile(const std::wstring& path)
{
    constexpr DWORD kUnits = (kMaxStringRecordBytes - sizeof(wchar_t)) / sizeof(wchar_t);
    CSessionFileWriter writer(path);
    for (int record = 0; record < kRecordCount; ++record)
    {
        writer.Record(kUnits, L'A');
    }
    return SessionCase{"session.largest", writer.Reads(), kUnits, 3};
}

// What the update product leaves: short texts and a GUID.
SessionCase WriteTypicalFile(const std::wstring& path)
{
    CSessionFileWriter writer(path);
    for (const wchar_t* text : kTypicalTexts)
    {
        writer.Record(text);
    }
    return SessionCase{"session.typical", writer.Reads(), wcslen(kTypicalTexts[5]), 50};
}

void ReadIdentifier(const SessionCase& sessionCase)
{
    std::wstring identifier;
    if (FAILED(ReadSessionId(identifier)) || identifier.size() != sessionCase.identifierLength)
    {
        Fail("ReadSessionId did not read the identifier");
    }
}

CUniqueHFile OpenForReading(const std::wstring& path)
{
    CUniqueHFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  /* lpSecurityAttributes */ nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_ATTRIBUTE_NORMAL,
                                  /* hTemplateFile */ nullptr));
    if (!file)
    {
        Fail("cannot open the session file");
    }
    return file;
}

void ReadExactly(HANDLE file, void* buffer, DWORD count)
{
    DWORD read = 0;
    if (!ReadFile(file, buffer, count, &read, /* lpOverlapped */ nullptr) || read != count)
    {
        Fail("a plain read came up short");
    }
}

// The reference: the reader's reads, into one buffer that is already there.
void ReadPlainly(const std::wstring& path, const SessionCase& sessionCase, char* buffer)
{
    const CUniqueHFile file = OpenForReading(path);
    for (const DWORD count : sessionCase.reads)
    {
        ReadExactly(file.get(), buffer, count);
    }
}

// The same reads, each record's text into a string of its own that is
// allocated for it and freed before the next, as the reader's strings are.
void ReadIntoNewStrings(const std::wstring& path, const SessionCase& sessionCase, char* buffer)
{
    const CUniqueHFile file = OpenForReading(path);
    const std::vector<DWORD>& reads = sessionCase.reads;
    ReadExactly(file.get(), buffer, reads[0]);
    // After the header: count, text, terminator for every record.
    for (size_t index = 1; index + 2 < reads.size(); index += 3)
    {
        ReadExactly(file.get(), buffer, reads[index]);
        const CUniqueBstr text(SysAllocStringByteLen(/* psz */ nullptr, reads[index + 1]));
        if (!text)
        {
            Fail("no memory for a record");
        }
        ReadExactly(file.get(), text.get(), reads[index + 1]);
        ReadExactly(file.get(), buffer, reads[index + 2]);
    }
}

// The reader's way to the file before it opens it.
void LookUpFile()
{
    std::wstring appData;
    if (FAILED(GetAppDataFolder(appData)) ||
        !PathFileExistsW(SessionFilePath(SessionFolderPath(appData)).c_str()))
    {
        Fail("the session file was not found");
    }
}

// How much the private bytes grow when a string of the given size is
// allocated without text and before anything is written to it.
SIZE_T PrivateBytesOfNewString(UINT bytes)
{
    const SIZE_T before = PrivateBytes();
    const CUniqueBstr text(SysAllocStringByteLen(/* psz */ nullptr, bytes));
    const SIZE_T after = PrivateBytes();
    if (!text)
    {
        Fail("no memory for a string");
    }
    return after > before ? after - before : 0;
}

struct Side
{
    const char* name;
    std::function<void()> call;
};

void TimeSides(const SessionCase& sessionCase, const std::vector<Side>& sides, int rounds)
{
    const int calls = sessionCase.callsPerRound;
    // Loaded DLLs, the file in the cache and the buffers touched, for all.
    for (const Side& side : sides)
    {
        side.call();
    }
    for (int round = 0; round < rounds; ++round)
    {
        // Each round starts with the next side, so that no side always
        // follows the same other one.
        for (size_t turn = 0; turn < sides.size(); ++turn)
        {
            const Side& side = sides[(static_cast<size_t>(round) + turn) % sides.size()];
            const CStopwatch stopwatch;
            for (int call = 0; call < calls; ++call)
            {
                side.call();
            }
            Emit(sessionCase.item, side.name, "seconds_per_call", round,
                 stopwatch.Seconds() / calls);
        }
    }
}

void TimeSessionCase(const std::wstring& path, const SessionCase& sessionCase, int rounds)
{
    std::vector<char> buffer(*std::max_element(sessionCase.reads.begin(), sessionCase.reads.end()));
    TimeSides(sessionCase,
              {{"ReadSessionId", [&] { ReadIdentifier(sessionCase); }},
               {"ReadFile", [&] { ReadPlainly(path, sessionCase, buffer.data()); }},
               {"ReadFile into new strings",
                [&] { ReadIntoNewStrings(path, sessionCase, buffer.data()); }},
               {"folder lookup", [] { LookUpFile(); }}},
              rounds);
}

void MeasurePeak(const SessionCase& sessionCase)
{
    for (int run = 0; run < kMemoryRuns; ++run)
    {
        std::wstring identifier;
        CPeakSampler sampler;
        const HRESULT result = ReadSessionId(identifier);
        sampler.Stop();
        if (FAILED(result) || identifier.size() != sessionCase.identifierLength)
        {
            Fail("ReadSessionId did not read the identifier");
        }
        Emit(sessionCase.item, "ReadSessionId", "idle_bytes", run,
             static_cast<double>(sampler.First()));
        Emit(sessionCase.item, "ReadSessionId", "peak_bytes", run,
             static_cast<double>(sampler.Peak()));
        Emit(sessionCase.item, "ReadSessionId", "samples", run,
             static_cast<double>(sampler.Samples()));
    }
}
} // namespace

void RunSessionFileBench(int rounds)
{
    const MemoryCounters counters = ReadMemoryCounters();
    Emit("platform", "GetProcessMemoryInfo", "private_usage_reported", 0,
         counters.privateUsage != 0 ? 1 : 0);
    Emit("platform", "GetProcessMemoryInfo", "peak_counter_keeps_peaks", 0,
         PeakCounterKeepsPeaks() ? 1 : 0);
    Emit("platform", "SysAllocStringByteLen", "private_bytes_of_untouched_1mib_string", 0,
         static_cast<double>(PrivateBytesOfNewString(kMaxStringRecordBytes - sizeof(wchar_t))));

    const std::wstring path = SessionFileLocation();
    for (const auto write : {WriteLargestFile, WriteTypicalFile})
    {
        const SessionCase sessionCase = write(path);
        Emit(sessionCase.item, "MicroBench", "calls_per_round", 0, sessionCase.callsPerRound);
        Emit(sessionCase.item, "file", "bytes", 0,
             static_cast<double>(
                 std::accumulate(sessionCase.reads.begin(), sessionCase.reads.end(), 0.0)));
        TimeSessionCase(path, sessionCase, rounds);
        MeasurePeak(sessionCase);
    }
    DeleteFileW(path.c_str());
}
