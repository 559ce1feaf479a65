// The hex dump text of vllogM.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "log/log_internal.h"

static std::string dump(const char *caption, const void *data, uint32_t size)
{
    char out[VLLOG_RECORD_TEXT];
    vllogFormatDump(out, caption, data, size);
    return out;
}

TEST(LogDump, CaptionHeaderThenPairsOfBytes)
{
    const unsigned char data[] = {0x01, 0x02, 0x03};
    EXPECT_EQ(dump("frame", data, 3), "[frame]\tsize:0003(H:0003)\r\n010203");
}

TEST(LogDump, SecondHalfOfALineAfterOneSpace)
{
    std::vector<unsigned char> data(17);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(0xA0 + i);
    EXPECT_EQ(dump(nullptr, data.data(), 17), "\r\nA0A1A2A3A4A5A6A7A8A9AAABACADAEAF B0");
}

TEST(LogDump, FullLinesStartWithCarriageReturnLineFeed)
{
    std::vector<unsigned char> data(40, 0xFF);
    std::string text = dump(nullptr, data.data(), 40);
    EXPECT_EQ(text, "\r\n" + std::string(32, 'F') + " " + std::string(32, 'F') + "\r\n" + std::string(16, 'F'));
}

TEST(LogDump, EmptyWithoutCaptionAndSize0) { EXPECT_EQ(dump(nullptr, "abc", 0), ""); }

TEST(LogDump, SizeIsShownAsItsLow16Bits)
{
    EXPECT_EQ(dump("x", nullptr, 0x12345), "[x]\tsize:9029(H:2345)\nWARRYINT too SIZE, ONLY show 2.5K\r\n");
}

// A large buffer: warning first, dump from the first byte, cut at the record
// limit, and never a read past the caller's bytes (ASan watches the heap
// buffer of exactly 300 bytes).
TEST(LogDump, LargeBufferIsWarnedAndCut)
{
    std::vector<unsigned char> data(300, 0x5A);
    std::string text = dump("big", data.data(), 300);
    const std::string head = "[big]\tsize:0300(H:012C)\nWARRYINT too SIZE, ONLY show 2.5K\r\n\r\n5A5A";
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.size(), static_cast<size_t>(VLLOG_TEXT_MAX));
}

TEST(LogDump, OddSizedBufferIsNotOverread)
{
    auto *data = new unsigned char[5]{1, 2, 3, 4, 5};
    EXPECT_EQ(dump(nullptr, data, 5), "\r\n0102030405");
    delete[] data;
}

TEST(LogDump, OverlongCaptionStaysInItsScratchBuffer)
{
    std::string caption(300, 'c');
    std::string text = dump(caption.c_str(), "\x01", 1);
    // The header is cut to the 127 characters the scratch buffer holds.
    EXPECT_EQ(text, "[" + std::string(126, 'c') + "\r\n01");
}
