// File > Open, Save and Save As.
#include <wx/filedlg.h>

#include "MainFrame.h"

void MainFrame::OnOpen(wxCommandEvent&) { OpenProgram(); }
void MainFrame::OnSave(wxCommandEvent&) { SaveProgram(false); }
void MainFrame::OnSaveAs(wxCommandEvent&) { SaveProgram(true); }

// Placeholder until the settings-file commands land: nothing is read or written.
int MainFrame::OpenProgram()
{
    wxFileDialog dialog(this, "Please select the file to open", wxEmptyString, wxEmptyString,
                        "Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*", wxFD_OPEN);
    dialog.ShowModal();
    return 0;
}
int MainFrame::SaveProgram(bool) { return 0; }
