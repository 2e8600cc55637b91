// Start-up on Linux: main, which decodes the command line itself, and the
// X11 backend of GTK.
#include "app/Startup.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <wx/app.h>

#include "core/ProcessStart.h"
#include "files/FileName.h"

void PrepareToolkit()
{
    // The screen programmer's worker draws each colour swap itself, on the
    // panel's X window through a connection of its own; on Wayland there is
    // no such window, so the program runs on the X11 backend (XWayland on a
    // Wayland session). The toolkit reads this when it initialises.
    setenv("GDK_BACKEND", "x11", 1);
    // File names are UTF-8, and bytes that are not are carried through the
    // toolkit's text as FileNameFromBytes carries them; the toolkit then
    // converts the names of its file dialogs the same way whatever the
    // locale says.
    setenv("G_FILENAME_ENCODING", "UTF-8", 1);
}

RunningMark::RunningMark() = default;
RunningMark::~RunningMark() = default;

// The process is set up first (core/ProcessStart.h). A file name arrives as
// the bytes that the file system holds, UTF-8 on every current desktop
// whatever the locale says; the toolkit would decode the arguments in the
// locale's character set, which in the C locale turns a name beyond ASCII
// into another or drops it. So they are decoded here as file names are
// (files/FileName.h): bytes that are not UTF-8 come back as they were, and
// the program opens exactly the file named.
int main(int argc, char** argv)
{
    if (const std::error_code error = dvk::PrepareProcess()) {
        std::fprintf(stderr, "dravik: cannot open /dev/null: %s\n", error.message().c_str());
        return 1;
    }
    wxDISABLE_DEBUG_SUPPORT();  // as the toolkit's own main does
    std::vector<std::wstring> arguments;
    for (int i = 0; i < argc; ++i)
        arguments.push_back(FileNameFromBytes(argv[i]).ToStdWstring());
    std::vector<wchar_t*> pointers;
    for (std::wstring& argument : arguments)
        pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    return wxEntry(argc, pointers.data());
}
