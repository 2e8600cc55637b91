// The USB programmer dialog in an X server, over controller models: rows
// before the dialog shows, Program All, devices unplugged and plugged back,
// a controller that never answers, clicks while busy, the status line,
// closing during a pass, and the USB Program command of the main window.
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

#include <wx/msgdlg.h>
#include <wx/testing.h>
#include <wx/uiaction.h>

#include "app/MainFrame.h"
#include "tests/support/GuiTest.h"
#include "tests/support/UsbTestSupport.h"
#include "usb/OutcomeText.h"
#include "usb/USBProgrammerDialog.h"

using namespace std::chrono_literals;
using usbtest::Config;
using usbtest::Message;

// What a screen reader is told of a control: GTK's accessible object, from
// the libraries the toolkit runs on.
extern "C" void* gtk_widget_get_accessible(GtkWidget* widget);
extern "C" unsigned long g_signal_connect_data(void*, const char*, void (*)(), void*, void*, int);

namespace {

// The USB programmer shown modally; the check runs while it is "shown".
class ExpectUSBProgrammer : public wxExpectModalBase<USBProgrammerDialog, ExpectUSBProgrammer> {
public:
    explicit ExpectUSBProgrammer(std::function<void(USBProgrammerDialog&)> check) : check(std::move(check)) { }

protected:
    int OnInvoked(USBProgrammerDialog* dialog) const override
    {
        check(*dialog);
        return 0;
    }
    wxString GetDefaultDescription() const override { return "the USB programmer"; }

private:
    std::function<void(USBProgrammerDialog&)> check;
};

// The size error box, with its exact words.
class ExpectSizeError : public wxExpectModalBase<wxMessageDialog, ExpectSizeError> {
protected:
    int OnInvoked(wxMessageDialog* box) const override
    {
        EXPECT_EQ(box->GetMessage(), "Program size exceeds device memory.");
        EXPECT_EQ(box->GetTitle(), "Programming - Error");
        EXPECT_TRUE(box->GetMessageDialogStyle() & wxICON_ERROR);
        return wxID_OK;
    }
    wxString GetDefaultDescription() const override { return "the size error box"; }
};

std::vector<wxString> RowTexts(const USBProgrammerDialog& dialog)
{
    std::vector<wxString> texts;
    for (unsigned int i = 0; i < dialog.GetDeviceList()->GetCount(); ++i)
        texts.push_back(dialog.GetDeviceList()->GetString(i));
    return texts;
}

std::vector<bool> Marks(const USBProgrammerDialog& dialog)
{
    std::vector<bool> marks;
    for (unsigned int i = 0; i < dialog.GetDeviceList()->GetCount(); ++i)
        marks.push_back(dialog.GetDeviceList()->IsChecked(i));
    return marks;
}

void Click(wxButton* button)
{
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
}

// Waits until no pass runs.
bool WaitIdle(const USBProgrammerDialog& dialog, std::chrono::milliseconds timeout = 3000ms)
{
    return guitest::WaitFor([&] { return !dialog.IsBusy(); }, timeout);
}

class UsbDialog : public usbtest::PlatformTest<usb_dvk::ModelPlatform> {
protected:
    void PlugBoth()
    {
        platform.Plug("/dev/hidraw0", first);
        platform.Plug("/dev/hidraw1", second);
    }
    dvk_model::ControllerModel first{Config("X", "1.2", {0x00, 0x00, 0x2A})};
    dvk_model::ControllerModel second{Config("DVK-38417", "3.0", {0x7C, 0x77, 0x88})};
    const wxString firstRow = "X v1.2 ";
    const wxString secondRow = "DVK-38417 v3.0 MTuWThF 08:30:00";
};

}  // namespace

TEST_F(UsbDialog, ControllersPluggedInAreListedBeforeTheDialogShows)
{
    PlugBoth();
    USBProgrammerDialog dialog(nullptr, platform);
    EXPECT_FALSE(dialog.IsShown());
    EXPECT_EQ(RowTexts(dialog), (std::vector<wxString>{firstRow, secondRow}));
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{false, false}));
    EXPECT_EQ(dialog.GetTitle(), "Dravik - USB Programmer");
    EXPECT_EQ(dialog.GetSize(), wxSize(350, 350));

    // Layout: the list fills the width, Program All on the left of the
    // bottom row and Exit on the right.
    dialog.Show();
    // Under a window manager the dialog is shown tiny for a moment first.
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.IsShownOnScreen() && dialog.GetSize() == wxSize(350, 350); }));
    const wxRect list = dialog.GetDeviceList()->GetRect();
    const wxRect program = dialog.GetProgramAllButton()->GetRect();
    const wxRect exit = dialog.GetExitButton()->GetRect();
    EXPECT_EQ(list.x, 5);
    EXPECT_EQ(list.width, dialog.GetClientSize().x - 10);
    EXPECT_GT(program.y, list.GetBottom());
    EXPECT_LT(program.GetRight(), exit.x);
    EXPECT_EQ(exit.GetRight(), dialog.GetClientSize().x - 1 - 5);
}

