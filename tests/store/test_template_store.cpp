#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "engine/drv_state.h"
#include "engine/template_store.h"
#include "engine/vorl2547_drv.h"
#include "store_fixture.h"

namespace {

std::vector<std::string> listFingers(const char *id)
{
    char names[VL_NAME_LIST_SIZE] = {};
    int32_t count = -1;
    EXPECT_EQ(vlLstFp(id, names, &count), 0);
    std::vector<std::string> out;
    for (const char *p = names; count-- > 0; p += std::strlen(p) + 1)
        out.emplace_back(p);
    return out;
}

void saveAs(const char *id, const char *finger, uint8_t fill)
{
    std::memset(m_opFeatureLastMerge, fill, sizeof m_opFeatureLastMerge);
    ASSERT_TRUE(copyName(m_usrname, id));
    ASSERT_TRUE(copyName(m_finger, finger));
    ASSERT_EQ(SaveToMinutiaeFile(), 0);
}

} // namespace

TEST(TemplateNames, RefusesNamesThatCouldEscapeOrAlias)
{
    for (const char *bad : {"", ".", "..", "a/b", "/", "../../tmp/x", "a\nb", "\x1b[2J", "tab\t", "\x7f"})
        EXPECT_FALSE(isSafeName(bad)) << bad;
    EXPECT_FALSE(isSafeName(std::string(64, 'a').c_str())) << "a cut name could alias another";
    for (const char *good : {"alice", "%s%n%x", "right-index", "ü", "...", ".hidden"})
        EXPECT_TRUE(isSafeName(good)) << good;
    EXPECT_TRUE(isSafeName(std::string(63, 'a').c_str()));
}

