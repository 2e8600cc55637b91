// Layout of the USB programmer dialog: the device list with its check marks,
// a status line under it, "Program All" and "Exit".
#pragma once

#include <wx/button.h>
#include <wx/checklst.h>
#include <wx/dialog.h>
#include <wx/stattext.h>

class USBProgrammerDialogBase : public wxDialog {
public:
    USBProgrammerDialogBase(wxWindow* parent, wxWindowID id, const wxString& title,
                            const wxPoint& position = wxDefaultPosition, const wxSize& size = wxSize(350, 350),
                            long style = wxDEFAULT_DIALOG_STYLE);
    ~USBProgrammerDialogBase() override;

protected:
    virtual void OnProgramAll(wxCommandEvent& event) { event.Skip(); }
    virtual void OnExit(wxCommandEvent& event) { event.Skip(); }

    wxCheckListBox* deviceList;
    wxStaticText* statusText;
    wxButton* programAllButton;
    wxButton* exitButton;
};
