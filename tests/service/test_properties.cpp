// Get and GetAll.
#include "tests/service/service_test.h"

namespace {

class Properties : public ServiceTest {
protected:
    Reply get(const char *interface, const char *prop)
    {
        return call(VL_PROPERTIES_INTERFACE, "Get", {interface, prop});
    }
    static int32_t intValue(const Reply &r)
    {
        int32_t v = -99;
        dbus_message_get_args(r.get(), nullptr, DBUS_TYPE_INT32, &v, DBUS_TYPE_INVALID);
        return v;
    }
};

TEST_F(Properties, Constants)
{
    Reply name = get("", "Name");
    const char *s = nullptr;
    ASSERT_EQ(signatureOf(name.get()), "s");
    dbus_message_get_args(name.get(), nullptr, DBUS_TYPE_STRING, &s, DBUS_TYPE_INVALID);
    EXPECT_STREQ(s, "Vorl2547");
    EXPECT_EQ(intValue(get("whatever", "Type")), 2);
    EXPECT_EQ(intValue(get("com.vorlen.fprint", "Capability")), 1);
}

TEST_F(Properties, StateFromClaimAndListing)
{
    g_engine.lstDevResult = -1;
    EXPECT_EQ(intValue(get("", "State")), 0);

    g_engine.lstDevResult = 0;
    g_engine.lstDevCount = 0;
    EXPECT_EQ(intValue(get("", "State")), 0);

    g_engine.lstDevCount = 1;
    EXPECT_EQ(intValue(get("", "State")), 1);

    g_engine.calls.clear();
    m_claimed = 1;
    Reply claimed = get("", "State");
    EXPECT_EQ(signatureOf(claimed.get()), "i");
    EXPECT_EQ(intValue(claimed), 2);
    // No USB listing while claimed.
    EXPECT_TRUE(g_engine.calls.empty());
}

TEST_F(Properties, UnknownNamesGetAnEmptyReturn)
{
    for (const char *prop : {"name", "STATE", "", "Vendor"}) {
        SCOPED_TRACE(prop);
        EXPECT_TRUE(isEmptyReturn(get("", prop)));
    }
}

TEST_F(Properties, GetAllIsEmpty) { EXPECT_TRUE(isEmptyReturn(call(VL_PROPERTIES_INTERFACE, "GetAll", {"x"}))); }

} // namespace
