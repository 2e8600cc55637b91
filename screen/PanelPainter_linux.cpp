// The panel painter on X11: the worker's own XCB connection fills the
// panel's X window. Requests on one connection reach the server in order, so
// a reset drawn after a swap always lands after it. The errors of the
// drawings come back on that connection to the painter alone, never to a
// process-wide error handler, and a connection that breaks only makes the
// drawing fail. A drawing is sent without waiting for the server, whose
// timing is not the worker's; its error is taken at the next drawing, or at
// Finish, which waits for the server once a transmission is over.
#include "screen/PanelPainter.h"

#include <cstdlib>
#include <utility>

#include <wx/utils.h>
#include <wx/window.h>

// After the toolkit's headers: Xlib's macros (None, Bool, Status) would
// clash with them. Xlib only names the toolkit's display, on the GUI thread.
#include <X11/Xlib.h>
#include <xcb/xcb.h>

// The one GDK function needed, from the GDK 3 that the toolkit runs on,
// declared here so that the build needs no GTK development files. It makes
// the window a native X window if it is not yet one and waits until the
// server has it, so the id is good on any connection.
extern "C" unsigned long gdk_x11_window_get_xid(GdkWindow* window);

PanelTarget ReadPanelTarget(wxWindow* panel, int width, int height)
{
    PanelTarget target;
    if (!panel)
        return target;
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

struct Disconnect {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};
using Connection = std::unique_ptr<xcb_connection_t, Disconnect>;

// XCB's replies and errors are malloc'ed for the caller.
struct Free {
    void operator()(void* block) const { std::free(block); }
};
template <class T> using Owned = std::unique_ptr<T, Free>;

// The reply to a request, null when it failed (its error freed).
template <class Reply, class Cookie>
Owned<Reply> Ask(xcb_connection_t* connection, Cookie cookie,
                 Reply* (*reply)(xcb_connection_t*, Cookie, xcb_generic_error_t**))
{
    xcb_generic_error_t* error = nullptr;
    Owned<Reply> answer(reply(connection, cookie, &error));
    Owned<xcb_generic_error_t> dropped(error);
    return error ? nullptr : std::move(answer);
}

// Whether a checked request went through (its error freed).
bool WentThrough(xcb_connection_t* connection, xcb_void_cookie_t cookie)
{
    const Owned<xcb_generic_error_t> error(xcb_request_check(connection, cookie));
    return !error;
}

// The screen whose root is `root`, and the visual `id` on it with its depth.
const xcb_screen_t* FindScreen(const xcb_setup_t* setup, xcb_window_t root)
{
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(setup); it.rem > 0; xcb_screen_next(&it)) {
        if (it.data->root == root)
            return it.data;
    }
    return nullptr;
}

const xcb_visualtype_t* FindVisual(const xcb_screen_t* screen, xcb_visualid_t id)
{
    for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(screen); depth.rem > 0;
         xcb_depth_next(&depth)) {
        for (xcb_visualtype_iterator_t visual = xcb_depth_visuals_iterator(depth.data); visual.rem > 0;
             xcb_visualtype_next(&visual)) {
            if (visual.data->visual_id == id)
                return visual.data;
        }
    }
    return nullptr;
}

class X11PanelPainter : public PanelPainter {
public:
    X11PanelPainter(const PanelTarget& target, Connection connection, xcb_gcontext_t gc, std::uint32_t black,
                    std::uint32_t white)
        : PanelPainter(target), connection(std::move(connection)), window(static_cast<xcb_window_t>(target.window)),
          gc(gc), black(black), white(white)
    { }

    ~X11PanelPainter() override
    {
        // The server frees the context with the connection in any case.
        xcb_free_gc(connection.get(), gc);
        xcb_flush(connection.get());
    }

