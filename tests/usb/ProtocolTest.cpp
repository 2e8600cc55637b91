// The transport and the controller protocol: request bytes, replies, the
// acknowledgement rule, the splitting of messages into pieces, failures, and
// the clock text.
#include <chrono>

#include <gtest/gtest.h>

#include "TimeText.h"
#include "USBTimerDevice.h"
#include "UsbTestSupport.h"

using usbtest::Config;
using usbtest::Message;
using usbtest::Payload;
using usbtest::Report;
using usbtest::TextReport;
using namespace std::chrono_literals;

namespace {

// A request report: the bytes given, the rest zero.
Report Request(std::initializer_list<unsigned char> bytes)
{
    Report report{};
    std::copy(bytes.begin(), bytes.end(), report.begin());
    return report;
}

const usb_dvk::Device kDevice = usbtest::ControllerAt("/dev/hidraw0");

}  // namespace

TEST(TimeText, ExamplesOfTheClockAndDurationForms)
{
    EXPECT_EQ(TimeText(0, 0).GetText(0), "00:00:00");
    EXPECT_EQ(TimeText(3723500, 0).GetText(0), "01:02:03.5");
    EXPECT_EQ(TimeText(90061000, 0).GetText(0), "1d 01:01:01");
    EXPECT_EQ(TimeText(30600000, 0x7C).GetText(0), "MTuWThF 08:30:00");
    EXPECT_EQ(TimeText(45296000, 0xFE).GetText(0), "Everyday 12:34:56");
    EXPECT_EQ(TimeText(25509000, 0x82).GetText(0), "SuSa 07:05:09");
}

TEST(TimeText, SecondsFieldsAndDayTexts)
{
    // Whole seconds below 10 get a leading zero, fractional ones keep their fraction.
    EXPECT_EQ(TimeText(5000, 0).GetText(0), "00:00:05");
    EXPECT_EQ(TimeText(3500, 0).GetText(0), "00:00:03.5");
    EXPECT_EQ(TimeText(61250, 0).GetText(0), "00:01:01.25");
    EXPECT_EQ(TimeText(59999, 0x02).GetText(0), "Su 00:00:59.999");
    // Days in the duration form, with hours and minutes of zero.
    EXPECT_EQ(TimeText(86400000 + 5000, 0).GetText(0), "1d 00:00:05");
    // The clock form keeps hours beyond a day.
    EXPECT_EQ(TimeText(131071000, 0xFE).GetText(0), "Everyday 36:24:31");
    // Days not all set are listed in week order, without separators.
    EXPECT_EQ(TimeText(0, 0x80 | 0x10 | 0x02).GetText(0), "SuWSa 00:00:00");
    EXPECT_EQ(TimeText(0, 0x7E).GetText(0), "SuMTuWThF 00:00:00");
    // Any other format leaves the day text out.
    EXPECT_EQ(TimeText(30600000, 0x7C).GetText(1), "08:30:00");
}

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
    usb_dvk::System system;
    usb_dvk::DeviceList list;
    EXPECT_TRUE(system.GetDeviceList(0x04D8, 0x003F, list));
    EXPECT_FALSE(system.GetLastError());  // ran to its end
    EXPECT_TRUE(list.empty());

    usb_dvk::Transfer transfer;
    const usb_dvk::Device missing = usbtest::ControllerAt("/dev/no-such-hidraw");
    EXPECT_FALSE(transfer.Connect(&missing));
    EXPECT_FALSE(transfer.IsConnected());
    EXPECT_EQ(transfer.GetLastError(), std::errc::no_such_file_or_directory);
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

using Queries = usbtest::PlatformTest<usbtest::ScriptedPlatform>;

