// ListFingers: the reply's element type and a bounded walk of the name list.
#include <string>

#include "engine/vorl2547_drv.h"
#include "tests/service/service_test.h"

namespace {

class ListFingers : public ServiceTest {
protected:
    std::vector<std::string> names(const Reply &r)
    {
        std::vector<std::string> out;
        DBusMessageIter it, sub;
        if (!dbus_message_iter_init(r.get(), &it))
            return out;
        dbus_message_iter_recurse(&it, &sub);
        while (dbus_message_iter_get_arg_type(&sub) == DBUS_TYPE_STRING) {
            const char *s;
            dbus_message_iter_get_basic(&sub, &s);
            out.emplace_back(s);
            dbus_message_iter_next(&sub);
        }
        return out;
    }
};

TEST_F(ListFingers, NoFingersIsAnEmptyDictionaryArray)
{
    Reply r = method("ListFingers", {"alice"});
    EXPECT_EQ(signatureOf(r.get()), "a{ss}");
    EXPECT_TRUE(names(r).empty());
}

TEST_F(ListFingers, NamesInStoreOrder)
{
    g_engine.nameList = std::string("thumb\0index\0", 12);
    g_engine.listCount = 2;
    Reply r = method("ListFingers", {"alice"});
    EXPECT_EQ(signatureOf(r.get()), "as");
    EXPECT_EQ(names(r), (std::vector<std::string>{"thumb", "index"}));
    EXPECT_EQ(g_engine.calls, std::vector<std::string>{"vlLstFp alice"});
}

TEST_F(ListFingers, ListerFailure)
{
    g_engine.lstFpResult = -100;
    Reply r = method("ListFingers", {"alice"});
    EXPECT_EQ(errorName(r.get()), FAILED);
    EXPECT_EQ(errorText(r.get()), "ListFingers fail.");
}

// A count larger than the names present, or a list filling the whole buffer
// without a terminator, must not walk past the 256 bytes.
TEST_F(ListFingers, CountBeyondTheBufferStopsAtItsEnd)
{
    g_engine.nameList = std::string(VL_NAME_LIST_SIZE, 'n');
    g_engine.listCount = 50;
    Reply r = method("ListFingers", {"alice"});
    EXPECT_EQ(signatureOf(r.get()), "as");
    EXPECT_TRUE(names(r).empty());

    g_engine.nameList = std::string("a\0b\0", 4);
    g_engine.listCount = 1000;
    r = method("ListFingers", {"alice"});
    // The rest of the zeroed buffer reads as empty names, up to its end.
    std::vector<std::string> got = names(r);
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[0], "a");
    EXPECT_EQ(got[1], "b");
    EXPECT_LE(got.size(), static_cast<size_t>(VL_NAME_LIST_SIZE));
}

// A file name that is not UTF-8 is left out rather than crash the daemon.
TEST_F(ListFingers, NameThatIsNotUtf8IsLeftOut)
{
    g_engine.nameList = std::string("ok\0bad\xff\0", 8);
    g_engine.listCount = 2;
    Reply r = method("ListFingers", {"alice"});
    EXPECT_EQ(names(r), std::vector<std::string>{"ok"});
}

} // namespace
