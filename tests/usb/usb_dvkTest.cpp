// The transport: enumeration, connections, report transfers and the order
// of requests and replies.
#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <tuple>

#include "tests/support/UsbTestSupport.h"
#include "usb/USBTimerDevice.h"
#include "usb/usb_dvk.h"
#include "usb/usb_dvk_linux.h"

using usbtest::Config;
using usbtest::Message;
using usbtest::Payload;
using usbtest::Report;
using usbtest::TextReport;
using namespace std::chrono_literals;

using usbtest::kDevice;
using usbtest::Request;

TEST(DeviceIdString, LowerCaseFourDigitHex)
{
    EXPECT_EQ(usb_dvk::System::GetDeviceIDStr(0x04D8, 0x003F), "vid_04d8&pid_003f");
    EXPECT_EQ(usb_dvk::System::GetDeviceIDStr(0xABCD, 0x0012), "vid_abcd&pid_0012");
    EXPECT_EQ(usb_dvk::System::GetDeviceIDStr(0, 0xFFFF), "vid_0000&pid_ffff");
}

using Enumeration = usbtest::PlatformTest<usb_dvk::ModelPlatform>;

TEST_F(Enumeration, ListsPresentDevicesOfThePairAndAppends)
{
    dvk_model::ControllerModel first(Config("A", "1", {0, 0, 0})), second(Config("B", "1", {0, 0, 0}));
    dvk_model::ControllerModel other(Config("C", "1", {0, 0, 0})), gone(Config("D", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw3", first);
    platform.Plug("/dev/hidraw1", other, 0x04D8, 0x0040);
    platform.Plug("/dev/hidraw7", gone);
    platform.Plug("/dev/hidraw2", second);
    gone.SetVanished(true);

    usb_dvk::System system(platform);
    usb_dvk::DeviceList list;
    EXPECT_TRUE(system.GetDeviceList(0x04D8, 0x003F, list));
    EXPECT_FALSE(system.GetLastError());  // ran to its end
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].GetPath(), "/dev/hidraw3");
    EXPECT_EQ(list[1].GetPath(), "/dev/hidraw2");

    // Not cleared first: a second enumeration lists them again.
    EXPECT_TRUE(system.GetDeviceList(0x04D8, 0x003F, list));
    EXPECT_EQ(list.size(), 4u);
}

// The platform layer of this machine, with no controller plugged in.
TEST(NativePlatform, FindsNoControllerAndCannotOpenAMissingPath)
{
    const std::unique_ptr<usb_dvk::Platform> platform = usb_dvk::MakeNativePlatform();
    usb_dvk::System system(*platform);
    usb_dvk::DeviceList list;
    EXPECT_TRUE(system.GetDeviceList(0x04D8, 0x003F, list));
    EXPECT_FALSE(system.GetLastError());  // ran to its end
    EXPECT_TRUE(list.empty());

    usb_dvk::Transfer transfer(*platform);
    const usb_dvk::Device missing = usbtest::ControllerAt("/dev/no-such-hidraw");
    EXPECT_FALSE(transfer.Connect(&missing));
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_EQ(transfer.GetLastError(), std::errc::no_such_file_or_directory);
}

// The hidraw layer's search, over folders laid out as sysfs lays them out.
TEST(HidrawSearch, ListsUsbDevicesOfThePairInNumberOrderAndTellsFailureFromNone)
{
    const std::string root = testing::TempDir() + "hidraw-search";
    std::filesystem::remove_all(root);
    auto device = [&](const std::string& at, const char* uevent) {
        std::filesystem::create_directories(root + at + "/device");
        std::ofstream(root + at + "/device/uevent") << uevent;
    };
    device("/class/hidraw10", "DRIVER=hid-generic\nHID_ID=0003:000004D8:0000003F\nHID_NAME=Dravik\n");
    device("/class/hidraw2", "HID_ID=0003:000004D8:0000003F\n");
    device("/class/hidraw3", "HID_ID=0005:000004D8:0000003F\n");  // Bluetooth: another registry's ids
    device("/class/hidraw4", "HID_ID=0003:000004D8:00000040\n");
    std::filesystem::create_directories(root + "/class/hidraw5");  // gone during the search
    device("/unreadable/hidraw2", "HID_ID=0003:000004D8:0000003F\n");
    std::filesystem::create_directories(root + "/unreadable/hidraw3/device/uevent");  // read: EISDIR
    using usb_dvk::SystemError;
    for (const auto& [folder, error, found] : {std::tuple{"/class", std::error_code(), 2u},
                                               {"/none", std::error_code(), 0u},
                                               {"/class/hidraw2/device/uevent", SystemError(ENOTDIR), 0u},
                                               {"/unreadable", SystemError(EISDIR), 1u}}) {
        const std::unique_ptr<usb_dvk::Platform> platform = usb_dvk::MakeHidrawPlatform(root + folder, "/dev");
        usb_dvk::System system(*platform);
        usb_dvk::DeviceList list;
        EXPECT_EQ(system.GetDeviceList(0x04D8, 0x003F, list), !error) << folder;
        EXPECT_EQ(system.GetLastError(), error) << folder;
        ASSERT_EQ(list.size(), found) << folder;
        if (found == 2u) {
            EXPECT_EQ(list[0].GetPath() + " " + list[1].GetPath(), "/dev/hidraw2 /dev/hidraw10");
        }
    }
}

