// The refresh and programming passes of the USB programmer, without
// windows: entries and rows stay paired, rows get the texts and marks the
// list shows, devices come and go, each device's outcome and the status
// line.
#include <gtest/gtest.h>

#include "tests/support/UsbTestSupport.h"
#include "usb/OutcomeText.h"
#include "usb/USBProgrammerPasses.h"

using usb_programmer::Failure;
using usb_programmer::RowChange;
using namespace std::chrono_literals;
using usbtest::Config;
using usbtest::Message;

namespace {

// The controllers' clock is simulated, so late and missing replies take no
// real time (see ModelPlatform.h for what that means with several devices).
class Passes : public usbtest::PlatformTest<usb_dvk::ModelPlatform> {
protected:
    void SetUp() override
    {
        PlatformTest::SetUp();
        platform.UseSimulatedTime();
    }
    usb_programmer::RefreshReport Refresh()
    {
        auto report = usb_programmer::RefreshPass(system, entries, [this](const RowChange& c) { Record(c); });
        CheckPaired();
        return report;
    }
    std::vector<usb_programmer::Outcome> Program(const std::vector<unsigned char>& message)
    {
        auto outcomes =
            usb_programmer::ProgramPass(platform, entries, message, [this](const RowChange& c) { Record(c); });
        CheckPaired();
        return outcomes;
    }
    void Record(const RowChange& change)
    {
        changes.push_back(change);
        rows.Apply(change);
    }
    void CheckPaired()
    {
        ASSERT_EQ(rows.texts.size(), entries.size());
        ASSERT_EQ(rows.checked.size(), entries.size());
    }
    std::vector<std::string> Paths() const
    {
        std::vector<std::string> paths;
        for (const auto& entry : entries)
            paths.push_back(entry.device.GetPath());
        return paths;
    }

    usb_dvk::System system{platform};
    usb_programmer::Entries entries;
    usb_programmer::Rows rows;
    std::vector<RowChange> changes;
    dvk_model::ControllerModel first{Config("X", "1.2", {0x00, 0x01, 0x02})};
    dvk_model::ControllerModel second{Config("DVK-2", "3.0", {0x7C, 0x77, 0x88})};
};

}  // namespace

TEST_F(Passes, RefreshListsNewDevicesThenFillsTheirRows)
{
    platform.Plug("/dev/hidraw4", first);
    platform.Plug("/dev/hidraw5", second);
    Refresh();
    // Day mask 0 leaves a trailing space.
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"X v1.2 ", "DVK-2 v3.0 MTuWThF 08:30:00"}));
    EXPECT_EQ(rows.checked, (std::vector<bool>{false, false}));
    // Both rows are appended as "Checking..." before any device is asked.
    using Kind = RowChange::Kind;
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes[0].kind, Kind::Append);
    EXPECT_EQ(changes[0].text, "Checking...");
    EXPECT_EQ(changes[1].kind, Kind::Append);
    EXPECT_EQ(changes[1].row, 1u);

    // A second refresh appends nothing and writes the current texts.
    second.SetConfig(Config("DVK-2", "3.1", {0xFE, 0x00, 0x05}));
    changes.clear();
    Refresh();
    EXPECT_EQ(rows.texts[1], "DVK-2 v3.1 Everyday 00:00:05");
    for (const RowChange& change : changes)
        EXPECT_NE(change.kind, Kind::Append);
}

