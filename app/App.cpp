// The program's entry: the toolkit's application macro provides WinMain on
// Windows and main elsewhere, and creates the one App.
#include <wx/app.h>

#include "MainFrame.h"

#include <cstdlib>

class App : public wxApp {
public:
    App()
    {
        // The screen programmer draws each colour swap at once, outside a
        // paint event; GTK can do that on X11 but not on Wayland, so the
        // program runs on the X11 backend (XWayland on a Wayland session).
        // The toolkit reads this when it initialises, after this constructor.
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
