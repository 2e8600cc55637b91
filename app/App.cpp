// The application object. The process's entry (Startup_*.cpp) hands the
// command line to the toolkit, which creates the one App.
#include <memory>

#include <wx/app.h>

#include "app/Accessibility.h"
#include "app/CommandLine.h"
#include "app/Language.h"
#include "app/MainFrame.h"
#include "app/Startup.h"
#include "usb/usb_dvk.h"

class App : public wxApp {
public:
    App() { PrepareToolkit(); }

    bool OnInit() override
    {
        // wxApp::OnInit is not called: it would refuse a command line that
        // it does not know. The toolkit gives the arguments as wide text
        // (on Windows as the system's UTF-16 command line), the toolkit's
        // own options already removed.
        UseSystemLanguage(ProgramCatalogFolders());
        usbPlatform = usb_dvk::MakeNativePlatform();
        auto* frame = new MainFrame(SettingsFileArgument(argv.GetArguments()), *usbPlatform);
        frame->Show(true);
        SetTopWindow(frame);
        return true;
    }

private:
    RunningMark running;
    AccessibleNames accessibleNames;
    // Outlives the main window, which the toolkit destroys before the App.
    std::unique_ptr<usb_dvk::Platform> usbPlatform;
};

wxIMPLEMENT_APP_NO_MAIN(App);
