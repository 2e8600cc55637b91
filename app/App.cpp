// The application object. The process's entry (Startup_*.cpp) hands the
// command line to the toolkit, which creates the one App.
#include <wx/app.h>

#include "app/CommandLine.h"
#include "app/MainFrame.h"
#include "app/Startup.h"

class App : public wxApp {
public:
    App() { PrepareToolkit(); }

    bool OnInit() override
    {
        // wxApp::OnInit is not called: it would refuse a command line that
        // it does not know. The toolkit gives the arguments as wide text
        // (on Windows as the system's UTF-16 command line), the toolkit's
        // own options already removed.
        auto* frame = new MainFrame(SettingsFileArgument(argv.GetArguments()));
        frame->Show(true);
        SetTopWindow(frame);
        return true;
    }

private:
    RunningMark running;
};

wxIMPLEMENT_APP_NO_MAIN(App);
