#include "tests/screen/ScreenTestSupport.h"

#include <gtest/gtest.h>

#include <wx/uiaction.h>

#include "tests/support/GuiTest.h"

namespace screentest {

bool Click(wxButton* button, const wxString& labelAfter)
{
    const wxRect rect = button->GetScreenRect();
    wxUIActionSimulator simulator;
    simulator.MouseMove(rect.GetLeft() + rect.GetWidth() / 2, rect.GetTop() + rect.GetHeight() / 2);
    simulator.MouseClick();
    return guitest::WaitFor([&] { return button->GetLabel() == labelAfter; });
}

RecordedDialog::RecordedDialog(const std::vector<unsigned char>& message)
    : dialog(std::make_unique<ScreenProgrammerDialog>(nullptr))
{
    dialog->SetMessage(message);
    dialog->SetDrawHook([log = drawn.get()](bool inverted, Clock::time_point sent) { log->Add(inverted, sent); });
    // The moment of each click, as the button hands it on to the dialog: the
    // wait after the click may process it late on a busy machine.
    dialog->GetStartButton()->Bind(wxEVT_BUTTON, [this](wxCommandEvent& event) {
        clicked = Clock::now();
        event.Skip();
    });
    statuses.push_back(dialog->GetStatusText()->GetLabel());
    dialog->Show();
    guitest::WaitFor([this] { return dialog->IsShownOnScreen(); });
    guitest::Pump(std::chrono::milliseconds(100));
}

RecordedDialog::~RecordedDialog()
{
    if (dialog)
        Close();
}

void RecordedDialog::TakeDrawings()
{
    const std::size_t count = drawn->Count();
    ASSERT_LE(count, DrawLog::kCapacity) << "more drawings than the record holds";
    while (swaps.size() < count)
        swaps.push_back((*drawn)[swaps.size()]);
}

void RecordedDialog::Record()
{
    TakeDrawings();
    const wxString status = dialog->GetStatusText()->GetLabel();
    if (status != statuses.back())
        statuses.push_back(status);
}

bool RecordedDialog::PressStart()
{
    const bool changed = Click(dialog->GetStartButton(), "Stop");
    startPressed = clicked;
    return changed;
}

bool RecordedDialog::PressStop()
{
    const bool clicked = Click(dialog->GetStartButton(), "Start");
    Record();
    return clicked;
}

bool RecordedDialog::StopAtOnce()
{
    wxButton* button = dialog->GetStartButton();
    wxCommandEvent click(wxEVT_BUTTON, button->GetId());
    click.SetEventObject(button);
    button->ProcessWindowEvent(click);
    Record();
    return button->GetLabel() == "Start";
}

bool RecordedDialog::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    return guitest::WaitFor(
        [&] {
            Record();
            return condition();
        },
        timeout);
}

bool RecordedDialog::WaitForStatus(const wxString& text, std::chrono::milliseconds timeout)
{
    return WaitFor([&] { return dialog->GetStatusText()->GetLabel() == text; }, timeout);
}

bool RecordedDialog::WaitForDone(std::chrono::milliseconds timeout)
{
    const std::size_t before = statuses.size();
    return WaitFor([&] { return statuses.size() > before && statuses.back() == "Programming...Done"; }, timeout);
}

std::chrono::milliseconds RecordedDialog::Close()
{
    const auto before = Clock::now();
    dialog.reset();
    TakeDrawings();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - before);
}

std::vector<double> RecordedDialog::Pauses(std::size_t first) const
{
    std::vector<double> pauses;
    for (std::size_t i = first + 1; i < swaps.size(); ++i)
        pauses.push_back(std::chrono::duration<double, std::milli>(swaps[i].sent - swaps[i - 1].sent).count());
    return pauses;
}

std::vector<unsigned char> RecordedDialog::Decode(std::size_t first) const
{
    const std::vector<double> pauses = Pauses(first);
    std::vector<unsigned char> bytes;
    // Swap k of a byte (0-based) is followed by the pause of bit k - 1.
    for (std::size_t start = 0; start + 9 <= pauses.size(); start += 10) {
        unsigned char byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            if (pauses[start + 1 + bit] > 75.0)
                byte |= static_cast<unsigned char>(1u << bit);
        bytes.push_back(byte);
    }
    return bytes;
}

}  // namespace screentest
