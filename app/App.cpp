// The program's entry: the toolkit's application macro provides WinMain on
// Windows and main elsewhere, and creates the one App.
#include <wx/app.h>

#include "MainFrame.h"

#include <cstdlib>

class App : public wxApp {
public:
    App()
    {
        // The screen programmer's worker draws each colour swap itself, on
        // the panel's X window through a connection of its own; on Wayland
        // there is no such window, so the program runs on the X11 backend
        // (XWayland on a Wayland session). The toolkit reads this when it
        // initialises, after this constructor.
#ifdef __WXGTK__
        setenv("GDK_BACKEND", "x11", 1);
#endif
    }

    bool OnInit() override
    {
        // The command line is not examined, so wxApp::OnInit is not called.
        auto* frame = new MainFrame();
        frame->Show(true);
        SetTopWindow(frame);
        return true;
    }
};

wxIMPLEMENT_APP(App);
