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

#include "Settings.h"

class MainFrameBase : public wxFrame {
public:
    MainFrameBase(wxWindow* parent, int id, const wxString& title, const wxPoint& pos,
                  const wxSize& size, long style);
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

    // The typing limit of the short fields: it refuses typed and pasted
    // characters beyond the limit but never cuts text the program sets
    // (the native limit of some platforms does).
    void OnLimitedChar(wxKeyEvent& event);
    void OnLimitedPaste(wxClipboardTextEvent& event);
    long RoomLeft(const wxTextCtrl* field) const;

    wxStaticText* AddLabel(wxSizer* grid, const wxString& text, int flags);
    wxTextCtrl* AddField(wxSizer* grid, dvk::SettingIndex setting, int flags);
};
