// The main window: the settings editor and the starting point of every
// command. The file commands live in files/FileCommands.cpp, the screen
// programming command in screen/ProgramCommand.cpp and the USB programming
// command in usb/USBProgramCommand.cpp.
#pragma once

#include <vector>

#include "MainFrameBase.h"

class MainFrame : public MainFrameBase {
public:
    MainFrame();

    // Settings validation: shows the box of the first invalid setting and
    // returns false, or returns true when all eleven are valid.
    bool IsProgramValid();
    // Appends the programming message built from the fields to an empty vector.
    void ComputeMessage(std::vector<unsigned char>& message);
    // Stores the modified flag and marks the title with "*" while it is set.
    void SetSaveStatus(bool modified);
    // 1 when a file was read and applied, 0 otherwise.
    int OpenProgram();
    // 0 writing failed, 1 written, 2 save dialog cancelled.
    int SaveProgram(bool saveAs);
    // Window placement in the per-user configuration.
    void LoadConfig();
    void SaveConfig();

    bool IsModified() const { return modified; }
    const wxString& GetCurrentFileName() const { return currentFileName; }
    const wxString& GetCurrentFilePath() const { return currentFilePath; }
    wxTextCtrl* GetSettingField(dvk::SettingIndex setting) const { return settingFields[setting]; }
    // The eleven field texts in canonical order.
    dvk::SettingTexts GetSettingTexts() const;

protected:
    void OnClose(wxCloseEvent& event) override;
    void OnUSBProgram(wxCommandEvent& event) override;
    void OnProgram(wxCommandEvent& event) override;
    void OnExit(wxCommandEvent& event) override;
    void OnOpen(wxCommandEvent& event) override;
    void OnSave(wxCommandEvent& event) override;
    void OnSaveAs(wxCommandEvent& event) override;
    void OnAbout(wxCommandEvent& event) override;

private:
    void OnSettingEdited(wxCommandEvent& event);

    wxString currentFileName;
    wxString currentFilePath;
    bool modified = false;
};

// Shows the error box and returns false when a programming message is too
// large for the controller's memory (more than 128 bytes); both programming
// commands call it right after building the message.
bool CheckMessageSize(wxWindow* parent, const std::vector<unsigned char>& message);
