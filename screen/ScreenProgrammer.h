// The flashing panel: a left and a right half in opposite colours, black and
// white, whose swaps the controller reads from the screen. The screen
// worker draws the swaps itself; the panel draws the same colours when it is
// painted.
#pragma once

#include <atomic>
#include <memory>

#include <wx/panel.h>

class ScreenProgrammer : public wxPanel {
public:
    explicit ScreenProgrammer(wxWindow* parent);

    // Draws the colours last drawn: black left and white right, or the
    // reverse when inverted; on an odd width the right part is one pixel
    // wider. Plain fills, the same pixels the worker draws.
    void Render(wxDC& dc);

    bool IsInverted() const { return inverted->load(std::memory_order_acquire); }
    // The record of the colours shown, for the worker: it sets it just
    // before each drawing of its own, also after the panel has gone.
    std::shared_ptr<std::atomic<bool>> InvertedState() const { return inverted; }
    // GUI thread: the size learnt from size events, which painting uses.
    wxSize LastSize() const { return size; }

private:
    void PaintEvent(wxPaintEvent& event);
    void OnEraseBackGround(wxEraseEvent& event);
    void OnResize(wxSizeEvent& event);

    wxSize size{0, 0};  // learnt from size events only
    std::shared_ptr<std::atomic<bool>> inverted = std::make_shared<std::atomic<bool>>(false);

    wxDECLARE_EVENT_TABLE();
};
