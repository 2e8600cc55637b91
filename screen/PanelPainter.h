// Draws the flashing panel's two halves straight onto its native window,
// from the worker thread, without the toolkit: each swap reaches the screen
// at once, whatever the GUI thread is doing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class wxWindow;

// The panel's native window as the GUI thread sees it: what the worker needs
// to draw on it itself.
struct PanelTarget {
    std::string display;        // X11: the X display's name; empty elsewhere
    std::uintptr_t window = 0;  // the X window id, or the window handle
    int width = 0;
    int height = 0;

    bool operator==(const PanelTarget& other) const
    {
        return display == other.display && window == other.window && width == other.width && height == other.height;
    }
};

// GUI thread, with the panel realized and shown: reads its native window and
// takes the size given. An empty target (window 0) when the panel cannot be
// drawn on from another thread (null, not shown yet, or not on X11).
PanelTarget ReadPanelTarget(wxWindow* panel, int width, int height);

// The worker's own means of drawing on one panel: on X11 a connection of its
// own to the X server, opened and closed on the worker thread.
class PanelPainter {
public:
    // Worker thread. Null when the target cannot be drawn on.
    static std::unique_ptr<PanelPainter> Open(const PanelTarget& target);
    virtual ~PanelPainter() = default;

    // Fills the left half black and the right half white, or the reverse when
    // inverted (on an odd width the right part is one pixel wider), and sends
    // it to the screen at once, without waiting for it to get there. False
    // when the window can no longer be drawn on (it has gone, or the
    // connection to the display has), as far as is known by then: a failure
    // may come to light only at the next drawing or at Finish.
    virtual bool Draw(bool inverted) = 0;
    // Waits until every drawing sent has reached the screen; false when one
    // of them did not.
    virtual bool Finish() { return true; }

    const PanelTarget& Target() const { return target; }

protected:
    explicit PanelPainter(const PanelTarget& target) : target(target) { }

private:
    PanelTarget target;
};