TEST_F(Queries, RequestBytesAndReplyTexts)
{
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    platform.Answer(TextReport("DVK-38417"));
    platform.Answer(TextReport("1.2"));
    platform.Answer(Request({0x7C, 0x77, 0x88}));
    EXPECT_EQ(controller.GetDeviceID(), "DVK-38417");
    EXPECT_EQ(controller.GetVersion(), "1.2");
    EXPECT_EQ(controller.GetTimeStr(), "MTuWThF 08:30:00");

    ASSERT_EQ(platform.writes.size(), 3u);
    for (const auto& write : platform.writes)
        EXPECT_EQ(write[0], 0);
    EXPECT_EQ(Payload(platform.writes[0]), Request({0x49, 0x44, 0x00}));
    EXPECT_EQ(Payload(platform.writes[1]), Request({0x56, 0x45, 0x52, 0x00}));
    EXPECT_EQ(Payload(platform.writes[2]), Request({0x47, 0x45, 0x54, 0x54, 0x49, 0x4D, 0x45, 0x00}));
}

TEST_F(Queries, TextEndsAtTheFirstZeroOrAfter64Bytes)
{
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    Report withTail = TextReport("AB");
    withTail[3] = 'Z';  // after the terminating zero: not part of the text
    platform.Answer(withTail);
    Report noZero;
    noZero.fill('x');
    platform.Answer(noZero);
    platform.Answer(Report{});
    EXPECT_EQ(controller.GetDeviceID(), "AB");
    EXPECT_EQ(controller.GetVersion(), std::string(64, 'x'));
    EXPECT_EQ(controller.GetDeviceID(), "");
}

TEST_F(Queries, ClockReplies)
{
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    for (const Report& reply : {Request({0xFF, 0xFF, 0xFF}), Request({0x00, 0x12, 0x34}), Request({0x01, 0xFF, 0xFF}),
                                Request({0xFE, 0x00, 0x05})})
        platform.Answer(reply);
    EXPECT_EQ(controller.GetTimeStr(), "Everyday 36:24:31");
    // Day mask 0: the empty text, whatever the seconds.
    EXPECT_EQ(controller.GetTimeStr(), "");
    EXPECT_EQ(controller.GetTimeStr(), "");
    EXPECT_EQ(controller.GetTimeStr(), "Everyday 00:00:05");
}

TEST_F(Queries, ShortWritesAndReadsGiveEmptyTextsAndError)
{
    USBTimerDevice controller(platform);
    // Not connected: no transfer at all.
    EXPECT_EQ(controller.GetDeviceID(), "");
    EXPECT_EQ(controller.GetTimeStr(), "Error");
    EXPECT_TRUE(platform.writes.empty());

    ASSERT_TRUE(controller.Connect(&kDevice));
    // A short write: no read is attempted.
    platform.writeCount = 33;
    platform.Answer(TextReport("unread"));
    EXPECT_EQ(controller.GetDeviceID(), "");
    EXPECT_EQ(controller.GetVersion(), "");
    EXPECT_EQ(controller.GetTimeStr(), "Error");
    EXPECT_EQ(platform.reads, 0);
    EXPECT_EQ(platform.writes.size(), 3u);

    // A failed write (nothing written) counts -1.
    platform.writeCount = 0;
    const Report request = Request({'I', 'D', 0});
    EXPECT_EQ(controller.Send64(request.data()), -1);

    // Short reads, and a read that gets nothing.
    platform.writeCount = 65;
    platform.replies.clear();
    platform.Answer(TextReport("DVK"), 64);
    platform.Answer(Request({0xFE, 0, 0}), 10);
    EXPECT_EQ(controller.GetDeviceID(), "");
    EXPECT_EQ(controller.GetTimeStr(), "Error");
    EXPECT_EQ(controller.GetVersion(), "");
}

using SetDataScripted = usbtest::PlatformTest<usbtest::ScriptedPlatform>;

TEST_F(SetDataScripted, AcknowledgementIsOKFollowedByAnything)
{
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));
    Report ok = TextReport("OK");
    std::fill(ok.begin() + 2, ok.end(), 0x99);
    platform.Answer(ok);
    EXPECT_TRUE(controller.SetData(Message(10)));
    platform.Answer(Request({0x4F, 0x6B}));
    EXPECT_FALSE(controller.SetData(Message(10)));
    platform.Answer(Request({0x4B, 0x4F}));
    EXPECT_FALSE(controller.SetData(Message(10)));
    platform.Answer(Request({0x4F}));
    EXPECT_FALSE(controller.SetData(Message(10)));
}

