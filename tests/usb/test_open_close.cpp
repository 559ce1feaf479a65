// Open, claim and release, through the engine's entry points and the
// transport underneath.
#include <libusb.h>

#include "engine/capture_ring.h"
#include "engine/vorl2547_drv.h"
#include "tests/usb/sim_fixture.h"
#include "usb/vlUsb.h"

using OpenClose = SimBus;

TEST_F(OpenClose, OpenClaimsInterfaceZeroAndCloseReleasesIt)
{
    const int dev = addSensor({1});
    waitListed(1);
    ASSERT_EQ(vlOpenDev(), 0);
    EXPECT_NE(m_dev_handle.load(), nullptr);
    EXPECT_TRUE(testbed().interfaceClaimed(dev));
    EXPECT_EQ(vlCloseDev(), 0);
    EXPECT_EQ(m_dev_handle.load(), nullptr);
    EXPECT_FALSE(testbed().interfaceClaimed(dev));
}

TEST_F(OpenClose, ClosingTwiceReturnsZeroAndTheSecondDoesNothing)
{
    addSensor({1});
    waitListed(1);
    ASSERT_EQ(vlOpenDev(), 0);
    EXPECT_EQ(vlCloseDev(), 0);
    EXPECT_EQ(vlCloseDev(), 0);
    EXPECT_EQ(ssUsbClose(), -1);
    EXPECT_FALSE(wasLogged("Cannot Released Interface!\n"));
}

TEST_F(OpenClose, KernelDriverIsDetachedBeforeTheClaim)
{
    const int dev = addSensor({1}, /*kernelDriver=*/true);
    waitListed(1);
    ASSERT_TRUE(testbed().kernelDriverBound(dev));
    ASSERT_EQ(vlOpenDev(), 0);
    EXPECT_FALSE(testbed().kernelDriverBound(dev));
    EXPECT_TRUE(testbed().interfaceClaimed(dev));
}

TEST_F(OpenClose, InterfaceHeldElsewhereFailsTheOpenAndLeavesNothingOpen)
{
    addSensor({1});
    waitListed(1);
    libusb_context *other = nullptr;
    ASSERT_EQ(libusb_init(&other), 0);
    libusb_device_handle *holder = libusb_open_device_with_vid_pid(other, 0x2541, 0x2547);
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(libusb_claim_interface(holder, 0), 0);

    EXPECT_EQ(ssUsbOpen(), -6);
    EXPECT_EQ(m_dev_handle.load(), nullptr);
    EXPECT_TRUE(wasLogged("Cannot Claim Interface\n"));
    EXPECT_TRUE(wasLogged("Cannot Released Interface!\n"));
    EXPECT_EQ(vlOpenDev(), -2);

    libusb_release_interface(holder, 0);
    libusb_close(holder);
    libusb_exit(other);
    EXPECT_EQ(vlOpenDev(), 0);
}

TEST_F(OpenClose, ReopeningAnOpenSensorResetsTheRingAndClaimsAgain)
{
    const int dev = addSensor({1});
    waitListed(1);
    ASSERT_EQ(vlOpenDev(), 0);
    setCapture_Image();
    ASSERT_EQ(g_img_ar_set_index, 1);
    ASSERT_EQ(vlOpenDev(), 0);
    EXPECT_EQ(g_img_ar_set_index, 0);
    EXPECT_EQ(g_img_status[0], ST_IMG_FREE);
    EXPECT_TRUE(testbed().interfaceClaimed(dev));
    EXPECT_NE(m_dev_handle.load(), nullptr);
}

TEST_F(OpenClose, OpenAfterUnplugFailsAndWorksAgainAfterReplug)
{
    const int dev = addSensor({1});
    waitListed(1);
    testbed().unplug(dev);
    waitListed(0);
    EXPECT_EQ(vlOpenDev(), -2);
    EXPECT_TRUE(wasLogged("Cannot open device\n"));
    testbed().replug(dev);
    waitListed(1);
    EXPECT_EQ(vlOpenDev(), 0);
}

TEST(UsbTimeout, ZeroMeansTheDefault)
{
    ssUsbTimeout(500);
    EXPECT_EQ(m_msWait.load(), 500);
    ssUsbTimeout(0);
    EXPECT_EQ(m_msWait.load(), 3000);
    EXPECT_EQ(ssUsbGetStat(), 0);
}
