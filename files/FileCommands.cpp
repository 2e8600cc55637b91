// File > Open, Save and Save As, and the open dialog at start-up.
#include <wx/filedlg.h>
#include <wx/msgdlg.h>

#include "MainFrame.h"
#include "SettingsFile.h"

namespace {
const wxString kWildcard = "Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*";
const wxString kExtension = ".dvk";
}  // namespace

void MainFrame::OnOpen(wxCommandEvent&) { OpenProgram(); }
void MainFrame::OnSave(wxCommandEvent&) { SaveProgram(false); }
void MainFrame::OnSaveAs(wxCommandEvent&) { SaveProgram(true); }

int MainFrame::SaveProgram(bool saveAs)
{
    if (saveAs || currentFilePath.empty()) {
        wxFileDialog dialog(this, "Please select the file to save", wxEmptyString, currentFileName,
                            kWildcard, wxFD_SAVE);
        if (dialog.ShowModal() != wxID_OK)
            return 2;
        currentFileName = dialog.GetFilename();
        currentFilePath = dialog.GetPath();
        if (!currentFilePath.EndsWith(kExtension))
            currentFilePath += kExtension;
    }

    const std::string bytes = dvk::FormatSettingsFile(GetSettingTexts());
    if (!dvk::WriteFileAtomically(currentFilePath.utf8_string(), bytes)) {
        wxMessageDialog box(this, "Error saving file. The settings were not saved.", "Save file error",
                            wxOK | wxICON_ERROR);
        box.ShowModal();
        return 0;
    }
    SetSaveStatus(false);
    return 1;
}

int MainFrame::OpenProgram()
{
    if (modified) {
        wxMessageDialog prompt(this, "Save before opening?", "Save Settings?",
                               wxYES_NO | wxCANCEL | wxICON_NONE);
        switch (prompt.ShowModal()) {
        case wxID_YES:
            if (SaveProgram(false) != 1)
                return 0;
            break;
        case wxID_NO:
            break;
        default:
            return 0;
        }
    }

    wxFileDialog dialog(this, "Please select the file to open", wxEmptyString, wxEmptyString, kWildcard,
                        wxFD_OPEN);
    if (dialog.ShowModal() != wxID_OK)
        return 0;
    currentFileName = dialog.GetFilename();
    currentFilePath = dialog.GetPath();

    const bool ok = dvk::ReadSettingsFileAt(currentFilePath.utf8_string(),
                                            [this](dvk::SettingIndex setting, const std::string& word) {
                                                settingFields[setting]->SetValue(wxString::FromUTF8(word));
                                            });
    // Setting the fields marked the window modified; what it shows is the file.
    SetSaveStatus(false);
    if (ok)
        return 1;

    wxMessageDialog box(this, "Error opening file. Possible data corruption. Please verify values.",
                        "Open file error", wxOK | wxICON_ERROR);
    box.ShowModal();
    currentFileName.clear();
    currentFilePath.clear();
    return 0;
}
