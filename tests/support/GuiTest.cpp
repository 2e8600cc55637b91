#include "tests/support/GuiTest.h"

#include <gtest/gtest.h>
#include <thread>

#include <wx/app.h>
#include <wx/dir.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/filefn.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/modalhook.h>
#include <wx/testing.h>
#include <wx/uiaction.h>
#include <wx/utils.h>

#include "app/MainFrame.h"
#include "tests/support/ModelPlatform.h"

namespace guitest {

int ExpectMessageBox::OnInvoked(wxMessageDialog* box) const
{
    // The English texts, in the language of the run.
    EXPECT_EQ(box->GetMessage(), wxGetTranslation(message));
    EXPECT_EQ(box->GetCaption(), wxGetTranslation(caption));
    EXPECT_EQ(box->GetMessageDialogStyle(), style) << "message box \"" << message << "\"";
    return answer;
}

void SetDialogPath(wxFileDialog* dialog, const wxString& path)
{
    dialog->SetPath(path);
    WaitFor([dialog] { return !dialog->GetPath().empty(); });
}

int ModalDialogsDuring(const std::function<void()>& call)
{
    struct Counter : wxModalDialogHook {
        int count = 0;
        int Enter(wxDialog*) override { return ++count, wxID_OK; }
        void Exit(wxDialog*) override { }
    } dialogs;
    dialogs.Register();
    call();
    dialogs.Unregister();
    return dialogs.count;
}

void Pump(std::chrono::milliseconds duration)
{
    WaitFor([] { return false; }, duration);
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        wxEventLoopBase* loop = wxEventLoopBase::GetActive();
        while (loop->Pending())
            loop->Dispatch();
        wxTheApp->ProcessPendingEvents();
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

usb_dvk::Platform& NoControllers()
{
    static usb_dvk::ModelPlatform platform;
    return platform;
}

MainFrame* CreateMainFrame(usb_dvk::Platform& usbPlatform)
{
    MainFrame* frame = nullptr;
    {
        wxTEST_DIALOG(frame = new MainFrame(wxString(), usbPlatform),
                      wxExpectModal<wxFileDialog>(wxEmptyString, wxID_CANCEL));
    }
    frame->Show();
    WaitFor([frame] { return frame->IsShownOnScreen(); });
    // Without a window manager the keyboard follows the pointer.
    const wxRect rect = frame->GetScreenRect();
    wxUIActionSimulator().MouseMove(rect.GetLeft() + rect.GetWidth() / 2, rect.GetTop() + rect.GetHeight() / 2);
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
