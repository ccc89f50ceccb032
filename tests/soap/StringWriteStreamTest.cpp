#include "common/StringError.h"
#include "soap/StringWriteStream.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace
{
TEST(StringWriteStream, AppendsUpToLengthOrZeroByteAndReportsNoCount)
{
    const struct
    {
        const char* text;
        int32_t length;
        const char* expected;
    } cases[] = {
        {"abc", 3, "abc"},        {"def\0ghi", 7, "abcdef"}, // the zero byte ends the text
        {"xyz", 2, "abcdefxy"},                              // the length ends it
        {"xyz", 0, "abcdefxy"},   {nullptr, 5, "abcdefxy"},
        {nullptr, 0, "abcdefxy"}, {"", 4, "abcdefxy"},
    };
    CCStringWriteStream stream;
    IWriteStream& sink = stream;
    for (const auto& c : cases)
    {
        uint32_t written = 0xC0FFEE;
        EXPECT_EQ(S_OK, sink.WriteBytes(c.text, c.length, &written));
        EXPECT_EQ(c.expected, stream.Text());
        EXPECT_EQ(0xC0FFEEu, written);
    }
    EXPECT_EQ(S_OK, sink.WriteBytes("!", 1, nullptr));
    EXPECT_EQ(S_OK, sink.Flush());
    EXPECT_EQ("abcdefxy!", stream.Text());
    stream.Clear();
    EXPECT_EQ("", stream.Text());
}

TEST(StringWriteStream, NegativeLengthRaisesInvalidArgumentAndKeepsTheText)
{
    for (const int32_t length : {-1, INT_MIN})
    {
        CCStringWriteStream stream;
        stream.WriteBytes("keep", 4, nullptr);
        HRESULT raised = S_OK;
        try
        {
            stream.WriteBytes("x", length, nullptr);
        }
        catch (const CStringError& error)
        {
            raised = error.Result();
        }
        EXPECT_EQ(E_INVALIDARG, raised) << length;
        EXPECT_EQ("keep", stream.Text());
    }
}

TEST(StringWriteStream, AppendsItsOwnTextWhileTheStorageMoves)
{
    CCStringWriteStream stream;
    stream.WriteBytes("0123456789", 10, nullptr);
    for (int i = 0; i < 10; ++i)
    {
        const std::string& text = stream.Text();
        stream.WriteBytes(text.data(), static_cast<int32_t>(text.size()), nullptr);
    }
    ASSERT_EQ(10u << 10, stream.Text().size());
    for (size_t offset = 0; offset < stream.Text().size(); offset += 10)
    {
        ASSERT_EQ("0123456789", stream.Text().substr(offset, 10)) << offset;
    }
}
} // namespace
