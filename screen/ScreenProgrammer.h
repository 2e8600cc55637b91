// The flashing panel: a left and a right half in opposite colours, black and
// white, whose swaps the controller reads from the screen.
#pragma once

#include <functional>

#include <wx/panel.h>

class ScreenProgrammer : public wxPanel {
public:
    explicit ScreenProgrammer(wxWindow* parent);

    // Draws the current state: black left and white right, or the reverse
    // when inverted; on an odd width the right part is one pixel wider.
    void Render(wxDC& dc);

    // Exchanges the colours and draws them at once (not through a paint event).
    void Swap();
    // Back to black left, white right, drawn at once.
    void ShowReset();
    bool IsInverted() const { return inverted; }

    // Called after each swap has been drawn, with the new state; lets the
    // tests time the swaps.
    void SetSwapHook(std::function<void(bool inverted)> hook) { swapHook = std::move(hook); }

private:
    void PaintEvent(wxPaintEvent& event);
    void OnEraseBackGround(wxEraseEvent& event);
    void OnResize(wxSizeEvent& event);
    void DrawNow();

    wxSize size{0, 0};  // learnt from size events only
    bool inverted = false;
    std::function<void(bool)> swapHook;

    wxDECLARE_EVENT_TABLE();
};
