// The screen programmer: flashes the programming message on its panel for the
// controller to read, with a status line, a progress gauge, Start/Stop and Exit.
#pragma once

#include <memory>
#include <vector>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>

#include "ScreenProgrammer.h"
#include "ScreenProgrammerThread.h"

class ScreenProgrammerDialog : public wxDialog {
public:
    explicit ScreenProgrammerDialog(wxWindow* parent);
    // Ends the worker and waits for it (at most about a second).
    ~ScreenProgrammerDialog() override;

    // Before the dialog is shown, or while no transmission runs.
    void SetMessage(const std::vector<unsigned char>& newMessage);
    // The Start/Stop button.
    virtual void OnStart(wxCommandEvent& event);

    // Worker thread: hands one window change to the GUI thread, never waiting.
    void QueueUpdate(const ScreenUpdate& update);

    wxStaticText* GetStatusText() const { return statusText; }
    wxGauge* GetGauge() const { return gauge; }
    ScreenProgrammer* GetProgrammer() const { return programmer; }
    wxButton* GetStartButton() const { return startButton; }
    bool IsTransmitting() const { return thread->IsRunning(); }

private:
    void StartTransmission();
    void StopTransmission();
    void ApplyUpdate(const ScreenUpdate& update);
    void SetStatus(const wxString& text);

    wxBoxSizer* sizer;
    wxStaticText* statusText;
    wxGauge* gauge;
    ScreenProgrammer* programmer;
    wxButton* startButton;
    std::unique_ptr<ScreenProgrammerThread> thread;  // ended by the destructor
    std::vector<unsigned char> message;

    // GUI thread only: the number of the transmission whose window changes
    // are shown. Start and Stop both move it on, so changes still queued
    // from an earlier transmission are dropped.
    unsigned transmission = 0;
    bool closing = false;

    wxDECLARE_EVENT_TABLE();
};
