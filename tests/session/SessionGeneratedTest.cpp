#include "common/Owners.h"
#include "session/SessionFile.h"
#include "HandleCount.h"
#include "SessionFileModel.h"
#include "SessionFolder.h"
#include "SessionWriter.h"
#include "TempFile.h"
#include "TestGenerator.h"
#include "TextDump.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <map>
#include <string>

namespace
{
const wchar_t kUnchanged[] = L"unchanged";

// Mismatches reported in full before a test gives up: one is enough to
// replay, thousands would bury it.
constexpr int kReportedMismatches = 8;

// A record's text: mostly short, now and then long, drawn from every kind of
// UTF-16 unit that could trip a reader (NUL, lone and paired surrogates,
// U+FFFE, U+FFFF, anything else).
std::wstring RandomText(CTestGenerator& generator, std::uint32_t longest)
{
    const std::uint32_t units =
        generator.OneIn(10) ? generator.Below(longest + 1) : generator.Below(24);
    std::wstring text;
    while (text.size() < units)
    {
        // NUL ends the identifier, so it comes seldom enough to leave some
        // identifiers long.
        if (generator.OneIn(24))
        {
            text += L'\0';
            continue;
        }
        switch (generator.Below(7))
        {
        case 0: text += static_cast<wchar_t>(generator.Between(0xD800, 0xDBFF)); break;
        case 1: text += static_cast<wchar_t>(generator.Between(0xDC00, 0xDFFF)); break;
        case 2:
            text += static_cast<wchar_t>(generator.Between(0xD800, 0xDBFF));
            text += static_cast<wchar_t>(generator.Between(0xDC00, 0xDFFF));
            break;
        case 3: text += static_cast<wchar_t>(generator.Between(0xFFFE, 0xFFFF)); break;
        case 4: text += static_cast<wchar_t>(generator.Below(0x10000)); break;
        default: text += static_cast<wchar_t>(generator.Between(0x20, 0x7E)); break;
        }
    }
    text.resize(units);
    return text;
}

// A well-formed record: absent, empty, or text, sometimes with one byte more
// than whole units.
void AppendRandomRecord(CTestGenerator& generator, CSessionWriter& writer, std::uint32_t longest)
{
    switch (generator.Below(8))
    {
    case 0: writer.Absent(); return;
    case 1: writer.Text(L""); return;
    default: break;
    }
    std::string body = CSessionWriter::Utf16(RandomText(generator, longest));
    if (generator.OneIn(4))
    {
        body += static_cast<char>(generator.Below(256));
    }
    writer.Record(static_cast<std::uint32_t>(body.size() + 2), body, 0);
}

std::string RandomBytes(CTestGenerator& generator, std::uint32_t length)
{
    std::string bytes(length, '\0');
    for (char& byte : bytes)
    {
        byte = static_cast<char>(generator.Below(256));
    }
    return bytes;
}

// Two header words and six well-formed records, sometimes with bytes after.
std::string RandomWellFormedFile(CTestGenerator& generator, std::uint32_t longest = 200)
{
    CSessionWriter writer;
    writer.Word(generator.Word()).Word(generator.Word());
    for (int record = 1; record <= 6; ++record)
    {
        AppendRandomRecord(generator, writer, longest);
    }
    if (generator.OneIn(3))
    {
        writer.Bytes(RandomBytes(generator, generator.Below(16)));
    }
    return writer.Data();
}

// Two header words and six records, all well formed but the one at
// `position` (1 to 6), which `writeRecord` writes as it likes.
template <typename WriteRecord>
std::string FileWithRecord(CTestGenerator& generator, int position, WriteRecord writeRecord)
{
    CSessionWriter writer;
    writer.Word(generator.Word()).Word(generator.Word());
    for (int record = 1; record <= 6; ++record)
    {
        if (record == position)
        {
            writeRecord(writer);
        }
        else
        {
            AppendRandomRecord(generator, writer, 40);
        }
    }
    return writer.Data();
}

const char* ResultName(HRESULT result)
{
    switch (result)
    {
    case S_OK: return "S_OK";
    case E_FAIL: return "E_FAIL";
    case E_ACCESSDENIED: return "E_ACCESSDENIED";
    case E_OUTOFMEMORY: return "E_OUTOFMEMORY";
    default: return "other";
    }
}

class SessionGeneratedTest : public SessionFolderTest
{
protected:
    // Reads `content` as the session file through the real reader and holds
    // the outcome against the model. Returns false once too many cases have
    // failed for the rest to add anything.
    bool Check(const std::string& content, const char* kind)
    {
        ++m_checked;
        if (!StoreFile(m_path, content))
        {
            ADD_FAILURE() << "cannot write the session file";
            return false;
        }
        const SessionModelResult expected = ModelSessionFile(content);
        std::wstring id = kUnchanged;
        const HRESULT result = ReadSessionId(id);
        const std::wstring expectedId = SUCCEEDED(expected.result) ? expected.id : kUnchanged;
        if (result != expected.result || id != expectedId)
        {
            ++m_mismatches;
            if (m_mismatches <= kReportedMismatches)
            {
                ADD_FAILURE() << kind << " case " << m_checked << ": read gave 0x" << std::hex
                              << result << " (" << ResultName(result) << "), expected 0x"
                              << expected.result << " (" << ResultName(expected.result)
                              << ")\n  identifier " << DescribeText(id) << "\n  expected   "
                              << DescribeText(expectedId) << "\n  file " << DescribeBytes(content);
            }
        }
        ++m_outcomes[ResultName(result)];
        return m_mismatches < kReportedMismatches;
    }