using TransferOverModel = usbtest::PlatformTest<usb_dvk::ModelPlatform>;

TEST_F(TransferOverModel, ConnectOpensTwoHandlesAndDisconnectClosesThem)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    {
        usb_dvk::Transfer transfer(platform);
        ASSERT_TRUE(transfer.Connect(&kDevice));
        EXPECT_EQ(platform.OpenHandles(), 2);
        // Connecting again closes the old handles first.
        ASSERT_TRUE(transfer.Connect(&kDevice));
        EXPECT_EQ(platform.OpenHandles(), 2);
        transfer.Disconnect();
        EXPECT_FALSE(transfer.IsConnected());
        EXPECT_EQ(platform.OpenHandles(), 0);
        transfer.Disconnect();  // not connected: nothing happens
        ASSERT_TRUE(transfer.Connect(&kDevice));
    }
    // Destruction disconnects.
    EXPECT_EQ(platform.OpenHandles(), 0);
}

TEST_F(TransferOverModel, ConnectToAVanishedDeviceFailsAndLeavesNothingOpen)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    usb_dvk::Transfer transfer(platform);
    ASSERT_TRUE(transfer.Connect(&kDevice));
    model.SetVanished(true);
    EXPECT_FALSE(transfer.Connect(&kDevice));
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_EQ(transfer.GetLastError(), usb_dvk::ModelPlatform::kNotFound);
    EXPECT_EQ(platform.OpenHandles(), 0);

    // The read open failing after the write open closes the write handle.
    model.SetVanished(false);
    platform.SetReadOpenFails("/dev/hidraw0", true);
    EXPECT_FALSE(transfer.Connect(&kDevice));
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_EQ(platform.OpenHandles(), 0);
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());
}

// A device at the path whose vendor or product id differs, alone or both:
// refused before anything is written.
TEST_F(TransferOverModel, ConnectRefusesADeviceWithOtherIds)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    const std::pair<std::uint16_t, std::uint16_t> others[] = {{0x04D8, 0x0040}, {0x04D9, 0x003F}, {0x1050, 0x0407}};
    for (const auto& [vid, pid] : others) {
        SCOPED_TRACE(pid);
        platform.Plug("/dev/hidraw0", model, vid, pid);
        USBTimerDevice controller(platform);
        EXPECT_FALSE(controller.Connect(&kDevice));
        EXPECT_EQ(controller.GetLastError(), usb_dvk::Error::WrongDevice);
        EXPECT_FALSE(controller.SetData(Message(23)));
        EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());
        EXPECT_EQ(platform.OpenHandles(), 0);
        platform.Unplug("/dev/hidraw0");
    }
}

TEST_F(TransferOverModel, SendPutsReportIdZeroInFrontAndReceiveDeliversTheReply)
{
    dvk_model::ControllerModel model(Config("DVK", "2.1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    usb_dvk::Transfer transfer(platform);
    Report data = Request({'I', 'D', 0});
    // Unconnected: nothing written, nothing read, data untouched.
    EXPECT_EQ(transfer.Send64(data.data()), 0);
    Report untouched;
    untouched.fill(0xAA);
    EXPECT_EQ(transfer.Recv64(untouched.data()), 0);
    EXPECT_EQ(untouched[0], 0xAA);
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());

    ASSERT_TRUE(transfer.Connect(&kDevice));
    EXPECT_EQ(transfer.Send64(data.data()), 64);
    Report reply{};
    EXPECT_EQ(transfer.Recv64(reply.data()), 64);
    EXPECT_EQ(reply, TextReport("DVK"));

    // Whatever the payload starts with, the transfer is 65 bytes with id 0.
    Report full;
    full.fill(0xFF);
    EXPECT_EQ(transfer.Send64(full.data()), 64);
    const auto writes = platform.Writes("/dev/hidraw0");
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[1][0], 0);
    EXPECT_EQ(Payload(writes[1]), full);
}

TEST_F(TransferOverModel, ConnectDiscardsReportsWaitingBeforeTheFirstRequest)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    platform.SetReportOnOpen("/dev/hidraw0", TextReport("stale"));
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    EXPECT_EQ(controller.GetDeviceID(), "A");
}

TEST_F(TransferOverModel, AReplyThatComesLateIsAwaitedBeforeAnythingMoreIsSent)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    platform.SetReplyDelay(600ms);
    platform.UseSimulatedTime();
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    const auto start = platform.Now();
    EXPECT_EQ(controller.GetDeviceID(), "");
    EXPECT_EQ(controller.GetLastError(), usb_dvk::Error::Timeout);
    // It waited for the reply for the time limit.
    EXPECT_EQ(platform.Now() - start, usb_dvk::kTransferTimeLimit);

    // The late reply would be taken for the next answer: nothing more is
    // sent while it is due.
    EXPECT_TRUE(controller.IsAwaitingReply());
    platform.SetReplyDelay(0ms);
    EXPECT_EQ(controller.GetVersion(), "");
    EXPECT_FALSE(controller.SetData(Message(23)));
    EXPECT_EQ(platform.Writes("/dev/hidraw0").size(), 1u);
    // Once it has come, it is taken, and the connection is used again.
    platform.AdvanceTime(200ms);
    EXPECT_TRUE(controller.Settle());
    EXPECT_EQ(controller.GetVersion(), "1");
}
