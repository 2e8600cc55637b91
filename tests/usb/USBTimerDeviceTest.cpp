// The controller protocol: request bytes, replies, the acknowledgement rule,
// the splitting of messages into pieces, and failures.
#include <algorithm>
#include <chrono>
#include <gtest/gtest.h>

#include "tests/support/UsbTestSupport.h"
#include "usb/USBTimerDevice.h"

using usbtest::Config;
using usbtest::Message;
using usbtest::Payload;
using usbtest::Report;
using usbtest::TextReport;
using namespace std::chrono_literals;

using usbtest::kDevice;
using usbtest::Request;

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
