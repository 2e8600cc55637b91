#include "FileCommands.h"

#include <wx/filedlg.h>
#include <wx/msgdlg.h>

#include "SettingsFile.h"

namespace file_commands {

namespace {
const wxString kWildcard = "Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*";
const wxString kExtension = ".dvk";
}  // namespace

int SaveProgram(SettingsEditor& editor, bool saveAs)
{
    wxWindow* parent = editor.GetEditorWindow();
    if (saveAs || editor.GetCurrentFilePath().empty()) {
        wxFileDialog dialog(parent, "Please select the file to save", wxEmptyString,
                            editor.GetCurrentFileName(), kWildcard, wxFD_SAVE);
        if (dialog.ShowModal() != wxID_OK)
            return 2;
        wxString path = dialog.GetPath();
        // Any case of the extension names a settings file ("A.DVK" too).
        if (!path.Lower().EndsWith(kExtension))
            path += kExtension;
        editor.SetCurrentFile(dialog.GetFilename(), path);
    }

    const std::string bytes = dvk::FormatSettingsFile(editor.GetSettingTexts());
    if (!dvk::WriteFileAtomically(editor.GetCurrentFilePath().utf8_string(), bytes)) {
        wxMessageDialog box(parent, "Error saving file. The settings were not saved.", "Save file error",
                            wxOK | wxICON_ERROR);
        box.ShowModal();
        return 0;
    }
    editor.SetSaveStatus(false);
    return 1;
}

int OpenProgram(SettingsEditor& editor)
{
    wxWindow* parent = editor.GetEditorWindow();
    if (editor.IsModified()) {
        wxMessageDialog prompt(parent, "Save before opening?", "Save Settings?",
                               wxYES_NO | wxCANCEL | wxICON_NONE);
        switch (prompt.ShowModal()) {
        case wxID_YES:
            if (SaveProgram(editor, false) != 1)
                return 0;
            break;
        case wxID_NO:
            break;
        default:
            return 0;
        }
    }

    wxFileDialog dialog(parent, "Please select the file to open", wxEmptyString, wxEmptyString, kWildcard,
                        wxFD_OPEN);
    if (dialog.ShowModal() != wxID_OK)
        return 0;
    editor.SetCurrentFile(dialog.GetFilename(), dialog.GetPath());

    const bool ok = dvk::ReadSettingsFileAt(editor.GetCurrentFilePath().utf8_string(),
                                            [&editor](dvk::SettingIndex setting, const std::string& word) {
                                                editor.SetSettingText(setting, wxString::FromUTF8(word));
                                            });
    // Setting the fields marked the editor modified; what it shows is the file.
    editor.SetSaveStatus(false);
    if (ok)
        return 1;

    wxMessageDialog box(parent, "Error opening file. Possible data corruption. Please verify values.",
                        "Open file error", wxOK | wxICON_ERROR);
    box.ShowModal();
    editor.SetCurrentFile(wxEmptyString, wxEmptyString);
    return 0;
}

}  // namespace file_commands
