#include "files/FileCommands.h"

#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/intl.h>
#include <wx/msgdlg.h>

#include "files/FileName.h"
#include "files/SettingsFile.h"

namespace file_commands {

namespace {
// The file types offered, in the language of the dialog.
wxString Wildcard()
{
    return _("Dravik files (*.dvk)|*.dvk|All files (*.*)|*.*");
}
const wxString kExtension = ".dvk";
}  // namespace

int SaveProgram(SettingsEditor& editor, bool saveAs)
{
    wxWindow* parent = editor.GetEditorWindow();
    if (saveAs || editor.GetCurrentFilePath().empty()) {
        wxFileDialog dialog(parent, _("Please select the file to save"), wxEmptyString, editor.GetCurrentFileName(),
                            Wildcard(), wxFD_SAVE);
        if (dialog.ShowModal() != wxID_OK)
            return 2;
        wxString path = dialog.GetPath();
        // Any case of the extension names a settings file ("A.DVK" too).
        if (!path.Lower().EndsWith(kExtension))
            path += kExtension;
        editor.SetCurrentFile(dialog.GetFilename(), path);
    }

    const std::string bytes = dvk::FormatSettingsFile(editor.GetSettingTexts());
    const dvk::FileResult saved = dvk::WriteFileAtomically(FileNameBytes(editor.GetCurrentFilePath()), bytes);
    if (!saved) {
        // Only a file written in place whose old contents could not be put
        // back is left damaged, and they are kept in a backup; every other
        // failure leaves it as it was.
        const wxString text = saved.failure == dvk::FileFailure::Damaged
            ? _("Error saving file. The settings were not saved, and the file may be damaged. "
                "Please save the settings again.") +
                "\n\n" +
                wxString::Format(_("The file's previous contents are kept in %s."), FileNameFromBytes(saved.backup))
            : _("Error saving file. The settings were not saved.");
        wxMessageDialog box(parent, text, _("Save file error"), wxOK | wxICON_ERROR);
        box.ShowModal();
        return 0;
    }
    editor.SetSaveStatus(false);
    return 1;
}

namespace {

// "Save before opening?" when the settings are modified: false when the
// user cancelled or saving did not succeed, so nothing may be opened.
bool SavedOrDiscarded(SettingsEditor& editor)
{
    if (!editor.IsModified())
        return true;
    wxMessageDialog prompt(editor.GetEditorWindow(), _("Save before opening?"), _("Save Settings?"),
                           wxYES_NO | wxCANCEL | wxICON_NONE);
    switch (prompt.ShowModal()) {
    case wxID_YES: return SaveProgram(editor, false) == 1;
    case wxID_NO: return true;
    default: return false;
    }
}

// Reads the chosen file into the editor: what Open does once it has a file.
int ReadChosenFile(SettingsEditor& editor, const wxString& name, const wxString& path)
{
    editor.SetCurrentFile(name, path);
    const bool ok = static_cast<bool>(dvk::ReadSettingsFileAt(
        FileNameBytes(editor.GetCurrentFilePath()), [&editor](dvk::SettingIndex setting, const std::string& word) {
            editor.SetSettingText(setting, wxString::FromUTF8(word));
        }));
    // Setting the fields marked the editor modified; what it shows is the file.
    editor.SetSaveStatus(false);
    if (ok)
        return 1;

    wxMessageDialog box(editor.GetEditorWindow(),
                        _("Error opening file. Possible data corruption. Please verify values."), _("Open file error"),
                        wxOK | wxICON_ERROR);
    box.ShowModal();
    editor.SetCurrentFile(wxEmptyString, wxEmptyString);
    return 0;
}

}  // namespace

int OpenProgram(SettingsEditor& editor)
{
    if (!SavedOrDiscarded(editor))
        return 0;
    wxFileDialog dialog(editor.GetEditorWindow(), _("Please select the file to open"), wxEmptyString, wxEmptyString,
                        Wildcard(), wxFD_OPEN);
    if (dialog.ShowModal() != wxID_OK)
        return 0;
    return ReadChosenFile(editor, dialog.GetFilename(), dialog.GetPath());
}

int OpenProgramAt(SettingsEditor& editor, const wxString& path)
{
    if (!SavedOrDiscarded(editor))
        return 0;
    // The dialog gives a full path, and so does this: Save writes back to
    // the current file path whatever the current folder is by then. A full
    // path (a UNC path too) is kept as the system gave it.
    wxFileName file(path);
    if (!file.IsRelative())
        return ReadChosenFile(editor, file.GetFullName(), path);
    file.MakeAbsolute();
    return ReadChosenFile(editor, file.GetFullName(), file.GetFullPath());
}

}  // namespace file_commands
