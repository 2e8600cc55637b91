#include "GuiTest.h"

#include <thread>

#include <wx/app.h>
#include <wx/dir.h>
#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/testing.h>
#include <wx/utils.h>

#include "MainFrame.h"

namespace guitest {

void Pump(std::chrono::milliseconds duration)
{
    WaitFor([] { return false; }, duration);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        wxTheApp->ProcessPendingEvents();
        while (wxTheApp->Pending())
            wxTheApp->Dispatch();
        wxTheApp->ProcessIdle();
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void DeletePendingWindows()
{
    wxTheApp->ProcessIdle();
    Pump(std::chrono::milliseconds(20));
}

TemporaryConfig::TemporaryConfig()
{
    path = wxFileName::CreateTempFileName("dvkconfig");
    config = new wxFileConfig("dravik-test", wxEmptyString, path, wxEmptyString, wxCONFIG_USE_LOCAL_FILE);
    delete wxConfigBase::Set(config);
}

TemporaryConfig::~TemporaryConfig()
{
    delete wxConfigBase::Set(nullptr);
    wxRemoveFile(path);
}

MainFrame* CreateMainFrame()
{
    MainFrame* frame = nullptr;
    {
        wxTEST_DIALOG(frame = new MainFrame(), wxExpectModal<wxFileDialog>(wxEmptyString, wxID_CANCEL));
    }
    frame->Show();
    WaitFor([frame] { return frame->IsShownOnScreen(); });
    Pump(std::chrono::milliseconds(50));
    return frame;
}

void DestroyMainFrame(MainFrame* frame)
{
    frame->Destroy();
    DeletePendingWindows();
}

TemporaryDir::TemporaryDir()
{
    const wxString file = wxFileName::CreateTempFileName("dvkdir");
    wxRemoveFile(file);
    path = file;
    wxFileName::Mkdir(path, 0700, wxPATH_MKDIR_FULL);
}

TemporaryDir::~TemporaryDir()
{
    wxFileName::Rmdir(path, wxPATH_RMDIR_RECURSIVE);
}

wxString TemporaryDir::File(const wxString& name) const
{
    return wxFileName(path, name).GetFullPath();
}

}  // namespace guitest
