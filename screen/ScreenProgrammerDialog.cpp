#include "ScreenProgrammerDialog.h"

namespace {
constexpr int kStartButtonId = 0;
constexpr int kStatusPointSize = 14;
}  // namespace

wxBEGIN_EVENT_TABLE(ScreenProgrammerDialog, wxDialog)
    EVT_BUTTON(kStartButtonId, ScreenProgrammerDialog::OnStart)
wxEND_EVENT_TABLE()

ScreenProgrammerDialog::ScreenProgrammerDialog(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "Dravik - Screen Programmer", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE)
{
    SetSize(375, 275);

    sizer = new wxBoxSizer(wxVERTICAL);

    statusText = new wxStaticText(this, wxID_ANY, "Ready to program", wxDefaultPosition, wxDefaultSize,
                                  wxALIGN_CENTRE);
    statusText->SetFont(wxFont(kStatusPointSize, wxFONTFAMILY_DEFAULT, wxFONTSTYLE_NORMAL, wxFONTWEIGHT_BOLD,
                               false, wxEmptyString));
    sizer->Add(statusText, 0, wxALIGN_CENTER, 0);

    gauge = new wxGauge(this, wxID_ANY, 100, wxDefaultPosition, wxDefaultSize, wxGA_HORIZONTAL | wxGA_SMOOTH);
    sizer->Add(gauge, 0, wxEXPAND | wxALL, 10);
    gauge->SetValue(0);

    programmer = new ScreenProgrammer(this);
    sizer->Add(programmer, 1, wxEXPAND | wxALL, 5);

    auto* buttons = new wxBoxSizer(wxHORIZONTAL);
    startButton = new wxButton(this, kStartButtonId, "Start", wxDefaultPosition, wxDefaultSize, 0);
    buttons->Add(startButton, 0, wxALL, 5);
    buttons->Add(new wxStaticText(this, wxID_ANY, wxEmptyString), 1, wxEXPAND, 0);
    // The spacer before it already keeps Exit at the right edge.
    buttons->Add(new wxButton(this, wxID_OK, "Exit"), 0, wxALL, 5);
    sizer->Add(buttons, 0, wxEXPAND, 0);

    SetSizer(sizer);
    Layout();

    thread = std::make_unique<ScreenProgrammerThread>(this);
    thread->Create();
    thread->Run();
}

ScreenProgrammerDialog::~ScreenProgrammerDialog()
{
    closing = true;
    thread->Delete();
    thread.reset();
    // Changes the worker queued and nobody has shown go with the dialog's
    // pending events; ApplyUpdate would ignore them anyway.
}

void ScreenProgrammerDialog::SetMessage(const std::vector<unsigned char>& newMessage)
{
    message = newMessage;
    gauge->SetRange(static_cast<int>(dvk::kProgressPerByte * message.size()));
}

void ScreenProgrammerDialog::OnStart(wxCommandEvent&)
{
    if (thread->IsRunning())
        StopTransmission();
    else
        StartTransmission();
}

void ScreenProgrammerDialog::StartTransmission()
{
    ++transmission;
    gauge->SetValue(0);
    startButton->SetLabel("Stop");
    thread->Start(transmission, message);
}

void ScreenProgrammerDialog::StopTransmission()
{
    thread->Stop();
    ++transmission;
    SetStatus("Programming...Stopped");
    startButton->SetLabel("Start");
    programmer->ShowReset();
}

void ScreenProgrammerDialog::QueueUpdate(const ScreenUpdate& update)
{
    CallAfter([this, update] { ApplyUpdate(update); });
}

void ScreenProgrammerDialog::ApplyUpdate(const ScreenUpdate& update)
{
    if (closing || update.transmission != transmission)
        return;
    switch (update.kind) {
    case ScreenUpdate::Kind::Countdown:
        SetStatus(wxString::Format("Starting in...%d", update.value));
        break;
    case ScreenUpdate::Kind::LeadIn:
        if (update.firstByte)
            SetStatus("Programming...");
        gauge->SetValue(update.value);
        break;
    case ScreenUpdate::Kind::Swap:
        gauge->SetValue(update.value);
        programmer->Swap();
        break;
    case ScreenUpdate::Kind::EndSwap:
        programmer->Swap();
        break;
    case ScreenUpdate::Kind::Done:
        SetStatus("Programming...Done");
        startButton->SetLabel("Start");
        programmer->ShowReset();
        break;
    }
}

void ScreenProgrammerDialog::SetStatus(const wxString& text)
{
    statusText->SetLabel(text);
    sizer->Layout();
}
