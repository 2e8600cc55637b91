// The program's entry: the toolkit's application macro provides WinMain on
// Windows and main elsewhere, and creates the one App.
#include <wx/app.h>

#include "MainFrame.h"

class App : public wxApp {
public:
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
