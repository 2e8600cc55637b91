#include "app/AboutDlg.h"

#include <wx/button.h>
#include <wx/intl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

AboutDlg::AboutDlg(wxWindow* parent, int id, const wxString& caption, const wxString& text)
    : wxDialog(parent, id, caption, wxDefaultPosition, wxDefaultSize, wxDEFAULT_DIALOG_STYLE, "AboutDlg")
{
    auto* sizer = new wxBoxSizer(wxVERTICAL);
    sizer->Add(new wxStaticText(this, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, wxALIGN_CENTRE), 1,
               wxALIGN_CENTER | wxALL, FromDIP(15));
    sizer->Add(new wxButton(this, wxID_OK, _("OK")), 0, wxALIGN_CENTER | wxBOTTOM, FromDIP(10));
    SetSizer(sizer);
    sizer->SetSizeHints(this);
}
