// Help > About: the product name, its version and the maker's web address.
#pragma once

#include <wx/dialog.h>

class AboutDlg : public wxDialog {
public:
    AboutDlg(wxWindow* parent, int id, const wxString& caption, const wxString& text);
};
