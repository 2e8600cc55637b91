// The panel painter on X11: the worker's own Display connection fills the
// panel's X window. Requests on one connection reach the server in order,
// so a reset drawn after a swap always lands after it.
#include "PanelPainter.h"

#include <wx/utils.h>
#include <wx/window.h>

// After the toolkit's headers: Xlib's macros (None, Bool, Status) would
// clash with them.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

// The one GDK function needed, from the GDK 3 that the toolkit runs on,
// declared here so that the build needs no GTK development files. It makes
// the window a native X window if it is not yet one and waits until the
// server has it, so the id is good on any connection.
extern "C" unsigned long gdk_x11_window_get_xid(GdkWindow* window);

PanelTarget ReadPanelTarget(wxWindow* panel, int width, int height)
{
    PanelTarget target;
    const wxDisplayInfo info = wxGetDisplayInfo();
    GdkWindow* window = panel->GTKGetDrawingWindow();
    if (info.type != wxDisplayX11 || !info.dpy || !window || !panel->IsShownOnScreen())
        return target;
    target.display = XDisplayString(static_cast<Display*>(info.dpy));
    target.window = gdk_x11_window_get_xid(window);
    target.width = width;
    target.height = height;
    return target;
}

namespace {

class X11PanelPainter : public PanelPainter {
public:
    X11PanelPainter(const PanelTarget& target, Display* display, const XWindowAttributes& attributes)
        : PanelPainter(target), display(display), window(static_cast<Window>(target.window))
    {
        gc = XCreateGC(display, window, 0, nullptr);
        const Visual* visual = attributes.visual;
        if (visual && visual->c_class == TrueColor && attributes.depth > 0) {
            // Every bit set is white; black keeps the bits beyond red, green
            // and blue (an alpha channel) set, so that it is opaque.
            const unsigned long all =
                attributes.depth >= 32 ? 0xFFFFFFFFul : (1ul << attributes.depth) - 1;
            white = all;
            black = all & ~(visual->red_mask | visual->green_mask | visual->blue_mask);
        } else {
            const int screen = DefaultScreen(display);
            white = WhitePixel(display, screen);
            black = BlackPixel(display, screen);
        }
    }

    ~X11PanelPainter() override
    {
        XFreeGC(display, gc);
        XCloseDisplay(display);
    }

    bool Draw(bool inverted) override
    {
        const int width = Target().width;
        const int height = Target().height;
        const int half = width / 2;
        XSetForeground(display, gc, inverted ? white : black);
        XFillRectangle(display, window, gc, 0, 0, static_cast<unsigned>(half), static_cast<unsigned>(height));
        XSetForeground(display, gc, inverted ? black : white);
        XFillRectangle(display, window, gc, half, 0, static_cast<unsigned>(width - half),
                       static_cast<unsigned>(height));
        XFlush(display);
        return true;
    }

private:
    Display* display;
    Window window;
    GC gc;
    unsigned long white = 0;
    unsigned long black = 0;
};

}  // namespace

std::unique_ptr<PanelPainter> PanelPainter::Open(const PanelTarget& target)
{
    if (target.window == 0 || target.width <= 0 || target.height <= 0)
        return nullptr;
    Display* display = XOpenDisplay(target.display.c_str());
    if (!display)
        return nullptr;
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, static_cast<Window>(target.window), &attributes)) {
        XCloseDisplay(display);
        return nullptr;
    }
    return std::make_unique<X11PanelPainter>(target, display, attributes);
}
