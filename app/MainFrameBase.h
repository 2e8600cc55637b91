// Layout of the main window: the eleven settings fields in two grids, the
// command buttons and the menu bar. Handlers are virtual and only pass the
// event on; MainFrame overrides them.
#pragma once

#include <array>

#include <wx/button.h>
#include <wx/frame.h>
#include <wx/menu.h>
#include <wx/panel.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/validate.h>

#include "core/Settings.h"

// A key pressed with Alt or Ctrl held (not both: that is AltGr on some
// systems, which types characters) is a shortcut, such as a menu's mnemonic,
// not a typed character.
bool IsShortcutKey(const wxKeyEvent& event);

// The keystroke filter of the settings fields: a typed character passes when
// it is a decimal digit or one of + , - . e E; any other printable character
// is swallowed with the bell. Control and navigation keys and shortcuts pass.
// The whole-value check accepts anything.
class NumericKeyFilter : public wxValidator {
public:
    NumericKeyFilter() = default;
    NumericKeyFilter(const NumericKeyFilter& other) = default;
    wxObject* Clone() const override { return new NumericKeyFilter(*this); }
    bool Validate(wxWindow*) override { return true; }
    bool TransferToWindow() override { return true; }
    bool TransferFromWindow() override { return true; }

private:
    void OnChar(wxKeyEvent& event);
    wxDECLARE_EVENT_TABLE();
};

// The entry field of one setting. With a length limit, every way the user
// puts text in (typing, pasting, the middle button's paste, dropping) is held
// to that many characters; text set by the program is never cut.
class SettingField : public wxTextCtrl {
public:
    SettingField(wxWindow* parent, int maxLength);
    void SetValue(const wxString& value) override;
    void ChangeValue(const wxString& value) override;
    // Makes the field wide enough for its longest value at its font.
    void FitWidthToFont();

protected:
    // Sees each text change before any handler: cuts what the user inserted
    // beyond the limit, and passes on no event for an edit cut to nothing.
    bool TryBefore(wxEvent& event) override;

private:
    void OnChar(wxKeyEvent& event);

    int limit;
    wxString accepted;  // the text after the last change
    bool settingByProgram = false;
};

class MainFrameBase : public wxFrame {
public:
    MainFrameBase(wxWindow* parent, int id, const wxString& title, const wxPoint& pos, const wxSize& size, long style);
    ~MainFrameBase() override;

protected:
    virtual void OnClose(wxCloseEvent& event) { event.Skip(); }
    virtual void OnUSBProgram(wxCommandEvent& event) { event.Skip(); }
    virtual void OnProgram(wxCommandEvent& event) { event.Skip(); }
    virtual void OnExit(wxCommandEvent& event) { event.Skip(); }
    virtual void OnOpen(wxCommandEvent& event) { event.Skip(); }
    virtual void OnSave(wxCommandEvent& event) { event.Skip(); }
    virtual void OnSaveAs(wxCommandEvent& event) { event.Skip(); }
    virtual void OnAbout(wxCommandEvent& event) { event.Skip(); }

    // After a change of the fonts (a display of another DPI).
    void FitFieldsToFont();

    wxPanel* panel;
    // The settings fields in canonical order (see dvk::SettingIndex).
    std::array<wxTextCtrl*, dvk::SettingCount> settingFields{};
    wxStaticLine* separator;
    wxButton* usbProgramButton;
    wxButton* programButton;
    wxButton* exitButton;
    wxMenuBar* menuBar;
    wxMenu* fileMenu;
    wxMenu* helpMenu;
    wxMenuItem* openItem;
    wxMenuItem* saveItem;
    wxMenuItem* saveAsItem;
    wxMenuItem* exitItem;
    wxMenuItem* aboutItem;

private:
    void WireEvents(bool connect);

    wxStaticText* AddLabel(wxSizer* grid, const wxString& text, int flags);
    wxTextCtrl* AddField(wxSizer* grid, dvk::SettingIndex setting, int flags);
};
