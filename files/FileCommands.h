// File > Open, Save and Save As, and the open dialog at start-up (or the file
// the program was given), with their file dialogs and boxes, on any window
// that edits the eleven settings.
#pragma once

#include <wx/string.h>

#include "core/Settings.h"

class wxWindow;

// What the file commands need of the window that edits the settings.
class SettingsEditor {
public:
    // The parent of the file dialogs and message boxes.
    virtual wxWindow* GetEditorWindow() = 0;
    // The eleven field texts in canonical order.
    virtual dvk::SettingTexts GetSettingTexts() const = 0;
    virtual void SetSettingText(dvk::SettingIndex setting, const wxString& text) = 0;
    virtual bool IsModified() const = 0;
    // Stores the modified flag and shows it in the title.
    virtual void SetSaveStatus(bool modified) = 0;
    // The current file: empty until a file was opened or saved.
    virtual const wxString& GetCurrentFileName() const = 0;
    virtual const wxString& GetCurrentFilePath() const = 0;
    virtual void SetCurrentFile(const wxString& name, const wxString& path) = 0;

protected:
    ~SettingsEditor() = default;
};

namespace file_commands {

// Offers to save modified settings first, then the open dialog; reads the
// chosen file into the editor. 1 when a file was read and applied, 0
// otherwise.
int OpenProgram(SettingsEditor& editor);
// Open without the open dialog: the file at path, as if the user had chosen
// it there (the same prompt first when the settings are modified, the same
// error box, the same current file afterwards). A relative path is taken
// from the current folder. 1 when the file was read and applied, 0
// otherwise.
int OpenProgramAt(SettingsEditor& editor, const wxString& path);
// Writes the settings to the current file, asking for one first when there
// is none or saveAs is set. 0 writing failed, 1 written, 2 save dialog
// cancelled.
int SaveProgram(SettingsEditor& editor, bool saveAs);

}  // namespace file_commands
