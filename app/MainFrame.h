// The main window: the settings editor and the starting point of every
// command. The file commands (files/), the screen programmer (screen/) and
// the USB programmer (usb/) are windows of their own folders, which know
// nothing of this one.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include <wx/timer.h>

#include "app/MainFrameBase.h"
#include "files/FileCommands.h"
#include "usb/usb_dvk.h"

class MainFrame : public MainFrameBase, public SettingsEditor {
public:
    // Opens settingsFile at start-up as File > Open would after the user
    // chose it; without one, the open dialog is offered. USB Program finds
    // and opens the controllers through the platform.
    MainFrame(const wxString& settingsFile, usb_dvk::Platform& usbPlatform);

    // Settings validation: shows the box of the first invalid setting and
    // returns false, or returns true when all eleven are valid.
    bool IsProgramValid();
    // Appends the programming message built from the fields to an empty vector.
    void ComputeMessage(std::vector<unsigned char>& message);
    // Stores the modified flag and marks the title with "*" while it is set.
    void SetSaveStatus(bool modified) override;
    // 1 when a file was read and applied, 0 otherwise.
    int OpenProgram();
    // 0 writing failed, 1 written, 2 save dialog cancelled.
    int SaveProgram(bool saveAs);
    // Window placement in the per-user configuration.
    void LoadConfig();
    void SaveConfig();

    wxTextCtrl* GetSettingField(dvk::SettingIndex setting) const { return settingFields[setting]; }

    // What the file commands edit.
    wxWindow* GetEditorWindow() override { return this; }
    dvk::SettingTexts GetSettingTexts() const override;
    void SetSettingText(dvk::SettingIndex setting, const wxString& text) override;
    bool IsModified() const override { return modified; }
    const wxString& GetCurrentFileName() const override { return currentFileName; }
    const wxString& GetCurrentFilePath() const override { return currentFilePath; }
    void SetCurrentFile(const wxString& name, const wxString& path) override;

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
    // Makes the layout's size at the current fonts the window's minimum,
    // growing the window where it is smaller (and to atLeast).
    void KeepLayoutWhole(wxSize atLeast = wxSize());
    // The fields' widths for the current fonts, then the layout kept whole.
    void FitToFont();
    void RememberNormalPlacement();

    // Where the window returns to from maximised or minimised: the position
    // in screen pixels, the size in device-independent pixels.
    wxRect normalPlacement;
    // The client size the layout needed when it was last kept whole.
    wxSize fittedClientSize;
    // The size the window was opened at, in pixels.
    wxSize placedSize;
    // Runs once the window's size has settled (see the size event).
    wxTimer settleTimer;
    // The stored position, asked for again if a window manager places the
    // window elsewhere before placedBy.
    std::optional<wxPoint> positionWhenPlaced;
    std::chrono::steady_clock::time_point placedBy;
    // Stored maximised: maximised when first shown.
    bool maximizeWhenShown = false;

    wxString currentFileName;
    wxString currentFilePath;
    bool modified = false;
    usb_dvk::Platform& usbPlatform;
};

// Shows the error box and returns false when a programming message is too
// large for the controller's memory (more than 128 bytes); both programming
// commands call it right after building the message.
bool CheckMessageSize(wxWindow* parent, const std::vector<unsigned char>& message);