TEST_F(UsbDialog, ProgramAllChecksTheControllersThatAcknowledged)
{
    PlugBoth();
    first.RejectPiece(0);
    const auto message = Message(23);
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.SetMessage(message);
    dialog.Show();
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.IsShownOnScreen(); }));
    ASSERT_TRUE(WaitIdle(dialog));

    // A real click on the button.
    wxUIActionSimulator sim;
    wxButton* button = dialog.GetProgramAllButton();
    sim.MouseMove(button->GetScreenPosition() + wxPoint(button->GetSize().x / 2, button->GetSize().y / 2));
    guitest::Pump(50ms);
    sim.MouseClick();
    ASSERT_TRUE(guitest::WaitFor([&] { return second.PiecesReceived() == 1 && !dialog.IsBusy(); }));
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{false, true}));
    EXPECT_EQ(second.Received(), message);
    EXPECT_EQ(first.PiecesReceived(), 1);
    EXPECT_TRUE(first.Received().empty());

    // The next refreshes keep the marks.
    guitest::Pump(1200ms);
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{false, true}));
}

TEST_F(UsbDialog, UnpluggedRowLeavesWithinASecondAndComesBackUnmarkedAtTheEnd)
{
    PlugBoth();
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.SetMessage(Message(23));
    dialog.Show();
    Click(dialog.GetProgramAllButton());
    ASSERT_TRUE(guitest::WaitFor([&] { return Marks(dialog) == std::vector<bool>{true, true}; }));

    first.SetVanished(true);
    const auto unplugged = std::chrono::steady_clock::now();
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.GetDeviceList()->GetCount() == 1; }, 2500ms));
    const auto took = std::chrono::steady_clock::now() - unplugged;
    EXPECT_LT(took, 2000ms) << "the poll period is one second";
    EXPECT_EQ(RowTexts(dialog), (std::vector<wxString>{secondRow}));
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{true}));

    first.SetVanished(false);
    ASSERT_TRUE(
        guitest::WaitFor([&] { return RowTexts(dialog).size() == 2 && RowTexts(dialog)[1] == firstRow; }, 2500ms));
    EXPECT_EQ(RowTexts(dialog)[0], secondRow);
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{true, false}));
}

TEST_F(UsbDialog, AControllerThatNeverAnswersDoesNotStopTheOthers)
{
    PlugBoth();
    first.SetNeverAnswers(true);
    const auto start = std::chrono::steady_clock::now();
    USBProgrammerDialog dialog(nullptr, platform);
    // The dialog does not wait for the silent controller before it shows.
    EXPECT_LT(std::chrono::steady_clock::now() - start, usb_dvk::kTransferTimeLimit);
    EXPECT_EQ(dialog.GetDeviceList()->GetCount(), 2u);
    dialog.SetMessage(Message(23));
    dialog.Show();

    // One query runs out of time; the other two are not sent.
    ASSERT_TRUE(guitest::WaitFor([&] { return RowTexts(dialog) == std::vector<wxString>{" v Error", secondRow}; }));
    ASSERT_TRUE(WaitIdle(dialog));
    Click(dialog.GetProgramAllButton());
    ASSERT_TRUE(guitest::WaitFor([&] { return !dialog.IsBusy() && second.PiecesReceived() == 1; }));
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{false, true}));
}

TEST_F(UsbDialog, AClickDuringARefreshRunsRightAfterItAndClicksDuringProgramAllAreDropped)
{
    PlugBoth();
    platform.SetReplyDelay(150ms);  // slow, in time: every pass takes a while
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.SetMessage(Message(23));
    ASSERT_TRUE(dialog.IsBusy() && !dialog.IsProgramming());
    Click(dialog.GetProgramAllButton());
    Click(dialog.GetProgramAllButton());  // one click is kept, not two
    EXPECT_TRUE(dialog.IsProgramAllPending());

    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.IsProgramming(); }));
    // Clicked during Program All: dropped.
    Click(dialog.GetProgramAllButton());
    EXPECT_FALSE(dialog.IsProgramAllPending());
    ASSERT_TRUE(WaitIdle(dialog));
    EXPECT_EQ(first.PiecesReceived(), 1);
    EXPECT_EQ(second.PiecesReceived(), 1);
    // Programmed right after the refresh, before any other: the first
    // controller got that refresh's three queries, then the piece.
    const auto writes = platform.Writes("/dev/hidraw0");
    ASSERT_EQ(writes.size(), 4u);
    EXPECT_EQ(writes[3][1], 'D');
    EXPECT_EQ(Marks(dialog), (std::vector<bool>{true, true}));
}