TEST_F(Passes, AControllerThatAnswersNothingShowsOnlyError)
{
    platform.Plug("/dev/hidraw0", first);
    first.SetShortReplies(true);
    auto report = Refresh();
    EXPECT_EQ(rows.texts, (std::vector<std::string>{" v Error"}));
    ASSERT_EQ(report.outcomes.size(), 1u);
    EXPECT_EQ(report.outcomes[0].failure, Failure::TransferFailed);

    // No reply: the first query runs out of time and the other two are not
    // sent; nor is anything in the next refresh, while the reply is due.
    first.SetShortReplies(false);
    first.SetNeverAnswers(true);
    const std::size_t before = platform.Writes("/dev/hidraw0").size();
    for (int pass = 0; pass < 2; ++pass) {
        report = Refresh();
        EXPECT_EQ(rows.texts, (std::vector<std::string>{" v Error"}));
        EXPECT_EQ(report.outcomes[0].failure, Failure::NoAnswer);
        EXPECT_EQ(platform.Writes("/dev/hidraw0").size(), before + 1);
    }
}

TEST_F(Passes, LateRepliesGiveFailuresNeverTheAnswerToAnotherRequest)
{
    platform.Plug("/dev/hidraw0", second);
    const std::string rightText = "DVK-2 v3.0 MTuWThF 08:30:00";
    auto expectNoWrongText = [&](const char* when) {
        bool allowed = false;
        for (const char* id : {"DVK-2", ""}) {
            for (const char* version : {"3.0", ""}) {
                for (const char* clock : {"MTuWThF 08:30:00", "Error"})
                    allowed = allowed || rows.texts[0] == std::string(id) + " v" + version + " " + clock;
            }
        }
        EXPECT_TRUE(allowed) << rows.texts[0] << " " << when;
    };
    // 600 ms late: the identification would come during the version's read.
    platform.SetReplyDelay(600ms);
    Refresh();
    expectNoWrongText("in the pass whose read ran out of time");
    platform.AdvanceTime(200ms);
    // A delivery's late "OK" would come during the next refresh's first read.
    const auto outcomes = Program(Message(23));
    EXPECT_EQ(outcomes[0].failure, Failure::NoAnswer);
    Refresh();
    expectNoWrongText("in the refresh after a delivery ran out of time");
    // 1100 ms late: the identification would come during the clock's read.
    platform.AdvanceTime(700ms);
    platform.SetReplyDelay(1100ms);
    Refresh();
    expectNoWrongText("with replies 1100 ms late");
    // Once the late replies are in, the controller is asked again.
    platform.AdvanceTime(1200ms);
    platform.SetReplyDelay(0ms);
    Refresh();
    EXPECT_EQ(rows.texts[0], rightText);

    // A controller that never takes a request fails the same way, after one
    // write.
    platform.Plug("/dev/hidraw1", first);
    platform.SetWritesHang("/dev/hidraw1", true);
    const auto report = Refresh();
    EXPECT_EQ(rows.texts[1], " v Error");
    EXPECT_EQ(report.outcomes[1].failure, Failure::NoAnswer);
    EXPECT_EQ(platform.Writes("/dev/hidraw1").size(), 1u);
}

TEST_F(Passes, ProgramAllMarksEachRowWithItsOwnResult)
{
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    Refresh();
    first.RejectPiece(0);
    const auto message = Message(23);
    const auto outcomes = Program(message);
    EXPECT_EQ(rows.checked, (std::vector<bool>{false, true}));
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].path, "/dev/hidraw0");
    EXPECT_EQ(outcomes[0].failure, Failure::Rejected);
    EXPECT_EQ(outcomes[0].piece, 0u);
    EXPECT_EQ(outcomes[1].failure, Failure::None);
    EXPECT_TRUE(first.Received().empty());
    EXPECT_EQ(second.Received(), message);
    EXPECT_EQ(second.PiecesReceived(), 1);

    // Refreshes keep writing the programmed flags back to the marks.
    rows.checked = {true, false};  // as if the user clicked both marks
    Refresh();
    EXPECT_EQ(rows.checked, (std::vector<bool>{false, true}));
}

