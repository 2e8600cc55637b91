// The screen programmer: flashes the programming message on its panel for the
// controller to read, with a status line, a progress gauge, Start/Stop and Exit.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/gauge.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/timer.h>
#include <wx/weakref.h>

#include "screen/ScreenProgrammer.h"
#include "screen/ScreenProgrammerThread.h"

class ScreenProgrammerDialog : public wxDialog {
public:
    explicit ScreenProgrammerDialog(wxWindow* parent);
    // Ends the worker, which closes its display connection, before the
    // panel's window goes.
    ~ScreenProgrammerDialog() override;

    // Before the dialog is shown, or while no transmission runs.
    void SetMessage(const std::vector<unsigned char>& newMessage);
    // The Start/Stop button.
    virtual void OnStart(wxCommandEvent& event);

    // Called on the worker thread after each drawing of the panel; see
    // ScreenProgrammerThread::SetDrawHook. Before the first Start.
    void SetDrawHook(ScreenProgrammerThread::DrawHook hook) { thread->SetDrawHook(std::move(hook)); }

    wxStaticText* GetStatusText() const { return statusText; }
    wxGauge* GetGauge() const { return gauge; }
    // Null once the panel has been destroyed.
    ScreenProgrammer* GetProgrammer() const { return programmer.get(); }
    wxButton* GetStartButton() const { return startButton; }
    bool IsTransmitting() const { return transmitting; }

private:
    void StartTransmission();
    void StopTransmission();
    // Shows what the worker has published for the transmission under way.
    void ShowProgress();
    void EndTransmission(const wxString& status);
    void SetStatus(const wxString& text);

    wxBoxSizer* sizer;
    wxStaticText* statusText;
    wxGauge* gauge;
    wxWeakRef<ScreenProgrammer> programmer;  // a transmission without it fails
    wxButton* startButton;
    std::unique_ptr<ScreenProgrammerThread> thread;  // ended by the destructor
    std::vector<unsigned char> message;

    // GUI thread only. Start numbers each transmission; the worker's records
    // of any other are not shown.
    unsigned transmission = 0;
    bool transmitting = false;
    ScreenStatus shown;  // the record shown last
    wxTimer progressTimer;

    wxDECLARE_EVENT_TABLE();
};

// Shows the screen programmer modally with the message.
void ShowScreenProgrammer(wxWindow* parent, const std::vector<unsigned char>& message);
