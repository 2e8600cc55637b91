// Start-up on Linux: main, which decodes the command line itself, and the
// X11 backend of GTK.
#include "app/Startup.h"

#include <cstdlib>
#include <string>
#include <vector>

#include <wx/app.h>

void PrepareToolkit()
{
    // The screen programmer's worker draws each colour swap itself, on the
    // panel's X window through a connection of its own; on Wayland there is
    // no such window, so the program runs on the X11 backend (XWayland on a
    // Wayland session). The toolkit reads this when it initialises.
    setenv("GDK_BACKEND", "x11", 1);
}

RunningMark::RunningMark() = default;
RunningMark::~RunningMark() = default;

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
