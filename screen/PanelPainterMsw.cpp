// The panel painter on Windows: the worker fills the panel's window with GDI
// itself, through a device context of its own, without the toolkit's GUI
// lock (a busy GUI thread would hold it and so the worker).
#include "PanelPainter.h"

#include <wx/window.h>

#include <windows.h>

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
    explicit MswPanelPainter(const PanelTarget& target)
        : PanelPainter(target), window(reinterpret_cast<HWND>(target.window))
    {
    }

    bool Draw(bool inverted) override
    {
        HDC dc = GetDC(window);
        if (!dc)
            return false;
        const int width = Target().width;
        const int half = width / 2;
        const RECT left{0, 0, half, Target().height};
        const RECT right{half, 0, width, Target().height};
        const auto black = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
        const auto white = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
        FillRect(dc, &left, inverted ? white : black);
        FillRect(dc, &right, inverted ? black : white);
        ReleaseDC(window, dc);
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
};

}  // namespace

std::unique_ptr<PanelPainter> PanelPainter::Open(const PanelTarget& target)
{
    if (target.window == 0 || target.width <= 0 || target.height <= 0 ||
        !IsWindow(reinterpret_cast<HWND>(target.window)))
        return nullptr;
    return std::make_unique<MswPanelPainter>(target);
}