    bool Draw(bool inverted) override
    {
        if (!TakeErrors())
            return false;
        xcb_connection_t* c = connection.get();
        const int width = Target().width;
        const int height = Target().height;
        const int half = width / 2;
        const std::uint32_t left[] = {inverted ? white : black};
        const std::uint32_t right[] = {inverted ? black : white};
        const xcb_rectangle_t leftHalf = {0, 0, static_cast<std::uint16_t>(half), static_cast<std::uint16_t>(height)};
        const xcb_rectangle_t rightHalf = {static_cast<std::int16_t>(half), 0, static_cast<std::uint16_t>(width - half),
                                           static_cast<std::uint16_t>(height)};
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, left);
        xcb_poly_fill_rectangle(c, window, gc, 1, &leftHalf);
        xcb_change_gc(c, gc, XCB_GC_FOREGROUND, right);
        xcb_poly_fill_rectangle(c, window, gc, 1, &rightHalf);
        // Sent now; the worker does not wait for the server, whose errors
        // come back on this connection later.
        xcb_flush(c);
        return TakeErrors();
    }

    bool Finish() override
    {
        // A round trip: its reply comes after the errors of every request
        // sent before it.
        xcb_connection_t* c = connection.get();
        const bool answered =
            !xcb_connection_has_error(c) && Ask(c, xcb_get_input_focus(c), &xcb_get_input_focus_reply) != nullptr;
        return TakeErrors() && answered;
    }

private:
    // Takes what the server has sent back so far without waiting: the
    // connection selects no events, so all it gets are the errors of its own
    // requests. False once any came, or the connection has broken.
    bool TakeErrors()
    {
        xcb_connection_t* c = connection.get();
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            const Owned<xcb_generic_event_t> taken(event);
            failed = failed || event->response_type == 0;
        }
        return !failed && !xcb_connection_has_error(c);
    }

    Connection connection;
    xcb_window_t window;
    xcb_gcontext_t gc;
    std::uint32_t black;
    std::uint32_t white;
    bool failed = false;  // an error has come back
};

}  // namespace

std::unique_ptr<PanelPainter> PanelPainter::Open(const PanelTarget& target)
{
    if (target.window == 0 || target.width <= 0 || target.height <= 0)
        return nullptr;
    // xcb_connect always gives a connection to disconnect, a failed one too.
    Connection connection(xcb_connect(target.display.c_str(), nullptr));
    xcb_connection_t* c = connection.get();
    if (xcb_connection_has_error(c))
        return nullptr;
    const auto window = static_cast<xcb_window_t>(target.window);
    const Owned<xcb_get_window_attributes_reply_t> attributes =
        Ask(c, xcb_get_window_attributes(c, window), &xcb_get_window_attributes_reply);
    const Owned<xcb_get_geometry_reply_t> geometry = Ask(c, xcb_get_geometry(c, window), &xcb_get_geometry_reply);
    if (!attributes || !geometry)
        return nullptr;
    const xcb_screen_t* screen = FindScreen(xcb_get_setup(c), geometry->root);
    if (!screen)
        return nullptr;

    std::uint32_t white = screen->white_pixel;
    std::uint32_t black = screen->black_pixel;
    const xcb_visualtype_t* visual = FindVisual(screen, attributes->visual);
    const unsigned depth = geometry->depth;
    if (visual && visual->_class == XCB_VISUAL_CLASS_TRUE_COLOR && depth > 0) {
        // Every bit set is white; black keeps the bits beyond red, green and
        // blue (an alpha channel) set, so that it is opaque.
        const std::uint32_t all = depth >= 32 ? 0xFFFFFFFFu : (1u << depth) - 1;
        white = all;
        black = all & ~(visual->red_mask | visual->green_mask | visual->blue_mask);
    }

    const xcb_gcontext_t gc = xcb_generate_id(c);
    if (xcb_connection_has_error(c) || !WentThrough(c, xcb_create_gc_checked(c, gc, window, 0, nullptr)))
        return nullptr;
    return std::make_unique<X11PanelPainter>(target, std::move(connection), gc, black, white);
}