TEST_F(Passes, AFailedConnectionKeepsTheMarkAndAFailedDeliveryClearsIt)
{
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    Refresh();
    Program(Message(23));
    EXPECT_EQ(rows.checked, (std::vector<bool>{true, true}));

    // The first can no longer be opened (not yet removed by a refresh), the
    // second answers short now.
    platform.SetOpenError("/dev/hidraw0", usb_dvk::ModelPlatform::kNotFound);
    second.SetShortReplies(true);
    Program(Message(23));
    EXPECT_EQ(rows.checked, (std::vector<bool>{true, false}));
    EXPECT_TRUE(entries[0].programmed);
    EXPECT_FALSE(entries[1].programmed);
}

TEST_F(Passes, UnpluggedDevicesLeaveAndComeBackAtTheEndUnmarked)
{
    dvk_model::ControllerModel third(Config("Z", "9", {0x02, 0, 0}));
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    platform.Plug("/dev/hidraw2", third);
    Refresh();
    Program(Message(23));
    EXPECT_EQ(rows.checked, (std::vector<bool>{true, true, true}));

    // The two first leave at once: the walk removes row 0 twice.
    first.SetVanished(true);
    second.SetVanished(true);
    Refresh();
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/dev/hidraw2"}));
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"Z v9 Su 00:00:00"}));
    EXPECT_EQ(rows.checked, (std::vector<bool>{true}));

    first.SetVanished(false);
    Refresh();
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/dev/hidraw2", "/dev/hidraw0"}));
    EXPECT_EQ(rows.checked, (std::vector<bool>{true, false}));
    EXPECT_EQ(rows.texts[1], "X v1.2 ");
}

TEST_F(Passes, ARowWhosePathIsNoLongerFoundLeavesAndNothingGoesToANewDeviceThere)
{
    platform.Plug("/dev/hidraw0", first);
    Refresh();
    // Unplugged; another kind of device gets the same path before the next
    // refresh.
    platform.Unplug("/dev/hidraw0");
    dvk_model::ControllerModel other(Config("other", "1", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", other, 0x1050, 0x0407);
    const auto outcomes = Program(Message(23));
    ASSERT_EQ(outcomes.size(), 1u);
    EXPECT_EQ(outcomes[0].failure, Failure::NotAController);
    EXPECT_EQ(rows.checked, (std::vector<bool>{false}));

    auto report = Refresh();
    EXPECT_TRUE(rows.texts.empty());
    ASSERT_EQ(report.outcomes.size(), 1u);
    EXPECT_EQ(report.outcomes[0].failure, Failure::Gone);
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty());

    // After an enumeration that stopped early, a row goes only when its
    // device does not open.
    platform.Plug("/dev/hidraw1", second);
    Refresh();
    platform.SetEnumerationError(std::make_error_code(std::errc::io_error));
    report = Refresh();
    EXPECT_FALSE(report.enumerationEnded);
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/dev/hidraw1"}));
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"DVK-2 v3.0 MTuWThF 08:30:00"}));
}

TEST_F(Passes, StatusLineCountsControllersOrSaysPermissionIsDenied)
{
    EXPECT_EQ(usb_programmer::StatusText(Refresh()), "No controller found.");
    platform.Plug("/dev/hidraw0", first);
    EXPECT_EQ(usb_programmer::StatusText(Refresh()), "1 controller found.");
    platform.Plug("/dev/hidraw1", second);
    EXPECT_EQ(usb_programmer::StatusText(Refresh()), "2 controllers found.");

    // A controller that does not open for another reason is only not counted.
    platform.SetOpenError("/dev/hidraw1", usb_dvk::ModelPlatform::kNotFound);
    auto report = Refresh();
    EXPECT_EQ(usb_programmer::StatusText(report), "1 controller found.");
    EXPECT_EQ(report.outcomes.back().failure, Failure::CannotOpen);

    platform.SetOpenError("/dev/hidraw1", usb_dvk::ModelPlatform::kAccessDenied);
    report = Refresh();
    EXPECT_EQ(usb_programmer::StatusText(report), usb_programmer::kPermissionDeniedText);
    EXPECT_EQ(report.outcomes.back().failure, Failure::PermissionDenied);
    EXPECT_EQ(report.outcomes.back().error, usb_dvk::ModelPlatform::kAccessDenied);
    EXPECT_EQ(rows.texts.size(), 1u);
}

