// The program's entry: the toolkit's application macro provides WinMain on
// Windows and main elsewhere, and creates the one App.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <wx/app.h>

#include "app/CommandLine.h"
#include "app/MainFrame.h"

#ifdef __WXMSW__
#include <windows.h>

namespace {

// A named mutex held while the program runs. The installer and the
// uninstaller look for it and ask for the program to be closed before they
// replace or remove its files; "Global\" makes it seen from every session.
class RunningMark {
public:
    RunningMark() : mutex(CreateMutexW(nullptr, FALSE, L"Global\\DravikEmbosserController.Running")) { }
    ~RunningMark()
    {
        if (mutex)
            CloseHandle(mutex);
    }
    RunningMark(const RunningMark&) = delete;
    RunningMark& operator=(const RunningMark&) = delete;

private:
    HANDLE mutex;
};

}  // namespace
#endif

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
        // wxApp::OnInit is not called: it would refuse a command line that
        // it does not know. The toolkit gives the arguments as wide text
        // (on Windows as the system's UTF-16 command line), the toolkit's
        // own options already removed.
        usbPlatform = usb_dvk::MakeNativePlatform();
        auto* frame = new MainFrame(SettingsFileArgument(argv.GetArguments()), *usbPlatform);
        frame->Show(true);
        SetTopWindow(frame);
        return true;
    }

private:
#ifdef __WXMSW__
    RunningMark running;
#endif
    // Outlives the main window, which the toolkit destroys before the App.
    std::unique_ptr<usb_dvk::Platform> usbPlatform;
};

#ifdef __WXMSW__
wxIMPLEMENT_APP(App);
#else
wxIMPLEMENT_APP_NO_MAIN(App);

// A file name arrives as the bytes that the file system holds, UTF-8 on
// every current desktop whatever the locale says (and the program opens
// files by their UTF-8 names); the toolkit would decode the arguments in the
// locale's character set, which in the C locale turns a name beyond ASCII
// into another or drops it. So they are decoded here as UTF-8. Bytes that
// are not UTF-8 are kept one character each: such a name still reaches the
// program, which then reports that it cannot open it.
int main(int argc, char** argv)
{
    wxDISABLE_DEBUG_SUPPORT();  // as the toolkit's own main does
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i) {
        wxString text = wxString::FromUTF8(argv[i]);
        if (text.empty())
            text = wxString(argv[i], wxConvISO8859_1);
        arguments.push_back(text.ToStdWstring());
    }
    std::vector<wchar_t*> pointers;
    for (std::wstring& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return wxEntry(argc, pointers.data());
}
#endif
