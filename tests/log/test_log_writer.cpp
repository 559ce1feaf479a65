// What the writer thread puts into the file and onto standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "log/log_internal.h"

namespace {

class LogWriter : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/vorl2547-logw-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        path_ = dir_ + "/vorlenfp2547.log";
    }
    void TearDown() override
    {
        unlink(path_.c_str());
        rmdir(dir_.c_str());
    }
    std::string file() const
    {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    std::string dir_;
    std::string path_;
};

TEST_F(LogWriter, FormatCharactersAreWrittenLiterally)
{
    testing::internal::CaptureStdout();
    vllogWriteLine(path_.c_str(), "--rcved: id=%s%n%x");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "--rcved: id=%s%n%x\n");
    EXPECT_EQ(file(), "--rcved: id=%s%n%x\n");
}

TEST_F(LogWriter, TextEndingInLineFeedGivesAnEmptyLine)
{
    testing::internal::CaptureStdout();
    vllogWriteLine(path_.c_str(), "x\n");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "x\n\n");
    EXPECT_EQ(file(), "x\n\n");
}

TEST_F(LogWriter, MissingDirectoryStillReachesStdout)
{
    std::string missing = dir_ + "/gone/vorlenfp2547.log";
    testing::internal::CaptureStdout();
    vllogWriteLine(missing.c_str(), "still here");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "still here\n");
    EXPECT_NE(access(missing.c_str(), F_OK), 0);
}

// A record whose text fills the field without a terminator is written up to
// the end of the field and no further (ASan watches the heap copy).
TEST_F(LogWriter, UnterminatedRecordStopsAtTheField)
{
    auto *text = new char[VLLOG_RECORD_TEXT];
    memset(text, 'a', VLLOG_RECORD_TEXT);
    testing::internal::CaptureStdout();
    vllogWriteLine(path_.c_str(), text);
    testing::internal::GetCapturedStdout();
    delete[] text;
    EXPECT_EQ(file(), std::string(VLLOG_RECORD_TEXT, 'a') + "\n");
}

// The log names who verified: a new file is not world-readable, whatever
// the umask.
TEST_F(LogWriter, NewFileIsCreatedWithoutWorldAccess)
{
    mode_t old = umask(0);
    testing::internal::CaptureStdout();
    vllogWriteLine(path_.c_str(), "first");
    testing::internal::GetCapturedStdout();
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(path_.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// A client string cannot start a line of its own or drive a terminal, and
// a cut never leaves half an escape.
TEST(LogEscape, ControlCharactersAndBackslashes)
{
    char buf[VLLOG_ESCAPED_SIZE];
    EXPECT_STREQ(vllogEscape("x\n[fake] ok\n\x1b[2J\\", buf, sizeof buf), "x\\n[fake] ok\\n\\x1b[2J\\\\");
    EXPECT_STREQ(vllogEscape("Łódź %s", buf, sizeof buf), "Łódź %s");
    char small[6];
    EXPECT_STREQ(vllogEscape("ab\x01", small, sizeof small), "ab");
    EXPECT_STREQ(vllogEscape(nullptr, small, sizeof small), "");
}

TEST_F(LogWriter, AFileOverTheLimitIsMovedAsideAndTheNextLineStartsAnew)
{
    FILE *f = fopen(path_.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fputs("0123456789", f);
    vllogLimitSize(path_.c_str(), f, 10);
    EXPECT_EQ(access(path_.c_str(), F_OK), 0);
    fputs("x", f);
    vllogLimitSize(path_.c_str(), f, 10);
    fclose(f);
    EXPECT_NE(access(path_.c_str(), F_OK), 0);
    testing::internal::CaptureStdout();
    vllogWriteLine(path_.c_str(), "next");
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(file(), "next\n");
    std::ifstream old(path_ + ".old");
    std::string kept;
    std::getline(old, kept);
    EXPECT_EQ(kept, "0123456789x");
    unlink((path_ + ".old").c_str());
}

} // namespace