TEST_F(UsbDialog, StatusLineUnderTheListSaysWhatWasFound)
{
    platform.Plug("/dev/hidraw0", first);
    platform.SetOpenError("/dev/hidraw0", usb_dvk::ModelPlatform::kAccessDenied);
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.Show();
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.IsShownOnScreen(); }));
    ASSERT_TRUE(WaitIdle(dialog));
    wxString status = dialog.GetStatusText()->GetLabel();
    status.Replace("\n", " ");  // wrapped to the list's width
    EXPECT_EQ(status, usb_programmer::kPermissionDeniedText);
    EXPECT_EQ(dialog.GetDeviceList()->GetCount(), 0u);
    // Every line shows, between the list and the buttons, in the same dialog.
    guitest::Pump(50ms);
    const wxRect text = dialog.GetStatusText()->GetRect();
    EXPECT_GT(text.y, dialog.GetDeviceList()->GetRect().GetBottom());
    EXPECT_LT(text.GetBottom(), dialog.GetProgramAllButton()->GetRect().y);
    EXPECT_GE(text.height, 2 * dialog.GetStatusText()->GetCharHeight());
    EXPECT_EQ(dialog.GetSize(), wxSize(350, 350));

    platform.SetOpenError("/dev/hidraw0", {});
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.GetStatusText()->GetLabel() == "1 controller found."; }, 2500ms));
    EXPECT_EQ(RowTexts(dialog), (std::vector<wxString>{firstRow}));

    // A new status reaches a screen reader once, as it shows: wrapped.
    int announced = 0;
    void (*count)(void*, int, int, int*) = [](void*, int, int, int* n) { ++*n; };
    g_signal_connect_data(gtk_widget_get_accessible(dialog.GetStatusText()->GetHandle()), "text-changed::insert",
                          reinterpret_cast<void (*)()>(count), &announced, nullptr, 0);
    platform.SetOpenError("/dev/hidraw0", usb_dvk::ModelPlatform::kAccessDenied);
    ASSERT_TRUE(guitest::WaitFor([&] { return dialog.GetStatusText()->GetLabel().Contains("\n"); }, 2500ms));
    guitest::Pump(50ms);
    EXPECT_EQ(announced, 1);
}

TEST_F(UsbDialog, AProgrammingFailureStaysInTheStatusLineUntilItNoLongerHolds)
{
    PlugBoth();
    second.RejectPiece(0);
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.SetMessage(Message(23));
    auto status = [&dialog] {
        wxString text = dialog.GetStatusText()->GetLabel();
        text.Replace("\n", " ");  // its own lines, and those of the wrapping
        return text;
    };
    ASSERT_TRUE(WaitIdle(dialog));
    Click(dialog.GetProgramAllButton());
    const wxString rejected = "2 controllers found. controller 2: rejected piece 1";
    ASSERT_TRUE(guitest::WaitFor([&] { return status() == rejected; }));
    // The refresh that follows asks the first controller three questions.
    const std::size_t asked = platform.Writes("/dev/hidraw0").size() + 3;
    ASSERT_TRUE(
        guitest::WaitFor([&] { return platform.Writes("/dev/hidraw0").size() >= asked && !dialog.IsBusy(); }, 2500ms));
    EXPECT_EQ(status(), rejected);

    second.RejectPiece(-1);
    Click(dialog.GetProgramAllButton());
    ASSERT_TRUE(guitest::WaitFor([&] { return status() == "2 controllers found."; }));
}

TEST_F(UsbDialog, ClosingDuringAPassLeavesNoDeviceOpen)
{
    // Ten silent controllers: the refresh would take ten time limits.
    std::vector<std::unique_ptr<dvk_model::ControllerModel>> silent;
    for (int i = 0; i < 10; ++i) {
        silent.push_back(std::make_unique<dvk_model::ControllerModel>(Config("S", "1", {0, 0, 0})));
        silent.back()->SetNeverAnswers(true);
        platform.Plug("/dev/hidraw" + std::to_string(i), *silent.back());
    }
    auto* dialog = new USBProgrammerDialog(nullptr, platform);
    dialog->Show();
    ASSERT_TRUE(dialog->IsBusy());
    const auto start = std::chrono::steady_clock::now();
    dialog->Destroy();
    guitest::DeletePendingWindows();
    // It waits for the transfer under way, not for the rest of the pass.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5 * usb_dvk::kTransferTimeLimit);
    EXPECT_EQ(platform.OpenHandles(), 0);
    guitest::Pump(100ms);  // nothing left over for the gone dialog
}