TEST_F(StoreTest, SaveCreatesPrivateFileAndDirectoryWhateverTheUmask)
{
    mode_t old = umask(0);
    saveAs("alice", "right-index", 0x5A);
    umask(old);
    struct stat st;
    ASSERT_EQ(stat((base / "alice").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    ASSERT_EQ(stat((base / "alice/right-index.Data").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_size, FPALG_TEMPLATE_SIZE);
}

TEST_F(StoreTest, SaveOverAnExistingTemplateReplacesItWholeAndLeavesNoTemporaryFile)
{
    saveAs("alice", "left", 0x11);
    saveAs("alice", "left", 0x22);
    EXPECT_EQ(readFile(base / "alice/left.Data"), std::string(FPALG_TEMPLATE_SIZE, '\x22'));
    EXPECT_EQ(treeOf(base / "alice"), std::vector<std::string>{(base / "alice/left.Data").string()});
}

TEST_F(StoreTest, SaveClearsWhatAnInterruptedSaveOfTheSameFingerLeftBehind)
{
    // A daemon killed between creating its temporary and renaming it.
    writeFile(base / "alice/.left.Data.a1B2c3", 100);
    writeFile(base / "alice/.right.Data.a1B2c3", 100); // another finger's: its own save clears it
    writeFile(base / "alice/.left.Data.notes", 10);    // not a temporary name
    saveAs("alice", "left", 0x33);
    EXPECT_EQ(readFile(base / "alice/left.Data"), std::string(FPALG_TEMPLATE_SIZE, '\x33'));
    EXPECT_FALSE(fs::exists(base / "alice/.left.Data.a1B2c3"));
    EXPECT_TRUE(fs::exists(base / "alice/.right.Data.a1B2c3"));
    EXPECT_TRUE(fs::exists(base / "alice/.left.Data.notes"));
    EXPECT_EQ(listFingers("alice"), std::vector<std::string>{"left"});
}

TEST_F(StoreTest, SaveCreatesTheWholeMissingChain)
{
    fs::remove_all(base);
    saveAs("bob", "thumb", 1);
    struct stat st;
    ASSERT_EQ(stat(base.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_TRUE(fs::exists(base / "bob/thumb.Data"));
}

TEST_F(StoreTest, ListerCountsOnlyRegularTemplateFiles)
{
    fs::path dir = base / "u";
    for (const char *name : {".Data", ".left.Data", "abc", "x.DATA", "x.Data.bak", "x.Data"})
        writeFile(dir / name, 10);
    fs::create_directories(dir / "sub.Data");
    fs::create_symlink(dir / "x.Data", dir / "link.Data");
    char names[256] = {};
    EXPECT_EQ(getSubFile((dir.string() + "/").c_str(), names, 1), 1);
    EXPECT_STREQ(names, "x.Data");

    fs::create_directories(base / ".hidden");
    writeFile(base / "file", 1);
    fs::create_directory_symlink(dir, base / "linkdir");
    EXPECT_EQ(getSubFile(templateBaseDir(), nullptr, 0), 1) << "only the directory u counts";
}

TEST_F(StoreTest, ListerNeverWritesPastItsBufferAndCountsOnlyWhatItWrote)
{
    fs::path dir = base / "many";
    for (int i = 0; i < 20; ++i)
        writeFile(dir / (std::string(40, 'a' + i) + ".Data"), 1);
    char buf[256 + 16];
    std::memset(buf, 0, 256);
    std::memset(buf + 256, 0x7E, 16);
    int count = getSubFile((dir.string() + "/").c_str(), buf, 1, 256);
    EXPECT_EQ(count, 5) << "five 46-byte names fit 256 bytes";
    EXPECT_EQ(std::string(buf + 256, 16), std::string(16, '\x7E'));
    int seen = 0;
    for (const char *p = buf; seen < count; p += std::strlen(p) + 1, ++seen)
        EXPECT_EQ(std::strlen(p), 45u);
    EXPECT_EQ(getSubFile((dir.string() + "/").c_str(), nullptr, 1), 20) << "counting alone sees them all";
    EXPECT_EQ(listFingers("many").size(), 5u);
}

TEST_F(StoreTest, ListFingersOfMissingOrEmptyUserIsEmpty)
{
    EXPECT_TRUE(listFingers("nobody").empty());
    fs::create_directories(base / "empty");
    EXPECT_TRUE(listFingers("empty").empty());
    EXPECT_EQ(vlDelFp("nobody", "x"), -100);
    EXPECT_EQ(vlDelAllFp("nobody"), -100);
    EXPECT_EQ(vlRenameFp("nobody", "x", "y"), -100);
    EXPECT_EQ(vlDelFp("empty", "x"), -1);
    EXPECT_EQ(vlDelAllFp("empty"), -1);
    EXPECT_EQ(vlRenameFp("empty", "x", "y"), -1);
}

TEST_F(StoreTest, DeleteRemovesExactlyTheNamedFinger)
{
    writeFile(base / "u/left.Data", 28000);
    writeFile(base / "u/left.Data.Data", 28000);
    EXPECT_EQ(vlDelFp("u", "left"), 0);
    EXPECT_FALSE(fs::exists(base / "u/left.Data"));
    EXPECT_TRUE(fs::exists(base / "u/left.Data.Data"));
    EXPECT_EQ(vlDelFp("u", "left"), -1);
    EXPECT_EQ(vlDelFp("u", "left.Data"), 0);
    EXPECT_EQ(vlDelFp("u", std::string(59, 'z').c_str()), -1);
}

TEST_F(StoreTest, DeleteAllEmptiesOnlyTemplatesHoweverManyThereAre)
{
    for (int i = 0; i < 12; ++i)
        writeFile(base / "u" / (std::string(50, 'a' + i) + ".Data"), 1);
    writeFile(base / "u/notes.txt", 1);
    EXPECT_EQ(vlDelAllFp("u"), 0);
    EXPECT_EQ(treeOf(base / "u"), std::vector<std::string>{(base / "u/notes.txt").string()});
}

TEST_F(StoreTest, RenameMovesTheTemplateButNeverOverwritesAnother)
{
    saveAs("u", "left", 0x33);
    saveAs("u", "right", 0x44);
    EXPECT_EQ(vlRenameFp("u", "left", "right"), -1);
    EXPECT_EQ(readFile(base / "u/right.Data"), std::string(FPALG_TEMPLATE_SIZE, '\x44'));
    EXPECT_TRUE(fs::exists(base / "u/left.Data"));

    EXPECT_EQ(vlRenameFp("u", "left", "thumb"), 0);
    EXPECT_EQ(readFile(base / "u/thumb.Data"), std::string(FPALG_TEMPLATE_SIZE, '\x33'));
    auto fingers = listFingers("u");
    std::sort(fingers.begin(), fingers.end());
    EXPECT_EQ(fingers, (std::vector<std::string>{"right", "thumb"}));
}

TEST_F(StoreTest, NewFingerNamesStayFindableAndFingersStoredUnderLongNamesStillGo)
{
    // A 59-byte name has no room for ".Data" in 64 bytes; a leading "." is a
    // hidden file the lister skips. Neither may name a new finger.
    const std::string tooLong(VL_FINGER_NAME_MAX + 1, 'n');
    saveAs("u", "f", 1);
    for (const char *bad : {tooLong.c_str(), ".hidden"}) {
        EXPECT_FALSE(isNewFingerName(bad)) << bad;
        EXPECT_EQ(vlRenameFp("u", "f", bad), -1) << bad;
    }
    EXPECT_EQ(vlRenameFp("u", "f", std::string(VL_FINGER_NAME_MAX, 'm').c_str()), 0);
    // Such a finger stored before the rule is still found to be deleted.
    saveAs("u", tooLong.c_str(), 2);
    EXPECT_EQ(vlDelFp("u", tooLong.c_str()), 0);
    EXPECT_EQ(listFingers("u"), std::vector<std::string>{std::string(VL_FINGER_NAME_MAX, 'm')});
}

TEST_F(StoreTest, TraversalNamesTouchNothingOutsideTheStore)
{
    saveAs("victim", "f", 1);
    writeFile(root / "outside.Data", 28000);
    auto before = treeOf(root);
    for (const char *id : {"..", ".", "", "../templates/victim", "/etc", "a/b"}) {
        EXPECT_EQ(vlDelAllFp(id), -1) << id;
        EXPECT_EQ(vlDelFp(id, "f"), -1) << id;
        EXPECT_EQ(vlRenameFp(id, "f", "g"), -1) << id;
        EXPECT_TRUE(listFingers(id).empty()) << id;
    }
    EXPECT_EQ(vlDelFp("victim", "../../outside"), -1);
    EXPECT_EQ(vlRenameFp("victim", "f", "../../escaped"), -1);
    EXPECT_EQ(vlRenameFp("victim", "f", std::string(64, 'n').c_str()), -1);
    EXPECT_EQ(treeOf(root), before);
}
