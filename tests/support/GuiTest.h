// Helpers for tests that drive real windows in an X server.
#pragma once

#include <chrono>
#include <functional>
#include <memory>

#include <wx/fileconf.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/string.h>
#include <wx/testing.h>

#include "usb/usb_dvk.h"

class MainFrame;

namespace guitest {

// Expects a modal message box with exactly this message, caption and style
// (buttons, icon and default button bits), and answers it with `answer`.
class ExpectMessageBox : public wxExpectModalBase<wxMessageDialog, ExpectMessageBox> {
public:
    ExpectMessageBox(const wxString& message, const wxString& caption, long style, int answer)
        : message(message), caption(caption), style(style), answer(answer)
    { }

protected:
    int OnInvoked(wxMessageDialog* box) const override;

private:
    wxString message;
    wxString caption;
    long style;
    int answer;
};

// The close flow's question (no icon, Yes the default), answered with answer.
inline ExpectMessageBox SaveBeforeExiting(int answer)
{
    return ExpectMessageBox("Save before exiting?", "Save Settings?", wxYES_NO | wxCANCEL | wxYES_DEFAULT | wxICON_NONE,
                            answer);
}

// Answers a file dialog: sets its path and lets the toolkit take it in (the
// GTK chooser applies a new folder asynchronously, so GetPath is empty
// until events have been processed).
void SetDialogPath(wxFileDialog* dialog, const wxString& path);

// Expects a file dialog and answers it with the path and id.
class ExpectFileDialogPath : public wxExpectModalBase<wxFileDialog, ExpectFileDialogPath> {
public:
    explicit ExpectFileDialogPath(const wxString& path, int id = wxID_OK) : path(path), id(id) { }

protected:
    int OnInvoked(wxFileDialog* dialog) const override
    {
        if (id == wxID_OK)
            SetDialogPath(dialog, path);
        return id;
    }

private:
    wxString path;
    int id;
};

// How many modal dialogs the call opened; each is answered with OK at once.
int ModalDialogsDuring(const std::function<void()>& call);

// Processes pending events for the given time.
void Pump(std::chrono::milliseconds duration);
// Processes events until the condition holds or the time runs out; returns
// whether it holds.
bool WaitFor(const std::function<bool()>& condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(3000));
// Lets the toolkit delete the windows that were destroyed.
void DeletePendingWindows();

// A per-user configuration in a temporary file, installed as the toolkit's
// default for the lifetime of this object; the user's own is never touched.
class TemporaryConfig {
public:
    TemporaryConfig();
    ~TemporaryConfig();
    wxFileConfig& Get() { return *config; }
    const wxString& Path() const { return path; }

private:
    wxString path;
    wxFileConfig* config;  // owned by the toolkit while installed
};

// A USB platform with no controller, for the main windows of the tests that
// do not use the USB programmer.
usb_dvk::Platform& NoControllers();

// Creates the main window, answering its start-up open dialog with Cancel,
// and shows it; its USB Program goes through the platform. The frame is
// destroyed by the toolkit (DestroyMainFrame).
MainFrame* CreateMainFrame(usb_dvk::Platform& usbPlatform = NoControllers());
// Destroys a main window without its close flow.
void DestroyMainFrame(MainFrame* frame);

// A temporary folder removed with its contents at the end.
class TemporaryDir {
public:
    TemporaryDir();
    ~TemporaryDir();
    wxString File(const wxString& name) const;
    const wxString& Path() const { return path; }

private:
    wxString path;
};

}  // namespace guitest