TEST_F(UsbDialog, ClosingDuringProgrammingLeavesNoDeviceOpen)
{
    PlugBoth();
    {
        USBProgrammerDialog dialog(nullptr, platform);
        dialog.SetMessage(Message(23));
        ASSERT_TRUE(WaitIdle(dialog));
        second.SetNeverAnswers(true);
        Click(dialog.GetProgramAllButton());
        // The first is programmed; the second keeps the pass waiting.
        ASSERT_TRUE(guitest::WaitFor([&] { return first.PiecesReceived() == 1; }));
        EXPECT_TRUE(dialog.IsBusy());
    }
    EXPECT_EQ(platform.OpenHandles(), 0);
    guitest::Pump(100ms);
}

TEST_F(UsbDialog, ExitAndEscapeEndTheModalLoopWithZero)
{
    PlugBoth();
    USBProgrammerDialog dialog(nullptr, platform);
    dialog.CallAfter([&dialog] { Click(dialog.GetExitButton()); });
    EXPECT_EQ(dialog.ShowModal(), 0);

    // Escape, as the dialog's key hook sees it from any control.
    dialog.CallAfter([&dialog] {
        wxKeyEvent escape(wxEVT_CHAR_HOOK);
        escape.m_keyCode = WXK_ESCAPE;
        escape.SetEventObject(dialog.GetDeviceList());
        dialog.GetDeviceList()->ProcessWindowEvent(escape);
    });
    EXPECT_EQ(dialog.ShowModal(), 0);
}

TEST_F(UsbDialog, MessageSizeLimitIs128Bytes)
{
    PlugBoth();
    bool shown = false;
    {
        wxTEST_DIALOG(ShowUSBProgrammer(nullptr, Message(128), platform),
                      ExpectUSBProgrammer([&](USBProgrammerDialog& dialog) {
                          shown = true;
                          EXPECT_EQ(dialog.GetMessage(), Message(128));
                          EXPECT_EQ(dialog.GetDeviceList()->GetCount(), 2u);
                      }));
    }
    EXPECT_TRUE(shown);
    // The check that the USB Program command makes before it opens the dialog.
    EXPECT_EQ(guitest::ModalDialogsDuring([] { EXPECT_TRUE(CheckMessageSize(nullptr, Message(128))); }), 0);
    {
        wxTEST_DIALOG(EXPECT_FALSE(CheckMessageSize(nullptr, Message(129))), ExpectSizeError());
    }
}

TEST_F(UsbDialog, USBProgramDeliversSettingsThatFailValidation)
{
    guitest::TemporaryConfig config;
    PlugBoth();
    MainFrame* frame = guitest::CreateMainFrame(platform);
    // An empty field fails validation on the screen road; not on this one.
    frame->GetSettingField(dvk::SettingIndex(0))->SetValue("");
    frame->GetSettingField(dvk::SettingIndex(1))->SetValue("70000");
    std::vector<unsigned char> expected;
    frame->ComputeMessage(expected);
    ASSERT_EQ(expected.size(), 23u);
    EXPECT_EQ(expected[3], 0xFF);  // an empty current counts as 0, sent inverted
    EXPECT_EQ(expected[4], 0x11);  // 70000 keeps its low 16 bits
    EXPECT_EQ(expected[5], 0x70);

    auto* button = dynamic_cast<wxButton*>(wxWindow::FindWindowByLabel("USB Program", frame));
    ASSERT_NE(button, nullptr);
    bool shown = false;
    {
        wxTEST_DIALOG(Click(button), ExpectUSBProgrammer([&](USBProgrammerDialog& dialog) {
                          shown = true;
                          EXPECT_EQ(dialog.GetParent(), frame);
                          EXPECT_EQ(dialog.GetMessage(), expected);
                          ASSERT_TRUE(WaitIdle(dialog));
                          Click(dialog.GetProgramAllButton());
                          ASSERT_TRUE(guitest::WaitFor([&] {
                              return !dialog.IsBusy() && Marks(dialog) == std::vector<bool>{true, true};
                          }));
                      }));
    }
    EXPECT_TRUE(shown);
    EXPECT_EQ(first.Received(), expected);
    EXPECT_EQ(second.Received(), expected);
    guitest::DestroyMainFrame(frame);
}
