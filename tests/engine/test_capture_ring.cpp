// Capture ring: indices, slot states and the two logged anomalies.
#include <gtest/gtest.h>

#include <cstring>

#include "engine/capture_ring.h"
#include "tests/usb/log_capture.h"

namespace {

class CaptureRing : public ::testing::Test {
protected:
    void SetUp() override
    {
        initCapture_Image();
        clearLoggedLines();
    }
    void storeFrameOf(uint8_t fill)
    {
        memset(g_imgbuf, fill, sizeof g_imgbuf);
        setCapture_Image();
    }
};

} // namespace

TEST_F(CaptureRing, ResetFreesEverySlotAndLogsIt)
{
    storeFrameOf(1);
    clearLoggedLines();
    initCapture_Image();
    EXPECT_EQ(g_img_ar_set_index, 0);
    EXPECT_EQ(g_img_ar_get_index, 0);
    for (uint8_t s : g_img_status)
        EXPECT_EQ(s, ST_IMG_FREE);
    EXPECT_TRUE(wasLogged("initCapture_Image g_img_ar_set_index = 0 ----------------------\n"));
}

TEST_F(CaptureRing, StoreTakeReleaseMoveBothIndicesInStep)
{
    storeFrameOf(0x42);
    EXPECT_TRUE(wasLogged("setCapture_Image g_img_ar_set_index = 0 ----------------------\n"));
    clearLoggedLines();
    const uint8_t *slot = getCapture_Image();
    EXPECT_EQ(slot, g_img_arrays);
    EXPECT_EQ(slot[VL_FRAME_SIZE - 1], 0x42);
    EXPECT_TRUE(loggedLines().empty());
    freeCapture_Image();
    EXPECT_EQ(g_img_ar_set_index, 1);
    EXPECT_EQ(g_img_ar_get_index, 1);
    for (uint8_t s : g_img_status)
        EXPECT_EQ(s, ST_IMG_FREE);
}

TEST_F(CaptureRing, EleventhStoreOverwritesSlotZeroAndSaysSo)
{
    for (int i = 0; i < 9; ++i)
        storeFrameOf(static_cast<uint8_t>(i));
    EXPECT_EQ(g_img_ar_set_index, 9);
    storeFrameOf(9);
    EXPECT_EQ(g_img_ar_set_index, 0);
    clearLoggedLines();
    storeFrameOf(10);
    EXPECT_TRUE(wasLogged("g_img_ar_set_index =0 data is override,status =2\n"));
    EXPECT_EQ(g_img_arrays[0], 10);
    EXPECT_EQ(g_img_status[0], ST_IMG_RECV);
}

TEST_F(CaptureRing, TakeWithoutStoreLogsButYieldsSlotZero)
{
    EXPECT_EQ(getCapture_Image(), g_img_arrays);
    EXPECT_TRUE(wasLogged("g_img_ar_get_index =0 data is NOT ST_IMG_RECV\n"));
    freeCapture_Image();
    EXPECT_EQ(g_img_status[0], ST_IMG_FREE);
    EXPECT_EQ(g_img_ar_get_index, 1);
}

TEST_F(CaptureRing, ReadIndexWrapsAfterTenReleases)
{
    for (int i = 0; i < 9; ++i)
        freeCapture_Image();
    EXPECT_EQ(g_img_ar_get_index, 9);
    freeCapture_Image();
    EXPECT_EQ(g_img_ar_get_index, 0);
}