    void SetUp() override
    {
        SessionFolderTest::SetUp();
        m_started = std::chrono::steady_clock::now();
    }

    void TearDown() override
    {
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - m_started);
        std::string outcomes;
        for (const auto& outcome : m_outcomes)
        {
            outcomes += " " + outcome.first + "=" + std::to_string(outcome.second);
        }
        if (m_checked > 0)
        {
            std::printf("  %zu generated files in %lld ms:%s\n", m_checked,
                        static_cast<long long>(elapsed.count()), outcomes.c_str());
        }
        SessionFolderTest::TearDown();
    }

    CTestGenerator m_generator;
    std::size_t m_checked = 0;
    int m_mismatches = 0;
    std::map<std::string, std::size_t> m_outcomes;
    std::chrono::steady_clock::time_point m_started;
};

TEST_F(SessionGeneratedTest, WellFormedFilesGiveTheSixthRecordsText)
{
    for (int i = 0; i < 8000; ++i)
    {
        const std::string content = RandomWellFormedFile(m_generator);
        // The generator and the model agree on what well formed is.
        ASSERT_EQ(S_OK, ModelSessionFile(content).result) << DescribeBytes(content);
        if (!Check(content, "well-formed"))
        {
            return;
        }
    }
}

TEST_F(SessionGeneratedTest, EveryTruncationOfAWellFormedFileFails)
{
    for (const std::uint32_t longest : {4u, 16u, 40u, 80u, 160u})
    {
        const std::string whole = RandomWellFormedFile(m_generator, longest);
        const std::size_t end = whole.size();
        for (std::size_t length = 0; length <= end; ++length)
        {
            if (!Check(whole.substr(0, length), "truncated"))
            {
                return;
            }
        }
    }
}

TEST_F(SessionGeneratedTest, LargestRecordsInEveryPosition)
{
    // Random text of the largest legal record, which holds a NUL unit here
    // and there, and the same text without any.
    const std::string withNuls = RandomBytes(m_generator, kMaxStringRecordBytes - 2);
    std::string withoutNuls = withNuls;
    for (std::size_t at = 0; at + 1 < withoutNuls.size(); at += 2)
    {
        if (withoutNuls[at] == '\0' && withoutNuls[at + 1] == '\0')
        {
            withoutNuls[at] = 'A';
        }
    }
    const std::string* const texts[] = {&withNuls, &withoutNuls};
    const std::uint32_t counts[] = {kMaxStringRecordBytes - 1, kMaxStringRecordBytes,
                                    kMaxStringRecordBytes + 1};
    for (int position = 1; position <= 6; ++position)
    {
        for (const std::uint32_t count : counts)
        {
            for (const std::string* text : texts)
            {
                const std::string body = text->substr(0, count - 2);
                const std::string content = FileWithRecord(
                    m_generator, position, [&](CSessionWriter& w) { w.Record(count, body, 0); });
                if (!Check(content, "largest") ||
                    !Check(content.substr(0, content.size() - 1), "largest, one byte short"))
                {
                    return;
                }
            }
        }
    }
}

TEST_F(SessionGeneratedTest, RecordCountsAroundTheLimitsInEveryPosition)
{
    const std::uint32_t counts[] = {0, 1, 2, 3, 0x100000, 0x100001, 0x80000000, 0xFFFFFFFF};
    for (int i = 0; i < 4000; ++i)
    {
        std::uint32_t count;
        switch (m_generator.Below(4))
        {
        case 0: count = m_generator.Pick(counts); break;
        case 1: count = m_generator.Word(); break;
        default: count = m_generator.Below(64); break;
        }
        // The body fits the count, or falls short of it, or runs past it.
        const std::uint32_t fitting = count < 2 ? 0 : count - 2;
        std::uint32_t bodyLength = m_generator.Below(64);
        if (fitting <= 256 && m_generator.OneIn(2))
        {
            bodyLength = fitting;
        }
        else if (fitting <= 256 && fitting > 0 && m_generator.OneIn(2))
        {
            bodyLength = fitting - 1;
        }
        const std::string body = RandomBytes(m_generator, bodyLength);
        const int position = static_cast<int>(m_generator.Between(1, 6));
        const std::string content = FileWithRecord(m_generator, position, [&](CSessionWriter& w) {
            w.Word(count).Bytes(body).Bytes(std::string(2, '\0'));
        });
        if (!Check(content, "count"))
        {
            return;
        }
    }
}