// The dialog's status: each row's latest programming failure holds until the
// next attempt, a refresh's query failure for that refresh.
TEST_F(Passes, StatusNamesTheFailuresThatHoldForTheRows)
{
    dvk_model::ControllerModel third{Config("Z", "9", {0, 0, 0})}, fourth{Config("W", "1", {0, 0, 0})};
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    second.RejectPiece(0);
    auto status = [&](const usb_programmer::RefreshReport& report) { return StatusText(report, entries); };
    auto report = Refresh();
    EXPECT_EQ(status(report), "2 controllers found.");
    Program(Message(23));
    EXPECT_EQ(status(report), "2 controllers found.\ncontroller 2: rejected piece 1");
    first.SetShortReplies(true);
    report = Refresh();
    const std::string shortReply = "short reply to the identification request: 32 of 64 bytes";
    EXPECT_EQ(status(report), "2 controllers found.\ncontroller 1: " + shortReply + "\ncontroller 2: rejected piece 1");
    first.SetShortReplies(false);
    second.RejectPiece(-1);
    Program(Message(23));
    EXPECT_EQ(status(Refresh()), "2 controllers found.");

    // Three failures at most, and a search that stopped early.
    platform.Plug("/dev/hidraw2", third);
    platform.Plug("/dev/hidraw3", fourth);
    Refresh();
    for (auto* model : {&first, &second, &third, &fourth})
        model->SetShortReplies(true);
    platform.SetEnumerationError(usb_dvk::SystemError(EIO));
    EXPECT_EQ(status(Refresh()),
              "4 controllers found.\nthe search for controllers stopped early: " + usb_dvk::SystemError(EIO).message() +
                  " (error 5); some may be missing\n" + "controller 1: " + shortReply +
                  "\ncontroller 2: " + shortReply + "\ncontroller 3: " + shortReply + "\nand 1 more");
}

TEST_F(Passes, ADeviceThatCannotBeOpenedIsAddedAndRemovedInOnePass)
{
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    platform.SetOpenError("/dev/hidraw0", usb_dvk::ModelPlatform::kNotFound);
    Refresh();
    EXPECT_EQ(Paths(), (std::vector<std::string>{"/dev/hidraw1"}));
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"DVK-2 v3.0 MTuWThF 08:30:00"}));
    using Kind = RowChange::Kind;
    ASSERT_GE(changes.size(), 3u);
    EXPECT_EQ(changes[2].kind, Kind::Delete);
    EXPECT_EQ(changes[2].row, 0u);
}

TEST_F(Passes, NoControllerMeansNoRowsAndNothingProgrammed)
{
    const auto report = Refresh();
    EXPECT_TRUE(report.enumerationEnded);
    EXPECT_EQ(report.listed, 0u);
    EXPECT_TRUE(report.outcomes.empty());
    EXPECT_TRUE(Program(Message(23)).empty());
    EXPECT_TRUE(rows.texts.empty());
    EXPECT_TRUE(changes.empty());
}

TEST_F(Passes, AStopRequestEndsThePassBeforeTheDevicesAreAsked)
{
    platform.Plug("/dev/hidraw0", first);
    platform.Plug("/dev/hidraw1", second);
    // The request comes while the refresh runs: once the first row is listed.
    std::atomic<bool> stop{false};
    const auto report = usb_programmer::RefreshPass(
        system, entries,
        [this, &stop](const RowChange& c) {
            Record(c);
            stop = true;
        },
        &stop);
    const auto outcomes = usb_programmer::ProgramPass(
        platform, entries, Message(23), [](const RowChange&) {}, &stop);
    EXPECT_TRUE(report.outcomes.empty());
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"Checking...", "Checking..."}));
    EXPECT_EQ(outcomes.at(1).failure, Failure::Stopped);
    EXPECT_TRUE(platform.Writes("/dev/hidraw0").empty() && platform.Writes("/dev/hidraw1").empty());
    EXPECT_EQ(platform.OpenHandles(), 0);
}

