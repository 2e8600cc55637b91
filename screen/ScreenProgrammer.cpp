#include "screen/ScreenProgrammer.h"

#include <wx/dcclient.h>

wxBEGIN_EVENT_TABLE(ScreenProgrammer, wxPanel) EVT_PAINT(ScreenProgrammer::PaintEvent)
    EVT_ERASE_BACKGROUND(ScreenProgrammer::OnEraseBackGround) EVT_SIZE(ScreenProgrammer::OnResize) wxEND_EVENT_TABLE()

        ScreenProgrammer::ScreenProgrammer(wxWindow* parent)
    : wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxTAB_TRAVERSAL | wxNO_BORDER)
{ }

void ScreenProgrammer::Render(wxDC& dc)
{
    const bool shownInverted = IsInverted();
    const int width = size.GetWidth();
    const int height = size.GetHeight();
    const int half = width / 2;
    dc.SetPen(*wxTRANSPARENT_PEN);
    dc.SetBrush(shownInverted ? *wxWHITE_BRUSH : *wxBLACK_BRUSH);
    dc.DrawRectangle(0, 0, half, height);
    dc.SetBrush(shownInverted ? *wxBLACK_BRUSH : *wxWHITE_BRUSH);
    dc.DrawRectangle(half, 0, width - half, height);
}

void ScreenProgrammer::PaintEvent(wxPaintEvent&)
{
    wxPaintDC dc(this);
    Render(dc);
}

void ScreenProgrammer::OnEraseBackGround(wxEraseEvent&)
{
    // The panel paints all of itself; erasing first would flicker.
}

void ScreenProgrammer::OnResize(wxSizeEvent&)
{
    size = GetSize();
}