TEST_F(SessionGeneratedTest, NonZeroTerminatorsInEveryPosition)
{
    for (int i = 0; i < 2000; ++i)
    {
        const std::string body = CSessionWriter::Utf16(RandomText(m_generator, 40));
        const auto terminator = static_cast<std::uint16_t>(m_generator.Between(1, 0xFFFF));
        const int position = static_cast<int>(m_generator.Between(1, 6));
        const std::string content = FileWithRecord(m_generator, position, [&](CSessionWriter& w) {
            w.Record(static_cast<std::uint32_t>(body.size() + 2), body, terminator);
        });
        if (!Check(content, "terminator"))
        {
            return;
        }
    }
}

TEST_F(SessionGeneratedTest, RandomAndDamagedFiles)
{
    for (int i = 0; i < 4000; ++i)
    {
        // Mostly short, so that the counts in them are sometimes small.
        const std::uint32_t longest = m_generator.OneIn(4) ? 400 : 48;
        std::string content = RandomBytes(m_generator, m_generator.Below(longest));
        if (m_generator.OneIn(2))
        {
            // Small counts are where the structure begins to hold.
            for (std::size_t at = 8; at + 4 <= content.size(); at += 4 + m_generator.Below(12))
            {
                content[at + 1] = content[at + 2] = content[at + 3] = '\0';
            }
        }
        if (!Check(content, "random"))
        {
            return;
        }
    }
    for (int i = 0; i < 4000; ++i)
    {
        std::string content = RandomWellFormedFile(m_generator, 40);
        for (std::uint32_t changes = m_generator.Between(1, 3); changes > 0; --changes)
        {
            const std::uint32_t at = m_generator.Below(static_cast<std::uint32_t>(content.size()));
            content[at] = static_cast<char>(m_generator.Below(256));
        }
        if (!Check(content, "damaged"))
        {
            return;
        }
    }
}

// Every way through the reader, success and failure alike, gives back the
// kernel handles it takes: after a warm-up round (the shell and the file
// system keep a few for good), the process holds as many as before.
TEST_F(SessionGeneratedTest, ReadsOfEveryKindGiveBackTheirHandles)
{
    constexpr std::size_t kRounds = 50;
    const std::string valid = CSessionWriter()
                                  .Word(7)
                                  .Word(8)
                                  .Text(L"one")
                                  .Absent()
                                  .Text(L"")
                                  .Text(L"four")
                                  .Text(L"five")
                                  .Text(L"{3E9B6824-12DB-43CA-983D-B1A32D32F509}")
                                  .Data();
    CSessionWriter largest;
    largest.Word(1).Word(2).Absent().Absent().Absent().Absent().Absent().Record(
        kMaxStringRecordBytes, std::string(kMaxStringRecordBytes - 2, 'A'), 0);
    const struct
    {
        const char* name;
        std::string content; // empty: no file at all
        bool heldUnshared;   // another handle holds the file without sharing
        HRESULT expected;
    } kinds[] = {
        {"valid", valid, false, S_OK},
        {"largest record", largest.Data(), false, S_OK},
        {"missing file", std::string(), false, E_FAIL},
        {"truncated", valid.substr(0, valid.size() - 1), false, E_FAIL},
        {"count 1", CSessionWriter().Word(0).Word(0).Word(1).Data(), false, E_FAIL},
        {"count too large", CSessionWriter().Word(0).Word(0).Word(0x100001).Data(), false,
         E_ACCESSDENIED},
        {"bad terminator", CSessionWriter().Word(0).Word(0).Record(4, "AB", 9).Data(), false,
         E_FAIL},
        {"held unshared", valid, true, HRESULT_FROM_WIN32(ERROR_SHARING_VIOLATION)},
    };
    const auto round = [&]() {
        for (const auto& kind : kinds)
        {
            DeleteFileW(m_path.c_str());
            CUniqueHFile held;
            if (!kind.content.empty())
            {
                ASSERT_TRUE(StoreFile(m_path, kind.content)) << kind.name;
            }
            if (kind.heldUnshared)
            {
                held.reset(CreateFileW(m_path.c_str(), GENERIC_READ, /* dwShareMode */ 0, nullptr,
                                       OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
                ASSERT_TRUE(held) << kind.name;
            }
            std::wstring id = kUnchanged;
            ASSERT_EQ(kind.expected, ReadSessionId(id)) << kind.name;
        }
    };
    round();
    ASSERT_FALSE(HasFatalFailure());
    const std::size_t warm = CountProcessHandles();
    ASSERT_GT(warm, 0u);
    for (std::size_t i = 0; i < kRounds; ++i)
    {
        round();
        ASSERT_FALSE(HasFatalFailure());
    }
    DeleteFileW(m_path.c_str());
    const std::size_t after = CountProcessHandles();
    std::printf("  %zu reads; kernel handles after warm-up %zu, after the reads %zu\n",
                (kRounds + 1) * std::size(kinds), warm, after);
    EXPECT_EQ(warm, after);
}
} // namespace
