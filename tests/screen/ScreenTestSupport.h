// What the screen programmer tests share: a dialog under test with a record
// of every swap and status text, and clicks on its real buttons.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include <wx/button.h>

#include "screen/ScreenProgrammerDialog.h"
#include "tests/screen/DrawLog.h"

namespace screentest {

using Clock = std::chrono::steady_clock;

// Presses a button with the pointer, as the operator does, and processes
// events until its handler has run (the label is then `labelAfter`).
bool Click(wxButton* button, const wxString& labelAfter);

// A shown screen programmer dialog that records each drawing of its panel
// (on the worker thread, as it is made) and each status text that it shows.
class RecordedDialog {
public:
    explicit RecordedDialog(const std::vector<unsigned char>& message);
    ~RecordedDialog();

    ScreenProgrammerDialog& Dialog() { return *dialog; }
    // Presses Start (or Stop) and returns when the button has changed.
    bool PressStart();
    bool PressStop();
    // Stop as the button hands on a click, at once: a click through the X
    // server may reach the dialog a scheduling delay later on a busy machine.
    bool StopAtOnce();
    // Processes events, recording, until the condition holds or time is up.
    bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    bool WaitForStatus(const wxString& text, std::chrono::milliseconds timeout);
    // Waits until the status line has shown "Programming...Done" after the
    // statuses recorded so far.
    bool WaitForDone(std::chrono::milliseconds timeout);
    // Deletes the dialog (its destructor ends the worker); returns how long
    // that took.
    std::chrono::milliseconds Close();

    using Swap = DrawLog::Drawing;
    // The drawings recorded so far (each swap, and the reset after a Stop),
    // brought up to date by the waits.
    std::vector<Swap> swaps;
    std::vector<wxString> statuses;  // each change of the status line, in order
    Clock::time_point startPressed;  // when the last Start click reached the dialog

    // Pauses between successive swaps in ms, from swap `first` on.
    std::vector<double> Pauses(std::size_t first = 0) const;
    // The bytes that the pauses from swap `first` on carry, read the way the
    // controller reads them: ten swaps a byte, a long pause a 1 bit, least
    // significant bit first.
    std::vector<unsigned char> Decode(std::size_t first = 0) const;

private:
    Clock::time_point clicked;
    void TakeDrawings();
    void Record();
    std::unique_ptr<ScreenProgrammerDialog> dialog;
    std::unique_ptr<DrawLog> drawn = std::make_unique<DrawLog>();
};

}  // namespace screentest