// On the steady clock: the slow controller holds its row up for real while
// the controllers after it are done.
TEST_F(Passes, DevicesAreServedSideBySideAndTheRowsChangeInRowOrder)
{
    platform.UseSimulatedTime(false);
    dvk_model::ControllerModel slow{Config("S", "1", {0, 0, 0})}, closed{slow.Config()}, silent{slow.Config()};
    platform.Plug("/dev/hidraw0", slow);
    platform.SetReplyDelay("/dev/hidraw0", 20ms);
    platform.Plug("/dev/hidraw1", closed);
    platform.SetOpenError("/dev/hidraw1", usb_dvk::ModelPlatform::kNotFound);
    platform.Plug("/dev/hidraw2", first);
    first.RejectPiece(0);
    platform.Plug("/dev/hidraw3", second);
    platform.Plug("/dev/hidraw4", silent);
    silent.SetNeverAnswers(true);
    auto order = [this] {
        std::string kinds;
        for (const RowChange& change : changes)
            kinds += std::string(" ") + "ATCD"[static_cast<int>(change.kind)] + std::to_string(change.row);
        changes.clear();
        return kinds;
    };

    const auto report = Refresh();
    EXPECT_EQ(order(), " A0 A1 A2 A3 A4 T0 C0 D1 T1 C1 T2 C2 T3 C3");
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"S v1 ", "X v1.2 ", "DVK-2 v3.0 MTuWThF 08:30:00", " v Error"}));
    EXPECT_EQ(report.outcomes.at(1).failure, Failure::CannotOpen);
    EXPECT_EQ(report.outcomes.at(4).failure, Failure::NoAnswer);

    const auto outcomes = Program(Message(23));
    EXPECT_EQ(order(), " C0 C1 C2 C3");
    EXPECT_EQ(rows.checked, (std::vector<bool>{true, false, true, false}));
    EXPECT_EQ(outcomes.at(1).failure, Failure::Rejected);
    EXPECT_EQ(outcomes.at(3).failure, Failure::NoAnswer);
    EXPECT_EQ(slow.Received(), Message(23));
}

TEST_F(Passes, TextsThatAreNotUtf8ShowEmpty)
{
    first.SetConfig(Config("caf\xC3\xA9", "\xFF\x31", {0, 0, 0}));
    platform.Plug("/dev/hidraw0", first);
    Refresh();
    EXPECT_EQ(rows.texts, (std::vector<std::string>{"caf\xC3\xA9 v "}));

    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xE2\x82\xAC"), "\xE2\x82\xAC");
    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80");
    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xC0\xAF"), "");          // overlong
    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xED\xA0\x80"), "");      // surrogate
    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xE2\x82"), "");          // cut short
    EXPECT_EQ(usb_programmer::ValidUtf8OrEmpty("\xF4\x90\x80\x80"), "");  // above U+10FFFF
}

TEST(HasDevice, ComparesPathsExactly)
{
    usb_programmer::Entries entries;
    entries.push_back({usbtest::ControllerAt("/dev/hidraw1"), false, {}, nullptr});
    EXPECT_TRUE(usb_programmer::HasDevice(entries, usbtest::ControllerAt("/dev/hidraw1")));
    EXPECT_FALSE(usb_programmer::HasDevice(entries, usbtest::ControllerAt("/dev/HIDRAW1")));
    EXPECT_FALSE(usb_programmer::HasDevice(entries, usbtest::ControllerAt("/dev/hidraw10")));
    EXPECT_FALSE(usb_programmer::HasDevice({}, usbtest::ControllerAt("/dev/hidraw1")));
}
