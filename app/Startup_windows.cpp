// Start-up on Windows: the toolkit's own WinMain, which takes the command
// line as the system's UTF-16 text, and the running mark.
#include "app/Startup.h"

// The toolkit's header first: it includes the system's headers in the
// order they need (winsock2.h before windows.h).
#include <wx/app.h>
#include <wx/msw/wrapwin.h>

wxIMPLEMENT_WXWIN_MAIN;

void PrepareToolkit()
{ }

// "Global\" makes the mark seen from every session.
RunningMark::RunningMark() : handle(CreateMutexW(nullptr, FALSE, L"Global\\DravikEmbosserController.Running"))
{ }

RunningMark::~RunningMark()
{
    if (handle)
        CloseHandle(handle);
}