TEST_F(SetDataScripted, ShortTransfersAndEmptyMessages)
{
    USBTimerDevice controller(platform);
    // Empty: true with no transfer, even unconnected.
    EXPECT_TRUE(controller.SetData({}));
    EXPECT_FALSE(controller.SetData(Message(5)));
    EXPECT_TRUE(platform.writes.empty());

    ASSERT_TRUE(controller.Connect(&kDevice));
    EXPECT_TRUE(controller.SetData({}));
    EXPECT_TRUE(platform.writes.empty());

    // A short write stops before the read.
    platform.writeCount = 64;
    platform.Answer(TextReport("OK"));
    EXPECT_FALSE(controller.SetData(Message(5)));
    EXPECT_EQ(platform.reads, 0);
    // A short read of an "OK" is no acknowledgement.
    platform.writeCount = 65;
    platform.replies.clear();
    platform.Answer(TextReport("OK"), 40);
    EXPECT_FALSE(controller.SetData(Message(5)));
}

using SetDataOverModel = usbtest::PlatformTest<usb_dvk::ModelPlatform>;

TEST_F(SetDataOverModel, PiecesCarryOffsetCountAndBytes)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));

    struct Case {
        std::size_t size;
        std::vector<std::pair<std::uint16_t, std::uint8_t>> pieces;  // offset, count
    };
    const Case cases[] = {
        {23, {{0, 23}}},
        {60, {{0, 60}}},
        {61, {{0, 60}, {60, 1}}},
        {133, {{0, 60}, {60, 60}, {120, 13}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.size);
        model.ClearReceived();
        const std::size_t writesBefore = platform.Writes("/dev/hidraw0").size();
        const auto message = Message(c.size);
        EXPECT_TRUE(controller.SetData(message));
        EXPECT_EQ(model.Received(), message);
        const auto writes = platform.Writes("/dev/hidraw0");
        ASSERT_EQ(writes.size() - writesBefore, c.pieces.size());
        for (std::size_t i = 0; i < c.pieces.size(); ++i) {
            const Report piece = Payload(writes[writesBefore + i]);
            const auto [offset, count] = c.pieces[i];
            Report expected{};
            expected[0] = 0x44;
            expected[1] = static_cast<std::uint8_t>(offset & 0xFF);
            expected[2] = static_cast<std::uint8_t>(offset >> 8);
            expected[3] = count;
            std::copy_n(message.begin() + offset, count, expected.begin() + 4);
            EXPECT_EQ(piece, expected) << "piece " << i;  // the bytes after the data are zero
        }
    }
}

TEST_F(SetDataOverModel, OffsetIsLittleEndianAndARejectedPieceStopsTheDelivery)
{
    dvk_model::ControllerModel model(Config("A", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", model);
    USBTimerDevice controller(platform);
    ASSERT_TRUE(controller.Connect(&kDevice));

    const auto large = Message(400);
    EXPECT_TRUE(controller.SetData(large));
    EXPECT_EQ(model.Received(), large);
    const auto pieces = model.Pieces();
    ASSERT_EQ(pieces.size(), 7u);
    EXPECT_EQ(pieces[5].offset, 300);  // sent as 0x2C 0x01
    EXPECT_EQ(Payload(platform.Writes("/dev/hidraw0")[5])[1], 0x2C);
    EXPECT_EQ(Payload(platform.Writes("/dev/hidraw0")[5])[2], 0x01);
    EXPECT_EQ(pieces[6].count, 40);

    model.ClearReceived();
    model.RejectPiece(1);
    EXPECT_FALSE(controller.SetData(Message(133)));
    // Nothing is sent after the rejected piece; the first one was stored.
    EXPECT_EQ(model.PiecesReceived(), 2);
    EXPECT_EQ(model.Received(), Message(60));
}
