// The panel painter on Windows: the worker fills the panel's window with GDI
// itself, through a device context of its own, without the toolkit's GUI
// lock (a busy GUI thread would hold it and so the worker).
#include "screen/PanelPainter.h"

#include <windows.h>

#include <wx/window.h>

PanelTarget ReadPanelTarget(wxWindow* panel, int width, int height)
{
    PanelTarget target;
    if (!panel || !panel->IsShownOnScreen())
        return target;
    target.window = reinterpret_cast<std::uintptr_t>(panel->GetHWND());
    target.width = width;
    target.height = height;
    return target;
}

namespace {

class MswPanelPainter : public PanelPainter {
public:
    // The device context is taken once and kept for every swap: under wine
    // taking and giving it back asks its server process each time, which
    // runs late on a busy machine.
    MswPanelPainter(const PanelTarget& target, HWND window, HDC dc) : PanelPainter(target), window(window), dc(dc) { }
    ~MswPanelPainter() override { ReleaseDC(window, dc); }
    MswPanelPainter(const MswPanelPainter&) = delete;
    MswPanelPainter& operator=(const MswPanelPainter&) = delete;

    bool Draw(bool inverted) override
    {
        if (!IsWindow(window))
            return false;
        const int width = Target().width;
        const int half = width / 2;
        const RECT left{0, 0, half, Target().height};
        const RECT right{half, 0, width, Target().height};
        const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        const auto white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        if (!FillRect(dc, &left, inverted ? white : black) || !FillRect(dc, &right, inverted ? black : white))
            return false;
        GdiFlush();
        // Under wine a window's drawing reaches the X server only when a
        // thread of the program waits for messages; this wait of no time
        // lets it go out now rather than at the GUI thread's next wait, which
        // a busy GUI thread would put off. On Windows itself it returns at
        // once and changes nothing.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
        return true;
    }

private:
    HWND window;
    HDC dc;
};

}  // namespace

std::unique_ptr<PanelPainter> PanelPainter::Open(const PanelTarget& target)
{
    const auto window = reinterpret_cast<HWND>(target.window);
    if (target.window == 0 || target.width <= 0 || target.height <= 0 || !IsWindow(window))
        return nullptr;
    HDC dc = GetDC(window);
    if (!dc)
        return nullptr;
    return std::make_unique<MswPanelPainter>(target, window, dc);
}
