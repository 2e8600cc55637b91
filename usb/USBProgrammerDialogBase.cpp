#include "usb/USBProgrammerDialogBase.h"

#include <wx/intl.h>
#include <wx/sizer.h>

USBProgrammerDialogBase::USBProgrammerDialogBase(wxWindow* parent, wxWindowID id, const wxString& title,
                                                 const wxPoint& position, const wxSize& size, long style)
    : wxDialog(parent, id, title, position, size, style)
{
    const int border = FromDIP(5);
    SetSizeHints(wxDefaultSize, wxDefaultSize);

    auto* column = new wxBoxSizer(wxVERTICAL);
    deviceList = new wxCheckListBox(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, 0, nullptr, 0);
    deviceList->SetName(_("Controllers"));
    column->Add(deviceList, 1, wxALL | wxEXPAND, border);
    statusText = new wxStaticText(this, wxID_ANY, wxEmptyString);
    column->Add(statusText, 0, wxLEFT | wxRIGHT | wxEXPAND, border);

    auto* buttonRow = new wxBoxSizer(wxHORIZONTAL);
    programAllButton = new wxButton(this, wxID_ANY, _("Program All"));
    buttonRow->Add(programAllButton, 0, wxALL, border);
    buttonRow->AddStretchSpacer(1);
    exitButton = new wxButton(this, wxID_ANY, _("Exit"));
    buttonRow->Add(exitButton, 0, wxALL, border);
    column->Add(buttonRow, 0, wxEXPAND);

    SetSizer(column);
    Layout();
    // Escape closes the dialog as Exit does.
    SetEscapeId(exitButton->GetId());

    programAllButton->Connect(wxEVT_COMMAND_BUTTON_CLICKED,
                              wxCommandEventHandler(USBProgrammerDialogBase::OnProgramAll), nullptr, this);
    exitButton->Connect(wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(USBProgrammerDialogBase::OnExit), nullptr,
                        this);
}

USBProgrammerDialogBase::~USBProgrammerDialogBase()
{
    programAllButton->Disconnect(wxEVT_COMMAND_BUTTON_CLICKED,
                                 wxCommandEventHandler(USBProgrammerDialogBase::OnProgramAll), nullptr, this);
    exitButton->Disconnect(wxEVT_COMMAND_BUTTON_CLICKED, wxCommandEventHandler(USBProgrammerDialogBase::OnExit),
                           nullptr, this);
}
