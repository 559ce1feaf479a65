// The whole channel in one process: posters, queue, writer thread, file.
// The queue has access bits 0, so this needs root.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "log/log_internal.h"

namespace {

class LogChannel : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (geteuid() != 0)
            return;
        static char dir[] = "/tmp/vorl2547-logc-XXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        path_ = std::string(dir) + "/vorlenfp2547.log";
        setenv("VORL2547_LOG_FILE", path_.c_str(), 1);
        // Keep the writer's echo out of the test output.
        testing::internal::CaptureStdout();
        vllogExec();
    }
    static void TearDownTestSuite()
    {
        if (geteuid() != 0)
            return;
        vllogDrain(2000);
        testing::internal::GetCapturedStdout();
    }
    void SetUp() override
    {
        if (geteuid() != 0)
            GTEST_SKIP() << "the log queue needs root";
    }

    // Everything the file got from offset start on, once the writer has
    // caught up.
    static std::string linesSince(size_t start)
    {
        EXPECT_TRUE(vllogDrain(5000));
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str().substr(start);
    }
    static size_t fileSize()
    {
        vllogDrain(5000);
        std::ifstream in(path_, std::ios::binary | std::ios::ate);
        return in ? static_cast<size_t>(in.tellg()) : 0;
    }

    static std::string path_;
};

std::string LogChannel::path_;

TEST_F(LogChannel, LinesArriveInOrder)
{
    size_t start = fileSize();
    EXPECT_EQ(vllogstr("first"), 0);
    EXPECT_EQ(_vllog("num=%d", 2), 0);
    EXPECT_EQ(vllogE("--rcved: id=%s", "%s%n%x"), 0);
    EXPECT_EQ(linesSince(start), "first\nnum=2\n--rcved: id=%s%n%x\n");
}

TEST_F(LogChannel, LongTextsAreCutTo511Characters)
{
    std::string longText(2000, 'L');
    size_t start = fileSize();
    vllogstr(longText.c_str());
    _vllog("%s", longText.c_str());
    std::string line(VLLOG_TEXT_MAX, 'L');
    EXPECT_EQ(linesSince(start), line + "\n" + line + "\n");
}

TEST_F(LogChannel, RawBytesNeedNoTerminatorAndAreNotOverread)
{
    // Exactly the caller's bytes on the heap, none of them a terminator.
    std::vector<char> bytes(5, 'b');
    std::vector<char> big(600, 'B');
    size_t start = fileSize();
    vllogstrex(bytes.data(), 3);
    vllogstrex(bytes.data(), -7);
    vllogstrex(big.data(), 600);
    vllogstrex(nullptr, 10);
    EXPECT_EQ(linesSince(start), "bbb\n\n" + std::string(VLLOG_TEXT_MAX, 'B') + "\n\n");
}

TEST_F(LogChannel, HexDumpIsPostedLiterally)
{
    const unsigned char data[] = {0x25, 0x73}; // "%s" as bytes
    size_t start = fileSize();
    vllogM("%s", data, 2);
    EXPECT_EQ(linesSince(start), "[%s]\tsize:0002(H:0002)\r\n2573\n");
}

TEST_F(LogChannel, TimestampLine)
{
    size_t start = fileSize();
    vllogtm();
    std::string text = linesSince(start);
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d:\d\d\n)"))) << text;
}

TEST_F(LogChannel, ClearLeavesTheFileAlone)
{
    vllogstr("kept");
    size_t before = fileSize();
    EXPECT_EQ(vllogClr(), 0);
    EXPECT_EQ(fileSize(), before);
}

TEST_F(LogChannel, RemovedFileIsCreatedAnew)
{
    vllogstr("before");
    vllogDrain(5000);
    ASSERT_EQ(unlink(path_.c_str()), 0);
    vllogstr("after");
    EXPECT_EQ(linesSince(0), "after\n");
}

TEST_F(LogChannel, ThreadsNeverMixWithinALine)
{
    size_t start = fileSize();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([t] {
            std::string line(100, static_cast<char>('a' + t));
            for (int i = 0; i < 50; ++i)
                vllogstr(line.c_str());
        });
    for (auto &th : threads)
        th.join();
    std::istringstream lines(linesSince(start));
    std::string line;
    int count = 0;
    while (std::getline(lines, line)) {
        ASSERT_EQ(line.size(), 100u);
        EXPECT_EQ(line.find_first_not_of(line[0]), std::string::npos);
        ++count;
    }
    EXPECT_EQ(count, 200);
}

} // namespace
